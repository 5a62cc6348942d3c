#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli/console.h"

namespace {

constexpr auto kRedraw = std::chrono::milliseconds(200);

std::chrono::milliseconds DelayFromEnvironment() {
    const char* text = std::getenv("ENN_PROGRESS_DELAY_MS");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long ms = std::strtol(text, &end, 10);
        if (*end == '\0' && ms >= 0) {
            return std::chrono::milliseconds(ms);
        }
    }
    return std::chrono::milliseconds(1000);
}

// The name as the line gives it: the end of a long one, so that the line
// fits a row of 80 columns and \r can rewrite it.
std::string ShownName(const std::string& name) {
    constexpr size_t kMost = 40;  // bytes: at most 40 columns, Chinese or not
    if (name.size() <= kMost) {
        return name;
    }
    size_t from = name.size() - (kMost - 3);
    while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) {
        ++from;  // never into the middle of a character
    }
    return "..." + name.substr(from);
}

}  // namespace

Progress::Progress(const std::string& name, bool allowed)
    : name_(ShownName(name)),
      enabled_(allowed && ErrorIsTerminal()),
      start_(Clock::now()),
      delay_(DelayFromEnvironment()) {}

Progress::~Progress() {
    if (width_ > 0) {
        PrintErr("\r" + std::string(width_, ' ') + "\r");
    }
}

void Progress::Update(long long done, long long total) {
    if (!enabled_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now - start_ < delay_ || (width_ > 0 && now - shown_ < kRedraw)) {
        return;
    }
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double mb = static_cast<double>(done) / 1e6;
    char figures[64];
    if (total > 0) {
        std::snprintf(figures, sizeof figures, "%3d%%  %.1f MB/s",
                      static_cast<int>(done * 100 / total), seconds > 0 ? mb / seconds : 0.0);
    } else {
        std::snprintf(figures, sizeof figures, "%.1f MB  %.1f MB/s", mb,
                      seconds > 0 ? mb / seconds : 0.0);
    }
    std::string line = name_ + ": " + figures;
    const size_t width = line.size();
    if (width < width_) {
        line.append(width_ - width, ' ');  // covers the end of a longer line before
    }
    PrintErr("\r" + line);
    width_ = std::max(width, width_);
}
