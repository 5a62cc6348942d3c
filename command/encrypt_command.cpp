#include "command/encrypt_command.h"

#include <string>

#include "codec/enn.h"
#include "command/secret.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void Clear(CommandField& field) {
    WipeSecret(field.text);
    field.text.clear();
    field.cleared = true;
}

// The length of a UTF-8 text in bytes of the Chinese code page the window
// speaks (GBK): one for an ASCII character, two for any other.
size_t CodePageLength(const std::string& text) {
    size_t length = 0;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            length += 1;
        } else if ((byte & 0xC0) != 0x80) {
            length += 2;  // the lead byte of a character; continuation bytes add nothing
        }
    }
    return length;
}

EncryptOutcome Stopped(EncryptEnd end) {
    EncryptOutcome outcome;
    outcome.end = end;
    return outcome;
}

// Stops the command at a check of the password fields.
EncryptOutcome RejectPasswords(EncryptFields& f, EncryptEnd end, bool clearPassword) {
    if (clearPassword) {
        Clear(f.password);
    }
    Clear(f.confirm);
    (clearPassword ? f.password : f.confirm).focused = true;
    return Stopped(end);
}

// What became of the container, by the codec's result.
EncryptEnd EndOf(int result) {
    switch (result) {
        case ENN_OK:
            return EncryptEnd::kWritten;
        case ENN_ERR_OPEN_INPUT:
            return EncryptEnd::kInputMissing;
        case ENN_ERR_CREATE_OUTPUT:
            return EncryptEnd::kCannotCreate;
        default:
            return EncryptEnd::kFailed;
    }
}

// The command's copy of the password, wiped on every way out.
struct PasswordCopy {
    char text[ENN_PASSWORD_LENGTH + 1] = {};
    ~PasswordCopy() { WipeSecret(text, sizeof text); }
};

}  // namespace

// Each end by name, so that an end added anywhere must be placed here.
bool EncryptOutcome::StoppedByCheck() const {
    switch (end) {
        case EncryptEnd::kNoPath:
        case EncryptEnd::kNoPassword:
        case EncryptEnd::kNoConfirm:
        case EncryptEnd::kPasswordLength:
        case EncryptEnd::kConfirmLength:
        case EncryptEnd::kMismatch:
        case EncryptEnd::kNotDigits:
            return true;
        case EncryptEnd::kInputMissing:
        case EncryptEnd::kCannotCreate:
        case EncryptEnd::kFailed:
        case EncryptEnd::kWritten:
            return false;
    }
    return false;
}

std::string TrimWhiteSpace(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsWhiteSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsWhiteSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string ContainerPathFor(const std::string& trimmedPath) {
    return trimmedPath + ENN_EXTENSION;
}

EncryptOutcome RunEncryptCommand(EncryptFields& f, PathText pathText,
                                 const ContainerWriter* writer) {
    const std::string path = pathText == kTrimPath ? TrimWhiteSpace(f.path.text) : f.path.text;
    const std::string& password = f.password.text;
    const std::string& confirm = f.confirm.text;
    if (path.empty()) {
        return Stopped(EncryptEnd::kNoPath);
    }
    if (password.empty()) {
        return Stopped(EncryptEnd::kNoPassword);
    }
    if (confirm.empty()) {
        return Stopped(EncryptEnd::kNoConfirm);
    }
    if (CodePageLength(password) != ENN_PASSWORD_LENGTH) {
        return RejectPasswords(f, EncryptEnd::kPasswordLength, true);
    }
    if (CodePageLength(confirm) != ENN_PASSWORD_LENGTH) {
        return RejectPasswords(f, EncryptEnd::kConfirmLength, false);
    }
    if (password != confirm) {
        return RejectPasswords(f, EncryptEnd::kMismatch, true);
    }
    if (!EnnIsPassword(password.c_str())) {
        return RejectPasswords(f, EncryptEnd::kNotDigits, true);
    }

    PasswordCopy passwordCopy;
    password.copy(passwordCopy.text, ENN_PASSWORD_LENGTH);
    EncryptOutcome outcome;
    outcome.container = writer != nullptr ? writer->output : ContainerPathFor(path);
    if (writer != nullptr) {
        outcome.result = writer->write(passwordCopy.text, EnnBuiltIn(), &outcome.fault);
    } else {
        // The window's write succeeds wherever the file beside the input may
        // be written: it asks nobody before a copy in place.
        outcome.result = EnnEncryptStreamPlaced(passwordCopy.text, EnnBuiltIn(), path.c_str(),
                                                outcome.container.c_str(), ENN_ALLOW_IN_PLACE,
                                                nullptr, nullptr, nullptr, nullptr, &outcome.fault);
    }
    outcome.end = EndOf(outcome.result);
    return outcome;
}
