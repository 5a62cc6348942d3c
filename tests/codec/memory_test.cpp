// Decoding in memory, for intake programs: the same checks as the file
// decoder over every forgery of the catalogue, in feeds of any size, the
// password with the plain data from one pass, nothing given out before the
// end; and many caller threads at once under the process's thread limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_workers.h"
#include "test_data.h"
#include "test_util.h"

namespace {

struct Decoded {
    int result = ENN_OK;
    int fault = ENN_FAULT_NONE;
    std::string password;
    Bytes plain;
};

// Decodes container in feeds of step bytes (0: whole) through EnnDecoder:
// into its own buffer, bound by maxPlain, or into the first maxPlain bytes
// of into.
Decoded InFeeds(const char* key, const Bytes& container, size_t step, size_t maxPlain = 0,
                Bytes* into = nullptr) {
    Decoded out;
    EnnDecoder* d = into == nullptr ? EnnDecoderNew(key, maxPlain, &out.fault)
                                    : EnnDecoderNewInto(key, into->data(), maxPlain, &out.fault);
    EXPECT_NE(d, nullptr);
    if (d == nullptr) {
        return out;
    }
    const size_t piece = step == 0 ? std::max<size_t>(container.size(), 1) : step;
    for (size_t at = 0; at < container.size(); at += piece) {
        EnnDecoderFeed(d, container.data() + at, std::min(piece, container.size() - at));
    }
    char password[7] = "xxxxxx";
    const unsigned char* plain = nullptr;
    size_t plainLen = 12345;
    out.result = EnnDecoderFinish(d, password, &plain, &plainLen, &out.fault);
    if (out.result == ENN_OK) {
        out.password = password;
        out.plain.assign(plain, plain + plainLen);
        if (into != nullptr) {
            EXPECT_EQ(plain, into->data()) << "not given out where it was decoded";
        }
    } else {
        // Nothing is given out of a container that failed its checks.
        EXPECT_EQ(plain, nullptr);
        EXPECT_EQ(plainLen, 12345u);
        EXPECT_STREQ(password, "xxxxxx");
    }
    EnnDecoderFree(d);
    return out;
}

TEST(Memory, EveryForgeryIsRefusedAsTheFileDecoderRefusesIt) {
    const TempDir dir;
    for (const Forgery& f : Forgeries()) {
        const Bytes bytes = ForgeryBytes(f);
        const char* key = EnnBuiltIn();  // as every check of the catalogue reads it
        for (size_t step : {size_t{1}, size_t{7}, size_t{4007}, size_t{4009}, size_t{0}}) {
            const Decoded d = InFeeds(key, bytes, step);
            EXPECT_EQ(d.result, f.result) << f.file << " in feeds of " << step;
            EXPECT_EQ(d.fault, f.fault) << f.file << " in feeds of " << step;
            Bytes into(bytes.size() + 1, 0xee);
            const Decoded there = InFeeds(key, bytes, step, bytes.size(), &into);
            EXPECT_EQ(there.result, f.result) << f.file << " into a buffer, in feeds of " << step;
            EXPECT_EQ(there.fault, f.fault) << f.file << " into a buffer, in feeds of " << step;
            EXPECT_TRUE(f.result == ENN_OK ||
                        std::all_of(into.begin(), into.end(),
                                    [](unsigned char c) { return c == 0xee || c == 0; }))
                << f.file << ": plain data left in the buffer, in feeds of " << step;
            EXPECT_EQ(into.back(), 0xee) << f.file << ": written past the buffer";
        }
        char password[7] = "xxxxxx";
        Bytes plain(bytes.size() + 1, 0xee);
        size_t plainLen = 0;
        int fault = 0;
        EXPECT_EQ(EnnDecodeBuffer(key, bytes.data(), bytes.size(), password, plain.data(),
                                  plain.size(), &plainLen, &fault),
                  f.result)
            << f.file;
        EXPECT_EQ(fault, f.fault) << f.file;
        // What the decoding put in plain before the fault was found is
        // wiped there; the rest is as it was.
        EXPECT_TRUE(std::all_of(plain.begin(), plain.end(), [](unsigned char c) {
            return c == 0xee || c == 0;
        })) << f.file;
        EXPECT_EQ(plain.back(), 0xee) << f.file << ": written past the plain data";
        EXPECT_STREQ(password, "xxxxxx") << f.file;
        // The same from a file.
        WriteFile(dir.File("forgery.enn"), bytes);
        plain.assign(bytes.size() + 1, 0xee);
        EXPECT_EQ(EnnDecodeFile(key, dir.File("forgery.enn").c_str(), password, plain.data(),
                                plain.size(), &plainLen, &fault),
                  f.result)
            << f.file;
        EXPECT_EQ(fault, f.fault) << f.file;
        EXPECT_TRUE(std::all_of(plain.begin(), plain.end(),
                                [](unsigned char c) { return c == 0xee || c == 0; }))
            << f.file << " from a file";
        EXPECT_STREQ(password, "xxxxxx") << f.file;
    }
}

// A caller that does not know the file's size asks with no buffer, and is
// told the capacity it needs; the header alone needs none.
TEST(Memory, ADecoderFromAFileTellsTheCapacityItNeeds) {
    const KnownAnswer known = ReadKnownAnswer();
    const TempDir dir;
    const std::string path = dir.File("batch.txt.enn");
    WriteFile(path, known.container);
    char password[7] = "xxxxxx";
    size_t need = 0;
    int fault = 0;
    EXPECT_EQ(EnnDecodeFile(EnnBuiltIn(), path.c_str(), password, nullptr, 0, &need, &fault),
              ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_TOO_LARGE);
    EXPECT_GE(need, known.plain.size());
    EXPECT_LT(need, known.plain.size() + ENN_BLOCK_SIZE);
    Bytes plain(need + 1, 0xee);
    EXPECT_EQ(
        EnnDecodeFile(EnnBuiltIn(), path.c_str(), password, plain.data(), need - 1, &need, &fault),
        ENN_ERR_GENERIC);
    EXPECT_EQ(plain, Bytes(plain.size(), 0xee)) << "nothing read for a buffer too small";
    size_t plainLen = 0;
    EXPECT_EQ(
        EnnDecodeFile(EnnBuiltIn(), path.c_str(), password, plain.data(), need, &plainLen, &fault),
        ENN_OK);
    EXPECT_EQ(password, known.password);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + plainLen), known.plain);
    EXPECT_EQ(plain.back(), 0xee);
    WriteFile(path, WithDigestHeader({}));
    EXPECT_EQ(EnnDecodeFile(EnnBuiltIn(), path.c_str(), password, nullptr, 0, &plainLen, &fault),
              ENN_OK);
    EXPECT_EQ(std::string(password), "");
    EXPECT_EQ(plainLen, 0u);
}

TEST(Memory, TheKnownAnswerComesWithItsPasswordInAnyFeeds) {
    const KnownAnswer known = ReadKnownAnswer();
    for (size_t step : {size_t{1}, size_t{7}, size_t{4007}, size_t{4009}, size_t{0}}) {
        const Decoded d = InFeeds(EnnBuiltIn(), known.container, step);
        EXPECT_EQ(d.result, ENN_OK) << step;
        EXPECT_EQ(d.password, known.password) << step;
        EXPECT_EQ(d.plain, known.plain) << step;
    }
    // The header alone decodes to nothing, and carries no password.
    const Bytes nothing = WithDigestHeader({});
    const Decoded empty = InFeeds(EnnBuiltIn(), nothing, 0);
    EXPECT_EQ(empty.result, ENN_OK);
    EXPECT_EQ(empty.password, "");
    EXPECT_TRUE(empty.plain.empty());
}

TEST(Memory, ABoundOnThePlainDataIsKept) {
    const KnownAnswer known = ReadKnownAnswer();
    EXPECT_EQ(InFeeds(EnnBuiltIn(), known.container, 4009, known.plain.size()).result, ENN_OK);
    const Decoded over = InFeeds(EnnBuiltIn(), known.container, 4009, known.plain.size() - 1);
    EXPECT_EQ(over.result, ENN_ERR_GENERIC);
    EXPECT_EQ(over.fault, ENN_FAULT_TOO_LARGE);
    char password[7];
    Bytes plain(known.plain.size() - 1);
    size_t plainLen = 0;
    int fault = 0;
    EXPECT_EQ(EnnDecodeBuffer(EnnBuiltIn(), known.container.data(), known.container.size(),
                              password, plain.data(), plain.size(), &plainLen, &fault),
              ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_TOO_LARGE);
    plain.resize(known.container.size());
    EXPECT_EQ(EnnDecodeBuffer(EnnBuiltIn(), known.container.data(), known.container.size(),
                              password, plain.data(), plain.size(), &plainLen, &fault),
              ENN_OK);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + static_cast<long>(plainLen)), known.plain);
    EXPECT_EQ(std::string(password), known.password);
}

// The plain data a finish gives out stays the decoder's until it is freed:
// a second finish, or a feed after the end, is refused and leaves it as it
// was.
TEST(Memory, WhatAFinishGaveOutStaysUntilTheDecoderIsFreed) {
    const KnownAnswer known = ReadKnownAnswer();
    EnnDecoder* d = EnnDecoderNew(EnnBuiltIn(), 0, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(EnnDecoderFeed(d, known.container.data(), known.container.size()), ENN_OK);
    char password[7] = {};
    const unsigned char* plain = nullptr;
    size_t plainLen = 0;
    int fault = -1;
    ASSERT_EQ(EnnDecoderFinish(d, password, &plain, &plainLen, &fault), ENN_OK);
    ASSERT_EQ(Bytes(plain, plain + plainLen), known.plain);

    char again[7] = "xxxxxx";
    const unsigned char* second = nullptr;
    size_t secondLen = 12345;
    EXPECT_EQ(EnnDecoderFinish(d, again, &second, &secondLen, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(secondLen, 12345u);
    EXPECT_STREQ(again, "xxxxxx");
    EXPECT_EQ(Bytes(plain, plain + plainLen), known.plain) << "a second finish";

    EXPECT_EQ(EnnDecoderFeed(d, known.container.data(), 100), ENN_ERR_GENERIC);
    EXPECT_EQ(EnnDecoderFinish(d, again, &second, &secondLen, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(Bytes(plain, plain + plainLen), known.plain) << "a feed after the end";
    EnnDecoderFree(d);
}

// A decoder into the caller's buffer: the plain data is given out there,
// and stays the caller's after the decoder is freed; never a byte past the
// buffer; and, until a finish gives it out, every byte the decoding wrote
// there is wiped when the decoder fails or is freed.
TEST(Memory, ADecoderIntoTheCallersBufferLeavesPlainDataThereOnlyWhenWhole) {
    const KnownAnswer known = ReadKnownAnswer();
    const auto wiped = [](const Bytes& b, size_t from, size_t to) {
        return std::all_of(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to),
                           [](unsigned char c) { return c == 0xee || c == 0; });
    };
    const size_t size = known.container.size();
    for (size_t cap : {known.plain.size(), size}) {
        Bytes into(size + 8, 0xee);
        const Decoded d = InFeeds(EnnBuiltIn(), known.container, 4009, cap, &into);
        EXPECT_EQ(d.result, ENN_OK) << cap;
        EXPECT_EQ(d.plain, known.plain) << cap;
        EXPECT_EQ(Bytes(into.begin(), into.begin() + static_cast<long>(known.plain.size())),
                  known.plain)
            << "freed with the decoder, " << cap;
        EXPECT_TRUE(wiped(into, cap, into.size())) << "written past the buffer, " << cap;
    }
    Bytes into(size, 0xee);
    const size_t cap = known.plain.size() - 1;
    const Decoded over = InFeeds(EnnBuiltIn(), known.container, 4009, cap, &into);
    EXPECT_EQ(over.fault, ENN_FAULT_TOO_LARGE);
    EXPECT_TRUE(wiped(into, 0, into.size())) << "plain data left past a bound";

    // Freed half-way, and fed what lies over its own buffer.
    EnnDecoder* d = EnnDecoderNewInto(EnnBuiltIn(), into.data(), into.size(), nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(EnnDecoderFeed(d, known.container.data(), size / 2), ENN_OK);
    ASSERT_FALSE(wiped(into, 0, into.size())) << "nothing decoded into the buffer";
    EnnDecoderFree(d);
    EXPECT_TRUE(wiped(into, 0, into.size())) << "plain data left by a decoder freed unfinished";
    Bytes over_itself = known.container;
    d = EnnDecoderNewInto(EnnBuiltIn(), over_itself.data() + 100, size - 100, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(EnnDecoderFeed(d, over_itself.data(), size), ENN_ERR_GENERIC);
    char password[7];
    const unsigned char* plain = nullptr;
    size_t plainLen = 0;
    int fault = -1;
    EXPECT_EQ(EnnDecoderFinish(d, password, &plain, &plainLen, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(over_itself, known.container) << "a feed over the buffer was decoded";
    EnnDecoderFree(d);

    fault = -1;
    EXPECT_EQ(EnnDecoderNewInto(EnnBuiltIn(), nullptr, 10, &fault), nullptr);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
}

// A plain buffer laid over the container itself, as a caller decoding in
// place gives it: the plain data comes out whole all the same.
TEST(Memory, APlainBufferOverTheContainerItselfIsDecodedInto) {
    const Bytes plain = PseudoRandomBytes(300 * ENN_CHUNK_PLAIN + 77, 9);
    TempDir dir;
    const std::string in = dir.File("batch.txt");
    const std::string sealed = dir.File("batch.txt.enn");
    WriteFile(in, plain);
    ASSERT_EQ(EnnEncryptFile("123456", EnnBuiltIn(), in.c_str(), sealed.c_str()), ENN_OK);
    Bytes buffer = ReadFile(sealed);
    char password[7] = {};
    size_t plainLen = 0;
    int fault = -1;
    ASSERT_EQ(EnnDecodeBuffer(EnnBuiltIn(), buffer.data(), buffer.size(), password, buffer.data(),
                              buffer.size(), &plainLen, &fault),
              ENN_OK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(plainLen)), plain);
    EXPECT_STREQ(password, "123456");
}

TEST(Memory, TheStreamOperationGivesThePasswordFromTheSamePass) {
    const KnownAnswer known = ReadKnownAnswer();
    TempDir dir;
    const std::string container = dir.File("batch.txt.enn");
    const std::string plain = dir.File("batch.txt");
    WriteFile(container, known.container);
    char password[7] = {};
    int fault = 0;
    EXPECT_EQ(EnnDecryptStreamEx(EnnBuiltIn(), container.c_str(), plain.c_str(), 0, nullptr,
                                 nullptr, nullptr, nullptr, password, &fault),
              ENN_OK);
    EXPECT_EQ(std::string(password), known.password);
    EXPECT_EQ(ReadFile(plain), known.plain);
    const Forgery damaged = Forgeries().front();
    WriteFile(container, ForgeryBytes(damaged));
    char untouched[7] = "xxxxxx";
    EXPECT_EQ(EnnDecryptStreamEx(EnnBuiltIn(), container.c_str(), nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr, untouched, &fault),
              damaged.result);
    EXPECT_STREQ(untouched, "xxxxxx");
}

// Many callers at once, each on containers of its own, under each limit:
// every result right, and never more helpers held than the limit allows.
TEST(Memory, ManyCallersShareTheProcessesThreadLimit) {
    const Bytes plain = PseudoRandomBytes(40 * ENN_CHUNK_PLAIN + 17, 21);
    TempDir dir;
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    const std::string container = dir.File("batch.txt.enn");
    ASSERT_EQ(EnnEncryptFile("123456", EnnBuiltIn(), in.c_str(), container.c_str()), ENN_OK);
    const Bytes sealed = ReadFile(container);
    const int previous = EnnThreadLimit();
    for (int limit : {0, 1, 3, previous}) {
        EnnSetThreadLimit(limit);
        std::atomic<int> wrong{0};
        std::atomic<int> mostHeld{0};
        std::atomic<bool> done{false};
        std::thread watcher([&] {
            while (!done.load()) {
                mostHeld.store(std::max(mostHeld.load(), EnnHelpersHeld()));
                std::this_thread::yield();
            }
        });
        std::vector<std::thread> callers;
        for (int t = 0; t < 6; ++t) {
            callers.emplace_back([&, t] {
                for (int round = 0; round < 3; ++round) {
                    if (t % 2 == 0) {
                        const Decoded d = InFeeds(EnnBuiltIn(), sealed, 0);
                        wrong += d.result != ENN_OK || d.plain != plain;
                    } else {
                        const std::string out = dir.File("out" + std::to_string(t));
                        wrong += EnnEncryptFile("123456", EnnBuiltIn(), in.c_str(), out.c_str()) !=
                                     ENN_OK ||
                                 ReadFile(out) != sealed;
                    }
                }
            });
        }
        for (std::thread& c : callers) {
            c.join();
        }
        done = true;
        watcher.join();
        EXPECT_EQ(wrong.load(), 0) << "limit " << limit;
        EXPECT_LE(mostHeld.load(), std::max(limit - 1, 0)) << "limit " << limit;
        EXPECT_EQ(EnnHelpersHeld(), 0);
    }
    EnnSetThreadLimit(previous);
}

}  // namespace
