#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/encrypt_messages.h"
#include "app/version.h"
#include "cli/status.h"
#include "codec/enn.h"
#include "crypto/key_scramble.h"
#include "reference_container.h"
#include "test_data.h"
#include "test_util.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Reads both pipes until the child closes them; a child that stalls is killed.
void Drain(int outFd, int errFd, std::string* out, std::string* err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {out, err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, 60000) <= 0) {
            ADD_FAILURE() << "enn stalled";
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

// Where the child's standard output goes: a pipe the test reads, a full
// disk (/dev/full), nowhere (closed), or the end of the file "stdout.bin" in
// its folder.
enum Out { kPipe, kFull, kClosed, kAppend };

// Where its standard input comes from: a pipe the test writes, nowhere
// (closed), its folder, or a terminal.
enum In { kFromPipe, kFromNothing, kFromFolder, kFromTerminal };

// Runs enn in dir with args, feeding input on standard input. The child has no
// controlling terminal, as under a scheduler.
// A file-size limit, when given, makes writes past it fail as on a full disk.
Result Enn(const std::string& dir, const std::vector<std::string>& args,
           const std::string& input = "", rlim_t fileLimit = RLIM_INFINITY, Out to = kPipe,
           In from = kFromPipe) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    const int terminal = from == kFromTerminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (terminal >= 0 && (grantpt(terminal) != 0 || unlockpt(terminal) != 0)) {
        ADD_FAILURE() << "no pseudo-terminal";
    }
    std::vector<char*> argv{const_cast<char*>(ENN_BINARY)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (to == kFull) {
            const int full = open("/dev/full", O_WRONLY);
            dup2(full, 1);
            close(full);
        } else if (to == kClosed) {
            close(1);
        } else if (to == kAppend) {
            const int file = open((dir + "/stdout.bin").c_str(), O_WRONLY | O_APPEND);
            dup2(file, 1);
            close(file);
        }
        if (from == kFromNothing) {
            close(0);
        } else if (from != kFromPipe) {
            const int source = from == kFromFolder ? open(dir.c_str(), O_RDONLY | O_DIRECTORY)
                                                   : open(ptsname(terminal), O_RDWR | O_NOCTTY);
            dup2(source, 0);
            close(source);
        }
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (chdir(dir.c_str()) == 0) {
            execv(ENN_BINARY, argv.data());
        }
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);  // enn need not read all of its input
    if (!input.empty()) {
        (void)!write(in[1], input.data(), input.size());
    }
    close(in[1]);
    Result r;
    Drain(out[0], err[0], &r.out, &r.err);
    int status = 0;
    waitpid(pid, &status, 0);
    if (terminal >= 0) {
        close(terminal);
    }
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

const char kDigestMessage[] = "\n md5 error !";

// Sets a locale for the enn started in this scope.
class Locale {
  public:
    explicit Locale(const char* name) { setenv("LC_ALL", name, 1); }
    ~Locale() { unsetenv("LC_ALL"); }
};

bool HasChineseLocale() {
    const bool has = std::setlocale(LC_ALL, "zh_CN.UTF-8") != nullptr;
    std::setlocale(LC_ALL, "C");
    return has;
}

class EnnTest : public ::testing::Test {
  protected:
    // Encrypts name (holding content) with enn itself; the container's path.
    std::string Encrypted(const std::string& name, const Bytes& content,
                          const std::string& password = "123456") {
        WriteFile(dir.File(name), content);
        const Result r = Enn(dir.path(), {"encrypt", "--password-stdin", name},
                             password + "\n" + password + "\n");
        EXPECT_EQ(0, r.status) << r.err;
        return dir.File(name + ".enn");
    }

    // Copies the catalogue's forgery (tests/data/forgeries) named file into
    // the folder, under name (its own by default); returns its manifest line.
    Forgery PlaceForgery(const std::string& file, std::string name = "") {
        for (const Forgery& f : Forgeries()) {
            if (f.file == file) {
                WriteFile(dir.File(name.empty() ? file : name), ForgeryBytes(f));
                return f;
            }
        }
        ADD_FAILURE() << "no forgery " << file;
        return {};
    }

    TempDir dir;
};

TEST_F(EnnTest, BadUsageExitsWithTwoAndOneLine) {
    WriteFile(dir.File("plain.bin"), Text("x"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"verify"},
        {"decrypt", "a.enn", "b.enn", "-o", "out"},  // -o names one output
        {"decrypt", "a.enn", "-o"},
        {"decrypt", "a.enn", "--bogus"},
        {"decrypt", "plain.bin"},  // no .enn to drop, no -o
        {"password"},
        {"encrypt", "-", "b", "-o", "out"},  // standard input is a file of its own
        {"encrypt", "--force", "plain.bin"},
        {"verify", "-", "-"},  // standard input is read once
        {"decrypt", "-"},      // no name to take the output's from
        {"encrypt", "-"},      // nor here
        {"help", "bogus"},
        {"decrypt", "a.enn", "-o", "b", "-x.enn"},
    };
    for (const auto& args : cases) {
        const Result r = Enn(dir.path(), args);
        const std::string shown = args.empty() ? "(none)" : args[0];
        EXPECT_EQ(2, r.status) << shown;
        EXPECT_THAT(r.err, StartsWith("enn")) << r.err;
        EXPECT_THAT(r.err, HasSubstr("--help")) << r.err;
        EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << "one line: " << r.err;
        EXPECT_EQ("", r.out);
    }
    EXPECT_EQ(std::set<std::string>{"plain.bin"}, Listing(dir.path()));
}

TEST_F(EnnTest, HelpForTheToolAndEachCommandListsExitStatusesWithinEightyColumns) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"help"},
                                               {"verify", "--help"},
                                               {"decrypt", "-h"},
                                               {"help", "password"},
                                               {"encrypt", "--help"}}) {
        const Result r = Enn(dir.path(), args);
        EXPECT_EQ(0, r.status);
        EXPECT_THAT(r.out, StartsWith("Usage: enn")) << r.out;
        EXPECT_THAT(r.out, HasSubstr("Exit status:\n  0  success\n  1  ")) << r.out;
        EXPECT_EQ("", r.err);
        size_t start = 0;
        for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
            EXPECT_LT(end - start, 80u) << r.out.substr(start, end - start);
        }
    }
    EXPECT_EQ(Enn(dir.path(), {"help", "decrypt"}).out, Enn(dir.path(), {"decrypt", "-h"}).out);
    // The usage lines show the forms of an intake, and only options the
    // command takes.
    for (const char* command : {"verify", "decrypt", "password", "encrypt"}) {
        const std::string help = Enn(dir.path(), {command, "--help"}).out;
        const std::string options = help.substr(help.find("\nOptions:\n"));
        std::istringstream lines(help);
        for (std::string line; std::getline(lines, line) &&
                               (line.rfind("Usage:", 0) == 0 || line.rfind("   or:", 0) == 0);) {
            std::istringstream words(line);
            for (std::string word; words >> word;) {
                const std::string option = word.substr(word.find('-') == 1 ? 1 : 0);
                if (option.size() > 1 && option[0] == '-' && option != "-") {
                    const std::string bare = option.substr(0, option.find(']'));
                    EXPECT_THAT(options, HasSubstr(bare.size() == 2 ? bare + ", " : bare + " "))
                        << command << ": " << line;
                }
            }
        }
    }
    EXPECT_THAT(Enn(dir.path(), {"decrypt", "--help"}).out,
                StartsWith("Usage: enn decrypt [-q] [-p] [-f] FILE.enn [-o OUT]\n"
                           "   or: enn decrypt [-q] [-p] [-f] [--json] [-d DIR] FILE.enn...\n"));
    EXPECT_EQ(Enn(dir.path(), {"help"}).out, Enn(dir.path(), {"--help"}).out);
}

TEST_F(EnnTest, UsageErrorsNameTheOptionAsWritten) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"verify", "-x.enn"}, "unknown option '-x'"},
        {{"verify", "--bogus=1"}, "unknown option '--bogus'"},
        {{"verify", "-o", "x"}, "unknown option '-o'"},  // decrypt's and encrypt's only
        {{"decrypt", "a.enn", "-o"}, "option '-o' needs a value"},
        {{"encrypt", "a", "--output"}, "option '--output' needs a value"},
    };
    for (const auto& [args, message] : cases) {
        const Result r = Enn(dir.path(), args);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("enn " + args[0] + ": " + message + "; see 'enn " + args[0] + " --help'\n",
                  r.err);
    }
}

TEST_F(EnnTest, EncryptWritesTheContainerAndPrintsTheWindowsMessage) {
    const Bytes content = PseudoRandomBytes(9000, 7);
    WriteFile(dir.File("batch.txt"), content);
    Result r =
        Enn(dir.path(), {"encrypt", "--password-stdin", "batch.txt"}, "246810\r\n246810\r\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "Encrypted. The container is saved as \"batch.txt.enn\"; please deliver it to the "
        "bank.\n",
        r.out);
    EXPECT_EQ("", r.err);
    if (HasChineseLocale()) {
        const Locale chinese("zh_CN.UTF-8");
        r = Enn(dir.path(), {"encrypt", "--password-stdin", "batch.txt"}, "246810\n246810\n");
        EXPECT_EQ(SuccessMessage("batch.txt.enn") + "\n", r.out);
    }

    r = Enn(dir.path(), {"password", "batch.txt.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("246810\n", r.out);
    r = Enn(dir.path(), {"decrypt", "batch.txt.enn", "-o", "back.txt"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(content, ReadFile(dir.File("back.txt")));
}

// The window's messages under zh_CN, English ones under any other locale.
TEST_F(EnnTest, EncryptChecksGiveTheWindowsMessagesAndTouchNothing) {
    WriteFile(dir.File("a.txt"), Text("data"));
    struct Case {
        std::string input;
        const char* chinese;
        const char* english;
    };
    const std::vector<Case> cases = {
        {"", kMsgNoPassword, "Please enter the password."},
        // a single line is an empty confirmation
        {"123456\n", kMsgNoConfirm, "Please enter the password again to confirm it."},
        {"12345\n12345\n", kMsgPasswordLength, "Please enter a password of 6 digits."},
        {"123456\n1234567\n", kMsgConfirmLength, "Please enter a confirmation of 6 digits."},
        {"123456\n654321\n", kMsgMismatch, "The two passwords differ."},
        {"12a456\n12a456\n", kMsgNotDigits, "The password must be digits."},
    };
    const bool chinese = HasChineseLocale();
    for (const Case& c : cases) {
        Result r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, c.input);
        EXPECT_EQ(1, r.status) << c.english;
        EXPECT_EQ(std::string("enn: a.txt: ") + c.english + "\n", r.err);
        EXPECT_EQ("", r.out);
        if (chinese) {
            const Locale zh("zh_CN.UTF-8");
            r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, c.input);
            EXPECT_EQ(std::string("enn: a.txt: ") + c.chinese + "\n", r.err);
        }
    }
    const Result r = Enn(dir.path(), {"encrypt", "--password-stdin", ""}, "123456\n123456\n");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("enn: Please name the file to encrypt.\n", r.err);
    EXPECT_EQ(std::set<std::string>{"a.txt"}, Listing(dir.path()));
}

TEST_F(EnnTest, EncryptTakesTheFileNameExactlyAsGiven) {
    WriteFile(dir.File(" padded.txt "), Text("data"));
    Result r = Enn(dir.path(), {"encrypt", "--password-stdin", " padded.txt "}, "123456\n123456\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ((std::set<std::string>{" padded.txt ", " padded.txt .enn"}), Listing(dir.path()));
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "padded.txt"}, "123456\n123456\n");
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("enn: padded.txt: The file cannot be found. (cannot be opened: it does not exist)\n",
              r.err);
}

TEST_F(EnnTest, EncryptNamesWhatIsWrongWithTheFiles) {
    const Result r =
        Enn(dir.path(), {"encrypt", "--password-stdin", "missing.txt"}, "123456\n123456\n");
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("enn: missing.txt: The file cannot be found. (cannot be opened: it does not exist)\n",
              r.err);
    EXPECT_EQ(std::set<std::string>{}, Listing(dir.path()));
}

TEST_F(EnnTest, EncryptWithoutTerminalOrStdinRefuses) {
    WriteFile(dir.File("a.txt"), Text("data"));
    const Result r = Enn(dir.path(), {"encrypt", "a.txt"}, "123456\n123456\n");
    EXPECT_EQ(2, r.status);
    EXPECT_THAT(r.err, HasSubstr("--password-stdin")) << r.err;
    EXPECT_FALSE(FileExists(dir.File("a.txt.enn")));
}

// Reads the terminal's output until it holds text.
bool AwaitOutput(int master, std::string* seen, const std::string& text) {
    while (seen->find(text) == std::string::npos) {
        pollfd p = {master, POLLIN, 0};
        char buf[256];
        ssize_t n = 0;
        if (poll(&p, 1, 60000) <= 0 || (n = read(master, buf, sizeof buf)) <= 0) {
            return false;
        }
        seen->append(buf, static_cast<size_t>(n));
    }
    return true;
}

TEST_F(EnnTest, EncryptAsksOnTheTerminalWithoutEchoAndRestoresIt) {
    WriteFile(dir.File("a.txt"), Text("data"));
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        GTEST_SKIP() << "no pseudo-terminal on this machine";
    }
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    const std::string slave = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int tty = open(slave.c_str(), O_RDWR);  // becomes the controlling terminal
        if (tty < 0 || chdir(dir.path().c_str()) != 0) {
            _exit(127);
        }
        dup2(tty, 0);
        dup2(tty, 1);
        dup2(tty, 2);
        execl(ENN_BINARY, ENN_BINARY, "encrypt", "a.txt", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    EXPECT_TRUE(AwaitOutput(master, &seen, "Password: ")) << seen;
    ASSERT_EQ(7, write(master, "135790\n", 7));
    EXPECT_TRUE(AwaitOutput(master, &seen, "Confirm password: ")) << seen;
    ASSERT_EQ(7, write(master, "135790\n", 7));
    EXPECT_TRUE(AwaitOutput(master, &seen, "please deliver it to the bank.")) << seen;
    termios after;
    ASSERT_EQ(0, tcgetattr(master, &after));
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(std::string::npos, seen.find("135790")) << "echoed: " << seen;
    EXPECT_NE(0u, after.c_lflag & ECHO);
    const Result r = Enn(dir.path(), {"password", "a.txt.enn"});
    EXPECT_EQ("135790\n", r.out);
}

TEST_F(EnnTest, VerifySaysALineAFile) {
    Encrypted("good", PseudoRandomBytes(5000, 1));
    PlaceForgery("digest-content-changed.enn", "flipped.enn");
    PlaceForgery("not-a-container-uppercase-header.enn", "upper.enn");
    // Digest renewed, but the last Block one byte short.
    PlaceForgery("layout-last-block-cut.enn", "cut.enn");

    Result r = Enn(dir.path(), {"verify", "good.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("good.enn: intact\n", r.out);

    r = Enn(dir.path(),
            {"verify", "flipped.enn", "good.enn", "upper.enn", "cut.enn", "missing.enn"});
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("good.enn: intact\n", r.out);
    EXPECT_EQ(
        "enn: flipped.enn: damaged: the digest header does not match the content\n"
        "enn: upper.enn: not a container: it does not begin with a digest header\n"
        "enn: cut.enn: damaged: a chunk is not laid out as the encoder writes it\n"
        "enn: missing.enn: cannot be opened: it does not exist\n",
        r.err);
}

TEST_F(EnnTest, DecryptRestoresEveryLengthUnderTheDefaultName) {
    for (size_t size : {0, 1, 3999, 4000, 4001, 12345}) {
        const Bytes content = PseudoRandomBytes(size, static_cast<uint32_t>(size));
        Encrypted("f", content);
        std::remove(dir.File("f").c_str());
        const Result r = Enn(dir.path(), {"decrypt", "f.enn"});
        EXPECT_EQ(0, r.status) << size << r.err;
        EXPECT_EQ("f.enn: decrypted to f\n", r.out);
        EXPECT_EQ(content, ReadFile(dir.File("f"))) << size;
        std::remove(dir.File("f").c_str());
    }
    EXPECT_EQ(std::set<std::string>{"f.enn"}, Listing(dir.path()));
}

TEST_F(EnnTest, DecryptNeverOverwritesWithoutForce) {
    Encrypted("a.txt", Text("new plain text"));
    WriteFile(dir.File("a.txt"), Text("keep me"));
    WriteFile(dir.File("other"), Text("keep me too"));

    // No retry of the same command gets past a file that is to be kept.
    Result r = Enn(dir.path(), {"decrypt", "a.txt.enn"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("enn: a.txt: already exists; use --force to replace it\n", r.err);
    r = Enn(dir.path(), {"decrypt", "a.txt.enn", "-o", "other"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(Text("keep me"), ReadFile(dir.File("a.txt")));
    EXPECT_EQ(Text("keep me too"), ReadFile(dir.File("other")));

    chmod(dir.File("other").c_str(), 0640);
    r = Enn(dir.path(), {"decrypt", "--force", "a.txt.enn", "--output=other"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Text("new plain text"), ReadFile(dir.File("other")));
    struct stat st;
    ASSERT_EQ(0, stat(dir.File("other").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777) << "the replaced file's permissions";
    EXPECT_EQ((std::set<std::string>{"a.txt", "a.txt.enn", "other"}), Listing(dir.path()));
}

TEST_F(EnnTest, DecryptRefusesDamagedAndForgedContainersLeavingNothing) {
    Encrypted("a", PseudoRandomBytes(4500, 3));
    PlaceForgery("digest-content-changed.enn", "damaged.enn");
    // A digest that matches over a chunk announcing more bytes than it holds,
    // after a good one that the decoder will already have written.
    PlaceForgery("layout-length-beyond-the-file.enn", "forged.enn");
    WriteFile(dir.File("a"), Text("kept"));
    const std::set<std::string> before = Listing(dir.path());

    Result r = Enn(dir.path(), {"decrypt", "damaged.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out) << "the decoder's diagnostic, or anything else";
    EXPECT_THAT(r.err, StartsWith("enn: damaged.enn: damaged: the digest header")) << r.err;

    r = Enn(dir.path(), {"decrypt", "damaged.enn", "-o", "a", "--force"});
    EXPECT_EQ(1, r.status);

    r = Enn(dir.path(), {"decrypt", "forged.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("enn: forged.enn: damaged: a chunk is not laid out as the encoder writes it\n",
              r.err);

    r = Enn(dir.path(), {"decrypt", "forged.enn", "-o", "a", "-f"});
    EXPECT_EQ(1, r.status);

    EXPECT_EQ(before, Listing(dir.path()));
    EXPECT_EQ(Text("kept"), ReadFile(dir.File("a")));
}

TEST_F(EnnTest, DecryptRefusesFoldersTheContainerItselfAndMissingFiles) {
    const std::string container = Encrypted("a", Text("plain"));
    const Bytes original = ReadFile(container);
    mkdir(dir.File("sub").c_str(), 0755);
    mkdir(dir.File("box.enn").c_str(), 0755);

    // A missing file may come (3); a folder or the container itself as the
    // output stays in the way of the same command (2).
    const std::vector<std::tuple<std::vector<std::string>, std::string, int>> cases = {
        {{"decrypt", "a.enn", "-o", "sub/"}, "enn: sub/: names a folder, not a file", 2},
        {{"decrypt", "a.enn", "-o", "a.enn", "--force"}, "enn: a.enn: is the file being read", 2},
        {{"decrypt", "missing.enn"}, "enn: missing.enn: cannot be opened: it does not exist", 3},
        {{"password", "missing.enn"}, "enn: missing.enn: cannot be opened: it does not exist", 3},
    };
    for (const auto& [args, message, status] : cases) {
        const Result r = Enn(dir.path(), args, "123456\n123456\n");
        EXPECT_EQ(status, r.status) << message;
        EXPECT_THAT(r.err, StartsWith(message)) << r.err;
        EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << r.err;
        EXPECT_EQ("", r.out);
    }
    EXPECT_EQ(original, ReadFile(container));
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "box.enn", "sub"}), Listing(dir.path()));
}

// What the codec found wrong, in words of its own, whichever command met it.
TEST_F(EnnTest, EachFaultOfTheFilesHasItsOwnWords) {
    Encrypted("a", Text("plain"));
    mkdir(dir.File("sub").c_str(), 0755);
    mkdir(dir.File("box.enn").c_str(), 0755);
    WriteFile(dir.File("b"), Text("b"));
    mkdir(dir.File("b.enn").c_str(), 0755);
    // A folder or a device stays in the way of the same command (2); a
    // missing folder may come (3).
    const std::vector<std::tuple<std::vector<std::string>, std::string, int>> cases = {
        {{"decrypt", "a.enn", "-o", "sub", "--force"},
         "enn: sub: is a folder; name a file in it\n",
         2},
        {{"decrypt", "box.enn"}, "enn: box.enn: is a folder, not a file\n", 2},
        {{"verify", "box.enn"}, "enn: box.enn: is a folder, not a file\n", 2},
        {{"password", "box.enn"}, "enn: box.enn: is a folder, not a file\n", 2},
        {{"verify", "/dev/null"},
         "enn: /dev/null: is not a regular file; to read a pipe or a device, give - and redirect "
         "it\n",
         2},
        {{"decrypt", "a.enn", "-o", "nowhere/out"},
         "enn: nowhere/out: cannot be created: its folder does not exist\n",
         3},
        {{"encrypt", "--password-stdin", "sub"},
         "enn: sub: The file cannot be found. (is a folder, not a file)\n",
         2},
        {{"encrypt", "--password-stdin", "a", "-o", "sub"},
         "enn: sub: The container cannot be created. (is a folder; name a file in it)\n",
         2},
        {{"encrypt", "--password-stdin", "b"},
         "enn: b.enn: The container cannot be created. (is a folder; name the output file with "
         "-o)\n",
         2},
    };
    for (const auto& [args, message, status] : cases) {
        const Result r = Enn(dir.path(), args, "123456\n123456\n");
        EXPECT_EQ(status, r.status) << message;
        EXPECT_EQ(message, r.err);
    }
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "b", "b.enn", "box.enn", "sub"}),
              Listing(dir.path()));
}

TEST_F(EnnTest, PasswordRefusesWhatDoesNotHoldSixDigits) {
    PlaceForgery("too-short-length-block-only.enn", "short.enn");
    PlaceForgery("another-key-password-letters.enn", "letters.enn");
    // Damaged data; the password itself is unharmed.
    const Forgery damaged = PlaceForgery("digest-content-changed.enn", "a.enn");

    Result r = Enn(dir.path(), {"password", "short.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("enn: short.enn: damaged: too short to hold a password\n", r.err);
    r = Enn(dir.path(), {"password", "letters.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("enn: letters.enn: written under another key: its password chunk does not decode\n",
              r.err);
    r = Enn(dir.path(), {"password", "a.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(damaged.password + "\n", r.out);
}

TEST_F(EnnTest, FailuresOfTheDiskAreNotTakenForDamage) {
    const std::string container = Encrypted("a", PseudoRandomBytes(200000, 5));
    unlink(dir.File("a").c_str());
    const Result r = Enn(dir.path(), {"decrypt", "a.enn"}, "", 50000);
    EXPECT_EQ(3, r.status);
    EXPECT_THAT(r.err, StartsWith("enn: a: cannot be written:")) << r.err;
    EXPECT_THAT(r.err, HasSubstr("nothing written")) << r.err;
    EXPECT_EQ(std::set<std::string>{"a.enn"}, Listing(dir.path()));
}

TEST_F(EnnTest, VerifyTellsAForeignKeyAndBadLayoutFromDamage) {
    PlaceForgery("another-key-whole-container.enn", "foreign.enn");
    PlaceForgery("layout-trailing-after-the-last-chunk.enn", "trailing.enn");
    Encrypted("a", Text("plain"));
    const Result r = Enn(dir.path(), {"verify", "foreign.enn", "trailing.enn", "a.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("a.enn: intact\n", r.out);
    EXPECT_EQ(
        "enn: foreign.enn: written under another key: its password chunk does not decode\n"
        "enn: trailing.enn: damaged: a chunk is not laid out as the encoder writes it\n",
        r.err);
}

TEST_F(EnnTest, AnInterruptedDecryptLeavesNoPlainText) {
    const std::string big = dir.File("big");
    WriteFile(big, PseudoRandomBytes(48 << 20, 1));
    {
        BuiltInKey key;
        ASSERT_EQ(ENN_OK, EnnEncryptFile("123456", key.get(), big.c_str(), (big + ".enn").c_str()));
    }
    unlink(big.c_str());
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir.path().c_str()) == 0) {
                execl(ENN_BINARY, ENN_BINARY, "decrypt", "big.enn", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        usleep(30000);
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(std::set<std::string>{"big.enn"}, Listing(dir.path())) << "signal " << sig;
        unlink(big.c_str());  // had enn finished before the signal
    }
}

// Every forgery of the catalogue, in a file or on standard input, is told by
// its fault's words to every command; nothing is written.
TEST_F(EnnTest, AContainerOnStandardInputIsCheckedAsAFileIs) {
    const Bytes plain = PseudoRandomBytes(9000, 11);
    const Bytes good = ReadFile(Encrypted("good", plain));
    for (const Forgery& f : Forgeries()) {
        const std::string& name = f.file;
        PlaceForgery(name);
        const std::string said = std::string(": ") + EnnFaultText(f.fault) + "\n";
        const Result fromFile = Enn(dir.path(), {"verify", name});
        EXPECT_EQ(1, fromFile.status) << name;
        EXPECT_EQ("enn: " + name + said, fromFile.err);
        const Bytes bytes = ForgeryBytes(f);
        const std::string as(bytes.begin(), bytes.end());
        const Result fromStdin = Enn(dir.path(), {"verify", "-"}, as);
        EXPECT_EQ(1, fromStdin.status) << name;
        EXPECT_EQ("enn: standard input" + said, fromStdin.err) << name;
        Result r = Enn(dir.path(), {"decrypt", name, "-o", "out"});
        EXPECT_EQ(1, r.status) << name;
        EXPECT_EQ("", r.out) << name;
        EXPECT_EQ(fromFile.err, r.err);
        const Result decrypted = Enn(dir.path(), {"decrypt", "-", "-o", "-"}, as);
        EXPECT_EQ(1, decrypted.status) << name;
        EXPECT_EQ("", decrypted.out) << name;
        EXPECT_EQ(fromStdin.err, decrypted.err);
        r = Enn(dir.path(), {"password", name});
        if (EnnIsPassword(f.password.c_str())) {
            EXPECT_EQ(0, r.status) << name;
            EXPECT_EQ(f.password + "\n", r.out) << name;
        } else {
            EXPECT_EQ(1, r.status) << name;
            EXPECT_EQ("enn: " + name + ": " + EnnFaultText(FaultNamed(f.password)) + "\n", r.err);
        }
        unlink(dir.File(name).c_str());
    }
    const std::string goodText(good.begin(), good.end());
    Result r = Enn(dir.path(), {"verify", "good.enn", "-"}, goodText);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("good.enn: intact\nstandard input: intact\n", r.out);
    r = Enn(dir.path(), {"password", "-"}, goodText);
    EXPECT_EQ("123456\n", r.out);
    r = Enn(dir.path(), {"password", "-"}, goodText.substr(0, 40));
    EXPECT_EQ("enn: standard input: damaged: too short to hold a password\n", r.err);
    r = Enn(dir.path(), {"decrypt", "-", "-o", "plain"}, goodText);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("-: decrypted to plain\n", r.out);
    EXPECT_EQ(plain, ReadFile(dir.File("plain")));
    EXPECT_EQ((std::set<std::string>{"good", "good.enn", "plain"}), Listing(dir.path()));
}

TEST_F(EnnTest, StandardOutputGetsThePlainFileOnlyOnceTheContainerChecked) {
    const Bytes plain = PseudoRandomBytes(100000, 12);
    Encrypted("a", plain);
    Result r = Enn(dir.path(), {"decrypt", "a.enn", "-o", "-"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(plain, Text(r.out));
    EXPECT_EQ("", r.err);
    // A container damaged near its end has had most of its chunks decoded by then.
    Bytes damaged = ReadFile(dir.File("a.enn"));
    damaged[damaged.size() - 3] ^= 0x10;
    WriteFile(dir.File("d.enn"), damaged);
    r = Enn(dir.path(), {"decrypt", "d.enn", "-o", "-"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("enn: d.enn: damaged: the digest header does not match the content\n", r.err);
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "d.enn"}), Listing(dir.path()));
}

TEST_F(EnnTest, EncryptReadsStandardInputAndWritesWhereOutputSays) {
    const Bytes plain = PseudoRandomBytes(50000, 13);
    const std::string text(plain.begin(), plain.end());
    const std::string pw = "654321\n654321\n";
    // The two password lines come first, the file after them.
    Result r = Enn(dir.path(), {"encrypt", "--password-stdin", "-", "-o", "-"}, pw + text);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    const std::string container = r.out;
    EXPECT_EQ(48 + 4008 * 12 + 8 + 2000u, container.size());
    r = Enn(dir.path(), {"decrypt", "-", "-o", "-"}, container);
    EXPECT_EQ(plain, Text(r.out));
    r = Enn(dir.path(), {"password", "-"}, container);
    EXPECT_EQ("654321\n", r.out);

    WriteFile(dir.File("in.txt"), plain);
    WriteFile(dir.File("out.enn"), Text("an older container"));
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "in.txt", "-o", "out.enn"}, pw);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("Encrypted. The container is saved as \"out.enn\"; please deliver it to the bank.\n",
              r.out);
    EXPECT_EQ(Text(container), ReadFile(dir.File("out.enn"))) << "one key, one password";
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "-", "-o", "piped.enn"}, pw + text);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Text(container), ReadFile(dir.File("piped.enn")));
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "in.txt", "-o", "in.txt"}, pw);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(
        "enn: in.txt: The container cannot be created. (is the file being read; not "
        "replaced)\n",
        r.err);
    EXPECT_EQ(plain, ReadFile(dir.File("in.txt")));
    EXPECT_EQ((std::set<std::string>{"in.txt", "out.enn", "piped.enn"}), Listing(dir.path()));
}

TEST_F(EnnTest, AFailedWriteToStandardOutputFailsTheRun) {
    const Bytes plain = PseudoRandomBytes(70000, 14);
    Encrypted("a", plain);
    const std::string pw = "123456\n123456\n";
    const std::vector<std::vector<std::string>> runs = {
        {"password", "a.enn"},
        {"verify", "a.enn"},
        {"decrypt", "a.enn", "-o", "-"},
        {"decrypt", "a.enn", "-o", "b", "--force"},
        {"encrypt", "--password-stdin", "a", "-o", "-"},
        {"--help"},
        {"--version"},
    };
    for (Out to : {kFull, kClosed}) {
        for (const auto& args : runs) {
            const Result r = Enn(dir.path(), args, pw, RLIM_INFINITY, to);
            EXPECT_EQ(3, r.status) << args[0] << " " << to;
            EXPECT_THAT(r.err, StartsWith("enn: standard output: ")) << args[0] << " " << to;
            EXPECT_THAT(r.err, HasSubstr("cannot be written: ")) << args[0] << " " << to;
            EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << "one message: " << r.err;
        }
    }
    // With nothing to print, a closed standard output loses nothing.
    EXPECT_EQ(0, Enn(dir.path(), {"verify", "-q", "a.enn"}, "", RLIM_INFINITY, kClosed).status);
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "b"}), Listing(dir.path()));
}

TEST_F(EnnTest, AClosedStandardInputIsAReadFailure) {
    Encrypted("a", Text("plain"));
    for (const char* command : {"verify", "password"}) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(0);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(ENN_BINARY, ENN_BINARY, command, "-", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << command;
    }
}

TEST_F(EnnTest, QuietPrintsNothingButErrorsAndWhatWasAskedFor) {
    const Bytes plain = PseudoRandomBytes(5000, 15);
    WriteFile(dir.File("a"), plain);
    Result r = Enn(dir.path(), {"encrypt", "-q", "--password-stdin", "a"}, "123456\n123456\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.out);
    r = Enn(dir.path(), {"verify", "--quiet", "a.enn", "a.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.out);
    r = Enn(dir.path(), {"decrypt", "-q", "a.enn", "-o", "b"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("", r.err);
    r = Enn(dir.path(), {"decrypt", "-q", "a.enn", "-o", "-"});
    EXPECT_EQ(plain, Text(r.out));
    r = Enn(dir.path(), {"password", "-q", "a.enn"});
    EXPECT_EQ("123456\n", r.out);
    r = Enn(dir.path(), {"verify", "-q", "a.enn", "missing.enn"});
    EXPECT_EQ(3, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("enn: missing.enn: cannot be opened: it does not exist\n", r.err);
}

// Runs enn with its standard error on a new terminal; what the terminal showed.
std::string OnTerminal(const std::string& dir, const std::vector<std::string>& args, int* status) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return "no terminal";
    }
    const std::string slave = ptsname(master);
    std::vector<char*> argv{const_cast<char*>(ENN_BINARY)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int tty = open(slave.c_str(), O_RDWR);
        const int null = open("/dev/null", O_RDWR);
        if (tty < 0 || null < 0 || chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        dup2(null, 0);
        dup2(null, 1);
        dup2(tty, 2);
        execv(ENN_BINARY, argv.data());
        _exit(127);
    }
    std::string seen;
    for (;;) {
        pollfd p = {master, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        // The terminal ends (EIO) once enn has exited and closed it.
        if (poll(&p, 1, 60000) <= 0 || (n = read(master, buf, sizeof buf)) <= 0) {
            break;
        }
        seen.append(buf, static_cast<size_t>(n));
    }
    waitpid(pid, status, 0);
    close(master);
    return seen;
}

TEST_F(EnnTest, ProgressShowsOnATerminalOnlyAndNeverWhenQuiet) {
    const std::string big = dir.File("big");
    WriteFile(big, PseudoRandomBytes(8 << 20, 2));
    {
        BuiltInKey key;
        ASSERT_EQ(ENN_OK, EnnEncryptFile("123456", key.get(), big.c_str(), (big + ".enn").c_str()));
    }
    setenv("ENN_PROGRESS_DELAY_MS", "0", 1);
    int status = 0;
    std::string seen = OnTerminal(dir.path(), {"verify", "big.enn"}, &status);
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_THAT(seen, HasSubstr("big.enn: ")) << seen;
    EXPECT_THAT(seen, HasSubstr("%  ")) << seen;
    EXPECT_THAT(seen, HasSubstr(" MB/s")) << seen;
    EXPECT_EQ('\r', seen.back()) << "the line is taken away at the end: " << seen;
    seen = OnTerminal(dir.path(), {"verify", "-q", "big.enn"}, &status);
    EXPECT_EQ("", seen);
    EXPECT_EQ("", Enn(dir.path(), {"verify", "big.enn"}).err) << "not a terminal";
    unsetenv("ENN_PROGRESS_DELAY_MS");
}

// A long name would wrap the line, and \r rewrites only its last row.
TEST_F(EnnTest, TheProgressLineOfALongNameFitsOneRow) {
    const std::string name = std::string(120, 'n') + "-\u4ed8\u6b3e\u6e05\u5355.enn";
    {
        BuiltInKey key;
        WriteFile(dir.File("plain"), PseudoRandomBytes(8 << 20, 3));
        ASSERT_EQ(ENN_OK, EnnEncryptFile("123456", key.get(), dir.File("plain").c_str(),
                                         dir.File(name).c_str()));
    }
    setenv("ENN_PROGRESS_DELAY_MS", "0", 1);
    int status = 0;
    const std::string seen = OnTerminal(dir.path(), {"verify", name}, &status);
    unsetenv("ENN_PROGRESS_DELAY_MS");
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_THAT(seen, HasSubstr("\r...nnn")) << "the name's end: " << seen;
    EXPECT_THAT(seen, HasSubstr("n-\u4ed8\u6b3e\u6e05\u5355.enn: ")) << seen;
    std::istringstream lines(seen);
    for (std::string line; std::getline(lines, line, '\r');) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

// Columns a terminal gives text: two for each character of three or more UTF-8 bytes.
size_t Columns(const std::string& text) {
    size_t columns = 0;
    for (unsigned char c : text) {
        columns += c < 0x80 ? 1 : c >= 0xE0 ? 2 : 0;
    }
    return columns;
}

TEST_F(EnnTest, SpeaksChineseUnderAChineseLocaleWithoutEnglishPieces) {
    if (!HasChineseLocale()) {
        GTEST_SKIP() << "no zh_CN.UTF-8 locale on this machine (tools/setup-debian.sh makes it)";
    }
    WriteFile(dir.File("a.txt"), Text("data"));
    PlaceForgery("digest-content-changed.enn", "b.enn");
    const Locale chinese("zh_CN.UTF-8");
    Result r = Enn(dir.path(), {"--help"});
    EXPECT_THAT(r.out, StartsWith("用法： enn COMMAND"));
    EXPECT_THAT(r.out, HasSubstr("退出状态："));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help", "decrypt"}, {"encrypt", "-h"}, {"verify", "-h"}}) {
        r = Enn(dir.path(), args);
        size_t start = 0;
        for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
            EXPECT_LT(Columns(r.out.substr(start, end - start)), 80u)
                << r.out.substr(start, end - start);
        }
    }
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"verify", "missing.enn"}, "enn: missing.enn: 无法打开：文件不存在\n"},
        {{"decrypt", "a.txt"},
         "enn decrypt：“a.txt”不以 .enn 结尾；请用 -o 指定输出文件；请参阅“enn decrypt --help”\n"},
        {{"verify", "-x"}, "enn verify：未知选项“-x”；请参阅“enn verify --help”\n"},
        {{"decrypt", "b.enn", "-o", "-"}, "enn: b.enn: 已损坏：摘要头与内容不符\n"},
        {{"encrypt", "--password-stdin", "missing"},
         "enn: missing: 找不到指定的文件！（无法打开：文件不存在）\n"},
    };
    for (const auto& [args, message] : cases) {
        r = Enn(dir.path(), args, "123456\n123456\n");
        EXPECT_EQ(message, r.err);
        EXPECT_EQ(std::string::npos, r.err.find(';')) << r.err;
    }
}

TEST_F(EnnTest, VersionIsTheProjects) {
    const Result r = Enn(dir.path(), {"--version"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(std::string("enn ") + VELTRANE_VERSION + "\n", r.out);
}

TEST_F(EnnTest, StandardInputThatCannotCarryAContainerIsRefusedAtOnce) {
    const struct {
        In from;
        int status;  // what is wrong there: the surroundings, the usage, the container
        const char* said;
    } inputs[] = {
        {kFromNothing, 3, "enn: standard input: is closed; there is nothing to read\n"},
        {kFromFolder, 2, "enn: standard input: is a folder, not a container\n"},
        {kFromTerminal, 2,
         "enn: standard input: is a terminal, at which no container can be typed; redirect a "
         "file or a pipe to it\n"},
        {kFromPipe, 1,
         "enn: standard input: not a container: it does not begin with a digest "
         "header\n"},  // empty
    };
    const std::vector<std::vector<std::string>> commands = {
        {"verify", "-"}, {"password", "-"}, {"decrypt", "-", "-o", "out"}};
    for (const auto& input : inputs) {
        for (const auto& args : commands) {
            const Result r = Enn(dir.path(), args, "", RLIM_INFINITY, kPipe, input.from);
            EXPECT_EQ(input.status, r.status) << args[0] << " " << input.said;
            EXPECT_EQ(input.said, r.err) << args[0];
            EXPECT_EQ("", r.out);
        }
    }
    EXPECT_FALSE(FileExists(dir.File("out")));
}

TEST_F(EnnTest, StandardOutputThatTookPartOfTheDataIsToldHowMuch) {
    // Room for the plain file in the temporary folder, but not for all of
    // it at the end of what standard output already holds.
    const std::string container = Encrypted("big", PseudoRandomBytes(100000, 9));
    WriteFile(dir.File("stdout.bin"), Bytes(100000, 'x'));
    const Result r = Enn(dir.path(), {"decrypt", "-q", "big.enn", "-o", "-"}, "", 150000, kAppend);
    EXPECT_EQ(3, r.status);
    EXPECT_EQ(
        "enn: standard output: received only the first 50000 bytes of the data, then writing "
        "failed: File too large; discard them\n",
        r.err);
    EXPECT_EQ(ReadFile(dir.File("stdout.bin")).size(), 150000u);
}

// Every line of out parsed by a JSON parser and printed back in one form;
// "" when any line is not one JSON object.
std::string ParsedJson(const std::string& out) {
    TempDir scratch;
    const std::string lines = scratch.File("lines");
    WriteFile(lines, Text(out));
    const std::string command =
        "python3 -c 'import json,sys\nfor l in open(sys.argv[1]):\n"
        " o=json.loads(l)\n assert isinstance(o,dict)\n print(json.dumps(o,sort_keys=True))' " +
        lines + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string parsed;
    char buf[4096];
    size_t n = 0;
    while (pipe != nullptr && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
        parsed.append(buf, n);
    }
    return pipe != nullptr && pclose(pipe) == 0 ? parsed : std::string();
}

// An intake's folder: good containers and bad ones of every kind; each file
// ends on its own, with its own line, and the run's status tells the worst.
TEST_F(EnnTest, AnIntakeOfManyFilesReportsEachAndTellsRejectFromRetry) {
    const Bytes plain = PseudoRandomBytes(9000, 31);
    for (const char* name : {"g1", "g2", "g3"}) {
        Encrypted(name, plain);
    }
    Bytes damaged = ReadFile(dir.File("g1.enn"));
    damaged[100] ^= 1;
    WriteFile(dir.File("damaged.enn"), damaged);
    const Bytes whole = ReadFile(dir.File("g1.enn"));
    WriteFile(dir.File("truncated.enn"), Bytes(whole.begin(), whole.begin() + 40));
    WriteFile(dir.File("notes.txt.enn"), Text("a note, not a container\n"));
    WriteFile(dir.File("empty.enn"), {});
    ASSERT_EQ(symlink("nowhere", dir.File("gone.enn").c_str()), 0);
    mkdir(dir.File("out").c_str(), 0755);
    mkdir(dir.File("out/g3").c_str(), 0755);  // an output that cannot be written
    const std::vector<std::string> files = {"g1.enn",        "damaged.enn", "truncated.enn",
                                            "notes.txt.enn", "empty.enn",   "gone.enn",
                                            "g2.enn",        "g3.enn"};
    std::vector<std::string> args = {"decrypt", "--json", "-d", "out"};
    args.insert(args.end(), files.begin(), files.end());
    const Result r = Enn(dir.path(), args);
    EXPECT_EQ(2, r.status) << "an output in the way wins over a missing file and a refusal";
    const std::string parsed = ParsedJson(r.out);
    ASSERT_FALSE(parsed.empty()) << r.out;
    const struct {
        const char* outcome;
        const char* fault;
    } expected[] = {{"ok", "ENN_FAULT_NONE"},
                    {"refused", "ENN_FAULT_DIGEST"},
                    {"refused", "ENN_FAULT_DIGEST"},  // cut short: its header no longer matches
                    {"refused", "ENN_FAULT_NOT_CONTAINER"},
                    {"refused", "ENN_FAULT_NOT_CONTAINER"},
                    {"failed", "ENN_FAULT_NO_INPUT"},
                    {"ok", "ENN_FAULT_NONE"},
                    {"blocked", "ENN_FAULT_OUTPUT_FOLDER"}};
    std::istringstream lines(r.out);
    std::string line;
    for (size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(std::getline(lines, line)) << i;
        EXPECT_THAT(line, HasSubstr("\"file\":\"" + files[i] + "\"")) << line;
        const std::string stem = files[i].substr(0, files[i].size() - 4);
        EXPECT_THAT(line, HasSubstr("\"output\":\"out/" + stem + "\"")) << "every line: " << line;
        EXPECT_THAT(line, HasSubstr(std::string("\"outcome\":\"") + expected[i].outcome + "\""));
        EXPECT_THAT(line, HasSubstr(std::string("\"fault\":\"") + expected[i].fault + "\""));
    }
    EXPECT_FALSE(std::getline(lines, line)) << "one line a file";
    EXPECT_THAT(r.out, HasSubstr("{\"file\":\"g1.enn\",\"outcome\":\"ok\",\"fault\":"
                                 "\"ENN_FAULT_NONE\",\"message\":\"done\",\"password\":\"123456\","
                                 "\"output\":\"out/g1\",\"size\":9000}"));
    EXPECT_EQ(ReadFile(dir.File("out/g1")), plain);
    EXPECT_EQ(ReadFile(dir.File("out/g2")), plain);
    EXPECT_EQ((std::set<std::string>{"g1", "g2", "g3"}), Listing(dir.File("out")));

    // Refusals alone are 1; the same words in every language.
    const std::vector<std::string> refused = {"verify", "--json", "g1.enn", "damaged.enn",
                                              "notes.txt.enn"};
    const Result c = Enn(dir.path(), refused);
    EXPECT_EQ(1, c.status);
    if (HasChineseLocale()) {
        const Locale chinese("zh_CN.UTF-8");
        const Result zh = Enn(dir.path(), refused);
        EXPECT_EQ(c.out, zh.out);
        EXPECT_NE(c.err, zh.err);
    }
    // The password with the data, from one pass.
    const Result p =
        Enn(dir.path(), {"decrypt", "-q", "-p", "-f", "-d", "out", "g1.enn", "g2.enn"});
    EXPECT_EQ(0, p.status) << p.err;
    EXPECT_EQ("g1.enn: 123456\ng2.enn: 123456\n", p.out);
    const Result pw = Enn(dir.path(), {"password", "g1.enn", "g2.enn"});
    EXPECT_EQ("g1.enn: 123456\ng2.enn: 123456\n", pw.out);
}

TEST_F(EnnTest, EncryptTakesSeveralFilesWithOnePassword) {
    WriteFile(dir.File("a.txt"), Text("first"));
    WriteFile(dir.File("b.txt"), Text("second"));
    mkdir(dir.File("out").c_str(), 0755);
    const Result r =
        Enn(dir.path(),
            {"encrypt", "--password-stdin", "--json", "-d", "out", "a.txt", "b.txt", "missing.txt"},
            "135790\n135790\n");
    EXPECT_EQ(3, r.status);
    EXPECT_FALSE(ParsedJson(r.out).empty()) << r.out;
    EXPECT_THAT(
        r.out,
        HasSubstr("{\"file\":\"missing.txt\",\"outcome\":\"failed\",\"fault\":"
                  "\"ENN_FAULT_NO_INPUT\",\"message\":\"cannot be opened: it does not exist\","
                  "\"output\":\"out/missing.txt.enn\"}"))
        << r.out;
    const Result a = Enn(dir.path(), {"password", "out/a.txt.enn", "out/b.txt.enn"});
    EXPECT_EQ("out/a.txt.enn: 135790\nout/b.txt.enn: 135790\n", a.out);
}

// A run of many files killed at any moment: every output whole or absent,
// nothing left aside, and every file it reported in place.
TEST_F(EnnTest, AManyFileRunKilledAtAnyMomentLeavesEachFileWholeOrAbsent) {
    const Bytes plain = PseudoRandomBytes(60000, 33);
    std::vector<std::string> args = {"decrypt", "--json", "-d", "out"};
    for (int i = 0; i < 24; ++i) {
        const std::string name = "c" + std::to_string(i);
        Encrypted(name, plain);
        args.push_back(name + ".enn");
    }
    std::vector<char*> argv{const_cast<char*>(ENN_BINARY)};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    for (int round = 0; round < 12; ++round) {
        const std::string out = dir.File("out");
        std::filesystem::remove_all(out);
        mkdir(out.c_str(), 0755);
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            close(pipeFds[1]);
            if (chdir(dir.path().c_str()) == 0) {
                execv(ENN_BINARY, argv.data());
            }
            _exit(127);
        }
        close(pipeFds[1]);
        usleep(static_cast<useconds_t>(round * 3000));
        kill(pid, round % 2 == 0 ? SIGTERM : SIGINT);
        std::string reported;
        char buf[4096];
        ssize_t n = 0;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) {
            reported.append(buf, static_cast<size_t>(n));
        }
        close(pipeFds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        for (const std::string& name : Listing(out)) {
            EXPECT_EQ(name.find(".enn-aside"), std::string::npos) << name;
            EXPECT_EQ(ReadFile(out + "/" + name), plain) << name << " in round " << round;
        }
        std::istringstream lines(reported);
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("\"output\":\"out/");
            if (at != std::string::npos) {
                const std::string name = line.substr(at + 14, line.find('"', at + 14) - at - 14);
                EXPECT_TRUE(FileExists(out + "/" + name)) << name << " reported, round " << round;
            }
        }
    }
}

// How many faults the library enn runs on knows, ENN_FAULT_NONE included:
// the first it has no name for.
int LibraryFaults() {
    int count = 0;
    while (std::string(EnnFaultName(count)) != "ENN_FAULT_UNKNOWN") {
        ++count;
    }
    return count;
}

// Every fault the library knows has a row, and its status says what a retry
// of the same command can do: the container's own faults go back (1), and
// only those; what a later run may get past is 3; what the command as given
// can never get past is 2.
TEST(EnnStatuses, EveryFaultHasAStatusThatSaysWhatARetryCanDo) {
    ASSERT_EQ(LibraryFaults(), FaultRows()) << "a fault of the library without a row";
    EXPECT_EQ(kExitOk, FaultStatus(ENN_FAULT_NONE));
    const std::set<int> retry = {ENN_FAULT_NO_INPUT,  ENN_FAULT_READ,      ENN_FAULT_CHANGED,
                                 ENN_FAULT_NO_OUTPUT, ENN_FAULT_WRITE,     ENN_FAULT_INPUT_DENIED,
                                 ENN_FAULT_DENIED,    ENN_FAULT_NO_FOLDER, ENN_FAULT_DISK_FULL,
                                 ENN_FAULT_NO_MEMORY};
    for (int fault = ENN_FAULT_NONE + 1; fault < LibraryFaults(); ++fault) {
        const int status = FaultStatus(fault);
        const std::string name = EnnFaultName(fault);
        EXPECT_EQ(EnnFaultIsRefusal(fault) != 0, status == kExitRefused) << name;
        EXPECT_EQ(retry.count(fault) == 1, status == kExitFailed) << name;
        if (!EnnFaultIsRefusal(fault) && retry.count(fault) == 0) {
            EXPECT_EQ(kExitBlocked, status) << name;
        }
    }
    EXPECT_EQ(kExitBlocked, FaultStatus(ENN_FAULT_EXISTS)) << "a kept output never goes away";
    // A fault this enn does not know: a person looks.
    EXPECT_EQ(kExitBlocked, FaultStatus(LibraryFaults()));
    EXPECT_EQ(kExitBlocked, FaultStatus(-1));
    EXPECT_STREQ("ok", OutcomeOf(kExitOk));
    EXPECT_STREQ("refused", OutcomeOf(kExitRefused));
    EXPECT_STREQ("blocked", OutcomeOf(kExitBlocked));
    EXPECT_STREQ("failed", OutcomeOf(kExitFailed));
    EXPECT_EQ(kExitBlocked, WorseStatus(kExitFailed, kExitBlocked));
    EXPECT_EQ(kExitBlocked, WorseStatus(kExitBlocked, kExitRefused));
    EXPECT_EQ(kExitFailed, WorseStatus(kExitRefused, kExitFailed));
    EXPECT_EQ(kExitRefused, WorseStatus(kExitOk, kExitRefused));
}

// The help lists each fault once, under the status the table gives it.
TEST_F(EnnTest, TheHelpListsEachFaultUnderItsStatus) {
    const Result r = Enn(dir.path(), {"--help"});
    std::map<std::string, int> listed;
    int status = -1;
    std::istringstream lines(r.out.substr(r.out.find("Exit status:\n")));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 3 && line.compare(0, 2, "  ") == 0 && line[2] >= '0' && line[2] <= '9') {
            status = line[2] - '0';
        }
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word.compare(0, 10, "ENN_FAULT_") == 0) {
                EXPECT_EQ(0u, listed.count(word)) << word << " twice";
                listed[word] = status;
            }
        }
    }
    EXPECT_EQ(static_cast<size_t>(LibraryFaults() - 1), listed.size()) << r.out;
    for (int fault = ENN_FAULT_NONE + 1; fault < LibraryFaults(); ++fault) {
        EXPECT_EQ(FaultStatus(fault), listed[EnnFaultName(fault)]) << EnnFaultName(fault);
    }
}

// An output that exists and is kept is told as blocked, and wins over a
// missing file, which wins over a refusal.
TEST_F(EnnTest, AKeptOutputIsBlockedAndWinsOverWhatMayPass) {
    Encrypted("a", Text("plain a"));
    WriteFile(dir.File("a"), Text("other a"));  // not this container's data
    PlaceForgery("digest-content-changed.enn", "bad.enn");
    const Result r = Enn(dir.path(), {"decrypt", "--json", "bad.enn", "missing.enn", "a.enn"});
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_THAT(r.out,
                HasSubstr("{\"file\":\"a.enn\",\"outcome\":\"blocked\",\"fault\":"
                          "\"ENN_FAULT_EXISTS\",\"message\":\"already exists\",\"output\":\"a\"}"));
    EXPECT_THAT(r.err, HasSubstr("enn: a: already exists; use --force to replace it\n"));
    EXPECT_EQ(3, Enn(dir.path(), {"decrypt", "bad.enn", "missing.enn"}).status);
    EXPECT_EQ(1, Enn(dir.path(), {"decrypt", "bad.enn"}).status);
    EXPECT_EQ(Text("other a"), ReadFile(dir.File("a")));
}

// Two containers that would end in one file, or one that would end on
// another container of the run: the run is refused whole, before anything is
// read, with one line that names both.
TEST_F(EnnTest, ARunWithTwoContainersToOneFileIsRefusedWhole) {
    mkdir(dir.File("a").c_str(), 0755);
    mkdir(dir.File("b").c_str(), 0755);
    mkdir(dir.File("out").c_str(), 0755);
    const Bytes plainA = PseudoRandomBytes(5000, 41);
    Encrypted("a/x", plainA);
    Encrypted("b/x", PseudoRandomBytes(7000, 42));
    Encrypted("y", PseudoRandomBytes(100, 43));
    unlink(dir.File("a/x").c_str());
    unlink(dir.File("b/x").c_str());
    ASSERT_EQ(0, symlink("a", dir.File("link").c_str()));
    // x.enn.enn decrypts to x.enn, another container of the run.
    Encrypted("x.enn", ReadFile(dir.File("a/x.enn")));
    rename(dir.File("a/x.enn.enn").c_str(), dir.File("x.enn.enn").c_str());
    WriteFile(dir.File("x.enn"), ReadFile(dir.File("a/x.enn")));
    const auto before = [&] {
        std::map<std::string, Bytes> files;
        for (const char* name : {"a/x.enn", "b/x.enn", "x.enn", "x.enn.enn", "y.enn"}) {
            files[name] = ReadFile(dir.File(name));
        }
        return files;
    };
    const auto original = before();
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"-d", "out", "a/x.enn", "b/x.enn"},
         "enn decrypt: a/x.enn and b/x.enn would both be decrypted to out/x; nothing decrypted\n"},
        {{"--force", "-d", "out", "y.enn", "a/x.enn", "b/x.enn"},
         "enn decrypt: a/x.enn and b/x.enn would both be decrypted to out/x; nothing decrypted\n"},
        {{"-f", "y.enn", "y.enn"},
         "enn decrypt: y.enn and y.enn would both be decrypted to y; nothing decrypted\n"},
        {{"-f", "a/x.enn", "link/x.enn"},
         "enn decrypt: a/x.enn and link/x.enn would both be decrypted to link/x; nothing "
         "decrypted\n"},
        {{"-f", "a/x.enn", "a/./x.enn"},
         "enn decrypt: a/x.enn and a/./x.enn would both be decrypted to a/./x; nothing "
         "decrypted\n"},
        {{"-f", "x.enn.enn", "x.enn"},
         "enn decrypt: x.enn.enn would be decrypted onto x.enn, another container of this run; "
         "nothing decrypted\n"},
        {{"-f", "x.enn", "x.enn.enn"},
         "enn decrypt: x.enn.enn would be decrypted onto x.enn, another container of this run; "
         "nothing decrypted\n"},
    };
    for (const auto& c : cases) {
        for (const bool json : {false, true}) {
            std::vector<std::string> args = {"decrypt"};
            if (json) {
                args.push_back("--json");
            }
            args.insert(args.end(), c.args.begin(), c.args.end());
            const Result r = Enn(dir.path(), args);
            EXPECT_EQ(2, r.status) << c.said;
            EXPECT_EQ(c.said, r.err);
            EXPECT_EQ("", r.out);
            EXPECT_EQ((std::set<std::string>{}), Listing(dir.File("out"))) << c.said;
            EXPECT_EQ((std::set<std::string>{"x.enn"}), Listing(dir.File("a"))) << c.said;
            EXPECT_EQ((std::set<std::string>{"a", "b", "link", "out", "x.enn", "x.enn.enn", "y",
                                             "y.enn"}),
                      Listing(dir.path()))
                << c.said;
            EXPECT_EQ(original, before()) << c.said;
        }
    }
    // Apart, the same containers go through.
    const Result r = Enn(dir.path(), {"decrypt", "-q", "-d", "out", "a/x.enn", "y.enn"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(plainA, ReadFile(dir.File("out/x")));
}

// The folder of -d is looked at once, before any container is read.
TEST_F(EnnTest, TheFolderOfDIsCheckedOnceBeforeAnythingIsRead) {
    Encrypted("a", Text("plain a"));
    Encrypted("b", Text("plain b"));
    WriteFile(dir.File("afile"), Text("not a folder"));
    mkdir(dir.File("locked").c_str(), 0555);
    const auto run = [&](const std::string& folder) {
        return Enn(dir.path(), {"decrypt", "--json", "-d", folder, "a.enn", "b.enn", "gone.enn"});
    };
    Result r = run("nope");
    EXPECT_EQ(FaultStatus(ENN_FAULT_NO_FOLDER), r.status);
    EXPECT_EQ("enn: nope: the folder does not exist\n", r.err);
    EXPECT_EQ("", r.out);
    r = run("afile");
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("enn: afile: is not a folder\n", r.err);
    EXPECT_EQ("", r.out);
    r = run("afile/sub");
    EXPECT_EQ("enn: afile/sub: the folder does not exist\n", r.err);
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "-d", "nope", "a"}, "123456\n123456\n");
    EXPECT_EQ("enn: nope: the folder does not exist\n", r.err);
    EXPECT_EQ(FaultStatus(ENN_FAULT_NO_FOLDER), r.status);
    if (geteuid() != 0) {  // the superuser writes anywhere
        r = run("locked");
        EXPECT_EQ(FaultStatus(ENN_FAULT_DENIED), r.status);
        EXPECT_EQ("enn: locked: cannot be written: permission denied\n", r.err);
        EXPECT_EQ("", r.out);
    }
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "afile", "b", "b.enn", "locked"}),
              Listing(dir.path()));
    EXPECT_EQ((std::set<std::string>{}), Listing(dir.File("locked")));
}

// Names of every kind a strict UTF-8 reader refuses: each line still parses
// under Python's json after a strict UTF-8 decode, and the hex beside a name
// that is not UTF-8 gives its exact bytes back.
TEST_F(EnnTest, JsonLinesHoldEveryNameAndGiveBackTheBytesOfThoseNotUtf8) {
    const std::vector<std::string> stems = {
        "a\xff",
        "a\xfe",
        "\xc0\xaf",
        "\xc1\xbf",  // C0, C1
        "\xe0\x80\xaf",
        "\xf0\x80\x80\xaf",  // overlong
        "\xed\xa0\x80",
        "\xed\xbf\xbf",  // surrogates
        "\xf4\x90\x80\x80",
        "\xf5\x80\x80\x80",
        "\xf7\xbf\xbf\xbf",  // past U+10FFFF
        "\xe4\xb8",
        "cut\xf0\x9f\x98",  // cut short
        "\x80lone",
        "tab\there",
        "new\nline",
        "q\"uote",
        "back\\slash",
        "del\x7f",
        "\x01\x1f",
        "\xe4\xbb\x98\xf0\x9f\x98\x80",
    };
    const Bytes good = ReadFile(Encrypted("good", Text("plain")));
    mkdir(dir.File("out").c_str(), 0755);
    std::vector<std::string> args = {"decrypt", "--json", "-d", "out"};
    for (size_t i = 0; i < stems.size(); ++i) {
        Bytes bytes = good;
        if (i == 1) {
            bytes.back() ^= 1;  // "a\xfe.enn" is refused where "a\xff.enn" is not
        }
        WriteFile(dir.File(stems[i] + ".enn"), bytes);
        args.push_back(stems[i] + ".enn");
    }
    const Result r = Enn(dir.path(), args);
    EXPECT_EQ(1, r.status) << r.err;
    TempDir scratch;
    WriteFile(scratch.File("lines"), Text(r.out));
    // For each line: the file's bytes and the output's (from the hex where
    // given, else from the string), the outcome, and whether hex was given.
    const std::string command =
        "python3 -c '"
        "import json,sys\n"
        "def back(o,k):\n"
        " if k+\"_hex\" in o:\n"
        "  return bytes.fromhex(o[k+\"_hex\"]).hex()+\" hex\"\n"
        " return (o[k].encode(\"utf-8\").hex() if k in o else \"-\")+\" text\"\n"
        "for l in open(sys.argv[1],\"rb\"):\n"
        " o=json.loads(l.decode(\"utf-8\",\"strict\"))\n"
        " print(back(o,\"file\"),back(o,\"output\"),o[\"outcome\"])' " +
        scratch.File("lines");
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string parsed;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        parsed.append(buf, n);
    }
    ASSERT_EQ(0, pclose(pipe)) << "a line a strict reader refuses:\n" << r.out;
    const auto hex = [](const std::string& bytes) {
        std::string out;
        char two[3];
        for (unsigned char c : bytes) {
            std::snprintf(two, sizeof two, "%02x", c);
            out += two;
        }
        return out;
    };
    std::istringstream lines(parsed);
    for (size_t i = 0; i < stems.size(); ++i) {
        std::string file, fileForm, output, outputForm, outcome;
        ASSERT_TRUE(lines >> file >> fileForm >> output >> outputForm >> outcome) << parsed;
        const bool utf8 = i >= 14;  // the control characters, quote, backslash, DEL and 付😀
        EXPECT_EQ(hex(stems[i] + ".enn"), file) << i;
        EXPECT_EQ(utf8 ? "text" : "hex", fileForm) << i;
        EXPECT_EQ(i == 1 ? "refused" : "ok", outcome) << i;
        if (i != 1) {
            EXPECT_EQ(hex("out/" + stems[i]), output) << i;
            EXPECT_EQ(utf8 ? "text" : "hex", outputForm) << i;
            EXPECT_TRUE(FileExists(dir.File("out/" + stems[i]))) << i;
        }
    }
    EXPECT_THAT(r.out, HasSubstr("{\"file\":\"a\\ufffd.enn\",\"file_hex\":\"61ff2e656e6e\","));
    EXPECT_THAT(r.out, HasSubstr("{\"file\":\"a\\ufffd.enn\",\"file_hex\":\"61fe2e656e6e\","));
    EXPECT_THAT(r.out, HasSubstr("\"file\":\"\\ufffd\\ufffd\\ufffd.enn\",\"file_hex\":"
                                 "\"eda0802e656e6e\""))
        << "a surrogate is three bytes in error";
    EXPECT_THAT(r.out, HasSubstr("\"file\":\"new\\u000aline.enn\",\"outcome\""));
    EXPECT_THAT(r.out, HasSubstr("\"file\":\"del\\u007f.enn\",\"outcome\""));
}

// Each line of out as JSON, by a JSON parser: its keys, each with a string's
// own text or any other value as JSON writes it. Empty, with a failure, when
// a line is not one JSON object.
using JsonLine = std::map<std::string, std::string>;
std::vector<JsonLine> JsonLines(const std::string& out) {
    TempDir scratch;
    WriteFile(scratch.File("lines"), Text(out));
    const std::string command =
        "python3 -c 'import json,sys\nfor l in open(sys.argv[1],encoding=\"utf-8\"):\n"
        " o=json.loads(l)\n assert isinstance(o,dict)\n"
        " print(\"\\t\".join(k+\"=\"+(v if isinstance(v,str) else json.dumps(v))"
        " for k,v in o.items()))' " +
        scratch.File("lines") + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string parsed;
    char buf[4096];
    for (size_t n; pipe != nullptr && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) {
        parsed.append(buf, n);
    }
    if (pipe == nullptr || pclose(pipe) != 0) {
        ADD_FAILURE() << "not JSON lines:\n" << out;
        return {};
    }
    std::vector<JsonLine> lines;
    std::istringstream in(parsed);
    for (std::string line; std::getline(in, line);) {
        JsonLine fields;
        std::istringstream each(line);
        for (std::string field; std::getline(each, field, '\t');) {
            const size_t eq = field.find('=');
            fields[field.substr(0, eq)] = field.substr(eq + 1);
        }
        lines.push_back(fields);
    }
    return lines;
}

// The device and inode of path, to tell a file left alone from one replaced.
std::string InodeOf(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return "";
    }
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// An output that holds exactly its container's plain data was decrypted by
// an earlier run: done, told so, and left alone. Anything else in its place,
// however close, stays kept and blocks, and --force replaces as before.
TEST_F(EnnTest, AnOutputThatHoldsItsPlainDataIsDoneAndAnyOtherIsKept) {
    const Bytes plain = PseudoRandomBytes(9000, 51);  // three chunks
    Encrypted("c", plain);
    Encrypted("e", {});

    // The very data: done, with the password and the size, file untouched.
    const std::string before = InodeOf(dir.File("c"));
    Result r = Enn(dir.path(), {"decrypt", "--json", "c.enn", "e.enn"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("", r.err);
    EXPECT_EQ(
        "{\"file\":\"c.enn\",\"outcome\":\"ok\",\"fault\":\"ENN_FAULT_NONE\",\"message\":\"done\","
        "\"password\":\"123456\",\"output\":\"c\",\"size\":9000,\"present\":true}\n"
        "{\"file\":\"e.enn\",\"outcome\":\"ok\",\"fault\":\"ENN_FAULT_NONE\",\"message\":\"done\","
        "\"password\":\"123456\",\"output\":\"e\",\"size\":0,\"present\":true}\n",
        r.out);
    EXPECT_EQ(before, InodeOf(dir.File("c")));
    EXPECT_EQ(plain, ReadFile(dir.File("c")));
    r = Enn(dir.path(), {"decrypt", "-p", "c.enn"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("c.enn: already decrypted to c\nc.enn: 123456\n", r.out);

    // Close to it is not it: cut by one byte, one byte more, one byte
    // changed at either end, nothing, or a link to the very data.
    Bytes cut(plain.begin(), plain.end() - 1);
    Bytes longer = plain;
    longer.push_back(0);
    Bytes firstChanged = plain;
    firstChanged.front() ^= 1;
    Bytes lastChanged = plain;
    lastChanged.back() ^= 0x80;
    WriteFile(dir.File("same"), plain);
    for (const Bytes& other : {cut, longer, firstChanged, lastChanged, Bytes()}) {
        WriteFile(dir.File("c"), other);
        const std::string kept = InodeOf(dir.File("c"));
        r = Enn(dir.path(), {"decrypt", "--json", "c.enn"});
        EXPECT_EQ(2, r.status) << other.size();
        EXPECT_EQ(
            "{\"file\":\"c.enn\",\"outcome\":\"blocked\",\"fault\":\"ENN_FAULT_EXISTS\","
            "\"message\":\"already exists\",\"output\":\"c\"}\n",
            r.out);
        EXPECT_EQ("enn: c: already exists; use --force to replace it\n", r.err);
        EXPECT_EQ(other, ReadFile(dir.File("c")));
        EXPECT_EQ(kept, InodeOf(dir.File("c")));
    }
    std::remove(dir.File("c").c_str());
    ASSERT_EQ(0, symlink("same", dir.File("c").c_str()));
    r = Enn(dir.path(), {"decrypt", "c.enn"});
    EXPECT_EQ(2, r.status) << "a link is not read: " << r.out;
    char target[16] = {};
    EXPECT_EQ(4, readlink(dir.File("c").c_str(), target, sizeof target - 1));
    std::remove(dir.File("c").c_str());
    WriteFile(dir.File("e"), Text("x"));
    EXPECT_EQ(2, Enn(dir.path(), {"decrypt", "e.enn"}).status) << "no data is not one byte";

    // A container read from standard input cannot be read twice.
    WriteFile(dir.File("c"), plain);
    const Bytes container = ReadFile(dir.File("c.enn"));
    r = Enn(dir.path(), {"decrypt", "--json", "-", "-o", "c"},
            std::string(container.begin(), container.end()));
    EXPECT_EQ(2, r.status) << r.out;

    // The comparison holds the plain data in the temporary folder: when that
    // fails, the output is neither done nor blocked, and stays as it was.
    setenv("TMPDIR", dir.File("no-such-folder").c_str(), 1);
    r = Enn(dir.path(), {"decrypt", "--json", "c.enn"});
    unsetenv("TMPDIR");
    EXPECT_EQ(3, r.status) << r.out;
    EXPECT_THAT(r.out, HasSubstr("\"outcome\":\"failed\",\"fault\":\"ENN_FAULT_NO_OUTPUT\""));
    EXPECT_THAT(r.err, StartsWith("enn: c: already exists, and could not be compared with the "
                                  "container's data: the temporary file failed ("));
    EXPECT_EQ(plain, ReadFile(dir.File("c")));

    // --force replaces as it always did, and says nothing of what was there.
    // (Against the file it replaces: one removed earlier may have left its
    // inode number to the new file.)
    const std::string replaced = InodeOf(dir.File("c"));
    r = Enn(dir.path(), {"decrypt", "--json", "--force", "c.enn"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_THAT(r.out, Not(HasSubstr("present"))) << r.out;
    EXPECT_NE(replaced, InodeOf(dir.File("c")));
    EXPECT_EQ(plain, ReadFile(dir.File("c")));
}

// Whatever its output holds, a container refused for its own fault is
// refused: it goes back to its sender, not to a person at the output.
TEST_F(EnnTest, AContainerRefusedForItsOwnFaultIsRefusedWhateverItsOutputHolds) {
    int tried = 0;
    for (const Forgery& f : Forgeries()) {
        if (FaultStatus(f.fault) != kExitRefused) {
            continue;
        }
        ++tried;
        const std::string name = "forged" + std::to_string(tried);
        PlaceForgery(f.file, name + ".enn");
        WriteFile(dir.File(name), Text("what an earlier run or a person left here"));
        const Result r = Enn(dir.path(), {"decrypt", "--json", name + ".enn"});
        EXPECT_EQ(1, r.status) << f.file << r.out;
        EXPECT_THAT(r.out, HasSubstr(std::string("\"outcome\":\"refused\",\"fault\":\"") +
                                     EnnFaultName(f.fault) + "\""))
            << f.file;
        EXPECT_THAT(r.out, HasSubstr("\"output\":\"" + name + "\"")) << f.file;
        EXPECT_EQ(Text("what an earlier run or a person left here"), ReadFile(dir.File(name)));
    }
    EXPECT_GT(tried, 10);
}

// The manual's example line of --json: from the line of the built page that
// opens it to the one that closes it, joined, with roff's escapes undone.
std::string ManualExampleLine() {
    const Bytes page = ReadFile(ENN_MAN_PAGE);
    std::istringstream lines(std::string(page.begin(), page.end()));
    std::string joined;
    for (std::string line; std::getline(lines, line);) {
        const size_t start = line.find_first_not_of(' ');
        if (joined.empty() && line.rfind("{\"file\":", 0) != 0) {
            continue;
        }
        joined += line.substr(start);
        if (!joined.empty() && joined.back() == '}') {
            break;
        }
    }
    std::string text;
    for (size_t i = 0; i < joined.size(); ++i) {
        if (joined[i] == '\\' && i + 1 < joined.size() &&
            (joined[i + 1] == 'e' || joined[i + 1] == '-')) {
            text += joined[i + 1] == 'e' ? '\\' : '-';
            ++i;
        } else {
            text += joined[i];
        }
    }
    return text;
}

std::set<std::string> KeysOf(const JsonLine& line) {
    std::set<std::string> keys;
    for (const auto& field : line) {
        keys.insert(field.first);
    }
    return keys;
}

// The manual shows one line with every key that a line of decrypt can
// have: each real line's keys are among its own, and together they are all
// of them.
TEST_F(EnnTest, TheManualsExampleLineHasEveryKeyALineCanHave) {
    const std::string example = ManualExampleLine();
    const std::vector<JsonLine> shown = JsonLines(example + "\n");
    ASSERT_EQ(1u, shown.size()) << "the manual's example: " << example;
    const std::set<std::string> keys = KeysOf(shown[0]);
    EXPECT_EQ("ok", shown.at(0).at("outcome"));
    EXPECT_EQ("true", shown.at(0).at("present"));

    const Bytes plain = PseudoRandomBytes(9000, 71);
    const std::string latin = "caf\xe9.txt";  // not UTF-8
    Encrypted(latin, plain);
    Encrypted("new\xe9", plain);
    PlaceForgery("digest-content-changed.enn", "damaged.enn");
    Encrypted("kept", plain);
    mkdir(dir.File("plain").c_str(), 0755);
    WriteFile(dir.File("plain/" + latin), plain);  // an earlier run's
    WriteFile(dir.File("plain/kept"), Text("other"));
    const Result r = Enn(dir.path(), {"decrypt", "--json", "-p", "-d", "plain", latin + ".enn",
                                      "new\xe9.enn", "damaged.enn", "missing.enn", "kept.enn"});
    EXPECT_EQ(2, r.status) << r.err;
    const std::vector<JsonLine> lines = JsonLines(r.out);
    ASSERT_EQ(5u, lines.size()) << r.out;
    std::set<std::string> seen;
    for (const JsonLine& line : lines) {
        const std::set<std::string> has = KeysOf(line);
        EXPECT_TRUE(std::includes(keys.begin(), keys.end(), has.begin(), has.end()))
            << "a key the manual's line lacks: " << r.out;
        seen.insert(has.begin(), has.end());
    }
    EXPECT_EQ(keys, seen) << example << "\n" << r.out;
    EXPECT_EQ(KeysOf(lines[0]), keys) << "an earlier run's output, under a name not UTF-8";
}

// Keeps a tmpfs of size bytes mounted on path while it lives (root only).
class SmallDisk {
  public:
    SmallDisk(const std::string& path, size_t size) : path_(path) {
        mkdir(path.c_str(), 0755);
        const std::string options = "size=" + std::to_string(size) + ",mode=0755";
        mounted_ = geteuid() == 0 && mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_ && umount(path_.c_str()) != 0) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    long long Free() const {
        struct statvfs vfs;
        return statvfs(path_.c_str(), &vfs) == 0
                   ? static_cast<long long>(vfs.f_bavail) * static_cast<long long>(vfs.f_bsize)
                   : -1;
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

// An intake cut short by a full disk is finished by running the same command
// again once there is room: what an earlier run decrypted is done, what
// failed is done now, and the last run ends with 0 and every output equal
// to its plain file. Other data in an output's place still blocks.
TEST_F(EnnTest, AnIntakeCutShortByAFullDiskIsFinishedByRunningItAgain) {
    constexpr size_t kFiles = 60;
    const std::string full = dir.File("full");
    SmallDisk disk(full, 1024 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    std::vector<std::string> stems;
    std::vector<Bytes> plains;
    std::vector<std::string> args = {"encrypt", "--password-stdin", "-q"};
    for (size_t i = 0; i < kFiles; ++i) {
        stems.push_back("f" + std::to_string(10 + i));
        plains.push_back(PseudoRandomBytes(1500 + 97 * i, static_cast<uint32_t>(60 + i)));
        WriteFile(dir.File(stems[i]), plains[i]);
        args.push_back(stems[i]);
    }
    ASSERT_EQ(0, Enn(dir.path(), args, "123456\n123456\n").status);

    // Room for a few outputs; the fillers go one at a time between runs.
    const long long page = 4096;
    const long long room = 24 * page, second = 40 * page;
    WriteFile(full + "/filler1", Bytes(static_cast<size_t>(second), 1));
    WriteFile(full + "/filler2", Bytes(static_cast<size_t>(disk.Free() - room), 2));
    std::vector<std::string> fillers = {"filler1", "filler2"};

    std::vector<std::string> intake = {"decrypt", "--json", "-p", "-d", "full"};
    for (const std::string& stem : stems) {
        intake.push_back(stem + ".enn");
    }
    std::set<std::string> done;  // outputs on disk
    int status = -1;
    std::string figures;
    for (int run = 1; run <= 5 && status != 0; ++run) {
        const Result r = Enn(dir.path(), intake);
        const std::vector<JsonLine> lines = JsonLines(r.out);
        ASSERT_EQ(kFiles, lines.size()) << r.out;
        size_t ok = 0, present = 0, failed = 0;
        std::set<std::string> now;
        for (size_t i = 0; i < kFiles; ++i) {
            JsonLine line = lines[i];
            const std::string output = "full/" + stems[i];
            EXPECT_EQ(stems[i] + ".enn", line["file"]);
            EXPECT_EQ(output, line["output"]) << "every line names its output";
            if (line["outcome"] == "ok") {
                EXPECT_EQ("ENN_FAULT_NONE", line["fault"]);
                EXPECT_EQ("123456", line["password"]);
                EXPECT_EQ(std::to_string(plains[i].size()), line["size"]);
                const bool was = line.count("present") > 0;
                EXPECT_EQ(was, done.count(stems[i]) > 0) << run << " " << stems[i];
                if (was) {
                    EXPECT_EQ("true", line["present"]);
                }
                ++(was ? present : ok);
                EXPECT_EQ(plains[i], ReadFile(dir.File(output))) << stems[i];
                now.insert(stems[i]);
            } else {
                EXPECT_EQ("failed", line["outcome"]) << stems[i];
                EXPECT_EQ("ENN_FAULT_DISK_FULL", line["fault"]) << stems[i];
                EXPECT_EQ(0u, line.count("present"));
                EXPECT_FALSE(FileExists(dir.File(output))) << "nothing of it left";
                EXPECT_EQ(0u, done.count(stems[i])) << "what was done stays done";
                ++failed;
            }
        }
        status = r.status;
        EXPECT_EQ(failed > 0 ? 3 : 0, status) << r.err;
        std::set<std::string> listed = now;
        listed.insert(fillers.begin(), fillers.end());
        EXPECT_EQ(listed, Listing(full)) << "nothing aside left behind";
        figures += "run " + std::to_string(run) + ": ok " + std::to_string(ok) + ", present " +
                   std::to_string(present) + ", failed " + std::to_string(failed) + ", status " +
                   std::to_string(status) + "\n";
        if (run == 1) {
            EXPECT_GT(ok, 0u);
            EXPECT_GT(failed, 0u) << "the disk must fill up";
        }
        done = now;
        if (status != 0 && !fillers.empty()) {
            std::remove((full + "/" + fillers.front()).c_str());
            fillers.erase(fillers.begin());
        }
    }
    std::printf("%s", figures.c_str());
    RecordProperty("figures", figures);
    ASSERT_EQ(0, status) << figures;
    for (size_t i = 0; i < kFiles; ++i) {
        EXPECT_EQ(plains[i], ReadFile(full + "/" + stems[i])) << stems[i];
    }

    // Other data, or the data cut or lengthened, is no earlier run's work.
    const Bytes& p0 = plains[0];
    Bytes other = p0;
    other[p0.size() / 2] ^= 1;
    Bytes cut(plains[1].begin(), plains[1].end() - 1);
    Bytes longer = plains[2];
    longer.push_back('\n');
    WriteFile(full + "/" + stems[0], other);
    WriteFile(full + "/" + stems[1], cut);
    WriteFile(full + "/" + stems[2], longer);
    const Result r = Enn(dir.path(), intake);
    EXPECT_EQ(2, r.status);
    const std::vector<JsonLine> lines = JsonLines(r.out);
    ASSERT_EQ(kFiles, lines.size());
    for (size_t i = 0; i < kFiles; ++i) {
        JsonLine line = lines[i];
        EXPECT_EQ(i < 3 ? "blocked" : "ok", line["outcome"]) << i;
        EXPECT_EQ(i < 3 ? "ENN_FAULT_EXISTS" : "ENN_FAULT_NONE", line["fault"]) << i;
        EXPECT_EQ(i < 3 ? 0u : 1u, line.count("present")) << i;
    }
    EXPECT_EQ(other, ReadFile(full + "/" + stems[0]));
    EXPECT_EQ(cut, ReadFile(full + "/" + stems[1]));
    EXPECT_EQ(longer, ReadFile(full + "/" + stems[2]));
}

}  // namespace
