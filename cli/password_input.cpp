#include "cli/password_input.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/nls.h"

namespace {

// What a signal handler needs to give the terminal its echo back.
int g_tty = -1;
struct termios g_saved;

const int kRestoreSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RestoreTerminalAndDie(int sig) {
    tcsetattr(g_tty, TCSAFLUSH, &g_saved);
    signal(sig, SIG_DFL);
    raise(sig);
}

void Write(int fd, const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

// One byte at a time, so that nothing after the line feed is consumed.
std::string ReadPasswordLine(int fd) {
    std::string line;
    line.reserve(kMaxPasswordLine);  // no reallocation leaves a copy behind
    char c;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            break;
        }
        if (line.size() < kMaxPasswordLine) {
            line.push_back(c);
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

bool AskPasswordOnTerminal(std::string* password, std::string* confirm) {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        return false;
    }
    struct termios saved;
    if (tcgetattr(tty, &saved) != 0) {
        close(tty);
        return false;
    }
    g_tty = tty;
    g_saved = saved;
    struct sigaction restore = {};
    restore.sa_handler = RestoreTerminalAndDie;
    sigemptyset(&restore.sa_mask);
    struct sigaction previous[sizeof kRestoreSignals / sizeof kRestoreSignals[0]];
    for (size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i) {
        sigaction(kRestoreSignals[i], &restore, &previous[i]);
    }

    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    // TCSAFLUSH drops anything typed before the prompt, while echo was still on.
    tcsetattr(tty, TCSAFLUSH, &quiet);
    Write(tty, _("Password: "));
    *password = ReadPasswordLine(tty);
    Write(tty, (std::string("\n") + _("Confirm password: ")).c_str());
    *confirm = ReadPasswordLine(tty);
    Write(tty, "\n");
    tcsetattr(tty, TCSAFLUSH, &saved);

    for (size_t i = 0; i < sizeof kRestoreSignals / sizeof kRestoreSignals[0]; ++i) {
        sigaction(kRestoreSignals[i], &previous[i], nullptr);
    }
    g_tty = -1;
    close(tty);
    return true;
}
