// What the Win32 side's window classes ask of Windows. The classes include
// afxwin.h and <windows.h> defines many of the same names (BOOL, TRUE, IDOK,
// the WS_ styles, DLGTEMPLATE...), so the two never meet in one translation
// unit: native.cpp alone includes <windows.h> and answers these calls, and the
// class sources call only these. Handles pass as they are (HWND is declared
// here exactly as Windows declares it) or as void*; texts are UTF-8.
#ifndef VELTRANE_PLATFORM_WIN32_NATIVE_H
#define VELTRANE_PLATFORM_WIN32_NATIVE_H

#include <cstdint>
#include <string>
#include <vector>

struct HWND__;
typedef HWND__* HWND;

namespace native {

// Every message of a dialog run by RunDialog reaches its window procedure
// here first: target is the caller's object. Returns the message's result.
using WindowProc = std::intptr_t (*)(void* target, unsigned message, std::uintptr_t wParam,
                                     std::intptr_t lParam);
// Called once with the new window, before it shows; the result is
// WM_INITDIALOG's (nonzero: Windows focuses the first tab stop).
using InitProc = bool (*)(void* target, HWND hWnd);

// Runs the in-memory DLGTEMPLATEEX modally over owner (disabled meanwhile)
// and returns the code given to EndDialog, or -1 when it cannot be run.
std::intptr_t RunDialog(const void* dialogTemplate, HWND owner, InitProc init, WindowProc proc,
                        void* target);
void EndDialog(HWND hWnd, int result);
// The default processing of a message of a window RunDialog made: the dialog
// manager's own, as if the window procedure had not handled it.
std::intptr_t DefaultProc(HWND hWnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
std::intptr_t Send(HWND hWnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

// Centres a dialog that has just been made, as the framework places
// dialogs: over its owner when the owner is visible and not minimised, else
// on the work area of its screen; moved back inside that work area.
void CentreDialog(HWND hWnd);
struct Rect {
    int left, top, right, bottom;
};
Rect WindowRect(HWND hWnd);
Rect ClientRect(HWND hWnd);
bool IsIconic(HWND hWnd);

HWND DialogItem(HWND dialog, int id);
// Whether hWnd is a static control that shows its text, wrapping it.
bool IsTextStatic(HWND hWnd);
// Whether text, wrapped as the static control hWnd wraps it and in its
// font, takes no more than the control's height.
bool FitsStatic(HWND hWnd, const std::string& text);
// Shows text as the tooltip of a dialog's control, replacing the one
// before; an empty text takes it away.
void SetToolTip(HWND control, const std::string& text);
std::string WindowText(HWND hWnd);
void SetText(HWND hWnd, const std::string& text);
void SetFocus(HWND hWnd);

void* LoadProgramIcon(unsigned id);  // at the large icon size, shared
void* SetIcon(HWND hWnd, void* icon, bool big);
int SystemMetrics(int index);

void* SystemMenu(HWND hWnd);  // the live one, or null
bool AppendMenuItem(void* menu, unsigned flags, std::uintptr_t id, const std::string& text);
// Shows the menu at a point of the screen; the chosen item's id, or 0.
std::uintptr_t TrackMenu(void* menu, HWND owner, int screenX, int screenY);

// The bracket of one paint: the device context, and its end.
void* BeginPaint(HWND hWnd);
void EndPaint(void* dc);
bool DrawIcon(void* dc, int x, int y, void* icon);

void DragAcceptFiles(HWND hWnd, bool accept);
// The number of files for index 0xFFFFFFFF, else the UTF-8 path of one.
unsigned DroppedFile(void* drop, unsigned index, std::string* path);
void FinishDrop(void* drop);
// A drop of one file, as Explorer makes one; FinishDrop frees it.
void* MakeDrop(const std::string& path);
// The full path of a file named relative to the working folder, or as given
// when it cannot be made.
std::string FullPath(const std::string& path);

// The face to make the forms' font from: face itself when it shows Chinese,
// else one that does (SimSun, NSimSun, Microsoft YaHei, then any face with
// the Chinese (PRC) character set), else face itself.
std::string ChineseFace(const std::string& face);

// The common Open chooser, Explorer style, with a buffer of 260 characters.
// filters holds label and pattern pairs. Returns true with the chosen path.
struct OpenRequest {
    HWND owner = nullptr;
    std::vector<std::pair<std::string, std::string>> filters;
    int filterIndex = 1;
    unsigned flags = 0;
    std::string defaultExt;
    std::string fileName;
};
bool RunOpenChooser(const OpenRequest& request, std::string* path);

void ShowMessageBox(HWND owner, const std::string& text, const std::string& title);

// Makes the process ready for windows: the common controls, and Shift+F10
// reaching a dialog before its controls (but for edit fields, which keep
// their own menu) while one runs modally.
void Start();
// The program's arguments from the wide command line, without its name.
std::vector<std::string> Arguments();
// Runs the thread's message loop until WM_QUIT; its exit code.
int RunMessageLoop();

std::u16string Utf16(const std::string& utf8);

}  // namespace native

#endif
