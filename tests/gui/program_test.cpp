// The built program as a shell starts it: what it does before any window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/version.h"
#include "test_util.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the program with args; without any display unless withDisplay, in
// which case Qt's offscreen platform stands for one.
ProgramRun RunProgram(const std::string& args, bool withDisplay) {
    TempDir dir;
    const std::string env = withDisplay
                                ? "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "
                                : "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    const std::string command = env + "'" VELTRANE_PROGRAM "' " + args + " </dev/null >'" +
                                dir.File("out") + "' 2>'" + dir.File("err") + "'";
    ProgramRun run;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw)) {
        run.status = WEXITSTATUS(raw);
    }
    const Bytes out = ReadFile(dir.File("out"));
    const Bytes err = ReadFile(dir.File("err"));
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

TEST(Program, VersionPrintsTheProjectVersionAndNeedsNoDisplay) {
    const ProgramRun run = RunProgram("--version", false);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "veltrane " VELTRANE_VERSION "\n");
    EXPECT_EQ(run.err, "");
}

TEST(Program, VersionOpensNoWindowWhereThereIsADisplay) {
    // A window would keep the program running; --version returns at once.
    const ProgramRun run = RunProgram("--version", true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "veltrane " VELTRANE_VERSION "\n");
}

TEST(Program, HelpPrintsTheUsageWithOrWithoutADisplay) {
    for (bool display : {false, true}) {
        const ProgramRun run = RunProgram("--help", display);
        EXPECT_EQ(run.status, 0);
        EXPECT_THAT(run.out, HasSubstr("Usage: veltrane [FILE]\n"));
        EXPECT_THAT(run.out, HasSubstr("--version"));
        EXPECT_EQ(run.err, "");
    }
}

// Arguments never keep the window closed: each run below goes past them to
// the window, which here finds no display to open on.
TEST(Program, OtherArgumentsGiveOneWarningLineAndGoOnToTheWindow) {
    const struct {
        const char* args;
        const char* ignored;
    } runs[] = {
        {"-x", "-x"},
        {"a.txt b.txt", "a.txt b.txt"},
        {"--help extra", "--help"},
        {"--frobnicate a.txt", "--frobnicate"},
    };
    for (const auto& r : runs) {
        const ProgramRun run = RunProgram(r.args, false);
        EXPECT_EQ(run.status, 1) << r.args;
        EXPECT_EQ(run.out, "") << r.args;
        const std::string warning =
            std::string("veltrane: 已忽略的参数 (arguments ignored): ") + r.ignored + "\n";
        EXPECT_THAT(run.err, StartsWith(warning + "veltrane: 没有图形显示，无法打开窗口"))
            << r.args;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    }
}

TEST(Program, WithoutADisplayItSaysSoInOneLineAndFails) {
    const ProgramRun run = RunProgram("", false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, StartsWith("veltrane: 没有图形显示，无法打开窗口"));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

}  // namespace
