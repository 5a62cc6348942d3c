#ifdef _WIN32
#include <io.h>
#define read _read
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

#include "cli/password_input.h"

// One byte at a time, so that nothing after the line feed is consumed.
std::string ReadPasswordLine(int fd) {
    std::string line;
    line.reserve(kMaxPasswordLine);  // no reallocation leaves a copy behind
    char c;
    for (;;) {
        const auto n = read(fd, &c, 1);
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
