#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/encrypt_command.h"
#include "app/version.h"
#include "codec/enn.h"
#include "crypto/key_scramble.h"
#include "reference_container.h"
#include "test_util.h"

namespace {

using ::testing::HasSubstr;
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

// Runs enn in dir with args, feeding input on standard input. The child has no
// controlling terminal, as under a scheduler.
// A file-size limit, when given, makes writes past it fail as on a full disk.
Result Enn(const std::string& dir, const std::vector<std::string>& args,
           const std::string& input = "", rlim_t fileLimit = RLIM_INFINITY) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
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
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The pieces of a container under the built-in key, for damaged and forged ones.
Bytes Chunk(const Bytes& plain) {
    const BuiltInKey key;
    Bytes sealed(16 + plain.size());
    int len = 0;
    EXPECT_EQ(ENN_OK, EnnEncryptChunk(key.get(), plain.data(), static_cast<int>(plain.size()),
                                      sealed.data(), &len));
    sealed.resize(static_cast<size_t>(len));
    return sealed;
}

const char kDigestMessage[] = "\n md5 error !";

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

    TempDir dir;
};

TEST_F(EnnTest, BadUsageExitsWithTwoAndOneLine) {
    WriteFile(dir.File("plain.bin"), Text("x"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"verify"},
        {"decrypt", "a.enn", "b.enn"},
        {"decrypt", "a.enn", "-o"},
        {"decrypt", "a.enn", "--bogus"},
        {"decrypt", "plain.bin"},  // no .enn to drop, no -o
        {"password"},
        {"encrypt", "a", "b"},
        {"encrypt", "--force", "plain.bin"},
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

TEST_F(EnnTest, HelpForTheToolAndEachCommandListsExitStatuses) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"verify", "--help"},
                                               {"decrypt", "-h"},
                                               {"password", "--help"},
                                               {"encrypt", "--help"}}) {
        const Result r = Enn(dir.path(), args);
        EXPECT_EQ(0, r.status);
        EXPECT_THAT(r.out, StartsWith("Usage: enn")) << r.out;
        EXPECT_THAT(r.out, HasSubstr("Exit status:")) << r.out;
        EXPECT_EQ("", r.err);
    }
}

TEST_F(EnnTest, EncryptWritesTheContainerAndPrintsTheWindowsMessage) {
    const Bytes content = PseudoRandomBytes(9000, 7);
    WriteFile(dir.File("batch.txt"), content);
    Result r =
        Enn(dir.path(), {"encrypt", "--password-stdin", "batch.txt"}, "246810\r\n246810\r\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::string(kMsgSuccessLead) + "\"batch.txt.enn\"" + kMsgSuccessTail + "\n", r.out);
    EXPECT_EQ("", r.err);

    r = Enn(dir.path(), {"password", "batch.txt.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("246810\n", r.out);
    r = Enn(dir.path(), {"decrypt", "batch.txt.enn", "-o", "back.txt"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(content, ReadFile(dir.File("back.txt")));
}

TEST_F(EnnTest, EncryptChecksGiveTheWindowsMessagesAndTouchNothing) {
    WriteFile(dir.File("a.txt"), Text("data"));
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"", kMsgNoPassword},
        {"123456\n", kMsgNoConfirm},  // a single line is an empty confirmation
        {"12345\n12345\n", kMsgPasswordLength},
        {"123456\n1234567\n", kMsgConfirmLength},
        {"123456\n654321\n", kMsgMismatch},
        {"12a456\n12a456\n", kMsgNotDigits},
    };
    for (const auto& [input, message] : cases) {
        const Result r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, input);
        EXPECT_EQ(1, r.status) << message;
        EXPECT_EQ(std::string("enn: a.txt: ") + message + "\n", r.err);
        EXPECT_EQ("", r.out);
    }
    const Result r = Enn(dir.path(), {"encrypt", "--password-stdin", ""}, "123456\n123456\n");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::string("enn: ") + kMsgNoPath + "\n", r.err);
    EXPECT_EQ(std::set<std::string>{"a.txt"}, Listing(dir.path()));
}

TEST_F(EnnTest, EncryptTakesTheFileNameExactlyAsGiven) {
    WriteFile(dir.File(" padded.txt "), Text("data"));
    Result r = Enn(dir.path(), {"encrypt", "--password-stdin", " padded.txt "}, "123456\n123456\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ((std::set<std::string>{" padded.txt ", " padded.txt .enn"}), Listing(dir.path()));
    r = Enn(dir.path(), {"encrypt", "--password-stdin", "padded.txt"}, "123456\n123456\n");
    EXPECT_EQ(1, r.status);
    EXPECT_THAT(r.err, StartsWith(std::string("enn: padded.txt: ") + kMsgInputMissing));
}

TEST_F(EnnTest, EncryptNamesWhatIsWrongWithTheFiles) {
    mkdir(dir.File("folder").c_str(), 0755);
    WriteFile(dir.File("a.txt"), Text("data"));
    mkdir(dir.File("a.txt.enn").c_str(), 0755);  // the container's name is taken by a folder
    const std::string pw = "123456\n123456\n";

    Result r = Enn(dir.path(), {"encrypt", "--password-stdin", "missing.txt"}, pw);
    EXPECT_EQ(1, r.status);
    EXPECT_THAT(r.err, StartsWith(std::string("enn: missing.txt: ") + kMsgInputMissing)) << r.err;
    EXPECT_THAT(r.err, HasSubstr("No such file")) << r.err;

    r = Enn(dir.path(), {"encrypt", "--password-stdin", "folder"}, pw);
    EXPECT_EQ(1, r.status);
    EXPECT_THAT(r.err, StartsWith(std::string("enn: folder: ") + kMsgInputMissing)) << r.err;
    EXPECT_THAT(r.err, HasSubstr("directory")) << r.err;

    r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, pw);
    EXPECT_EQ(1, r.status);
    EXPECT_THAT(r.err, StartsWith(std::string("enn: a.txt: ") + kMsgCannotCreate)) << r.err;
    EXPECT_EQ((std::set<std::string>{"a.txt", "a.txt.enn", "folder"}), Listing(dir.path()));
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
    AwaitOutput(master, &seen, kMsgSuccessTail);
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
    const std::string good = Encrypted("good", PseudoRandomBytes(5000, 1));
    Bytes flipped = ReadFile(good);
    flipped[60] ^= 0x01;
    WriteFile(dir.File("flipped.enn"), flipped);
    Bytes upper = ReadFile(good);
    for (int i = 0; i < 32; ++i) {
        upper[i] = static_cast<unsigned char>(std::toupper(upper[i]));
    }
    WriteFile(dir.File("upper.enn"), upper);
    WriteFile(dir.File("empty-digest.enn"), WithDigestHeader({}));  // the header alone
    const Bytes whole = ReadFile(good);
    // Digest renewed, but the last Block one byte short.
    WriteFile(dir.File("cut.enn"), WithDigestHeader(Bytes(whole.begin() + 32, whole.end() - 1)));
    mkdir(dir.File("folder.enn").c_str(), 0755);

    Result r = Enn(dir.path(), {"verify", "good.enn"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("good.enn: intact\n", r.out);

    r = Enn(dir.path(), {"verify", "flipped.enn", "good.enn", "upper.enn", "empty-digest.enn",
                         "cut.enn", "missing.enn", "folder.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("good.enn: intact\nempty-digest.enn: intact\n", r.out);
    EXPECT_EQ(
        "enn: flipped.enn: damaged: the digest header does not match the content\n"
        "enn: upper.enn: damaged: the digest header does not match the content\n"
        "enn: cut.enn: damaged: its size does not fit the chunk layout\n"
        "enn: missing.enn: cannot open: No such file or directory\n"
        "enn: folder.enn: is a directory, not a container\n",
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

    Result r = Enn(dir.path(), {"decrypt", "a.txt.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("enn: a.txt: already exists; use --force to replace it\n", r.err);
    r = Enn(dir.path(), {"decrypt", "a.txt.enn", "-o", "other"});
    EXPECT_EQ(1, r.status);
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
    const std::string good = Encrypted("a", PseudoRandomBytes(4500, 3));
    Bytes damaged = ReadFile(good);
    damaged[100] ^= 0x80;
    WriteFile(dir.File("damaged.enn"), damaged);
    // A digest that matches over a chunk announcing more bytes than it holds,
    // after a good one that the decoder will already have written.
    Bytes body = Chunk(Text("123456**"));
    const Bytes first = Chunk(PseudoRandomBytes(4000, 4));
    body.insert(body.end(), first.begin(), first.end());
    Bytes lying = Chunk(Text("12345678"));
    const Bytes sealedLength = Chunk(Text("99999999"));  // its second Block
    std::copy(sealedLength.begin() + 8, sealedLength.end(), lying.begin());
    body.insert(body.end(), lying.begin(), lying.end());
    WriteFile(dir.File("forged.enn"), WithDigestHeader(body));
    WriteFile(dir.File("a"), Text("kept"));
    const std::set<std::string> before = Listing(dir.path());

    Result r = Enn(dir.path(), {"decrypt", "damaged.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::string(kDigestMessage) + "\n", r.out);
    EXPECT_THAT(r.err, StartsWith("enn: damaged.enn: damaged: the digest header")) << r.err;

    r = Enn(dir.path(), {"decrypt", "damaged.enn", "-o", "a", "--force"});
    EXPECT_EQ(1, r.status);

    r = Enn(dir.path(), {"decrypt", "forged.enn"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_THAT(r.err, StartsWith("enn: forged.enn: damaged: a chunk is not laid out as the "
                                  "encoder writes it; forged not written"));

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

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"decrypt", "a.enn", "-o", "sub", "--force"}, "enn: sub: is a directory"},
        {{"decrypt", "a.enn", "-o", "sub/"}, "enn: sub/: names a directory"},
        {{"decrypt", "a.enn", "-o", "a.enn", "--force"}, "enn: a.enn: is the container itself"},
        {{"decrypt", "a.enn", "-o", "nowhere/out"}, "enn: nowhere/out: cannot create"},
        {{"decrypt", "missing.enn"}, "enn: missing.enn: cannot open: No such file"},
        {{"decrypt", "box.enn"}, "enn: box.enn: is a directory"},
        {{"password", "box.enn"}, "enn: box.enn: is a directory"},
        {{"password", "missing.enn"}, "enn: missing.enn: cannot open"},
    };
    for (const auto& [args, message] : cases) {
        const Result r = Enn(dir.path(), args);
        EXPECT_EQ(1, r.status) << message;
        EXPECT_THAT(r.err, StartsWith(message)) << r.err;
        EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << r.err;
    }
    EXPECT_EQ(original, ReadFile(container));
    EXPECT_EQ((std::set<std::string>{"a", "a.enn", "box.enn", "sub"}), Listing(dir.path()));
}

TEST_F(EnnTest, PasswordRefusesWhatDoesNotHoldSixDigits) {
    WriteFile(dir.File("short.enn"), Bytes(40, 'a'));
    WriteFile(dir.File("letters.enn"), WithDigestHeader(Chunk(Text("12ab56**"))));
    const std::string container = Encrypted("a", Text("plain"), "000123");
    Bytes damagedData = ReadFile(container);
    damagedData.back() ^= 0x01;  // the password itself is unharmed
    WriteFile(dir.File("a.enn"), damagedData);

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
    EXPECT_EQ("000123\n", r.out);
}

TEST_F(EnnTest, FailuresOfTheDiskAreNotTakenForDamage) {
    const std::string container = Encrypted("a", PseudoRandomBytes(200000, 5));
    unlink(dir.File("a").c_str());
    const Result r = Enn(dir.path(), {"decrypt", "a.enn"}, "", 50000);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("enn: a: cannot write (is the disk full?); nothing written\n", r.err);
    EXPECT_EQ(std::set<std::string>{"a.enn"}, Listing(dir.path()));
}

TEST_F(EnnTest, VerifyTellsAForeignKeyAndBadLayoutFromDamage) {
    const Bytes foreign = ReferenceContainer("123456", Text("another build's key"), Text("plain"));
    WriteFile(dir.File("foreign.enn"), foreign);
    const Bytes good = ReadFile(Encrypted("a", Text("plain")));
    Bytes trailing(good.begin() + 32, good.end());
    trailing.resize(trailing.size() + 8, 0);
    WriteFile(dir.File("trailing.enn"), WithDigestHeader(trailing));
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

// Sets a locale for the enn started in this scope.
class Locale {
  public:
    explicit Locale(const char* name) { setenv("LC_ALL", name, 1); }
    ~Locale() { unsetenv("LC_ALL"); }
};

TEST_F(EnnTest, SpeaksChineseUnderAChineseLocaleAndEnglishOtherwise) {
    if (std::setlocale(LC_ALL, "zh_CN.UTF-8") == nullptr) {
        GTEST_SKIP() << "no zh_CN.UTF-8 locale on this machine (tools/setup-debian.sh makes it)";
    }
    std::setlocale(LC_ALL, "C");
    WriteFile(dir.File("a.txt"), Text("data"));
    {
        const Locale chinese("zh_CN.UTF-8");
        Result r = Enn(dir.path(), {"--help"});
        EXPECT_THAT(r.out, StartsWith("用法： enn COMMAND"));
        EXPECT_THAT(r.out, HasSubstr("退出状态："));
        r = Enn(dir.path(), {"verify", "missing.enn"});
        EXPECT_THAT(r.err, StartsWith("enn: missing.enn: 无法打开："));
        r = Enn(dir.path(), {"decrypt", "a.txt"});
        EXPECT_THAT(r.err, HasSubstr("不以 .enn 结尾"));
        // The Encrypt command's own messages are the product's in every locale.
        r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, "12345\n12345\n");
        EXPECT_EQ(std::string("enn: a.txt: ") + kMsgPasswordLength + "\n", r.err);
    }
    const Locale english("C.UTF-8");
    EXPECT_THAT(Enn(dir.path(), {"--help"}).out, StartsWith("Usage: enn COMMAND"));
    Result r = Enn(dir.path(), {"encrypt", "--password-stdin", "a.txt"}, "12345\n12345\n");
    EXPECT_EQ(std::string("enn: a.txt: ") + kMsgPasswordLength + "\n", r.err);
}

TEST_F(EnnTest, VersionIsTheProjects) {
    const Result r = Enn(dir.path(), {"--version"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(std::string("enn ") + VELTRANE_VERSION + "\n", r.out);
}

}  // namespace
