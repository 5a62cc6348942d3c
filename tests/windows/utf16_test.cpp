// The one conversion between UTF-8 and UTF-16 on Windows: every character
// both ways, and a refusal, never a guess, for what is not valid.
#include "text/utf16.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16, EveryCharacterGoesBothWays) {
    const struct {
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"", L""},
        {"batch.txt", L"batch.txt"},
        {"\xe6\x8a\xa5\xe8\xa1\xa8.txt", L"\u62a5\u8868.txt"},                 // 报表
        {"\xf0\xa0\x80\x80", std::wstring{wchar_t(0xD840), wchar_t(0xDC00)}},  // U+20000, a pair
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},                    // NUL is a character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideFromUtf8(c.utf8), c.wide);
        EXPECT_EQ(Utf8FromWide(c.wide), c.utf8);
    }
}

TEST(Utf16, WhatIsNotValidIsRefused) {
    for (const std::string bad : {"\xc3", "a\xff", "\xc0\x80", "\xed\xa0\x80", "\xe6\x8a"}) {
        EXPECT_FALSE(WideFromUtf8(bad).has_value()) << bad.size() << " bytes";
    }
    const std::wstring lone[] = {std::wstring{wchar_t(0xD800)},
                                 std::wstring{L'a', wchar_t(0xDC00), L'b'},
                                 std::wstring{wchar_t(0xDC00), wchar_t(0xD800)}};
    for (const std::wstring& bad : lone) {
        EXPECT_FALSE(Utf8FromWide(bad).has_value());
    }
}

}  // namespace
