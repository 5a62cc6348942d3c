#include "app/encrypt_app.h"

#include "app/encrypt_dlg.h"

BEGIN_MESSAGE_MAP(CEncryptApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CEncryptApp theApp;

BOOL CEncryptApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControlsStatic();

    CEncryptDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // Ends the process rather than start the application's message pump.
    return FALSE;
}
