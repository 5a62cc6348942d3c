// The program's start, its icons, its help and the Open chooser on Win32.
#include "platform/afxdlgs.h"
#include "platform/afxwin.h"
#include "platform/cmdline.h"
#include "platform/win32/dialog.h"
#include "platform/win32/native.h"

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return static_cast<HICON>(native::LoadProgramIcon(nIDResource));
}

void CWinApp::OnHelp() {
    const char* text = AfxPlatformText(&AFX_PLATFORM_TEXTS::helpText);
    if (*text != '\0') {
        native::ShowMessageBox(AfxFrontWindow(), text,
                               AfxPlatformText(&AFX_PLATFORM_TEXTS::helpTitle));
    }
}

INT_PTR AfxRunPlatformFileChooser(const FileChooserRequest& request, std::string* pathName) {
    native::OpenRequest open;
    open.owner = request.owner ? request.owner->GetSafeHwnd() : AfxFrontWindow();
    open.filters = request.filters;
    open.filterIndex = request.filterIndex;
    open.flags = request.flags;
    open.defaultExt = request.defaultExt;
    open.fileName = request.fileName;
    return native::RunOpenChooser(open, pathName) ? IDOK : IDCANCEL;
}

int AfxWinMain(int /*argc*/, char** /*argv*/) {
    // The wide command line, which carries any file name whole.
    int status = 0;
    CWinApp* app = AfxStartFromCommandLine(native::Arguments(), &status);
    if (app == nullptr) {
        return status;
    }
    native::Start();
    return app->InitInstance() ? native::RunMessageLoop() : 0;
}
