// The four jobs of the enn tool. Each prints its results on standard output
// and its failures on standard error, one line each naming the file, and
// returns the tool's exit status.
#ifndef VELTRANE_CLI_JOBS_H
#define VELTRANE_CLI_JOBS_H

#include <string>
#include <vector>

enum ExitStatus {
    kExitOk = 0,      // every file done
    kExitFailed = 1,  // a file failed: missing, damaged, refused, not writable
    kExitUsage = 2,   // bad arguments, or no terminal to ask for the password on
};

// Checks the digest header and the size of each container; "FILE: intact" on
// standard output for each good one.
int VerifyContainers(const std::vector<std::string>& paths);

// Writes the plain file of container to output. An existing output is
// replaced only with force, and only once the whole plain file is written;
// until then the plain bytes go to a temporary file beside it, which is
// removed when anything fails. A directory, a non-regular file or the
// container itself is never replaced.
int DecryptContainer(const std::string& container, const std::string& output, bool force);

// Prints the six digits carried in container.
int PrintPassword(const std::string& container);

// Runs the Encrypt command on path with the password and confirmation read
// from standard input (two lines) or asked for on the terminal.
int EncryptWithCommand(const std::string& path, bool passwordFromStdin);

#endif
