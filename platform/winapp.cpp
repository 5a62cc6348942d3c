// The one application object.
#include "platform/afxwin.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

CWinApp::CWinApp(const char* /*lpszAppName*/) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWinApp* AfxGetApp() {
    return g_app;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}
