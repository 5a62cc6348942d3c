// Where enn's words and data go, and what it reads. Texts are UTF-8.
#ifndef VELTRANE_CLI_CONSOLE_H
#define VELTRANE_CLI_CONSOLE_H

#include <cstddef>
#include <string>

// Keeps descriptors 0, 1 and 2 taken, so that a file the tool opens never
// takes the place of a standard stream that was closed: a closed one is
// filled with a descriptor on which every read or write fails, as on the
// closed one.
void GuardStandardStreams();

// Writes text to standard output, or to standard error, as it is.
void PrintOut(const std::string& text);
void PrintErr(const std::string& text);

// Writes size bytes to standard output as they are; false when that failed.
bool WriteOut(const unsigned char* data, std::size_t size);

// Reads up to size bytes of standard input: the count, 0 at its end, or -1
// on a read error.
int ReadIn(unsigned char* buf, int size);

// Why a write to standard output failed, once: "" when none did or the
// failure was already taken. The caller that takes it reports it.
std::string TakeOutputError();

// Flushes and closes standard output, so that nothing written to it can be
// lost unseen. Returns TakeOutputError() after that.
std::string FinishOutput();

// What standard input is, where it cannot carry a container: closed (or
// open only for writing), a folder, or a terminal, at which nobody can type
// one. Anything else is data.
enum class InputKind { kData, kClosed, kFolder, kTerminal };
InputKind StandardInputKind();

// How many bytes standard output has taken so far, through WriteOut.
long long OutputBytes();

// True when standard error is a terminal that a person reads.
bool ErrorIsTerminal();

// While one lives, an interrupt, a hang-up or a termination first removes
// every file the codec is writing aside (EnnDiscardAllAside), then ends the
// process as that signal would have; the handlers that stood before come
// back when it goes. One lives at a time: a job holds it while it writes.
class CleanUpOnSignals {
  public:
    CleanUpOnSignals();
    ~CleanUpOnSignals();
    CleanUpOnSignals(const CleanUpOnSignals&) = delete;
    CleanUpOnSignals& operator=(const CleanUpOnSignals&) = delete;
};

#endif
