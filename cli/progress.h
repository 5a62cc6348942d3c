// The progress line of a long job: on standard error, rewritten in place,
// with the share done (when the size is known) and the speed.
#ifndef VELTRANE_CLI_PROGRESS_H
#define VELTRANE_CLI_PROGRESS_H

#include <chrono>
#include <string>

class Progress {
  public:
    // A line about name, shown only when allowed, standard error is a
    // terminal, and the job is still running after a second (or the
    // milliseconds in ENN_PROGRESS_DELAY_MS).
    Progress(const std::string& name, bool allowed);
    ~Progress();  // erases the line, if it was shown
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // done bytes of total (-1 when not known).
    void Update(long long done, long long total);

  private:
    using Clock = std::chrono::steady_clock;
    std::string name_;
    bool enabled_;
    Clock::time_point start_;
    Clock::time_point shown_;  // when the line was last drawn
    Clock::duration delay_;
    size_t width_ = 0;  // of the line last drawn, 0 when none is
};

#endif
