// The codec on several threads writes and reads exactly what it does on one:
// the same bytes at every size around the boundaries of chunks, of the
// batches the file operations read and of the feeds worth sharing out; the
// same refusals of damaged and forged containers; and nothing left behind
// when a coding fails half-way.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_core.h"
#include "codec/enn_syscalls.h"
#include "codec/enn_workers.h"
#include "reference_container.h"
#include "test_util.h"

namespace {

const char kKey[] = "Karsholm payment batch key";
constexpr int kBatch = kEnnBatchChunks * ENN_CHUNK_PLAIN;
constexpr int kShared = kEnnParallelChunks * ENN_CHUNK_PLAIN;

Bytes KeyBytes() {
    return Bytes(kKey, kKey + std::strlen(kKey));
}

class Threads : public ::testing::Test {
  protected:
    void TearDown() override {
        EnnSetThreadLimit(limit);
        EnnPinThreadCount(0);
        EnnRestoreSystemCalls();
    }

    const int limit = EnnThreadLimit();
    TempDir dir;
    std::string in = dir.File("batch.txt");
    std::string out = dir.File("batch.txt.enn");
    std::string plain = dir.File("batch.out");
};

// Encodes data in memory through the core, in feeds of the given size.
Bytes EncodeInMemory(const Bytes& data, int feed) {
    EnnCipher cipher;
    EXPECT_TRUE(EnnKeyCipher(kKey, &cipher));
    EnnEncoding e;
    Bytes container(ENN_PAYLOAD_OFFSET);
    EnnEncodeStart(&e, &cipher.ctx, "123456", container.data());
    Bytes sealed(static_cast<size_t>(feed / ENN_CHUNK_PLAIN + 1) * ENN_CHUNK_CIPHER);
    for (size_t at = 0; at < data.size(); at += static_cast<size_t>(feed)) {
        const int piece =
            static_cast<int>(std::min<size_t>(static_cast<size_t>(feed), data.size() - at));
        const int n = EnnEncodeFeed(&e, data.data() + at, piece, sealed.data());
        container.insert(container.end(), sealed.begin(), sealed.begin() + n);
    }
    char header[ENN_HEADER_SIZE + 1];
    const int n = EnnEncodeFinish(&e, sealed.data(), header);
    container.insert(container.end(), sealed.begin(), sealed.begin() + n);
    std::memcpy(container.data(), header, ENN_HEADER_SIZE);
    return container;
}

TEST_F(Threads, EverySizeAroundTheBoundariesGivesTheSameBytesOnAnyCount) {
    const int sizes[] = {0,
                         1,
                         3999,
                         4000,
                         4001,
                         kShared - 1,
                         kShared,
                         kShared + 1,
                         kBatch - 1,
                         kBatch,
                         kBatch + 1,
                         2 * kBatch + ENN_CHUNK_PLAIN,
                         3 * kBatch - 7};
    for (const int size : sizes) {
        const Bytes data =
            PseudoRandomBytes(static_cast<size_t>(size), static_cast<uint32_t>(size));
        WriteFile(in, data);
        const Bytes expected = ReferenceContainer("123456", KeyBytes(), data);
        for (int threads : {1, 2, 3, 5}) {
            EnnPinThreadCount(threads);
            ASSERT_EQ(EnnEncryptFile("123456", kKey, in.c_str(), out.c_str()), ENN_OK);
            EXPECT_EQ(ReadFile(out), expected) << size << " bytes on " << threads << " threads";
            ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
            EXPECT_EQ(ReadFile(plain), data) << size << " bytes on " << threads << " threads";
        }
    }
}

TEST_F(Threads, TheInMemoryCoreTakesFeedsOfAnySize) {
    // An empty feed, with no buffer behind it, takes nothing.
    {
        EnnCipher cipher;
        ASSERT_TRUE(EnnKeyCipher(kKey, &cipher));
        EnnEncoding e;
        unsigned char start[ENN_PAYLOAD_OFFSET];
        EnnEncodeStart(&e, &cipher.ctx, "123456", start);
        EXPECT_EQ(EnnEncodeFeed(&e, nullptr, 0, nullptr), 0);
        EnnDecoding d;
        EnnDecodeStart(&d, &cipher.ctx);
        EXPECT_EQ(EnnDecodeFeed(&d, nullptr, 0, nullptr), 0);
    }
    const Bytes data = PseudoRandomBytes(kBatch + kShared + 123, 5);
    const Bytes expected = ReferenceContainer("123456", KeyBytes(), data);
    for (int threads : {1, 2}) {
        EnnPinThreadCount(threads);
        for (int feed : {1, 3999, 4001, kShared, kShared + 4000, 3 * kShared - 1, kBatch * 2}) {
            EXPECT_EQ(EncodeInMemory(data, feed), expected) << feed << " on " << threads;
        }
    }
}

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELTRANE_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VELTRANE_UNDER_TSAN 1
#endif

// Bytes of memory this machine can still give, from /proc/meminfo; 0 where
// it does not say.
unsigned long long AvailableMemory() {
    std::FILE* info = std::fopen("/proc/meminfo", "r");
    unsigned long long kib = 0;
    if (info != nullptr) {
        char line[256];
        while (std::fgets(line, sizeof line, info) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
                break;
            }
        }
        std::fclose(info);
    }
    return kib * 1024;
}

unsigned char PatternAt(size_t i) {
    return static_cast<unsigned char>(i * 131 + (i >> 20));
}

// One feed of more than 2^31 bytes each way: no count of bytes, chunks or
// plain bytes overflows. It needs about 4.5 GB of memory and is skipped
// where there is less, and under ThreadSanitizer, which would take too long.
TEST_F(Threads, OneFeedOfMoreThanTwoGigabytesEachWay) {
#ifdef VELTRANE_UNDER_TSAN
    GTEST_SKIP() << "too slow under ThreadSanitizer";
#endif
    const size_t size = (size_t{1} << 31) + 4001;
    const size_t whole = size / ENN_CHUNK_PLAIN;
    const size_t last = size % ENN_CHUNK_PLAIN;
    if (AvailableMemory() < 6ULL << 30) {
        GTEST_SKIP() << "needs about 4.5 GB of free memory";
    }
    std::unique_ptr<unsigned char[]> plain(
        new (std::nothrow) unsigned char[(whole + 1) * ENN_CHUNK_PLAIN]);
    std::unique_ptr<unsigned char[]> sealed(
        new (std::nothrow) unsigned char[(whole + 1) * ENN_CHUNK_CIPHER]);
    if (!plain || !sealed) {
        GTEST_SKIP() << "the memory cannot be had";
    }
    for (size_t i = 0; i < size; ++i) {
        plain[i] = PatternAt(i);
    }
    EnnCipher cipher;
    ASSERT_TRUE(EnnKeyCipher(kKey, &cipher));
    unsigned char prefix[ENN_PAYLOAD_OFFSET];
    unsigned char tail[ENN_CHUNK_CIPHER];
    char header[ENN_HEADER_SIZE + 1];
    size_t sealedLen = 0;
    int tailLen = 0;
    {
        EnnEncoding e;
        EnnEncodeStart(&e, &cipher.ctx, "123456", prefix);
        sealedLen = EnnEncodeFeed(&e, plain.get(), size, sealed.get());
        tailLen = EnnEncodeFinish(&e, tail, header);
    }
    ASSERT_EQ(sealedLen, whole * ENN_CHUNK_CIPHER);
    ASSERT_EQ(static_cast<size_t>(tailLen), 8 + (last + 7) / 8 * 8);
    std::memcpy(prefix, header, ENN_HEADER_SIZE);

    EnnDecoding d;
    EnnDecodeStart(&d, &cipher.ctx);
    EXPECT_EQ(EnnDecodeFeed(&d, prefix, sizeof prefix, plain.get()), 0u);
    EXPECT_EQ(EnnDecodeFeed(&d, sealed.get(), sealedLen, plain.get()), whole * ENN_CHUNK_PLAIN);
    unsigned char* const end = plain.get() + whole * ENN_CHUNK_PLAIN;
    EXPECT_EQ(EnnDecodeFeed(&d, tail, static_cast<size_t>(tailLen), end), 0u);
    int lastLen = 0;
    EXPECT_EQ(EnnDecodeFinish(&d, end, &lastLen), ENN_FAULT_NONE);
    EXPECT_EQ(static_cast<size_t>(lastLen), last);
    size_t wrong = 0;
    for (size_t i = 0; i < size; ++i) {
        wrong += plain[i] != PatternAt(i);
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(Threads, DamageAndForgeriesAreRefusedAsOnOneThread) {
    const Bytes data = PseudoRandomBytes(kBatch + 5 * ENN_CHUNK_PLAIN + 17, 8);
    const Bytes good = ReferenceContainer("123456", KeyBytes(), data);
    // A byte flipped deep inside a shared-out batch; a chunk cut short in the
    // middle with the digest renewed, so that every chunk after it is out of
    // step; a short chunk moved before the end.
    Bytes flipped = good;
    flipped[ENN_PAYLOAD_OFFSET + 100 * ENN_CHUNK_CIPHER + 9] ^= 1;
    Bytes cut(good.begin() + ENN_HEADER_SIZE, good.end());
    cut.erase(cut.begin() + 16 + 50 * ENN_CHUNK_CIPHER + 8,
              cut.begin() + 16 + 50 * ENN_CHUNK_CIPHER + 16);
    const Bytes shortInside = WithDigestHeader([&] {
        const Bytes small = ReferenceContainer("123456", KeyBytes(), Bytes(100, 'x'));
        Bytes body(good.begin() + ENN_HEADER_SIZE, good.end());
        // The 100-byte chunk (16 + 8 + 104 bytes) put before the data chunks.
        body.insert(body.begin() + 16, small.begin() + ENN_PAYLOAD_OFFSET, small.end());
        return body;
    }());
    const struct {
        const char* what;
        Bytes container;
        int result;
        int fault;
    } cases[] = {
        {"a flipped byte", flipped, ENN_ERR_DIGEST, ENN_FAULT_DIGEST},
        {"a chunk cut short", WithDigestHeader(cut), ENN_ERR_GENERIC, ENN_FAULT_LAYOUT},
        {"a short chunk first", shortInside, ENN_ERR_GENERIC, ENN_FAULT_LAYOUT},
    };
    for (const auto& c : cases) {
        WriteFile(out, c.container);
        for (int threads : {1, 2, 3}) {
            EnnPinThreadCount(threads);
            int fault = 0;
            EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(),
                                       ENN_REPLACE_EXISTING | ENN_NO_DIAGNOSTIC, &fault),
                      c.result)
                << c.what << " on " << threads;
            EXPECT_EQ(fault, c.fault) << c.what << " on " << threads;
            EXPECT_FALSE(FileExists(plain)) << c.what;
        }
    }
}

TEST_F(Threads, TheLimitIsClampedToZeroToSixtyFour) {
    EnnSetThreadLimit(5);
    EXPECT_EQ(EnnSetThreadLimit(1000), 5);
    EXPECT_EQ(EnnThreadLimit(), 64);
    EXPECT_EQ(EnnSetThreadLimit(-5), 64);
    EXPECT_EQ(EnnThreadLimit(), 0);
    EXPECT_EQ(EnnSetThreadLimit(64), 0);
    EXPECT_EQ(EnnSetThreadLimit(65), 64);
    EXPECT_EQ(EnnThreadLimit(), 64);
    // 0 and 1 both keep every call on its caller's thread.
    EnnSetThreadLimit(0);
    EXPECT_EQ(EnnTakeHelpers(3), 0);
}

// Watches the helpers held and the helper threads running while it lives:
// the most of each it saw, never more than there were.
class Watcher {
  public:
    Watcher()
        : thread_([this] {
              while (!done_.load()) {
                  Sample();
                  std::this_thread::yield();
              }
          }) {}
    ~Watcher() { Stop(); }
    void Stop() {
        if (thread_.joinable()) {
            done_ = true;
            thread_.join();
            Sample();
        }
    }
    int mostHeld() const { return mostHeld_.load(); }
    int mostRunning() const { return mostRunning_.load(); }

  private:
    void Sample() {
        mostHeld_ = std::max(mostHeld_.load(), EnnHelpersHeld());
        mostRunning_ = std::max(mostRunning_.load(), EnnHelpersRunning());
    }
    std::atomic<bool> done_{false};
    std::atomic<int> mostHeld_{0};
    std::atomic<int> mostRunning_{0};
    std::thread thread_;
};

// An EnnDecoder holds helpers for a feed, not for its life: each large feed
// ends its threads and gives them back, and takes what the limit leaves then.
TEST_F(Threads, ADecoderGivesItsHelpersBackAfterEachFeed) {
    const Bytes data = PseudoRandomBytes(3 * kBatch + 11, 4);
    const Bytes container = ReferenceContainer("123456", KeyBytes(), data);
    EnnPinThreadCount(3);
    EnnSetThreadLimit(3);
    EnnDecoder* d = EnnDecoderNew(kKey, 0, nullptr);
    ASSERT_NE(d, nullptr);
    const size_t half = container.size() / 2;
    {
        Watcher watcher;
        ASSERT_EQ(EnnDecoderFeed(d, container.data(), half), ENN_OK);
        watcher.Stop();
        EXPECT_LE(watcher.mostHeld(), 2);
    }
    EXPECT_EQ(EnnHelpersHeld(), 0);
    EXPECT_EQ(EnnHelpersRunning(), 0);
    // Under a limit of one, the rest is decoded on the caller's thread alone.
    EnnSetThreadLimit(1);
    {
        Watcher watcher;
        ASSERT_EQ(EnnDecoderFeed(d, container.data() + half, container.size() - half), ENN_OK);
        watcher.Stop();
        EXPECT_EQ(watcher.mostHeld(), 0);
        EXPECT_EQ(watcher.mostRunning(), 0) << "a helper ran under a limit of one";
    }
    char password[7];
    const unsigned char* decoded = nullptr;
    size_t decodedLen = 0;
    ASSERT_EQ(EnnDecoderFinish(d, password, &decoded, &decodedLen, nullptr), ENN_OK);
    EXPECT_EQ(Bytes(decoded, decoded + decodedLen), data);
    EnnDecoderFree(d);
}

// Helpers are given back only once their threads have ended: callers that
// take them over and over never have more threads alive than the limit.
TEST_F(Threads, NoMoreThreadsAliveThanTheLimit) {
    const Bytes data = PseudoRandomBytes(2 * kShared + 5, 6);
    const Bytes container = ReferenceContainer("123456", KeyBytes(), data);
    EnnPinThreadCount(2);
    EnnSetThreadLimit(2);
    constexpr int kCallers = 3;
    std::atomic<int> wrong{0};
    Watcher watcher;
    {
        std::vector<std::thread> callers;
        for (int t = 0; t < kCallers; ++t) {
            callers.emplace_back([&] {
                for (int round = 0; round < 40; ++round) {
                    EnnDecoder* d = EnnDecoderNew(kKey, 0, nullptr);
                    wrong += EnnDecoderFeed(d, container.data(), container.size()) != ENN_OK;
                    char password[7];
                    const unsigned char* decoded = nullptr;
                    size_t decodedLen = 0;
                    wrong +=
                        EnnDecoderFinish(d, password, &decoded, &decodedLen, nullptr) != ENN_OK ||
                        Bytes(decoded, decoded + decodedLen) != data;
                    EnnDecoderFree(d);
                }
            });
        }
        for (std::thread& c : callers) {
            c.join();
        }
    }
    watcher.Stop();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(watcher.mostHeld(), 1);
    EXPECT_LE(watcher.mostRunning(), 1);
    EXPECT_EQ(EnnHelpersHeld(), 0);
    EXPECT_EQ(EnnHelpersRunning(), 0);
}

#ifndef _WIN32
int g_reads = 0;
ssize_t FailingThirdRead(int fd, void* buf, size_t size) {
    if (++g_reads == 3) {
        errno = EIO;
        return -1;
    }
    return read(fd, buf, size);
}

TEST_F(Threads, FailuresHalfWayLeaveNothingBehind) {
    const Bytes data = PseudoRandomBytes(4 * kBatch, 3);
    WriteFile(in, data);
    EnnPinThreadCount(1);
    ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), out.c_str()), ENN_OK);
    const Bytes earlier = ReadFile(out);
    const std::set<std::string> files = Listing(dir.path());
    EnnPinThreadCount(2);

    // A read error, in either direction.
    g_reads = 0;
    g_ennSys.read = FailingThirdRead;
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_READ);
    g_reads = 0;
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), 0, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_READ);
    EnnRestoreSystemCalls();

    // A full disk, and a kill, in a child.
    const auto inChild = [&](auto body) {
        const pid_t child = fork();
        if (child == 0) {
            _exit(body());
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    };
    const int full = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {2 * kBatch, 2 * kBatch};
        setrlimit(RLIMIT_FSIZE, &limit);
        int why = 0;
        return EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &why) == ENN_ERR_GENERIC &&
                       why == ENN_FAULT_DISK_FULL
                   ? 0
                   : 1;
    });
    EXPECT_TRUE(WIFEXITED(full) && WEXITSTATUS(full) == 0);
    const int killed = inChild([&] {
        alarm(1);  // SIGALRM ends the child part-way, threads and all
        for (;;) {
            EnnEncryptFile("222222", kKey, in.c_str(), out.c_str());
        }
        return 0;
    });
    EXPECT_TRUE(WIFSIGNALED(killed));
    // A kill can leave a private folder of the writer's, which the next
    // writing process sweeps.
    EXPECT_EQ(0, WEXITSTATUS(inChild([&] {
                  return EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()) == ENN_OK ? 0 : 1;
              })));
    EXPECT_EQ(Listing(dir.path()), files);
    EXPECT_EQ(EnnVerifyFile(kKey, out.c_str()), ENN_OK);
    EnnPinThreadCount(1);
    ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), out.c_str()), ENN_OK);
    EXPECT_EQ(ReadFile(out), earlier);
}
#endif

}  // namespace
