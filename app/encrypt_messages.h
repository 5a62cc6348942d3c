// The Encrypt command's messages in the window's status field, exactly as the
// user sees them, and the one for each outcome of the command.
#ifndef VELTRANE_APP_ENCRYPT_MESSAGES_H
#define VELTRANE_APP_ENCRYPT_MESSAGES_H

#include <string>

#include "command/encrypt_command.h"

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

// The status text that tells outcome: its check's message, or the codec's
// result in words, or on success where the container went.
std::string StatusMessage(const EncryptOutcome& outcome);

#endif
