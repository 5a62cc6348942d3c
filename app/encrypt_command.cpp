#include "app/encrypt_command.h"

#include <string>

#include "codec/enn.h"
#include "crypto/wipe.h"

const char* const kMsgNoPath = "请指定文件路径！";
const char* const kMsgNoPassword = "请输入密码！";
const char* const kMsgNoConfirm = "请输入确认密码！";
const char* const kMsgPasswordLength = "请输入一个6位的密码！";
const char* const kMsgConfirmLength = "请输入一个6位的确认密码！";
const char* const kMsgMismatch = "两次输入的密码不一致！";
const char* const kMsgNotDigits = "密码必须是数字！";
const char* const kMsgInputMissing = "找不到指定的文件！";
const char* const kMsgCannotCreate = "不能创建加密文件！";
const char* const kMsgEncryptFailed = "加密出错！";
const char* const kMsgSuccessLead = "加密成功！ 加密文件保存在";
const char* const kMsgSuccessTail = "，请将加密文件送交至我行！";

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void Clear(CommandField& field) {
    SecureWipe(field.text.data(), field.text.size());
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

// Stops the command with a message about the password fields.
int RejectPasswords(EncryptFields& f, const char* message, bool clearPassword) {
    if (clearPassword) {
        Clear(f.password);
    }
    Clear(f.confirm);
    (clearPassword ? f.password : f.confirm).focused = true;
    f.status.text = message;
    return kEncryptCheckFailed;
}

// The command's copy of the password, wiped on every way out.
struct PasswordCopy {
    char text[ENN_PASSWORD_LENGTH + 1] = {};
    ~PasswordCopy() { SecureWipe(text, sizeof text); }
};

}  // namespace

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

std::string SuccessMessage(const std::string& containerPath) {
    return std::string(kMsgSuccessLead) + '"' + containerPath + '"' + kMsgSuccessTail;
}

std::string ContainerPathFor(const std::string& trimmedPath) {
    return trimmedPath + ENN_EXTENSION;
}

int RunEncryptCommand(EncryptFields& f, PathText pathText, int* fault,
                      const ContainerWriter* writer) {
    const std::string path = pathText == kTrimPath ? TrimWhiteSpace(f.path.text) : f.path.text;
    const std::string& password = f.password.text;
    const std::string& confirm = f.confirm.text;
    if (path.empty()) {
        f.status.text = kMsgNoPath;
        return kEncryptCheckFailed;
    }
    if (password.empty()) {
        f.status.text = kMsgNoPassword;
        return kEncryptCheckFailed;
    }
    if (confirm.empty()) {
        f.status.text = kMsgNoConfirm;
        return kEncryptCheckFailed;
    }
    if (CodePageLength(password) != ENN_PASSWORD_LENGTH) {
        return RejectPasswords(f, kMsgPasswordLength, true);
    }
    if (CodePageLength(confirm) != ENN_PASSWORD_LENGTH) {
        return RejectPasswords(f, kMsgConfirmLength, false);
    }
    if (password != confirm) {
        return RejectPasswords(f, kMsgMismatch, true);
    }
    if (!EnnIsPassword(password.c_str())) {
        return RejectPasswords(f, kMsgNotDigits, true);
    }

    PasswordCopy passwordCopy;
    password.copy(passwordCopy.text, ENN_PASSWORD_LENGTH);
    const BuiltInKey key;
    const std::string outputPath = writer != nullptr ? writer->output : ContainerPathFor(path);
    const int result = writer != nullptr
                           ? writer->write(passwordCopy.text, key.get(), fault)
                           : EnnEncryptFileEx(passwordCopy.text, key.get(), path.c_str(),
                                              outputPath.c_str(), fault);
    switch (result) {
        case ENN_OK:
            f.status.text = SuccessMessage(outputPath);
            break;
        case ENN_ERR_OPEN_INPUT:
            f.status.text = kMsgInputMissing;
            break;
        case ENN_ERR_CREATE_OUTPUT:
            f.status.text = kMsgCannotCreate;
            break;
        default:
            f.status.text = kMsgEncryptFailed;
            break;
    }
    return result;
}
