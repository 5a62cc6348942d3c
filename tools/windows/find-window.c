/* find-window.exe [--keep | --press BUTTON] TEXT [CHILD]: waits up to a
   minute for a visible top-level window whose title contains TEXT (any
   title when TEXT is empty) and, with CHILD, that has a visible control
   whose text contains CHILD; prints its title (UTF-8) and asks it to close,
   or with --keep leaves it open, or with --press clicks its button whose
   text contains BUTTON. Exit status 0 when one was found (and, with
   --press, its button), 1 when none came, 2 for bad usage. The installer's
   test uses it to see the installed program start, and to see and answer
   each of the installer's dialogs and messages. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static const wchar_t* wanted;
static const wchar_t* wantedChild;
static HWND found;

// An empty TEXT stands for any title, none included.
static BOOL HasText(HWND window, const wchar_t* text) {
    wchar_t title[512];
    if (!IsWindowVisible(window)) {
        return FALSE;
    }
    if (*text == L'\0') {
        return TRUE;
    }
    return GetWindowTextW(window, title, 512) > 0 && wcsstr(title, text) != NULL;
}

static BOOL CALLBACK LookAtChild(HWND child, LPARAM hit) {
    if (HasText(child, wantedChild)) {
        *(BOOL*)hit = TRUE;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK Look(HWND window, LPARAM unused) {
    (void)unused;
    if (HasText(window, wanted)) {
        BOOL hit = wantedChild == NULL;
        if (!hit) {
            EnumChildWindows(window, LookAtChild, (LPARAM)&hit);
        }
        if (hit) {
            found = window;
            return FALSE;
        }
    }
    return TRUE;
}

static HWND FindChild(HWND window, const wchar_t* text) {
    HWND child = NULL;
    for (HWND c = FindWindowExW(window, NULL, NULL, NULL); c != NULL && child == NULL;
         c = FindWindowExW(window, c, NULL, NULL)) {
        if (HasText(c, text)) {
            child = c;
        }
    }
    return child;
}

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const BOOL keep = argv != NULL && argc > 1 && wcscmp(argv[1], L"--keep") == 0;
    const BOOL press = argv != NULL && argc > 2 && wcscmp(argv[1], L"--press") == 0;
    const int first = keep ? 2 : press ? 3 : 1;
    if (argv == NULL || argc - first < 1 || argc - first > 2) {
        fprintf(stderr, "usage: find-window [--keep | --press BUTTON] TEXT [CHILD]\n");
        return 2;
    }
    wanted = argv[first];
    wantedChild = argc - first == 2 ? argv[first + 1] : NULL;
    for (int tries = 0; tries < 600 && found == NULL; ++tries) {
        EnumWindows(Look, 0);
        if (found == NULL)
            Sleep(100);
    }
    if (found == NULL) {
        fprintf(stderr, "find-window: no window came\n");
        return 1;
    }
    wchar_t title[512];
    char utf8[2048];
    GetWindowTextW(found, title, 512);
    WideCharToMultiByte(CP_UTF8, 0, title, -1, utf8, sizeof utf8, NULL, NULL);
    printf("%s\n", utf8);
    if (press) {
        HWND button = FindChild(found, argv[2]);
        if (button == NULL) {
            fprintf(stderr, "find-window: no such button\n");
            return 1;
        }
        // As the button tells its dialog of a click: needs neither the
        // focus nor the mouse.
        PostMessageW(found, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     (LPARAM)button);
    } else if (!keep) {
        PostMessageW(found, WM_CLOSE, 0, 0);
    }
    return 0;
}
