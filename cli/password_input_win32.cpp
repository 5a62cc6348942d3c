// The Windows side of cli/password_input.h: the console stands in for the
// terminal, its input mode for the terminal's echo flag.
#include <windows.h>

#include <atomic>

#include "cli/console_win32.h"
#include "cli/nls.h"
#include "cli/password_input.h"
#include "text/utf16.h"

namespace {

// What the Ctrl+C handler needs to give the console its echo back. The
// handler runs on a thread of its own, hence the atomics.
std::atomic<HANDLE> g_input{nullptr};
std::atomic<DWORD> g_savedMode{0};

BOOL WINAPI RestoreConsole(DWORD) {
    HANDLE input = g_input;
    if (input != nullptr) {
        SetConsoleMode(input, g_savedMode);
    }
    // Ends as the system's own handler would, but surely with a failure
    // status: an interrupted encrypt must never look like a success.
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

void Write(HANDLE output, const std::string& utf8) {
    const std::wstring text = WideFromUtf8(utf8).value_or(std::wstring());
    DWORD written = 0;
    WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// One line as UTF-8, without its line end, cut at kMaxPasswordLine bytes.
std::string ReadConsoleLine(HANDLE input) {
    std::wstring line;
    line.reserve(kMaxPasswordLine);  // no reallocation leaves a copy behind
    wchar_t c;
    DWORD got = 0;
    while (ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1 && c != L'\n') {
        if (c != L'\r' && line.size() < kMaxPasswordLine) {
            line.push_back(c);
        }
    }
    // A lone surrogate typed in is no password: the line reads as empty.
    std::string utf8 = Utf8FromWide(line).value_or(std::string());
    SecureZeroMemory(&line[0], line.size() * sizeof(wchar_t));
    if (utf8.size() > kMaxPasswordLine) {
        utf8.resize(kMaxPasswordLine);
    }
    return utf8;
}

}  // namespace

bool AskPasswordOnTerminal(std::string* password, std::string* confirm) {
    // CONIN$ and CONOUT$ are the process's console whatever the standard
    // handles are redirected to, as /dev/tty is elsewhere.
    HANDLE input =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return false;
    }
    HANDLE output =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD saved = 0;
    DWORD ignored = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &saved) ||
        !GetConsoleMode(output, &ignored)) {
        if (output != INVALID_HANDLE_VALUE) {
            CloseHandle(output);
        }
        CloseHandle(input);
        return false;
    }
    g_savedMode = saved;
    g_input = input;
    SetConsoleCtrlHandler(RestoreConsole, TRUE);

    // Line input and Ctrl+C stay as they were; only the echo goes.
    SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    // Drops anything typed before the prompt, while echo was still on.
    FlushConsoleInputBuffer(input);
    Write(output, _("Password: "));
    *password = ReadConsoleLine(input);
    Write(output, std::string("\r\n") + _("Confirm password: "));
    *confirm = ReadConsoleLine(input);
    Write(output, "\r\n");
    SetConsoleMode(input, saved);

    SetConsoleCtrlHandler(RestoreConsole, FALSE);
    g_input = nullptr;
    CloseHandle(output);
    CloseHandle(input);
    return true;
}
