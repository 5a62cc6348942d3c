// What the program's arguments ask for.
#include "platform/cmdline.h"

#include <gtest/gtest.h>

namespace {

using Action = AfxCommandLine::Action;

TEST(CommandLine, NoneOrOneFileOpensTheWindow) {
    EXPECT_EQ(AfxParseCommandLine({}).action, Action::Run);
    EXPECT_EQ(AfxParseCommandLine({}).file, "");
    EXPECT_EQ(AfxParseCommandLine({}).ignored, "");
    const AfxCommandLine one = AfxParseCommandLine({"付款 清单.txt"});
    EXPECT_EQ(one.action, Action::Run);
    EXPECT_EQ(one.file, "付款 清单.txt");
    EXPECT_EQ(one.ignored, "");
    // After "--" a name may start with '-'.
    const AfxCommandLine dashed = AfxParseCommandLine({"--", "-list.txt"});
    EXPECT_EQ(dashed.action, Action::Run);
    EXPECT_EQ(dashed.file, "-list.txt");
    EXPECT_EQ(dashed.ignored, "");
}

TEST(CommandLine, HelpAndVersionOnlyAlone) {
    EXPECT_EQ(AfxParseCommandLine({"--help"}).action, Action::Help);
    EXPECT_EQ(AfxParseCommandLine({"--version"}).action, Action::Version);
    // Beside anything else they are options the window leaves aside.
    const AfxCommandLine withFile = AfxParseCommandLine({"--help", "a.txt"});
    EXPECT_EQ(withFile.action, Action::Run);
    EXPECT_EQ(withFile.file, "a.txt");
    EXPECT_EQ(withFile.ignored, "--help");
    const AfxCommandLine both = AfxParseCommandLine({"--version", "--help"});
    EXPECT_EQ(both.action, Action::Run);
    EXPECT_EQ(both.ignored, "--version --help");
    EXPECT_EQ(AfxParseCommandLine({"--", "--help"}).file, "--help");
    EXPECT_EQ(AfxParseCommandLine({"--", "--help"}).action, Action::Run);
}

// Nothing on the command line keeps the window closed: what it cannot use
// is named in one line, and the window runs.
TEST(CommandLine, OtherArgumentsAreLeftAsideAndTheWindowRuns) {
    const AfxCommandLine unknown = AfxParseCommandLine({"-x"});
    EXPECT_EQ(unknown.action, Action::Run);
    EXPECT_EQ(unknown.file, "");
    EXPECT_EQ(unknown.ignored, "-x");
    // An option beside one file leaves the file in the field.
    const AfxCommandLine optionAndFile = AfxParseCommandLine({"-x", "a.txt", "--frob"});
    EXPECT_EQ(optionAndFile.action, Action::Run);
    EXPECT_EQ(optionAndFile.file, "a.txt");
    EXPECT_EQ(optionAndFile.ignored, "-x --frob");
    // Of two files neither is taken.
    const AfxCommandLine two = AfxParseCommandLine({"a.txt", "b.txt"});
    EXPECT_EQ(two.action, Action::Run);
    EXPECT_EQ(two.file, "");
    EXPECT_EQ(two.ignored, "a.txt b.txt");
    const AfxCommandLine empty = AfxParseCommandLine({""});
    EXPECT_EQ(empty.action, Action::Run);
    EXPECT_EQ(empty.file, "");
    EXPECT_EQ(empty.ignored, "\"\"");
    // The line stays one line.
    EXPECT_EQ(AfxParseCommandLine({"-a\nb\r\x7f"}).ignored, "-a?b??");
}

}  // namespace
