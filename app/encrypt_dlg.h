// The main window: the path field with Browse, the two password fields, the
// Encrypt button and the status field; the about item in the system menu.
#ifndef VELTRANE_APP_ENCRYPT_DLG_H
#define VELTRANE_APP_ENCRYPT_DLG_H

#include "app/resource.h"
#include "platform/afxwin.h"

// The file chooser's filter, label and pattern pairs.
extern const char* const kFileFilter;

// Where a minimised window draws its icon: centred in the client area, the
// odd pixel to the right and below, halves truncated toward zero.
CPoint IconOrigin(const CRect& client, int cxIcon, int cyIcon);

class CEncryptDlg : public CDialog {
  public:
    explicit CEncryptDlg(CWnd* pParent = nullptr);

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Browse: Enter anywhere but on Encrypt, and the Browse button.
    void OnOK() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnEncrypt();
    // A file dropped on the window goes into the path field, as Browse does.
    void OnDropFiles(HDROP hDropInfo);

    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
};

#endif
