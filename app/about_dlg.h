// The about box: the icon, the product's name and version, a legal notice.
#ifndef VELTRANE_APP_ABOUT_DLG_H
#define VELTRANE_APP_ABOUT_DLG_H

#include "app/resource.h"
#include "platform/afxwin.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg();

  protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};

#endif
