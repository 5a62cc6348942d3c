#include "crypto/key_scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"

namespace {

std::string Scrambled(const std::string& in) {
    std::string out(in.size() + 8, 'X');
    KeyScramble(in.c_str(), out.data());
    EXPECT_EQ(out[in.size()], '\0');
    EXPECT_EQ(out.substr(in.size() + 1), std::string(7, 'X')) << "wrote past the terminator";
    return out.substr(0, in.size());
}

std::string Unscrambled(const std::string& in) {
    std::string out(in.size() + 8, 'X');
    KeyUnscramble(in.c_str(), out.data());
    EXPECT_EQ(out[in.size()], '\0');
    EXPECT_EQ(out.substr(in.size() + 1), std::string(7, 'X')) << "wrote past the terminator";
    return out.substr(0, in.size());
}

TEST(KeyScramble, KnownBytesOfAbc) {
    EXPECT_EQ(Scrambled("abc"), "\xC6\xA7\xC5");
    EXPECT_EQ(Unscrambled("\xC6\xA7\xC5"), "abc");
}

TEST(KeyScramble, EmptyAndOneByteInputs) {
    EXPECT_EQ(Scrambled(""), "");
    EXPECT_EQ(Unscrambled(""), "");
    EXPECT_EQ(Scrambled("\x01"), "\xA7");
    EXPECT_EQ(Unscrambled("\x01"), "\xA7");
    // 0xA6 scrambles to a zero byte, so its scrambled form reads as empty.
    char out[2] = {'X', 'X'};
    KeyScramble("\xA6", out);
    EXPECT_EQ(out[0], '\0');
}

TEST(KeyScramble, EachDirectionUndoesTheOther) {
    int checked = 0;
    for (uint32_t seed = 1; seed < 200; ++seed) {
        const Bytes raw = PseudoRandomBytes(1 + seed % 60, seed);
        const std::string text(raw.begin(), raw.end());
        if (text.find('\0') != std::string::npos) {
            continue;
        }
        const std::string scrambled = Scrambled(text);
        if (scrambled.find('\0') == std::string::npos) {
            EXPECT_EQ(Unscrambled(scrambled), text);
            ++checked;
        }
        const std::string unscrambled = Unscrambled(text);
        if (unscrambled.find('\0') == std::string::npos) {
            EXPECT_EQ(Scrambled(unscrambled), text);
        }
    }
    EXPECT_GT(checked, 20);
}

TEST(KeyScramble, BuiltInKeyIsFiftySixBytesBothWays) {
    const char* scrambled = reinterpret_cast<const char*>(kScrambledKey);
    EXPECT_EQ(std::strlen(scrambled), 56u);
    char key[57];
    KeyUnscramble(scrambled, key);
    EXPECT_EQ(std::strlen(key), 56u) << "the key holds a zero byte";
    char again[57];
    KeyScramble(key, again);
    EXPECT_EQ(std::memcmp(again, kScrambledKey, 57), 0);
}

}  // namespace
