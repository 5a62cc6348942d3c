#include "app/encrypt_messages.h"

#include <string>

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

std::string SuccessMessage(const std::string& containerPath) {
    return std::string(kMsgSuccessLead) + '"' + containerPath + '"' + kMsgSuccessTail;
}

std::string StatusMessage(const EncryptOutcome& outcome) {
    // No default: the compiler names an outcome left without its message.
    switch (outcome.end) {
        case EncryptEnd::kNoPath:
            return kMsgNoPath;
        case EncryptEnd::kNoPassword:
            return kMsgNoPassword;
        case EncryptEnd::kNoConfirm:
            return kMsgNoConfirm;
        case EncryptEnd::kPasswordLength:
            return kMsgPasswordLength;
        case EncryptEnd::kConfirmLength:
            return kMsgConfirmLength;
        case EncryptEnd::kMismatch:
            return kMsgMismatch;
        case EncryptEnd::kNotDigits:
            return kMsgNotDigits;
        case EncryptEnd::kInputMissing:
            return kMsgInputMissing;
        case EncryptEnd::kCannotCreate:
            return kMsgCannotCreate;
        case EncryptEnd::kFailed:
            return kMsgEncryptFailed;
        case EncryptEnd::kWritten:
            return SuccessMessage(outcome.container);
    }
    return kMsgEncryptFailed;  // not an EncryptEnd
}
