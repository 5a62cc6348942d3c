// The Encrypt command: checks the path and the two password texts in a fixed
// order, writes the container (next to the input, unless a ContainerWriter
// says otherwise) under the built-in key, and reports one message. Free of
// any window toolkit: the dialog copies its controls into EncryptFields, runs
// the command, then applies the effects.
#ifndef VELTRANE_APP_ENCRYPT_COMMAND_H
#define VELTRANE_APP_ENCRYPT_COMMAND_H

#include <functional>
#include <string>

#include "crypto/key_scramble.h"

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
    CommandField status;    // IDC_STATUS: receives exactly one message
};

// How the command takes the path text: the window trims its field, a command
// line takes a file name as it is given.
enum PathText { kTrimPath, kPathAsGiven };

// What writes the container once every check has passed, in place of the
// window's EnnEncryptFileEx beside the file: a command line may name another
// output, or standard input and output. write returns a codec result and
// stores its ENN_FAULT_ in *fault.
struct ContainerWriter {
    std::string output;  // the container's name, as the success message gives it
    std::function<int(const char* password, const char* key, int* fault)> write;
};

// Runs the command on fields. Clearing a field also empties its text. Returns
// the encoder's result when the checks passed (ENN_OK once the container is
// written), or kEncryptCheckFailed when a check stopped it before any file was
// touched; *fault (when given) receives the encoder's ENN_FAULT_.
int RunEncryptCommand(EncryptFields& fields, PathText pathText = kTrimPath, int* fault = nullptr,
                      const ContainerWriter* writer = nullptr);

constexpr int kEncryptCheckFailed = 1;

// The messages of the command, exactly as the user sees them.
extern const char* const kMsgNoPath;          // path empty after trimming
extern const char* const kMsgNoPassword;      // password empty
extern const char* const kMsgNoConfirm;       // confirmation empty
extern const char* const kMsgPasswordLength;  // password not 6 bytes as GBK counts them
extern const char* const kMsgConfirmLength;   // confirmation not 6 bytes as GBK counts them
extern const char* const kMsgMismatch;        // the two differ
extern const char* const kMsgNotDigits;       // password has a non-digit
extern const char* const kMsgInputMissing;    // ENN_ERR_OPEN_INPUT
extern const char* const kMsgCannotCreate;    // ENN_ERR_CREATE_OUTPUT
extern const char* const kMsgEncryptFailed;   // any other failure
extern const char* const kMsgSuccessLead;     // before the quoted output path
extern const char* const kMsgSuccessTail;     // after it

// The status text after a container was written to containerPath.
std::string SuccessMessage(const std::string& containerPath);

// The container's path for an input path: the path with ".enn" appended.
std::string ContainerPathFor(const std::string& trimmedPath);

// Removes leading and trailing space, tab, LF, VT, FF and CR, nothing else.
std::string TrimWhiteSpace(const std::string& text);

#endif
