#include "crypto/md5.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "test_util.h"

namespace {

std::string HexOf(const unsigned char* data, size_t size) {
    return Md5Hex(data, size);
}

std::string HexOf(const std::string& text) {
    return HexOf(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Feeds data in pieces of the given sizes, cycling through them.
std::string HexInPieces(const Bytes& data, std::initializer_list<size_t> pieces) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    size_t at = 0;
    while (at < data.size()) {
        for (size_t piece : pieces) {
            const size_t n = std::min(piece, data.size() - at);
            MD5Update(&ctx, data.data() + at, static_cast<unsigned int>(n));
            at += n;
        }
    }
    char out[33];
    return MD5FinalHex(&ctx, out);
}

bool AllZero(const MD5_CTX& ctx) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&ctx);
    for (size_t i = 0; i < sizeof ctx; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("1234567890123456789012345678901234567890"
                    "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAt55_56_And64Bytes) {
    // Values of 'a' repeated, checked against an independent MD5.
    EXPECT_EQ(HexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5, AnySplitGivesTheSameDigest) {
    const Bytes data = PseudoRandomBytes(20000, 7);
    const std::string whole = HexOf(data.data(), data.size());
    EXPECT_EQ(HexInPieces(data, {1}), whole);
    EXPECT_EQ(HexInPieces(data, {16}), whole);
    EXPECT_EQ(HexInPieces(data, {4008}), whole);
    EXPECT_EQ(HexInPieces(data, {63, 65, 1, 127, 0, 200}), whole);
}

TEST(Md5, UpdateLeavesTheCallersBytesAlone) {
    const Bytes data = PseudoRandomBytes(300, 3);
    Bytes copy = data;
    HexOf(copy.data(), copy.size());
    EXPECT_EQ(copy, data);
}

TEST(Md5, FinishingClearsTheWholeContext) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>("abc"), 3);
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    EXPECT_TRUE(AllZero(ctx));
    EXPECT_EQ(ToHex(digest, 16), "900150983CD24FB0D6963F7D28E17F72");

    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>("abc"), 3);
    char text[33];
    MD5FinalHex(&ctx, text);
    EXPECT_TRUE(AllZero(ctx));
}

TEST(Md5, HexTextIsThirtyTwoLowercaseDigitsAndANul) {
    char out[40];
    std::memset(out, 'X', sizeof out);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, reinterpret_cast<const unsigned char*>("message digest"), 14);
    EXPECT_EQ(MD5FinalHex(&ctx, out), out);
    EXPECT_EQ(std::strspn(out, "0123456789abcdef"), 32u);
    EXPECT_EQ(out[32], '\0');
    EXPECT_EQ(out[33], 'X');  // nothing beyond the 33 bytes
}

TEST(Md5, HexIntoANewBufferWhenGivenNone) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    char* text = MD5FinalHex(&ctx, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "d41d8cd98f00b204e9800998ecf8427e");
    std::free(text);
}

}  // namespace
