// What the program's arguments ask for.
#include <gtest/gtest.h>

#include "platform/cmdline.h"

namespace {

using Action = AfxCommandLine::Action;

TEST(CommandLine, NoneOrOneFileOpensTheWindow) {
    EXPECT_EQ(AfxParseCommandLine({}).action, Action::Run);
    EXPECT_EQ(AfxParseCommandLine({}).file, "");
    const AfxCommandLine one = AfxParseCommandLine({"付款 清单.txt"});
    EXPECT_EQ(one.action, Action::Run);
    EXPECT_EQ(one.file, "付款 清单.txt");
    // After "--" a name may start with '-'.
    const AfxCommandLine dashed = AfxParseCommandLine({"--", "-list.txt"});
    EXPECT_EQ(dashed.action, Action::Run);
    EXPECT_EQ(dashed.file, "-list.txt");
}

TEST(CommandLine, HelpAndVersionOnlyAlone) {
    EXPECT_EQ(AfxParseCommandLine({"--help"}).action, Action::Help);
    EXPECT_EQ(AfxParseCommandLine({"--version"}).action, Action::Version);
    EXPECT_EQ(AfxParseCommandLine({"--help", "a.txt"}).action, Action::Wrong);
    EXPECT_EQ(AfxParseCommandLine({"--", "--help"}).file, "--help");
}

TEST(CommandLine, WrongArgumentsNameTheFirstOffender) {
    const AfxCommandLine unknown = AfxParseCommandLine({"-x"});
    EXPECT_EQ(unknown.action, Action::Wrong);
    EXPECT_EQ(unknown.error, "-x");
    const AfxCommandLine two = AfxParseCommandLine({"a.txt", "b.txt"});
    EXPECT_EQ(two.action, Action::Wrong);
    EXPECT_EQ(two.error, "b.txt");
    EXPECT_EQ(AfxParseCommandLine({""}).action, Action::Wrong);
}

}  // namespace
