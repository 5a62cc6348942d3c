/* find-window.exe [ACTION] TEXT [CHILD]: waits up to a minute for a visible
   top-level window whose title contains TEXT (any title when TEXT is empty)
   and, with CHILD, that has a visible control whose text contains CHILD;
   prints its title (UTF-8) and asks it to close. ACTION does otherwise:
     --keep           leaves it open
     --press BUTTON   clicks its button whose text contains BUTTON
     --escape         presses Escape in it
     --type TEXT      types TEXT over the text of its control that has the
                      focus, then presses Tab to leave that control
     --gone           waits up to a minute for no such window to be left
   Exit status 0 when one was found (and, with --press, its button; with
   --type, a control with the focus) or, with --gone, none is left; 1 when
   not; 2 for bad usage. The installer's test uses it to see the installed
   program start, and to see and answer each of the installer's dialogs and
   messages, as a person would with the mouse and the keyboard. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static const wchar_t* wanted;
static const wchar_t* wantedChild;
static HWND found;

// An empty TEXT stands for any title, none included.
static BOOL TitleHas(HWND window, const wchar_t* text) {
    wchar_t title[512];
    if (!IsWindowVisible(window)) {
        return FALSE;
    }
    if (*text == L'\0') {
        return TRUE;
    }
    return GetWindowTextW(window, title, 512) > 0 && wcsstr(title, text) != NULL;
}

// The text is asked of the control itself: GetWindowText does not ask
// another process's controls, and so never sees what an edit field or a
// licence's box holds.
static BOOL ControlHas(HWND control, const wchar_t* text) {
    static wchar_t held[8192];
    DWORD_PTR length = 0;
    return IsWindowVisible(control) &&
           SendMessageTimeoutW(control, WM_GETTEXT, 8192, (LPARAM)held, SMTO_ABORTIFHUNG, 5000,
                               &length) != 0 &&
           length > 0 && wcsstr(held, text) != NULL;
}

static BOOL CALLBACK LookAtChild(HWND child, LPARAM hit) {
    if (ControlHas(child, wantedChild)) {
        *(BOOL*)hit = TRUE;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK Look(HWND window, LPARAM unused) {
    (void)unused;
    if (TitleHas(window, wanted)) {
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
        if (ControlHas(c, text)) {
            child = c;
        }
    }
    return child;
}

// The control of WINDOW that has the keyboard's focus, or NULL.
static HWND Focus(HWND window) {
    GUITHREADINFO info = {.cbSize = sizeof info};
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) ||
        !IsChild(window, info.hwndFocus)) {
        return NULL;
    }
    return info.hwndFocus;
}

// A key as the keyboard posts it, to the control that has the focus: the
// dialog's own loop then does with it what it does with a key pressed.
static void PostKey(HWND control, WPARAM key) {
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* action =
        argv != NULL && argc > 1 && wcsncmp(argv[1], L"--", 2) == 0 ? argv[1] : L"";
    const BOOL withArgument = wcscmp(action, L"--press") == 0 || wcscmp(action, L"--type") == 0;
    const int first = *action == L'\0' ? 1 : withArgument ? 3 : 2;
    const BOOL known = *action == L'\0' || withArgument || wcscmp(action, L"--keep") == 0 ||
                       wcscmp(action, L"--escape") == 0 || wcscmp(action, L"--gone") == 0;
    if (argv == NULL || !known || argc - first < 1 || argc - first > 2) {
        fprintf(stderr,
                "usage: find-window [--keep | --press BUTTON | --escape | --type TEXT | --gone] "
                "TEXT [CHILD]\n");
        return 2;
    }
    const BOOL gone = wcscmp(action, L"--gone") == 0;
    wanted = argv[first];
    wantedChild = argc - first == 2 ? argv[first + 1] : NULL;
    for (int tries = 0; tries < 600; ++tries) {
        found = NULL;
        EnumWindows(Look, 0);
        if ((found != NULL) != gone) {
            break;
        }
        Sleep(100);
    }
    if (gone) {
        if (found != NULL) {
            fprintf(stderr, "find-window: the window stays\n");
        }
        return found != NULL;
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
    if (wcscmp(action, L"--press") == 0) {
        HWND button = FindChild(found, argv[2]);
        if (button == NULL) {
            fprintf(stderr, "find-window: no such button\n");
            return 1;
        }
        // As the button tells its dialog of a click: needs neither the
        // focus nor the mouse.
        PostMessageW(found, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     (LPARAM)button);
    } else if (wcscmp(action, L"--escape") == 0) {
        HWND focus = Focus(found);
        PostKey(focus != NULL ? focus : found, VK_ESCAPE);
    } else if (wcscmp(action, L"--type") == 0) {
        // A dialog just shown may not have given the focus yet.
        HWND focus = Focus(found);
        for (int tries = 0; tries < 600 && focus == NULL; ++tries) {
            Sleep(100);
            focus = Focus(found);
        }
        if (focus == NULL) {
            fprintf(stderr, "find-window: no control has the focus\n");
            return 1;
        }
        SendMessageW(focus, EM_SETSEL, 0, -1);
        for (const wchar_t* c = argv[2]; *c != L'\0'; ++c) {
            PostMessageW(focus, WM_CHAR, *c, 1);
        }
        PostKey(focus, VK_TAB);
    } else if (*action == L'\0') {
        PostMessageW(found, WM_CLOSE, 0, 0);
    }
    return 0;
}
