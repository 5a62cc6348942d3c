#include "cli/console_win32.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli/console.h"
#include "cli/nls.h"
#include "cli/output.h"
#include "text/utf16.h"

void StartTranslations() {
    // Binary mode: "\n" stays one byte instead of becoming "\r\n", so that
    // scripts read the same output as elsewhere, and data passes unchanged.
    // enn keeps no catalogue on Windows and speaks English there.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

namespace {

// handle when it is a console, or null (a file, a pipe, none).
HANDLE ConsoleOf(HANDLE handle) {
    DWORD mode;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
        return nullptr;
    }
    return handle;
}

}  // namespace

bool PrintTo(std::FILE* stream, void* handle, const std::string& text) {
    HANDLE console = ConsoleOf(handle);
    if (console == nullptr) {
        const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
        return std::fflush(stream) == 0 && written;  // keeps the order of lines on both streams
    }
    std::fflush(stream);
    // enn's own texts and the names it was given are valid UTF-8.
    const std::wstring wide = WideFromUtf8(text).value_or(std::wstring());
    const wchar_t* at = wide.data();
    DWORD left = static_cast<DWORD>(wide.size());
    while (left > 0) {
        DWORD written = 0;
        if (!WriteConsoleW(console, at, left, &written, nullptr) || written == 0) {
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

void GuardStandardStreams() {
    // The C runtime keeps descriptors 0 to 2 for the standard handles, open or not.
}

void PrintOut(const std::string& text) {
    NoteOutputWritten();
    errno = 0;
    if (!PrintTo(stdout, GetStdHandle(STD_OUTPUT_HANDLE), text)) {
        NoteOutputError();
    }
}

bool WriteOut(const unsigned char* data, std::size_t size) {
    NoteOutputWritten();
    errno = 0;
    // Flushed at once, so that the count is what the file or pipe took.
    const std::size_t put = std::fwrite(data, 1, size, stdout);
    const bool flushed = std::fflush(stdout) == 0;
    if (put != size || !flushed) {
        NoteOutputError();
        return false;
    }
    NoteOutputBytes(static_cast<long long>(size));
    return true;
}

int ReadIn(unsigned char* buf, int size) {
    return _read(0, buf, static_cast<unsigned>(size));
}

InputKind StandardInputKind() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
        return InputKind::kClosed;
    }
    DWORD mode = 0;
    return GetFileType(in) == FILE_TYPE_CHAR && GetConsoleMode(in, &mode) ? InputKind::kTerminal
                                                                          : InputKind::kData;
}

bool ErrorIsTerminal() {
    return ConsoleOf(GetStdHandle(STD_ERROR_HANDLE)) != nullptr;
}

void PrintErr(const std::string& text) {
    PrintTo(stderr, GetStdHandle(STD_ERROR_HANDLE), text);
}

// The codec marks its aside files for deletion until they are put in place,
// so the system removes them however the process ends.
CleanUpOnSignals::CleanUpOnSignals() {}
CleanUpOnSignals::~CleanUpOnSignals() {}
