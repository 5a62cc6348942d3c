// What the Win32 side's class sources share among themselves.
#ifndef VELTRANE_PLATFORM_WIN32_WIN32_SIDE_H
#define VELTRANE_PLATFORM_WIN32_WIN32_SIDE_H

#include "platform/afxwin.h"

// The window of the dialog running in front (the innermost DoModal), or null.
HWND AfxFrontWindow();

#endif
