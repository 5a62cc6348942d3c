#include "cli/console.h"

#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>
#include <filesystem>

#include "cli/console_win32.h"
#include "test_util.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, ChineseArgumentsArriveAsUtf8) {
    EXPECT_EQ(SplitCommandLine(L"enn.exe decrypt \"\u62a5\u8868 \u4e00.txt.enn\" -o "
                               L"\u8f93\u51fa\uff08\u65b0\uff09.txt"),
              (Args{"enn.exe", "decrypt", "报表 一.txt.enn", "-o", "输出（新）.txt"}));
}

TEST(CommandLine, CharactersBeyondTheBasicPlaneSurvive) {
    // U+20000 travels as a surrogate pair in UTF-16.
    EXPECT_EQ(SplitCommandLine(L"enn verify \U00020000.enn"),
              (Args{"enn", "verify", "\xF0\xA0\x80\x80.enn"}));
}

TEST(CommandLine, QuotesAndBackslashesFollowWindowsRules) {
    EXPECT_EQ(SplitCommandLine(L"enn decrypt C:\\data\\a.enn \"C:\\with space\\\\\" "
                               L"say\\\"hi\\\""),
              (Args{"enn", "decrypt", "C:\\data\\a.enn", "C:\\with space\\", "say\"hi\""}));
}

TEST(CommandLine, EmptyLineHasNoArguments) {
    EXPECT_TRUE(SplitCommandLine(L"").empty());
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

TEST(CommandLine, AnArgumentThatIsNotValidUtf16IsRefused) {
    bool refused = false;
    const std::wstring line = std::wstring(L"enn verify a") + wchar_t(0xD800) + L".enn";
    EXPECT_TRUE(SplitCommandLine(line.c_str(), &refused).empty());
    EXPECT_TRUE(refused);
}

TEST(ConsoleOutput, RedirectedTextIsUtf8BytesWithBareLineFeeds) {
    TempDir dir;
    const std::string path = dir.File("out.txt");
    std::FILE* out = _wfopen(std::filesystem::u8path(path).c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    void* handle = reinterpret_cast<void*>(_get_osfhandle(_fileno(out)));
    PrintTo(out, handle, "报表.txt.enn: intact\n");
    PrintTo(out, handle, "42\n");
    std::fclose(out);
    const std::string expected = "报表.txt.enn: intact\n42\n";
    EXPECT_EQ(ReadFile(path), Bytes(expected.begin(), expected.end()));
}

TEST(ConsoleOutput, AFailedWriteIsReported) {
    TempDir dir;
    const std::string path = dir.File("read-only.txt");
    WriteFile(path, Bytes{'x'});
    std::FILE* in = _wfopen(std::filesystem::u8path(path).c_str(), L"rb");
    ASSERT_NE(in, nullptr);
    void* handle = reinterpret_cast<void*>(_get_osfhandle(_fileno(in)));
    EXPECT_FALSE(PrintTo(in, handle, "lost\n"));
    std::fclose(in);
}

}  // namespace
