// The application: starts the tool and runs the main window until it ends.
#ifndef VELTRANE_APP_ENCRYPT_APP_H
#define VELTRANE_APP_ENCRYPT_APP_H

#include "platform/afxwin.h"

class CEncryptApp : public CWinApp {
  public:
    CEncryptApp() = default;

    // Runs the main window modally; always FALSE, so that the process ends
    // when the window does.
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CEncryptApp theApp;

#endif
