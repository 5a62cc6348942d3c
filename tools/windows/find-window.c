/* find-window.exe TEXT: waits up to a minute for a visible top-level window
   whose title contains TEXT, prints its title (UTF-8) and asks it to close.
   Exit status 0 when one was found, 1 when none came, 2 for bad usage. The
   installer's test uses it to see the installed program start. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static const wchar_t* wanted;
static HWND found;

static BOOL CALLBACK Look(HWND window, LPARAM unused) {
    wchar_t title[512];
    (void)unused;
    if (IsWindowVisible(window) && GetWindowTextW(window, title, 512) > 0 &&
        wcsstr(title, wanted) != NULL) {
        found = window;
        return FALSE;
    }
    return TRUE;
}

int main(void) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == NULL || argc != 2) {
        fprintf(stderr, "usage: find-window TEXT\n");
        return 2;
    }
    wanted = argv[1];
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
    PostMessageW(found, WM_CLOSE, 0, 0);
    return 0;
}
