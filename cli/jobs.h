// The four jobs of the enn tool. Each prints its results on standard output
// and its failures on standard error, one line each naming the file, and
// returns the tool's exit status. A file named "-" is standard input or, as
// an output, standard output.
#ifndef VELTRANE_CLI_JOBS_H
#define VELTRANE_CLI_JOBS_H

#include <string>
#include <vector>

enum ExitStatus {
#define ENN_EXIT_STATUS(name, code, text) name = code,
#include "cli/exit_status.def"
#undef ENN_EXIT_STATUS
};

// The name that stands for standard input or output.
constexpr char kStandardStream[] = "-";

inline bool IsStream(const std::string& path) {
    return path == kStandardStream;
}

struct JobOptions {
    bool quiet = false;  // no messages on standard output, no progress line
    bool force = false;  // decrypt may replace an existing output
    bool passwordFromStdin = false;
    bool outputGiven = false;  // the output was named with -o
};

// Checks each container through and through; "FILE: intact" on standard
// output for each good one.
int VerifyContainers(const std::vector<std::string>& paths, const JobOptions& options);

// Writes the plain file of container to output once the whole container has
// been checked. An existing output is replaced only with force. Standard
// output receives the plain bytes only once the container checked out.
int DecryptContainer(const std::string& container, const std::string& output,
                     const JobOptions& options);

// Prints the six digits carried in container, also when quiet: they are what
// the job is for.
int PrintPassword(const std::string& container);

// Runs the Encrypt command on path with the password and confirmation read
// from standard input (two lines, before the file when path is "-") or asked
// for on the terminal. The container goes to output, by default path with
// ".enn".
int EncryptWithCommand(const std::string& path, const std::string& output,
                       const JobOptions& options);

#endif
