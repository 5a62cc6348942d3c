// What the file operations promise whatever happens around them: a container
// or plain file appears whole or not at all, an earlier one survives every
// failure, nothing temporary stays behind, and what is decoded is exactly what
// the encoder can have written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "codec/enn.h"
#include "codec/enn_core.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "reference_container.h"
#include "test_data.h"
#include "test_util.h"
#ifndef _WIN32
#include "as_user.h"
#endif

namespace {

const char kKey[] = "Karsholm payment batch key";

#ifndef _WIN32
// Runs body in a child process and returns its exit status (-1 on a signal).
template <typename F>
int InChild(F body) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Injected faults, through the layer's table of system calls: the n-th read
// from now runs a test's action first, or fails as an I/O error would.
int g_reads = 0;
int g_faultAt = 0;
void (*g_action)() = nullptr;

// True when this read is to fail.
bool CountRead() {
    if (++g_reads != g_faultAt) {
        return false;
    }
    if (g_action != nullptr) {
        g_action();
        return false;
    }
    return true;
}

#ifdef _WIN32
BOOL WINAPI CountingRead(HANDLE file, LPVOID buf, DWORD size, LPDWORD got, LPOVERLAPPED at) {
    if (CountRead()) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    return ReadFile(file, buf, size, got, at);
}
void CountReads() {
    g_ennSys.readFile = CountingRead;
}
// Windows has no unnamed files: aside files always have a name.
void WithoutUnnamedFiles() {}
#else
ssize_t CountingRead(int fd, void* buf, size_t size) {
    if (CountRead()) {
        errno = EIO;
        return -1;
    }
    return read(fd, buf, size);
}
void CountReads() {
    g_ennSys.read = CountingRead;
}
// A file system without unnamed files, as a vfat stick or many network shares.
void WithoutUnnamedFiles() {
    g_ennSys.open = OpenWithoutUnnamedFiles;
}
#endif

class WholeOrNothing : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(in, PseudoRandomBytes(100000, 7));
        ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), out.c_str()), ENN_OK);
        earlier = ReadFile(out);
        files = Listing(dir.path());
    }
    void TearDown() override {
        EnnRestoreSystemCalls();
        g_action = nullptr;
        // Nothing temporary is ever left beside the files.
        EXPECT_EQ(Listing(dir.path()), files);
    }
    // Makes the n-th read from now fail, or run action before it.
    void FaultAtRead(int n, void (*action)() = nullptr) {
        g_reads = 0;
        g_faultAt = n;
        g_action = action;
        CountReads();
    }
    // Decrypts container under the built-in key, as the catalogue's
    // forgeries are made, keeping what it printed.
    int Decrypt(const Bytes& container, int* fault) {
        WriteFile(out, container);
        char builtIn[57];
        EnnBuiltInKey(builtIn);
        ::testing::internal::CaptureStdout();
        const int result = EnnDecryptFileEx(builtIn, out.c_str(), plain.c_str(), 0, fault);
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }

    TempDir dir;
    std::string in = dir.File("batch.txt");
    std::string out = dir.File("batch.txt.enn");
    std::string plain = dir.File("batch.out");
    Bytes earlier;
    std::set<std::string> files;
    std::string printed;
};

std::string g_input;

TEST_F(WholeOrNothing, FailedEncryptKeepsTheEarlierContainer) {
#ifndef _WIN32  // needs fork and a file-size limit
    // A full disk part-way.
    EXPECT_EQ(0, InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit = {50000, 50000};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  return EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()) == ENN_ERR_GENERIC
                             ? 0
                             : 1;
              }));
    EXPECT_EQ(ReadFile(out), earlier);
#endif
    // A read error part-way.
    int fault = 0;
    FaultAtRead(2);
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_READ);
    EXPECT_EQ(ReadFile(out), earlier);
}

TEST_F(WholeOrNothing, AnInputThatChangesWhileReadIsRefused) {
    const struct {
        const char* what;
        void (*change)();
    } changes[] = {
        {"grows", [] { WriteFile(g_input, PseudoRandomBytes(100001, 7)); }},
        {"shrinks", [] { std::filesystem::resize_file(std::filesystem::u8path(g_input), 10); }},
        {"is touched",
         [] {
             const auto path = std::filesystem::u8path(g_input);
             std::filesystem::last_write_time(
                 path, std::filesystem::last_write_time(path) - std::chrono::hours(1000));
         }},
    };
    for (const auto& c : changes) {
        g_input = in;
        WriteFile(in, PseudoRandomBytes(100000, 7));
        int fault = 0;
        FaultAtRead(1, c.change);
        EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault),
                  ENN_ERR_GENERIC)
            << c.what;
        EXPECT_EQ(fault, ENN_FAULT_CHANGED) << c.what;
        EXPECT_EQ(ReadFile(out), earlier) << c.what;
        // A container decoded into memory, and nothing of it left there.
        g_input = out;
        Bytes plain(earlier.size(), 0xee);
        char password[7] = "xxxxxx";
        size_t plainLen = 0;
        FaultAtRead(1, c.change);
        EXPECT_EQ(EnnDecodeFile(kKey, out.c_str(), password, plain.data(), plain.size(), &plainLen,
                                &fault),
                  ENN_ERR_GENERIC)
            << c.what;
        EXPECT_EQ(fault, ENN_FAULT_CHANGED) << c.what;
        EXPECT_TRUE(std::all_of(plain.begin(), plain.end(), [](unsigned char b) {
            return b == 0xee || b == 0;
        })) << c.what;
        WriteFile(out, earlier);
    }
}

TEST_F(WholeOrNothing, TargetsThatAreNotFilesAreRefusedAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no fifos; windows_file_test refuses folders, devices and other "
                    "names of the input";
#else
    const std::string fifo = dir.File("fifo.enn");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string sameFile = dir.File("hard-link.enn");
    ASSERT_EQ(link(in.c_str(), sameFile.c_str()), 0);
    files = Listing(dir.path());
    alarm(20);  // a wait on the fifo would hang here
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), fifo.c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_NOT_REGULAR);
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), dir.path().c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), sameFile.c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_SAME_FILE);
    WriteFile(out, earlier);
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), fifo.c_str(), 0, &fault), ENN_ERR_CREATE_OUTPUT);
    alarm(0);
    EXPECT_EQ(ReadFile(in), PseudoRandomBytes(100000, 7));
#endif
}

TEST_F(WholeOrNothing, WithoutUnnamedFilesHiddenOnesAreCleanedUpToo) {
    WithoutUnnamedFiles();
    int fault = 0;
    FaultAtRead(2);
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(ReadFile(out), earlier);
    g_faultAt = 0;
    ASSERT_EQ(EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()), ENN_OK);
    ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
    EXPECT_EQ(ReadFile(plain), ReadFile(in));
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(plain)));
    // What a tool's signal handler calls removes a file still being written.
    EnnWriter writer;
    ASSERT_EQ(EnnCreateAside(plain.c_str(), 0, &writer), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&writer, "plain text", 10), ENN_FAULT_NONE);
    EXPECT_EQ(Listing(dir.path()).size(), files.size() + 1);
    EnnDiscardAllAside();
    EXPECT_EQ(Listing(dir.path()), files);
    EnnDiscard(&writer);
}

TEST_F(WholeOrNothing, ReplacingKeepsThePermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits; on Windows a file takes its folder's access rules";
#else
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    ASSERT_EQ(EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()), ENN_OK);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST_F(WholeOrNothing, KilledOrConcurrentWritersLeaveOneWholeContainer) {
#ifdef _WIN32
    GTEST_SKIP() << "needs fork; on Windows windows_file_test shows an aside file vanishing when "
                    "its handle closes";
#else
    WriteFile(in, PseudoRandomBytes(3 << 20, 9));
    files = Listing(dir.path());
    for (int round = 0; round < 4; ++round) {
        pid_t writers[2];
        for (int w = 0; w < 2; ++w) {
            writers[w] = fork();
            if (writers[w] == 0) {
                _exit(EnnEncryptFile(w == 0 ? "222222" : "333333", kKey, in.c_str(), out.c_str()) ==
                              ENN_OK
                          ? 0
                          : 1);
            }
        }
        usleep(static_cast<useconds_t>(round * 3000));
        if (round % 2 == 1) {
            kill(writers[1], SIGKILL);
        }
        for (pid_t w : writers) {
            waitpid(w, nullptr, 0);
        }
        char password[7] = {};
        ASSERT_EQ(EnnVerifyFile(kKey, out.c_str()), ENN_OK) << "round " << round;
        ASSERT_EQ(EnnReadPassword(kKey, out.c_str(), password), ENN_OK);
        EXPECT_THAT(std::string(password), ::testing::AnyOf("111111", "222222", "333333"));
    }
#endif
}

TEST_F(WholeOrNothing, EveryContainerTheEncoderWritesIsAccepted) {
    for (size_t size : {0, 1, 7, 8, 9, 3992, 3993, 3999, 4000, 4001, 7999, 8000, 8001, 63999, 64000,
                        64001, 67993, 67999, 68000}) {
        const Bytes data = PseudoRandomBytes(size, static_cast<uint32_t>(size));
        WriteFile(in, data);
        ASSERT_EQ(EnnEncryptFile("042917", kKey, in.c_str(), out.c_str()), ENN_OK);
        EXPECT_TRUE(EnnIsContainerSize(static_cast<long long>(ReadFile(out).size())));
        EXPECT_EQ(EnnVerifyFile(kKey, out.c_str()), ENN_OK) << size;
        ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK) << size;
        EXPECT_EQ(ReadFile(plain), data) << size;
    }
    unlink(plain.c_str());
}

// The catalogue's forgeries (tests/data/forgeries) under the built-in key:
// each fails with its fault and leaves the earlier plain file as it was.
TEST_F(WholeOrNothing, ContainersNoEncoderWritesAreRefusedAndNothingIsPutInPlace) {
    WriteFile(plain, {'o', 'l', 'd'});
    files = Listing(dir.path());
    for (const Forgery& f : Forgeries()) {
        int fault = ENN_FAULT_NONE;
        EXPECT_EQ(Decrypt(ForgeryBytes(f), &fault), f.result) << f.file;
        EXPECT_STREQ(EnnFaultName(fault), EnnFaultName(f.fault)) << f.file;
        EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'})) << f.file;
        if (f.result == ENN_ERR_GENERIC) {
            EXPECT_EQ(printed, "") << f.file;
            // The same container with a stale header is told as damage first.
            Bytes stale = ForgeryBytes(f);
            stale[0] = stale[0] == '0' ? '1' : '0';
            EXPECT_EQ(Decrypt(stale, &fault), ENN_ERR_DIGEST) << f.file;
            EXPECT_STREQ(EnnFaultName(fault), "ENN_FAULT_DIGEST") << f.file;
        }
    }
}

TEST_F(WholeOrNothing, WhatIsDecodedIsWhatWasHashed) {
    // The container is rewritten after its first bytes are read: a decoder
    // that read it twice would check the old bytes and decode the new.
    g_input = out;
    const Bytes original = ReadFile(out);
    FaultAtRead(2, [] {
        Bytes changed = ReadFile(g_input);
        changed[5000] ^= 0x55;
        WriteFile(g_input, changed);
    });
    int fault = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), 0, &fault), ENN_ERR_DIGEST);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n md5 error !");
    EXPECT_FALSE(FileExists(plain));
    // A read error is told as such, not as damage.
    WriteFile(out, original);
    FaultAtRead(3);
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), 0, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_READ);
    EXPECT_FALSE(FileExists(plain));
}

TEST_F(WholeOrNothing, AFullDiskWhileDecryptingIsAWriteFailure) {
#ifdef _WIN32
    GTEST_SKIP() << "needs fork and a file-size limit";
#else
    WriteFile(plain, {'o', 'l', 'd'});
    files = Listing(dir.path());
    EXPECT_EQ(0, InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit = {50000, 50000};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  int fault = 0;
                  const int result = EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), 0, &fault);
                  return result == ENN_ERR_GENERIC && fault == ENN_FAULT_DISK_FULL ? 0 : 1;
              }));
    EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'}));
#endif
}

#ifndef _WIN32
// What a stream was given before its delivery failed: the caller learns of
// the failure after part of the data went out, and can say how much.
Bytes g_delivered;
int Deliver(void*, const unsigned char* buf, int size) {
    g_delivered.insert(g_delivered.end(), buf, buf + size);
    return 0;
}
int g_preads = 0;
ssize_t SecondReadBackFails(int fd, void* buf, size_t size, off_t offset) {
    if (++g_preads == 2) {
        errno = EIO;
        return -1;
    }
    return pread(fd, buf, size, offset);
}

TEST_F(WholeOrNothing, AReadBackFailingPartWayIsAFailureAfterPartOfTheData) {
    WriteFile(in, PseudoRandomBytes(200000, 8));
    ASSERT_EQ(EnnEncryptFile("123456", kKey, in.c_str(), out.c_str()), ENN_OK);
    files = Listing(dir.path());
    g_ennSys.pread = SecondReadBackFails;
    int fault = 0;
    EXPECT_EQ(
        EnnDecryptStream(kKey, out.c_str(), nullptr, 0, nullptr, Deliver, nullptr, nullptr, &fault),
        ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_WRITE);
    ASSERT_FALSE(g_delivered.empty());
    EXPECT_LT(g_delivered.size(), 200000u);
    const Bytes whole = ReadFile(in);
    EXPECT_TRUE(std::equal(g_delivered.begin(), g_delivered.end(), whole.begin()));
}
#endif

TEST_F(WholeOrNothing, KeepingAnExistingOutputIsAtomic) {
    WriteFile(plain, {'o', 'l', 'd'});
    files = Listing(dir.path());
    int fault = 0;
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), ENN_KEEP_EXISTING, &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_EXISTS);
    EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'}));
}

TEST_F(WholeOrNothing, TheDecoderTakesAContainerInAnyPieces) {
    const Bytes container = ReadFile(out);
    EnnCipher cipher;
    ASSERT_TRUE(EnnKeyCipher(kKey, &cipher));
    for (int step : {1, 7, 48, 4007, 4009, 65536}) {
        EnnDecoding d;
        EnnDecodeStart(&d, &cipher.ctx);
        Bytes decoded;
        Bytes buf(static_cast<size_t>(step / 4008 + 1) * 4000);
        for (size_t at = 0; at < container.size(); at += static_cast<size_t>(step)) {
            const int size = static_cast<int>(std::min<size_t>(step, container.size() - at));
            const int got = EnnDecodeFeed(&d, container.data() + at, size, buf.data());
            decoded.insert(decoded.end(), buf.begin(), buf.begin() + got);
        }
        int last = 0;
        Bytes tail(4000);
        ASSERT_EQ(EnnDecodeFinish(&d, tail.data(), &last), ENN_FAULT_NONE) << step;
        decoded.insert(decoded.end(), tail.begin(), tail.begin() + last);
        EXPECT_EQ(decoded, ReadFile(in)) << step;
    }
}

}  // namespace
