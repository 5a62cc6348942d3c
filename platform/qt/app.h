// Starting Qt for the window classes; for the program's start and for tools
// and tests that drive real windows.
#ifndef VELTRANE_PLATFORM_QT_APP_H
#define VELTRANE_PLATFORM_QT_APP_H

#include <QApplication>
#include <memory>

// Makes the Qt application for the window classes, on the session bus that
// AfxChooseSessionBus leaves it: Chinese translations of Qt's own texts, the
// template font's stand-in face, Chinese locale. When the
// display cannot be opened it prints the resource table's cannotOpenDisplay
// line on standard error and ends the process with status 1.
std::unique_ptr<QApplication> AfxWinInit(int& argc, char** argv);

#endif
