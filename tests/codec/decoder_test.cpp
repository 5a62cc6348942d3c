#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "codec/enn.h"
#include "reference_container.h"
#include "test_data.h"
#include "test_util.h"

namespace {

const char kKey[] = "Karsholm payment batch key";
const char kDigestMessage[] = "\n md5 error !";

Bytes KeyBytes(const char* key) {
    return Bytes(key, key + std::strlen(key));
}

// A chunk whose length Block reads lengthText (8 characters) and whose body is
// bodyBlocks zero Blocks, encrypted under kKey.
Bytes ForgedChunk(const std::string& lengthText, size_t bodyBlocks) {
    Bytes plain(lengthText.begin(), lengthText.end());
    plain.resize(8 + 8 * bodyBlocks, 0);
    return ReferenceEcb(KeyBytes(kKey), plain);
}

class Decoder : public ::testing::Test {
  protected:
    // Runs EnnDecryptFile on the container bytes; returns its result and
    // keeps what it printed.
    int Decrypt(const Bytes& container, const char* key = kKey) {
        WriteFile(enn, container);
        ::testing::internal::CaptureStdout();
        const int result = EnnDecryptFile(key, enn.c_str(), plain.c_str());
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }
    TempDir dir;
    std::string src = dir.File("batch.txt");
    std::string enn = dir.File("batch.txt.enn");
    std::string plain = dir.File("batch.out");
    std::string printed;
};

TEST_F(Decoder, RoundTripsEverySizeAndKeyLength) {
    for (const std::string& key : {std::string("k3y!"), std::string(56, '\xA7')}) {
        for (size_t size : {0, 1, 3999, 4000, 4001, 8000}) {
            const Bytes data = PseudoRandomBytes(size, static_cast<uint32_t>(size));
            WriteFile(src, data);
            ASSERT_EQ(EnnEncryptFile("042917", key.c_str(), src.c_str(), enn.c_str()), ENN_OK);
            ASSERT_EQ(EnnDecryptFile(key.c_str(), enn.c_str(), plain.c_str()), ENN_OK);
            EXPECT_EQ(ReadFile(plain), data) << size << " bytes";
            char password[7] = "xxxxxx";
            ASSERT_EQ(EnnReadPassword(key.c_str(), enn.c_str(), password), ENN_OK);
            EXPECT_STREQ(password, "042917");
        }
    }
}

TEST_F(Decoder, DecodesContainersOfAnIndependentWriter) {
    const Bytes data = PseudoRandomBytes(10007, 4);
    EXPECT_EQ(Decrypt(ReferenceContainer("135790", KeyBytes(kKey), data)), ENN_OK);
    EXPECT_EQ(ReadFile(plain), data);
    EXPECT_EQ(printed, "");
}

TEST_F(Decoder, FilesSpanningManyReadsMatchTheIndependentWriterBothWays) {
    // The file operations read many chunks at a time; sizes around those reads.
    for (size_t size : {63999, 64000, 64001, 128000, 200003}) {
        const Bytes data = PseudoRandomBytes(size, static_cast<uint32_t>(size));
        WriteFile(src, data);
        ASSERT_EQ(EnnEncryptFile("555123", kKey, src.c_str(), enn.c_str()), ENN_OK);
        const Bytes container = ReadFile(enn);
        EXPECT_EQ(container, ReferenceContainer("555123", KeyBytes(kKey), data)) << size;
        EXPECT_EQ(Decrypt(container), ENN_OK);
        EXPECT_EQ(ReadFile(plain), data) << size;
    }
}

TEST_F(Decoder, AnyChangedByteFailsTheDigestAndLeavesTheOutputAlone) {
    const Bytes good = ReferenceContainer("135790", KeyBytes(kKey), PseudoRandomBytes(9000, 8));
    WriteFile(plain, {'k', 'e', 'p', 't'});
    for (size_t at : {size_t{32}, size_t{47}, size_t{48}, size_t{4000}, good.size() - 1}) {
        Bytes bad = good;
        bad[at] ^= 0x01;
        EXPECT_EQ(Decrypt(bad), ENN_ERR_DIGEST) << "byte " << at;
        EXPECT_EQ(printed, kDigestMessage);
        EXPECT_EQ(ReadFile(plain), Bytes({'k', 'e', 'p', 't'}));
    }
}

// Every forgery of the catalogue, by every check: the result the manifest
// gives (and the diagnostic with a digest's), no output, what reading the
// password gives; a container of another key is intact under that key.
TEST_F(Decoder, EveryForgeryIsRefusedByEveryCheckAsItsManifestSays) {
    char builtIn[57];
    ASSERT_EQ(EnnBuiltInKey(builtIn), ENN_OK);
    const std::vector<Forgery> forgeries = Forgeries();
    ASSERT_FALSE(forgeries.empty());
    for (const Forgery& f : forgeries) {
        const Bytes bytes = ForgeryBytes(f);
        EXPECT_EQ(Decrypt(bytes, builtIn), f.result) << f.file;
        EXPECT_EQ(printed, f.result == ENN_ERR_DIGEST ? kDigestMessage : "") << f.file;
        EXPECT_FALSE(FileExists(plain)) << f.file;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(EnnVerifyFile(builtIn, enn.c_str()), f.result) << f.file;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << f.file;

        char password[7] = "xxxxxx";
        int fault = ENN_FAULT_NONE;
        const int read = EnnReadPasswordEx(builtIn, enn.c_str(), password, &fault);
        if (EnnIsPassword(f.password.c_str())) {
            EXPECT_EQ(read, ENN_OK) << f.file;
            EXPECT_EQ(password, f.password) << f.file;
        } else {
            EXPECT_EQ(read, ENN_ERR_GENERIC) << f.file;
            EXPECT_EQ(EnnFaultName(fault), f.password) << f.file;
            EXPECT_STREQ(password, "xxxxxx") << f.file;
        }
        if (!f.BuiltInKey()) {
            EXPECT_EQ(Decrypt(bytes, f.key.c_str()), ENN_OK) << f.file << " under its own key";
            ASSERT_TRUE(std::remove(plain.c_str()) == 0);
        }
    }
}

TEST_F(Decoder, TheHeaderAloneHoldingTheDigestOfNothingDecodesToNothing) {
    const std::string empty = "d41d8cd98f00b204e9800998ecf8427e";
    EXPECT_EQ(Decrypt(Bytes(empty.begin(), empty.end())), ENN_OK);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ReadFile(plain), Bytes());
    EXPECT_EQ(EnnVerifyFile(kKey, enn.c_str()), ENN_OK);
    EXPECT_TRUE(EnnIsContainerSize(32));
    char password[7] = "xxxxxx";
    EXPECT_EQ(EnnReadPassword(kKey, enn.c_str(), password), ENN_ERR_GENERIC);
}

TEST_F(Decoder, FilesThatCannotBeOpenedOrCreated) {
    char password[7] = "xxxxxx";
    EXPECT_EQ(EnnDecryptFile(kKey, dir.File("missing").c_str(), plain.c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnReadPassword(kKey, dir.File("missing").c_str(), password), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnDecryptFile(kKey, dir.path().c_str(), plain.c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnReadPassword(kKey, dir.path().c_str(), password), ENN_ERR_OPEN_INPUT);
    EXPECT_STREQ(password, "xxxxxx");

    WriteFile(enn, ReferenceContainer("135790", KeyBytes(kKey), {1}));
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), dir.File("no/dir/out").c_str()),
              ENN_ERR_CREATE_OUTPUT);
}

TEST_F(Decoder, VerifyChecksTheDigestQuietlyAndWritesNothing) {
    const Bytes good = ReferenceContainer("135790", KeyBytes(kKey), PseudoRandomBytes(9000, 3));
    WriteFile(enn, good);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(EnnVerifyFile(kKey, enn.c_str()), ENN_OK);
    EXPECT_EQ(EnnVerifyFile(kKey, dir.File("missing").c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnVerifyFile(kKey, dir.path().c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(Decoder, AFifoIsRefusedWithoutWaitingForAWriter) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no fifos; windows_file_test refuses the NUL device";
#else
    ASSERT_EQ(mkfifo(enn.c_str(), 0600), 0);
    char password[7] = "xxxxxx";
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), plain.c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnReadPassword(kKey, enn.c_str(), password), ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnVerifyFile(kKey, enn.c_str()), ENN_ERR_OPEN_INPUT);
    EXPECT_FALSE(FileExists(plain));
#endif
}

TEST_F(Decoder, KeysOutsideFourTo56BytesAreRefusedEverywhere) {
    WriteFile(enn, ReferenceContainer("135790", KeyBytes(kKey), {1}));
    const std::string tooLong(57, 'k');
    for (const char* key : {"abc", tooLong.c_str()}) {
        char password[7] = "xxxxxx";
        unsigned char out[8];
        int outLen = -3;
        const Bytes chunk = ForgedChunk("00000001", 1);
        EXPECT_EQ(EnnDecryptChunk(key, chunk.data(), 16, out, &outLen), ENN_ERR_GENERIC);
        EXPECT_EQ(outLen, -3);
        EXPECT_EQ(EnnReadPassword(key, enn.c_str(), password), ENN_ERR_GENERIC);
        EXPECT_EQ(EnnDecryptFile(key, enn.c_str(), plain.c_str()), ENN_ERR_GENERIC);
    }
    EXPECT_FALSE(FileExists(plain));
}

TEST_F(Decoder, RefusesToDecodeOntoTheContainerItself) {
    const Bytes container = ReferenceContainer("135790", KeyBytes(kKey), PseudoRandomBytes(100, 1));
    WriteFile(enn, container);
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), enn.c_str()), ENN_ERR_CREATE_OUTPUT);
#ifndef _WIN32  // Windows' other names for a file: windows_file_test
    ASSERT_EQ(symlink(enn.c_str(), plain.c_str()), 0);
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), plain.c_str()), ENN_ERR_CREATE_OUTPUT);
#endif
    EXPECT_EQ(ReadFile(enn), container);
}

TEST_F(Decoder, DevicesAndFoldersAreNeverWrittenTo) {
    WriteFile(enn, ReferenceContainer("135790", KeyBytes(kKey), PseudoRandomBytes(9000, 1)));
#ifdef _WIN32
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), "NUL"), ENN_ERR_CREATE_OUTPUT);
#else
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), "/dev/full"), ENN_ERR_CREATE_OUTPUT);
#endif
    EXPECT_EQ(EnnDecryptFile(kKey, enn.c_str(), dir.path().c_str()), ENN_ERR_CREATE_OUTPUT);
}

TEST_F(Decoder, PasswordNeedsOnlyTheKeyAndItsChunk) {
    char password[7] = "xxxxxx";
    Bytes container = ReferenceContainer("246801", KeyBytes(kKey), PseudoRandomBytes(5000, 6));
    container[0] = 'X';     // a damaged header
    container.back() ^= 1;  // and damaged data
    WriteFile(enn, container);
    ASSERT_EQ(EnnReadPassword(kKey, enn.c_str(), password), ENN_OK);
    EXPECT_STREQ(password, "246801");
    // Another key gives none, nor does a password chunk that does not read
    // as the encoder writes it (EveryForgeryIsRefusedByEveryCheck...).
    EXPECT_EQ(EnnReadPassword("another key", enn.c_str(), password), ENN_ERR_GENERIC);
    EXPECT_STREQ(password, "246801") << "written only on success";
}

TEST_F(Decoder, ChunkNeedsAtLeastTheLengthBlock) {
    const Bytes chunk = ForgedChunk("00000008", 1);
    unsigned char out[8];
    int outLen = -3;
    for (int len = 0; len < 8; ++len) {
        EXPECT_EQ(EnnDecryptChunk(kKey, chunk.data(), len, out, &outLen), ENN_ERR_GENERIC);
    }
    EXPECT_EQ(outLen, -3);
}

TEST_F(Decoder, ZeroLengthChunkWritesNothing) {
    const Bytes chunk = ForgedChunk("00000000", 1);
    unsigned char out[8];
    std::memset(out, 0xEE, sizeof out);
    int outLen = -3;
    EXPECT_EQ(EnnDecryptChunk(kKey, chunk.data(), 16, out, &outLen), ENN_OK);
    EXPECT_EQ(outLen, 0);
    EXPECT_EQ(Bytes(out, out + 8), Bytes(8, 0xEE));
}

TEST_F(Decoder, ForgedLengthBlocksAreRefusedWithoutOverrun) {
    // Each out buffer is exactly data_len - 8 bytes on the heap, so the
    // sanitizer build catches any write past it.
    const struct {
        const char* length;
        size_t blocks;
    } forged[] = {{"-0000001", 1},   {"-9999999", 4}, {"00000009", 1},
                  {"00004001", 500}, {"99999999", 2}, {"  000017", 2}};
    for (const auto& f : forged) {
        const Bytes chunk = ForgedChunk(f.length, f.blocks);
        const size_t cap = chunk.size() - 8;
        std::unique_ptr<unsigned char[]> out(new unsigned char[cap]);
        int outLen = -3;
        EXPECT_EQ(
            EnnDecryptChunk(kKey, chunk.data(), static_cast<int>(chunk.size()), out.get(), &outLen),
            ENN_ERR_GENERIC)
            << f.length;
        EXPECT_EQ(outLen, -3);
    }
}

TEST_F(Decoder, LengthTextIsReadLikeAtoi) {
    // Leading blanks and a sign are taken; the text stops at the first non-digit.
    const Bytes chunk = ForgedChunk(" +3xyz99", 1);
    unsigned char out[8];
    int outLen = -3;
    ASSERT_EQ(EnnDecryptChunk(kKey, chunk.data(), 16, out, &outLen), ENN_OK);
    EXPECT_EQ(outLen, 3);
}

TEST_F(Decoder, BadChunkFarIntoTheFileKeepsTheEarlierOutput) {
    const Bytes data = PseudoRandomBytes(68000, 13);  // 17 full chunks: more than one read
    const Bytes good = ReferenceContainer("000000", KeyBytes(kKey), data);
    Bytes body(good.begin() + 32, good.end());
    const Bytes bad = ForgedChunk("-0000001", 1);
    body.insert(body.end(), bad.begin(), bad.end());
    WriteFile(plain, {'o', 'l', 'd'});
    EXPECT_EQ(Decrypt(WithDigestHeader(body)), ENN_ERR_GENERIC);
    EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'}));
}

}  // namespace
