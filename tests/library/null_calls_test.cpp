// Every function the shared library exports, with every null it can be
// given, an empty name and a key with no NUL in reach: each returns its
// documented failure, and nothing crashes. Each call runs in a child, so
// that a crash is one failed case rather than the end of the suite.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "test_util.h"

namespace {

const char kKey[] = "Karsholm payment batch key";

struct Case {
    std::string what;
    std::function<int()> call;
    int expected;
};

// What the call returned in a child, or a text saying how it died.
std::string Outcome(const std::function<int()>& call) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        const int result = call();
        (void)!write(pipeFds[1], &result, sizeof result);
        _exit(0);
    }
    close(pipeFds[1]);
    int result = 0;
    const bool got = read(pipeFds[0], &result, sizeof result) == sizeof result;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        return "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return got ? std::to_string(result) : "no result";
}

int ReadNothing(void*, unsigned char*, int) {
    return 0;
}

int WriteNowhere(void*, const unsigned char*, int) {
    return 0;
}

class NullCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(plain, PseudoRandomBytes(5000, 3));
        ASSERT_EQ(EnnEncryptFile("123456", kKey, plain.c_str(), container.c_str()), ENN_OK);
    }

    TempDir dir;
    std::string plain = dir.File("batch.txt");
    std::string container = dir.File("batch.txt.enn");
    std::string out = dir.File("batch.out");
};

TEST_F(NullCalls, EveryExportedFunctionRefusesEveryNullItCanTake) {
    const char* in = container.c_str();
    const char* to = out.c_str();
    const char* file = plain.c_str();
    unsigned char data[64] = {};
    unsigned char buf[64];
    int len = 0;
    int fault = 0;
    char password[7];
    // A key's buffer with no NUL in its 57 bytes, and one just long enough.
    char unterminated[57];
    std::memset(unterminated, 'k', sizeof unterminated);
    const std::vector<Case> cases = {
        {"EnnIsPassword(null)", [] { return EnnIsPassword(nullptr); }, 0},
        {"EnnBuiltInKey(null)", [] { return EnnBuiltInKey(nullptr); }, ENN_ERR_GENERIC},
        {"EnnEncryptChunk key", [&] { return EnnEncryptChunk(nullptr, data, 8, buf, &len); },
         ENN_ERR_GENERIC},
        {"EnnEncryptChunk data", [&] { return EnnEncryptChunk(kKey, nullptr, 8, buf, &len); },
         ENN_ERR_GENERIC},
        {"EnnEncryptChunk no data", [&] { return EnnEncryptChunk(kKey, nullptr, 0, buf, &len); },
         ENN_OK},
        {"EnnEncryptChunk out", [&] { return EnnEncryptChunk(kKey, data, 8, nullptr, &len); },
         ENN_ERR_GENERIC},
        {"EnnEncryptChunk out_len", [&] { return EnnEncryptChunk(kKey, data, 8, buf, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnEncryptChunk unterminated key",
         [&] { return EnnEncryptChunk(unterminated, data, 8, buf, &len); }, ENN_ERR_GENERIC},
        {"EnnDecryptChunk key", [&] { return EnnDecryptChunk(nullptr, data, 16, buf, &len); },
         ENN_ERR_GENERIC},
        {"EnnDecryptChunk data", [&] { return EnnDecryptChunk(kKey, nullptr, 16, buf, &len); },
         ENN_ERR_GENERIC},
        {"EnnDecryptChunk out", [&] { return EnnDecryptChunk(kKey, data, 16, nullptr, &len); },
         ENN_ERR_GENERIC},
        {"EnnDecryptChunk out_len", [&] { return EnnDecryptChunk(kKey, data, 16, buf, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnReadPassword key", [&] { return EnnReadPassword(nullptr, in, password); },
         ENN_ERR_GENERIC},
        {"EnnReadPassword path", [&] { return EnnReadPassword(kKey, nullptr, password); },
         ENN_ERR_GENERIC},
        {"EnnReadPassword password", [&] { return EnnReadPassword(kKey, in, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnReadPasswordEx unterminated key",
         [&] { return EnnReadPasswordEx(unterminated, in, password, &fault); }, ENN_ERR_GENERIC},
        {"EnnReadPasswordStream all null",
         [&] {
             return EnnReadPasswordStream(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
         },
         ENN_ERR_GENERIC},
        {"EnnReadPasswordStream no input",
         [&] { return EnnReadPasswordStream(kKey, nullptr, nullptr, nullptr, password, &fault); },
         ENN_ERR_GENERIC},
        {"EnnVerifyFile key", [&] { return EnnVerifyFile(nullptr, in); }, ENN_ERR_GENERIC},
        {"EnnVerifyFile path", [&] { return EnnVerifyFile(kKey, nullptr); }, ENN_ERR_GENERIC},
        {"EnnDecryptFile key", [&] { return EnnDecryptFile(nullptr, in, to); }, ENN_ERR_GENERIC},
        {"EnnDecryptFile in", [&] { return EnnDecryptFile(kKey, nullptr, to); }, ENN_ERR_GENERIC},
        {"EnnDecryptFile empty in", [&] { return EnnDecryptFile(kKey, "", to); },
         ENN_ERR_OPEN_INPUT},
        {"EnnDecryptFile empty out", [&] { return EnnDecryptFile(kKey, in, ""); },
         ENN_ERR_CREATE_OUTPUT},
        {"EnnDecryptFileEx null out checks only",
         [&] { return EnnDecryptFileEx(kKey, in, nullptr, 0, nullptr); }, ENN_OK},
        {"EnnDecryptStream all null",
         [&] {
             return EnnDecryptStream(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
         },
         ENN_ERR_GENERIC},
        {"EnnDecryptStream no input",
         [&] {
             return EnnDecryptStream(kKey, nullptr, to, 0, nullptr, nullptr, nullptr, nullptr,
                                     &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnEncryptFile password", [&] { return EnnEncryptFile(nullptr, kKey, file, to); },
         ENN_ERR_GENERIC},
        {"EnnEncryptFile key", [&] { return EnnEncryptFile("123456", nullptr, file, to); },
         ENN_ERR_GENERIC},
        {"EnnEncryptFile in", [&] { return EnnEncryptFile("123456", kKey, nullptr, to); },
         ENN_ERR_GENERIC},
        {"EnnEncryptFile out", [&] { return EnnEncryptFile("123456", kKey, file, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnEncryptFile empty out", [&] { return EnnEncryptFile("123456", kKey, file, ""); },
         ENN_ERR_CREATE_OUTPUT},
        {"EnnEncryptFileEx unterminated key",
         [&] { return EnnEncryptFileEx("123456", unterminated, file, to, &fault); },
         ENN_ERR_GENERIC},
        {"EnnEncryptStream all null",
         [&] {
             return EnnEncryptStream(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
         },
         ENN_ERR_GENERIC},
        {"EnnEncryptStream no output",
         [&] {
             return EnnEncryptStream("123456", kKey, nullptr, nullptr, ReadNothing, nullptr,
                                     nullptr, nullptr, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnEncryptStreamPlaced all null",
         [&] {
             return EnnEncryptStreamPlaced(nullptr, nullptr, nullptr, nullptr, ENN_ALLOW_IN_PLACE,
                                           nullptr, nullptr, nullptr, nullptr, nullptr);
         },
         ENN_ERR_GENERIC},
        {"EnnEncryptStream no input",
         [&] {
             return EnnEncryptStream("123456", kKey, nullptr, nullptr, nullptr, WriteNowhere,
                                     nullptr, nullptr, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecryptStreamEx password",
         [&] {
             return EnnDecryptStreamEx(kKey, in, to, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecryptStreamEx all null",
         [&] {
             return EnnDecryptStreamEx(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderNew key",
         [&] { return EnnDecoderNew(nullptr, 0, &fault) == nullptr ? ENN_ERR_GENERIC : ENN_OK; },
         ENN_ERR_GENERIC},
        {"EnnDecoderNew unterminated key",
         [&] {
             return EnnDecoderNew(unterminated, 0, nullptr) == nullptr ? ENN_ERR_GENERIC : ENN_OK;
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderNewInto key",
         [&] {
             return EnnDecoderNewInto(nullptr, buf, sizeof buf, &fault) == nullptr ? ENN_ERR_GENERIC
                                                                                   : ENN_OK;
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderNewInto plain",
         [&] {
             return EnnDecoderNewInto(EnnBuiltIn(), nullptr, 8, nullptr) == nullptr
                        ? ENN_ERR_GENERIC
                        : ENN_OK;
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderFeed decoder", [&] { return EnnDecoderFeed(nullptr, data, 8); },
         ENN_ERR_GENERIC},
        {"EnnDecoderFeed data",
         [&] {
             EnnDecoder* d = EnnDecoderNew(EnnBuiltIn(), 0, nullptr);
             const int r = EnnDecoderFeed(d, nullptr, 8);
             EnnDecoderFree(d);
             return r;
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderFinish decoder",
         [&] {
             const unsigned char* plain = nullptr;
             size_t n = 0;
             return EnnDecoderFinish(nullptr, password, &plain, &n, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderFinish outputs",
         [&] {
             EnnDecoder* d = EnnDecoderNew(EnnBuiltIn(), 0, nullptr);
             const int r = EnnDecoderFinish(d, nullptr, nullptr, nullptr, nullptr);
             EnnDecoderFree(d);
             return r;
         },
         ENN_ERR_GENERIC},
        {"EnnDecoderFree(null)",
         [] {
             EnnDecoderFree(nullptr);
             return 0;
         },
         0},
        {"EnnDecodeBuffer all null",
         [] { return EnnDecodeBuffer(nullptr, nullptr, 8, nullptr, nullptr, 0, nullptr, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnDecodeBuffer key",
         [&] {
             size_t n = 0;
             return EnnDecodeBuffer(nullptr, data, 48, password, buf, sizeof buf, &n, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecodeFile all null",
         [] { return EnnDecodeFile(nullptr, nullptr, nullptr, nullptr, 8, nullptr, nullptr); },
         ENN_ERR_GENERIC},
        {"EnnDecodeFile plain",
         [&] {
             size_t n = 0;
             return EnnDecodeFile(kKey, in, password, nullptr, 8, &n, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecodeFile unterminated key",
         [&] {
             size_t n = 0;
             return EnnDecodeFile(unterminated, in, password, buf, sizeof buf, &n, &fault);
         },
         ENN_ERR_GENERIC},
        {"EnnDecodeFile empty path",
         [&] {
             size_t n = 0;
             return EnnDecodeFile(kKey, "", password, nullptr, 0, &n, &fault);
         },
         ENN_ERR_OPEN_INPUT},
        {"EnnFaultText(-1) not null", [] { return EnnFaultText(-1) != nullptr ? 0 : 1; }, 0},
        {"EnnFaultName(99) not null", [] { return EnnFaultName(99) != nullptr ? 0 : 1; }, 0},
        {"EnnFaultIsOutput(-5)", [] { return EnnFaultIsOutput(-5); }, 0},
        {"EnnSetThreadLimit(-3)", [] { return EnnSetThreadLimit(-3) >= 0 ? 0 : 1; }, 0},
        {"EnnVersion()", [] { return std::strcmp(EnnVersion(), ENN_VERSION_STRING) == 0 ? 0 : 1; },
         0},
        {"EnnIsContainerSize(-1)", [] { return EnnIsContainerSize(-1); }, 0},
        {"EnnDiscardAllAside()",
         [] {
             EnnDiscardAllAside();
             return 0;
         },
         0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Outcome(c.call), std::to_string(c.expected)) << c.what;
    }
    EXPECT_FALSE(FileExists(out));
}

TEST_F(NullCalls, AnArgumentRefusedSaysSo) {
    int fault = 0;
    // An empty output name is an output that cannot be made.
    EXPECT_EQ(EnnEncryptFileEx("123456", kKey, plain.c_str(), "", &fault), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(EnnDecryptFileEx(kKey, container.c_str(), "", 0, &fault), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(EnnDecryptFileEx(kKey, nullptr, out.c_str(), 0, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    char password[7] = "xxxxxx";
    EXPECT_EQ(EnnReadPasswordEx(nullptr, container.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(std::string(password), "xxxxxx");
    // 56 bytes and their NUL are a key; 57 bytes without one are not.
    const std::string longest(56, 'k');
    EXPECT_EQ(EnnEncryptFile("123456", longest.c_str(), plain.c_str(), out.c_str()), ENN_OK);
    EXPECT_EQ(EnnVerifyFile(longest.c_str(), out.c_str()), ENN_OK);
}

}  // namespace
#endif
