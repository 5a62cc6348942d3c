#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/console.h"
#include "cli/nls.h"
#include "cli/output.h"
#include "codec/enn.h"

void GuardStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // Opened the other way round, so that using it fails with EBADF
            // as the closed descriptor would have.
            const int filler = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
            if (filler >= 0 && filler != fd) {
                close(filler);  // cannot happen: the lowest free number is taken
            }
        }
    }
}

void PrintOut(const std::string& text) {
    NoteOutputWritten();
    errno = 0;
    // Flushed at once: keeps the order of lines on both streams.
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        NoteOutputError();
    }
}

bool WriteOut(const unsigned char* data, std::size_t size) {
    NoteOutputWritten();
    std::fflush(stdout);  // what was printed before goes first
    // Straight to the descriptor, so that the count is what it took.
    while (size > 0) {
        const ssize_t put = write(1, data, size);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            errno = put == 0 ? EIO : errno;
            NoteOutputError();
            return false;
        }
        NoteOutputBytes(put);
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void PrintErr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}

int ReadIn(unsigned char* buf, int size) {
    for (;;) {
        const ssize_t got = read(0, buf, static_cast<size_t>(size));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<int>(got);
    }
}

InputKind StandardInputKind() {
    const int flags = fcntl(0, F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY) {
        return InputKind::kClosed;  // a closed one is kept taken write-only
    }
    struct stat st;
    if (fstat(0, &st) == 0 && S_ISDIR(st.st_mode)) {
        return InputKind::kFolder;
    }
    return isatty(0) == 1 ? InputKind::kTerminal : InputKind::kData;
}

bool ErrorIsTerminal() {
    return isatty(2) == 1;
}

void StartTranslations() {
#ifdef VELTRANE_NLS
    std::setlocale(LC_ALL, "");
    // Beside the program first, so that a build tree and a moved install
    // both find their own catalogue.
    char self[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = VELTRANE_LOCALEDIR;
    if (len > 0) {
        std::string exe(self, static_cast<size_t>(len));
        const std::string beside = exe.substr(0, exe.rfind('/')) + "/../share/locale";
        if (access(beside.c_str(), X_OK) == 0) {
            dir = beside;
        }
    }
    bindtextdomain("enn", dir.c_str());
    bind_textdomain_codeset("enn", "UTF-8");
    textdomain("enn");
#endif
}

namespace {

constexpr int kCleaningSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCleaningCount = sizeof kCleaningSignals / sizeof kCleaningSignals[0];
// The handlers CleanUpOnSignals puts back: one lives at a time.
struct sigaction previousHandlers[kCleaningCount];

// A file being written aside must not outlive an interrupted enn.
void DiscardAsideAndDie(int sig) {
    EnnDiscardAllAside();
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

CleanUpOnSignals::CleanUpOnSignals() {
    struct sigaction clean = {};
    clean.sa_handler = DiscardAsideAndDie;
    sigemptyset(&clean.sa_mask);
    for (int i = 0; i < kCleaningCount; ++i) {
        sigaction(kCleaningSignals[i], &clean, &previousHandlers[i]);
    }
}

CleanUpOnSignals::~CleanUpOnSignals() {
    for (int i = 0; i < kCleaningCount; ++i) {
        sigaction(kCleaningSignals[i], &previousHandlers[i], nullptr);
    }
}
