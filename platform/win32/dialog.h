// CDialog on Win32: what the side's other sources ask of the dialogs running.
#ifndef VELTRANE_PLATFORM_WIN32_DIALOG_H
#define VELTRANE_PLATFORM_WIN32_DIALOG_H

#include "platform/afxwin.h"

// The window of the dialog running in front (the innermost DoModal), or null.
HWND AfxFrontWindow();

#endif
