// The Encrypt command: checks the path and the two password texts in a fixed
// order, writes the container (next to the input, unless a ContainerWriter
// says otherwise) under the built-in key, and returns its outcome. Free of
// any window toolkit and of any words: the dialog copies its controls into
// EncryptFields, runs the command, applies the effects on the fields and
// tells the outcome in the window's texts; enn tells it in its own.
#ifndef VELTRANE_COMMAND_ENCRYPT_COMMAND_H
#define VELTRANE_COMMAND_ENCRYPT_COMMAND_H

#include <functional>
#include <string>

#include "codec/enn.h"

// One control as the command sees it. Texts are byte strings (UTF-8 here).
struct CommandField {
    std::string text;
    bool cleared = false;  // the command emptied the field
    bool focused = false;  // the command put the keyboard focus here
};

struct EncryptFields {
    CommandField path;      // IDC_FILE_PATH: read
    CommandField password;  // IDC_PASSWORD: read, maybe cleared and focused
    CommandField confirm;   // IDC_CONFIRM: read, maybe cleared and focused
};

// How the command takes the path text: the window trims its field, a command
// line takes a file name as it is given.
enum PathText { kTrimPath, kPathAsGiven };

// What writes the container once every check has passed, in place of the
// window's write beside the file (EnnEncryptFileEx, a copy in place
// allowed): a command line may name another output, or standard input and
// output. write returns a codec result and stores its ENN_FAULT_ in *fault.
struct ContainerWriter {
    std::string output;  // the container's name
    std::function<int(const char* password, const char* key, int* fault)> write;
};

// How a command ended: the first check that failed, in the order they run,
// or what became of the container once they had all passed. Each has one
// message in the window and one sentence in enn.
enum class EncryptEnd {
    kNoPath,          // the path is empty (after trimming, where it is trimmed)
    kNoPassword,      // the password is empty
    kNoConfirm,       // the confirmation is empty
    kPasswordLength,  // the password is not 6 bytes as GBK counts them
    kConfirmLength,   // the confirmation is not 6 bytes as GBK counts them
    kMismatch,        // the two differ
    kNotDigits,       // the password has a non-digit
    kInputMissing,    // the codec returned ENN_ERR_OPEN_INPUT
    kCannotCreate,    // the codec returned ENN_ERR_CREATE_OUTPUT
    kFailed,          // the codec returned any other failure
    kWritten,         // the container is in place
};

struct EncryptOutcome {
    EncryptEnd end = EncryptEnd::kFailed;  // until the command says otherwise
    // Once the checks passed: the codec's result and ENN_FAULT_, and the
    // container's name. Before that ENN_OK, ENN_FAULT_NONE and "".
    int result = ENN_OK;
    int fault = ENN_FAULT_NONE;
    std::string container;

    // True when a check stopped the command before any file was touched.
    bool StoppedByCheck() const;
};

// Runs the command on fields. Clearing a field also empties its text.
EncryptOutcome RunEncryptCommand(EncryptFields& fields, PathText pathText = kTrimPath,
                                 const ContainerWriter* writer = nullptr);

// The container's path for an input path: the path with ".enn" appended.
std::string ContainerPathFor(const std::string& trimmedPath);

// Removes leading and trailing space, tab, LF, VT, FF and CR, nothing else.
std::string TrimWhiteSpace(const std::string& text);

#endif
