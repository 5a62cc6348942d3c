#include "cli/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/console.h"

namespace {

int g_outError = 0;     // the first errno of a failed write to standard output
bool g_wrote = false;   // anything was given to standard output
long long g_bytes = 0;  // bytes of data standard output took

}  // namespace

void NoteOutputWritten() {
    g_wrote = true;
}

void NoteOutputError() {
    if (g_outError == 0) {
        g_outError = errno != 0 ? errno : EIO;
    }
}

void NoteOutputBytes(long long count) {
    g_bytes += count;
}

long long OutputBytes() {
    return g_bytes;
}

std::string TakeOutputError() {
    const int error = g_outError;
    g_outError = 0;
    return error == 0 ? std::string() : std::string(std::strerror(error));
}

std::string FinishOutput() {
    errno = 0;
    if (std::fclose(stdout) != 0 && g_outError == 0) {
        // A descriptor closed from the start loses nothing when nothing was written.
        if (errno != EBADF || g_wrote) {
            NoteOutputError();
        }
    }
    return TakeOutputError();
}
