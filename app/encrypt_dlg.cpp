#include "app/encrypt_dlg.h"

#include <string>

#include "app/about_dlg.h"
#include "app/encrypt_messages.h"
#include "command/secret.h"
#include "platform/afxdlgs.h"

const char* const kFileFilter = "文本文档 (*.txt)|*.txt|All Files (*.*)|*.*||";

CPoint IconOrigin(const CRect& client, int cxIcon, int cyIcon) {
    // C++ division truncates toward zero: a 0 x 0 area gives (-15, -15).
    return CPoint{(client.Width() - cxIcon + 1) / 2, (client.Height() - cyIcon + 1) / 2};
}

BEGIN_MESSAGE_MAP(CEncryptDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_ENCRYPT, OnEncrypt)
ON_WM_DROPFILES()
END_MESSAGE_MAP()

CEncryptDlg::CEncryptDlg(CWnd* pParent)
    : CDialog(IDD_ENCRYPT_DIALOG, pParent), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

void CEncryptDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BOOL CEncryptDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        const std::string strAboutMenu = LoadString(IDS_ABOUTBOX);
        if (!strAboutMenu.empty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    DragAcceptFiles(TRUE);
    return TRUE;
}

void CEncryptDlg::OnSysCommand(UINT nID, LPARAM /*lParam*/) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void CEncryptDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        CRect rect;
        GetClientRect(&rect);
        const CPoint at = IconOrigin(rect, cxIcon, cyIcon);
        dc.DrawIcon(at.x, at.y, m_hIcon);
    } else {
        Default();
    }
}

HCURSOR CEncryptDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CEncryptDlg::OnOK() {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY, kFileFilter);
    if (dlg.DoModal() == IDOK) {
        GetDlgItem(IDC_FILE_PATH)->SetWindowText(dlg.GetPathName());
    }
}

void CEncryptDlg::OnDropFiles(HDROP hDropInfo) {
    std::string path;
    if (DragQueryFile(hDropInfo, 0, &path) > 0) {
        GetDlgItem(IDC_FILE_PATH)->SetWindowText(path);
    }
}

void CEncryptDlg::OnEncrypt() {
    CWnd* pPath = GetDlgItem(IDC_FILE_PATH);
    CWnd* pPassword = GetDlgItem(IDC_PASSWORD);
    CWnd* pConfirm = GetDlgItem(IDC_CONFIRM);
    CWnd* pStatus = GetDlgItem(IDC_STATUS);

    EncryptFields fields;
    pPath->GetWindowText(fields.path.text);
    pPassword->GetWindowText(fields.password.text);
    pConfirm->GetWindowText(fields.confirm.text);
    const EncryptOutcome outcome = RunEncryptCommand(fields);

    pStatus->SetWindowText(StatusMessage(outcome));
    if (fields.password.cleared) {
        pPassword->SetWindowText("");
    }
    if (fields.confirm.cleared) {
        pConfirm->SetWindowText("");
    }
    if (fields.password.focused) {
        pPassword->SetFocus();
    } else if (fields.confirm.focused) {
        pConfirm->SetFocus();
    }
    // The command's copies of the password go with the command.
    WipeSecret(fields.password.text);
    WipeSecret(fields.confirm.text);
}
