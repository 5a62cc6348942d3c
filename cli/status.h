// enn's exit statuses, and the status each of the library's faults gives
// the file it befell.
#ifndef VELTRANE_CLI_STATUS_H
#define VELTRANE_CLI_STATUS_H

enum ExitStatus {
#define ENN_EXIT_STATUS(name, code, outcome, text) name = code,
#include "cli/exit_status.def"
#undef ENN_EXIT_STATUS
};

// The exit status a file ends with for the library's fault: kExitOk for
// ENN_FAULT_NONE, and kExitBlocked for a fault this enn has no row for, as
// nobody can say whether a retry would pass it.
int FaultStatus(int fault);

// How many faults the table has a row for: those of ENN_FAULT_NONE up.
int FaultRows();

// The outcome a --json line gives a file that ended with status ("ok",
// "refused", "blocked", "failed"); "blocked" for a status enn does not have.
const char* OutcomeOf(int status);

// Each exit status with its --json outcome and its words (untranslated), in
// the order cli/exit_status.def gives them.
struct ExitStatusLine {
    int code;
    const char* outcome;
    const char* text;
};
extern const ExitStatusLine kExitStatusLines[];
extern const int kExitStatusCount;

// The exit status of a run whose files ended with statuses a and b:
// kExitBlocked wins over kExitFailed, which wins over kExitRefused, which
// wins over success.
int WorseStatus(int a, int b);

#endif
