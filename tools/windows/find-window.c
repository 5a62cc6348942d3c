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

// An empty TEXT stands for any title, none included. The text is asked of
// the window itself, as GetWindowText does not ask another process's
// windows: it would never see what an edit field or a licence's box holds.
static BOOL HasText(HWND window, const wchar_t* text) {
    static wchar_t held[8192];
    DWORD_PTR length = 0;
    return IsWindowVisible(window) &&
           (*text == L'\0' || (SendMessageTimeoutW(window, WM_GETTEXT, 8192, (LPARAM)held,
                                                   SMTO_ABORTIFHUNG, 5000, &length) != 0 &&
                               length > 0 && wcsstr(held, text) != NULL));
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

// The control of WINDOW that has the keyboard's focus, waiting for it a
// while after the window shows, or NULL.
static HWND Focus(HWND window) {
    GUITHREADINFO info = {.cbSize = sizeof info};
    for (int tries = 0; tries < 600; ++tries, Sleep(100)) {
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) &&
            IsChild(window, info.hwndFocus)) {
            return info.hwndFocus;
        }
    }
    return NULL;
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
    const BOOL keep = wcscmp(action, L"--keep") == 0, press = wcscmp(action, L"--press") == 0,
               escape = wcscmp(action, L"--escape") == 0, type = wcscmp(action, L"--type") == 0,
               gone = wcscmp(action, L"--gone") == 0;
    const int first = *action == L'\0' ? 1 : press || type ? 3 : 2;
    if (argv == NULL || (*action != L'\0' && !(keep || press || escape || type || gone)) ||
        argc - first < 1 || argc - first > 2) {
        fprintf(stderr,
                "usage: find-window [--keep | --press BUTTON | --escape | --type TEXT | --gone] "
                "TEXT [CHILD]\n");
        return 2;
    }
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
    } else if (escape || type) {
        HWND focus = Focus(found);
        if (focus == NULL) {
            fprintf(stderr, "find-window: no control has the focus\n");
            return 1;
        }
        if (escape) {
            PostKey(focus, VK_ESCAPE);
        } else {
            SendMessageW(focus, EM_SETSEL, 0, -1);
            for (const wchar_t* c = argv[2]; *c != L'\0'; ++c) {
                PostMessageW(focus, WM_CHAR, *c, 1);
            }
            PostKey(focus, VK_TAB);
        }
    } else if (!keep) {
        PostMessageW(found, WM_CLOSE, 0, 0);
    }
    return 0;
}
