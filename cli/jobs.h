// The four jobs of the enn tool. Each prints its results on standard output
// and its failures on standard error, one line each naming the file, and
// returns the tool's exit status. A file named "-" is standard input or, as
// an output, standard output.
#ifndef VELTRANE_CLI_JOBS_H
#define VELTRANE_CLI_JOBS_H

#include <string>
#include <vector>

#include "cli/status.h"

// The name that stands for standard input or output.
constexpr char kStandardStream[] = "-";

inline bool IsStream(const std::string& path) {
    return path == kStandardStream;
}

struct JobOptions {
    bool quiet = false;  // no messages on standard output, no progress line
    bool force = false;  // decrypt may replace an existing output
    bool passwordFromStdin = false;
    bool outputGiven = false;    // the output was named with -o
    bool json = false;           // a JSON object a line and file on standard output
    bool printPassword = false;  // decrypt says each container's password too
    bool inPlace = false;        // a copy in place may replace what nothing else can
};

// Checks each container through and through; "FILE: intact" on standard
// output for each good one.
int VerifyContainers(const std::vector<std::string>& paths, const JobOptions& options);

// Checks the folder of -d once, before any file is read: one line on
// standard error when it does not exist, is not a folder or may not be
// written in, and the run's status then; kExitOk when it can take outputs.
int CheckOutputFolder(const std::string& folder);

// Writes the plain file of each container to the output beside it, once
// that container has been checked: outputs[i] for containers[i]. An existing
// output is replaced only with force. A run in which two containers would
// be decrypted to one file, or one onto another container of the run, is
// refused whole before anything is read (one line, kExitBlocked). Else each
// file succeeds or fails on its own;
// several are decrypted at once, so that their flushes to disk overlap, and
// each is reported, in the order given, once it is on disk. Standard output
// (a single container) receives the plain bytes only once it checked out.
int DecryptContainers(const std::vector<std::string>& containers,
                      const std::vector<std::string>& outputs, const JobOptions& options);

// Prints the six digits carried in each container, also when quiet: they
// are what the job is for. One container gives its digits alone; several
// give "FILE: DIGITS" lines.
int PrintPasswords(const std::vector<std::string>& containers, const JobOptions& options);

// Runs the Encrypt command on each path with the password and confirmation
// read once, from standard input (two lines, before the file when path is
// "-") or asked for on the terminal. The containers go to outputs[i].
int EncryptWithCommand(const std::vector<std::string>& paths,
                       const std::vector<std::string>& outputs, const JobOptions& options);

#endif
