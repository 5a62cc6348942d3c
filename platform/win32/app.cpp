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
    const AfxCommandLine line = AfxParseCommandLine(native::Arguments());
    int status = 0;
    if (AfxAnswerCommandLine(line, &status)) {
        return status;
    }
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    native::Start();
    AfxSetStartFile(line.file);
    return app->InitInstance() ? native::RunMessageLoop() : 0;
}
