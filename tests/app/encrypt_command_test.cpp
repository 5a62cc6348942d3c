#include "command/encrypt_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "app/encrypt_messages.h"
#include "codec/enn.h"
#include "command/secret.h"
#include "crypto/key_scramble.h"
#include "reference_container.h"
#include "test_util.h"
#ifndef _WIN32
#include "as_user.h"
#endif

namespace {

const std::string kSuccessLead = "加密成功！ 加密文件保存在";
const std::string kSuccessTail = "，请将加密文件送交至我行！";

Bytes BuiltInKeyBytes() {
    const BuiltInKey key;
    return Bytes(key.get(), key.get() + std::strlen(key.get()));
}

size_t EntriesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

class EncryptCommand : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile(input, data); }

    // Runs the command on the given texts; remembers the fields, the outcome
    // and the message the window shows for it. Returns the codec's result, or
    // kChecked when a check stopped the command.
    static constexpr int kChecked = 1;
    int Run(const std::string& path, const std::string& password, const std::string& confirm) {
        fields = EncryptFields();
        fields.path.text = path;
        fields.password.text = password;
        fields.confirm.text = confirm;
        outcome = RunEncryptCommand(fields);
        status = StatusMessage(outcome);
        if (outcome.StoppedByCheck()) {
            EXPECT_EQ(outcome.result, ENN_OK);
            EXPECT_EQ(outcome.fault, ENN_FAULT_NONE);
            EXPECT_EQ(outcome.container, "");
            return kChecked;
        }
        return outcome.result;
    }

    // The check failed with message; cleared and focused name the password
    // fields affected ("" none, "p" password, "c" confirmation, "pc" both).
    void ExpectRejected(const char* message, const std::string& cleared, const std::string& focus) {
        EXPECT_TRUE(outcome.StoppedByCheck());
        EXPECT_EQ(status, message);
        EXPECT_EQ(fields.password.cleared, cleared.find('p') != std::string::npos);
        EXPECT_EQ(fields.confirm.cleared, cleared.find('c') != std::string::npos);
        if (fields.password.cleared) {
            EXPECT_EQ(fields.password.text, "");
        }
        if (fields.confirm.cleared) {
            EXPECT_EQ(fields.confirm.text, "");
        }
        EXPECT_EQ(fields.password.focused, focus == "p");
        EXPECT_EQ(fields.confirm.focused, focus == "c");
        EXPECT_FALSE(fields.path.cleared || fields.path.focused);
        EXPECT_EQ(EntriesIn(dir.path()), 1u) << "a failed check touched the file system";
    }

    TempDir dir;
    std::string input = dir.File("list.txt");
    Bytes data = PseudoRandomBytes(6000, 21);
    EncryptFields fields;
    EncryptOutcome outcome;
    std::string status;
};

TEST_F(EncryptCommand, ChecksInOrderAndReportsTheFirstProblem) {
    EXPECT_EQ(Run(" \t\r\n\v\f", "123456", "123456"), kChecked);
    ExpectRejected("请指定文件路径！", "", "");
    Run(input, "", "");
    ExpectRejected("请输入密码！", "", "");
    Run(input, "123456", "");
    ExpectRejected("请输入确认密码！", "", "");
    Run(input, "12345", "12345");
    ExpectRejected("请输入一个6位的密码！", "pc", "p");
    Run(input, "1234567", "123456");
    ExpectRejected("请输入一个6位的密码！", "pc", "p");
    Run(input, "123456", "12345");
    ExpectRejected("请输入一个6位的确认密码！", "c", "c");
    Run(input, "123456", "123457");
    ExpectRejected("两次输入的密码不一致！", "pc", "p");
    Run(input, "12a456", "12a456");
    ExpectRejected("密码必须是数字！", "pc", "p");
    // The mismatch is found before the letters.
    Run(input, "12a456", "12b456");
    ExpectRejected("两次输入的密码不一致！", "pc", "p");
}

// Lengths count as the Chinese code page (GBK) counts them: one byte for
// ASCII, two for any other character, whatever the text's own encoding.
TEST_F(EncryptCommand, LengthsAreBytesOfTheChineseCodePage) {
    Run(input, "1234中", "1234中");  // six bytes in GBK, seven in UTF-8
    ExpectRejected("密码必须是数字！", "pc", "p");
    Run(input, "123中", "123中");  // five bytes in GBK, six in UTF-8
    ExpectRejected("请输入一个6位的密码！", "pc", "p");
    Run(input, "123456", "123中");
    ExpectRejected("请输入一个6位的确认密码！", "c", "c");
    Run(input, "中文字", "中文字");  // three characters, six bytes
    ExpectRejected("密码必须是数字！", "pc", "p");
    Run(input, "１２３４５６", "１２３４５６");  // full-width digits, 12 bytes
    ExpectRejected("请输入一个6位的密码！", "pc", "p");
    Run(input, "12345é", "12345é");  // Latin letters beyond ASCII are two bytes too
    ExpectRejected("请输入一个6位的密码！", "pc", "p");
    Run(input, " 12345", " 12345");  // passwords are not trimmed
    ExpectRejected("密码必须是数字！", "pc", "p");
}

TEST_F(EncryptCommand, WritesTheContainerNextToTheInputAndSaysWhere) {
    ASSERT_EQ(Run("  " + input + " \t", "908172", "908172"), ENN_OK);
    const std::string container = input + ".enn";
    EXPECT_EQ(status, kSuccessLead + "\"" + container + "\"" + kSuccessTail);
    EXPECT_EQ(fields.password.text, "908172");
    EXPECT_EQ(fields.confirm.text, "908172");
    EXPECT_FALSE(fields.password.cleared || fields.confirm.cleared);
    EXPECT_FALSE(fields.password.focused || fields.confirm.focused);

    // The container is the layout under the built-in key, byte for byte.
    const Bytes written = ReadFile(container);
    EXPECT_EQ(written, ReferenceContainer("908172", BuiltInKeyBytes(), data));

    // The same inputs again replace it with an identical one.
    ASSERT_EQ(Run(input, "908172", "908172"), ENN_OK);
    EXPECT_EQ(ReadFile(container), written);
}

// The window asks nobody before a copy in place: in a folder that takes no
// new file, the container beside the input is still rewritten, in place.
TEST_F(EncryptCommand, AFolderThatTakesNoNewFileStillGetsItsContainer) {
#ifdef _WIN32
    GTEST_SKIP() << "folder permissions of POSIX";
#else
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to act as a user whose folder takes no new file";
    }
    const std::string container = input + ".enn";
    WriteFile(container, Bytes(10, 'x'));
    const ino_t file = StatOf(container).st_ino;
    for (const std::string& path : {dir.path(), input, container}) {
        ASSERT_EQ(chown(path.c_str(), kUser, kUser), 0);
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(0, AsUser(kUser, [&] { return Run(input, "908172", "908172"); }));
    EXPECT_EQ(ReadFile(container), ReferenceContainer("908172", BuiltInKeyBytes(), data));
    EXPECT_EQ(StatOf(container).st_ino, file);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
#endif
}

TEST_F(EncryptCommand, TrimsOnlyTheSixWhiteSpaceCharacters) {
    // A no-break space is part of the name, so this file does not exist.
    EXPECT_EQ(Run("\xC2\xA0" + input, "123456", "123456"), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(TrimWhiteSpace("\t a b \r\n"), "a b");
    EXPECT_EQ(TrimWhiteSpace(" \v\f "), "");
}

TEST_F(EncryptCommand, ReportsFilesThatCannotBeReadOrWritten) {
    EXPECT_EQ(Run(dir.File("missing.txt"), "123456", "123456"), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(status, "找不到指定的文件！");
    EXPECT_EQ(outcome.end, EncryptEnd::kInputMissing);
    EXPECT_EQ(outcome.fault, ENN_FAULT_NO_INPUT);
    EXPECT_EQ(fields.password.text, "123456");
    EXPECT_FALSE(FileExists(dir.File("missing.txt.enn")));

    // A folder where the container's name should be: root can't be stopped
    // by permissions, but nobody can create a file over a folder.
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(input + ".enn")));
    EXPECT_EQ(Run(input, "123456", "123456"), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(status, "不能创建加密文件！");
    EXPECT_EQ(outcome.end, EncryptEnd::kCannotCreate);
    EXPECT_EQ(outcome.fault, ENN_FAULT_OUTPUT_FOLDER);
    EXPECT_EQ(outcome.container, input + ".enn");

    EXPECT_EQ(Run(dir.path(), "123456", "123456"), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(status, "找不到指定的文件！");
    EXPECT_EQ(outcome.fault, ENN_FAULT_INPUT_FOLDER);
}

// A writer of the caller's takes the container once the checks passed; its
// result and fault are the outcome's, and any failure but the two the window
// names is "加密出错！".
TEST_F(EncryptCommand, AWriterOfTheCallersGetsThePasswordAndTheBuiltInKeyAndGivesTheOutcome) {
    ContainerWriter writer;
    writer.output = dir.File("elsewhere.enn");
    std::string passwordSeen;
    const char* keySeen = nullptr;
    writer.write = [&](const char* password, const char* key, int* fault) {
        passwordSeen = password;
        keySeen = key;
        *fault = ENN_FAULT_DISK_FULL;
        return ENN_ERR_GENERIC;
    };
    fields = EncryptFields();
    fields.path.text = " " + input;
    fields.password.text = "246810";
    fields.confirm.text = "246810";
    outcome = RunEncryptCommand(fields, kPathAsGiven, &writer);
    EXPECT_EQ(passwordSeen, "246810");
    EXPECT_EQ(keySeen, EnnBuiltIn()) << "the command holds no key of its own";
    EXPECT_EQ(outcome.end, EncryptEnd::kFailed);
    EXPECT_FALSE(outcome.StoppedByCheck());
    EXPECT_EQ(outcome.result, ENN_ERR_GENERIC);
    EXPECT_EQ(outcome.fault, ENN_FAULT_DISK_FULL);
    EXPECT_EQ(outcome.container, writer.output);
    EXPECT_EQ(StatusMessage(outcome), "加密出错！");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    // Taken as given, a path of only white space is still a path.
    fields.path.text = " ";
    fields.password.text = "";
    EXPECT_EQ(RunEncryptCommand(fields, kPathAsGiven, &writer).end, EncryptEnd::kNoPassword);
}

TEST_F(EncryptCommand, PathsOfAnyLengthWork) {
    std::string folder = dir.path();
    for (int i = 0; i < 6; ++i) {
        folder += "/" + std::string(60, static_cast<char>('a' + i));
    }
    std::filesystem::create_directories(folder);
    const std::string longInput = folder + "/付款清单.txt";
    WriteFile(longInput, data);
    ASSERT_GT(longInput.size(), 400u);
    ASSERT_EQ(Run(longInput, "123456", "123456"), ENN_OK);
    EXPECT_EQ(status, kSuccessLead + "\"" + longInput + ".enn\"" + kSuccessTail);
    EXPECT_TRUE(FileExists(longInput + ".enn"));
}

TEST(Secrets, AWipeZeroesEveryByte) {
    std::string text = "908172";
    WipeSecret(text);
    EXPECT_EQ(text, std::string(6, '\0'));
}

}  // namespace
