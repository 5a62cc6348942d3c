// What replacing a file keeps of it: its owner, group and permission bits (as
// far as the caller may set them, and never setuid, setgid or sticky), its
// read-only refusal, its place in a folder that takes no new file; and what
// the layer leaves behind when a writer is killed. Ownership and permissions
// are tested for real, in children dropped to other users, so these run as
// root (as CI does) and are skipped otherwise.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "test_util.h"
#ifndef _WIN32
#include "as_user.h"
#endif

#ifndef _WIN32
namespace {

const char kKey[] = "Karsholm payment batch key";

int g_reads = 0;
ssize_t CountingRead(int fd, void* buf, size_t size) {
    ++g_reads;
    return read(fd, buf, size);
}

class Replacing : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root, to act as other users";
        }
        // The users' folder: theirs, inside the root-only temporary folder.
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        ASSERT_EQ(chown(home.c_str(), kUser, kUser), 0);
        WriteFile(in, PseudoRandomBytes(30000, 4));
        ASSERT_EQ(chown(in.c_str(), kUser, kUser), 0);
        ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), out.c_str()), ENN_OK);
        earlier = ReadFile(out);
    }
    void TearDown() override { EnnRestoreSystemCalls(); }

    // Makes path the user's, with mode.
    void Own(const std::string& path, uid_t user, mode_t mode) {
        ASSERT_EQ(chown(path.c_str(), user, user), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    TempDir dir;
    std::string home = dir.File("home");
    std::string in = home + "/batch.txt";
    std::string out = home + "/batch.txt.enn";
    std::string plain = home + "/batch.out";
    Bytes earlier;
};

TEST_F(Replacing, RootKeepsTheOwnerAndModeButNeverSetuidSetgidOrSticky) {
    // Decrypting over a user's setuid program must not leave a root-owned one.
    WriteFile(plain, {'o', 'l', 'd'});
    Own(plain, kUser, 06755);
    ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
    struct stat st = StatOf(plain);
    EXPECT_EQ(st.st_uid, kUser);
    EXPECT_EQ(st.st_gid, kUser);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadFile(plain), ReadFile(in));

    // Re-encrypting a user's private container leaves it theirs to read.
    Own(out, kUser, 01600);
    ASSERT_EQ(EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()), ENN_OK);
    st = StatOf(out);
    EXPECT_EQ(st.st_uid, kUser);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(0, AsUser(kUser, [&] { return EnnVerifyFile(kKey, out.c_str()) == ENN_OK ? 0 : 1; }));
}

TEST_F(Replacing, AUserReplacingAnotherUsersFileMakesItTheirs) {
    // Where the caller may not give the file away, it is theirs, as a new one.
    Own(out, kOtherUser, 0666);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()) == ENN_OK ? 0 : 1;
              }));
    const struct stat st = StatOf(out);
    EXPECT_EQ(st.st_uid, kUser);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(Replacing, AReadOnlyTargetIsRefusedBeforeAnythingIsRead) {
    Own(out, kUser, 0444);
    WriteFile(plain, {'k', 'e', 'p', 't'});
    Own(plain, kUser, 0444);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  g_ennSys.read = CountingRead;
                  int fault = 0;
                  if (EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault) !=
                          ENN_ERR_CREATE_OUTPUT ||
                      fault != ENN_FAULT_READ_ONLY || g_reads != 0) {
                      return 1;
                  }
                  if (EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), ENN_REPLACE_EXISTING,
                                       &fault) != ENN_ERR_CREATE_OUTPUT ||
                      fault != ENN_FAULT_READ_ONLY) {
                      return 2;
                  }
                  return 0;
              }));
    EXPECT_EQ(ReadFile(out), earlier);
    EXPECT_EQ(ReadFile(plain), Bytes({'k', 'e', 'p', 't'}));
    EXPECT_EQ(StatOf(out).st_mode & 0777, 0444u);
    EXPECT_EQ(Listing(home).size(), 3u);
}

TEST_F(Replacing, AFolderThatTakesNoNewFileStillHasItsFilesReplacedInPlace) {
    WriteFile(plain, {'o', 'l', 'd'});
    Own(plain, kUser, 0640);
    Own(out, kUser, 0644);
    const ino_t container = StatOf(out).st_ino;
    ASSERT_EQ(chmod(home.c_str(), 0555), 0);
    for (bool unnamed : {true, false}) {
        EXPECT_EQ(
            0, AsUser(kUser,
                      [&] {
                          if (!unnamed) {
                              g_ennSys.open = OpenWithoutUnnamedFiles;
                          }
                          if (EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()) != ENN_OK) {
                              return 1;
                          }
                          char password[7] = {};
                          if (EnnReadPassword(kKey, out.c_str(), password) != ENN_OK ||
                              std::string(password) != "222222") {
                              return 2;
                          }
                          if (EnnDecryptFile(kKey, out.c_str(), plain.c_str()) != ENN_OK) {
                              return 3;
                          }
                          // Nothing new can be made there, and an existing file
                          // that is to be kept is kept.
                          int fault = 0;
                          if (EnnDecryptFileEx(kKey, out.c_str(), (home + "/new").c_str(),
                                               ENN_REPLACE_EXISTING,
                                               &fault) != ENN_ERR_CREATE_OUTPUT ||
                              fault != ENN_FAULT_DENIED) {
                              return 4;
                          }
                          if (EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), ENN_KEEP_EXISTING,
                                               &fault) != ENN_ERR_CREATE_OUTPUT ||
                              fault != ENN_FAULT_EXISTS) {
                              return 5;
                          }
                          return 0;
                      }))
            << (unnamed ? "with" : "without") << " unnamed files";
    }
    EXPECT_EQ(StatOf(out).st_ino, container);  // the same file, new content
    EXPECT_EQ(ReadFile(plain), ReadFile(in));
    EXPECT_EQ(StatOf(plain).st_mode & 0777, 0640u);
    EXPECT_EQ(Listing(home).size(), 3u);
}

TEST_F(Replacing, AStickyFolderLetsAWritableFileOfAnotherUserBeRewritten) {
    const std::string shared = dir.File("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string theirs = shared + "/batch.txt.enn";
    WriteFile(theirs, earlier);
    Own(theirs, kOtherUser, 0666);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnEncryptFile("222222", kKey, in.c_str(), theirs.c_str()) == ENN_OK ? 0
                                                                                              : 1;
              }));
    EXPECT_EQ(StatOf(theirs).st_uid, kOtherUser);
    EXPECT_NE(ReadFile(theirs), earlier);
    ASSERT_EQ(chmod(theirs.c_str(), 0644), 0);  // now only theirs to write
    int fault = 0;
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnEncryptFileEx("111111", kKey, in.c_str(), theirs.c_str(), &fault) ==
                                 ENN_ERR_CREATE_OUTPUT
                             ? 0
                             : 1;
              }));
    EXPECT_EQ(Listing(shared).size(), 1u);
}

TEST_F(Replacing, EachCauseOfAFailedOutputHasItsOwnFault) {
    int fault = 0;
    const struct {
        std::string output;
        int fault;
    } cases[] = {
        {home + "/" + std::string(256, 'n'), ENN_FAULT_NAME_TOO_LONG},
        {home + "/no/such/folder", ENN_FAULT_NO_FOLDER},
        {in + "/under-a-file", ENN_FAULT_NO_FOLDER},
        {home, ENN_FAULT_OUTPUT_FOLDER},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), c.output.c_str(), &fault),
                  ENN_ERR_CREATE_OUTPUT)
            << c.output;
        EXPECT_EQ(fault, c.fault) << c.output;
        EXPECT_EQ(
            EnnDecryptFileEx(kKey, out.c_str(), c.output.c_str(), ENN_REPLACE_EXISTING, &fault),
            ENN_ERR_CREATE_OUTPUT)
            << c.output;
        EXPECT_EQ(fault, c.fault) << c.output;
    }
    ASSERT_EQ(chmod(home.c_str(), 0555), 0);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  int why = 0;
                  return EnnEncryptFileEx("222222", kKey, in.c_str(), (home + "/x.enn").c_str(),
                                          &why) == ENN_ERR_CREATE_OUTPUT &&
                                 why == ENN_FAULT_DENIED
                             ? 0
                             : 1;
              }));
    ASSERT_EQ(chmod(in.c_str(), 0), 0);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  int why = 0;
                  return EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &why) ==
                                     ENN_ERR_OPEN_INPUT &&
                                 why == ENN_FAULT_INPUT_DENIED
                             ? 0
                             : 1;
              }));
}

TEST_F(Replacing, AReadErrorIsNotTakenForAnotherKey) {
    g_ennSys.read = [](int, void*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    char password[7] = "xxxxxx";
    int fault = 0;
    EXPECT_EQ(EnnReadPasswordEx(kKey, out.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_READ);
    EnnRestoreSystemCalls();
    EXPECT_EQ(EnnReadPasswordEx("another key entirely", out.c_str(), password, &fault),
              ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_FOREIGN_KEY);
    WriteFile(plain, Bytes(40, 'x'));
    EXPECT_EQ(EnnReadPasswordEx(kKey, plain.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_NOT_CONTAINER);
    WriteFile(plain, Bytes(40, 'a'));  // a digest's text, then too little
    EXPECT_EQ(EnnReadPasswordEx(kKey, plain.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_TOO_SHORT);
    EXPECT_EQ(std::string(password), "xxxxxx");
}

// Every name the folder accepts works: aside files take short names of
// their own, whatever the name they stand in for.
TEST_F(Replacing, NamesUpToTheLongestTheFolderAcceptsWork) {
    for (bool unnamed : {true, false}) {
        EnnRestoreSystemCalls();
        if (!unnamed) {
            g_ennSys.open = OpenWithoutUnnamedFiles;
        }
        for (size_t length : {232u, 240u, 251u}) {
            const std::string file = home + "/" + std::string(length, 'f');
            WriteFile(file, PseudoRandomBytes(5000, 6));
            const std::string container = file + ENN_EXTENSION;
            EXPECT_EQ(EnnEncryptFile("222222", kKey, file.c_str(), container.c_str()), ENN_OK)
                << length;
            EXPECT_EQ(EnnEncryptFile("333333", kKey, file.c_str(), container.c_str()), ENN_OK)
                << length << ", replacing";
            ASSERT_EQ(unlink(file.c_str()), 0);
            ASSERT_EQ(unlink(container.c_str()), 0);
        }
        for (size_t length : {236u, 250u, 255u}) {
            const std::string output = home + "/" + std::string(length, 'o');
            EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), output.c_str()), ENN_OK) << length;
            EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), output.c_str()), ENN_OK)
                << length << ", replacing";
            EXPECT_EQ(ReadFile(output), ReadFile(in));
            ASSERT_EQ(unlink(output.c_str()), 0);
        }
    }
    EXPECT_EQ(Listing(home).size(), 2u);
}

// Where there are no unnamed files, what a killed writer left is removed by
// the next write into that folder: its own user's files of gone processes
// only.
TEST_F(Replacing, LeftoversOfKilledWritersGoWithTheNextWrite) {
    const auto killedWriter = [&](uid_t user) {
        const pid_t child = fork();
        if (child == 0) {
            if (user != 0 && (setresgid(user, user, user) != 0 || setresuid(user, user, user))) {
                _exit(99);
            }
            g_ennSys.open = OpenWithoutUnnamedFiles;
            EnnWriter writer;
            if (EnnCreateAside(plain.c_str(), &writer) != ENN_FAULT_NONE ||
                EnnWriteAll(&writer, "plain text", 10) != ENN_FAULT_NONE) {
                _exit(1);
            }
            raise(SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    };
    ASSERT_TRUE(killedWriter(0));
    ASSERT_TRUE(killedWriter(kUser));
    ASSERT_EQ(Listing(home).size(), 4u);
    // One of a process still running stays.
    const std::string running =
        home + "/.enn-aside-" + std::to_string(static_cast<long>(getppid())) + "-00000000";
    WriteFile(running, {'x'});

    // The next writes, each a process of its own (a process sweeps a folder
    // once), happen where there are no unnamed files either.
    g_ennSys.open = OpenWithoutUnnamedFiles;
    ASSERT_EQ(0, AsUser(0, [&] {
                  return EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()) == ENN_OK ? 0 : 1;
              }));
    Own(out, kUser, 0644);
    std::set<std::string> left = Listing(home);
    EXPECT_EQ(left.size(), 4u);  // the user's leftover and the running one stay
    EXPECT_EQ(
        left.count(".enn-aside-" + std::to_string(static_cast<long>(getppid())) + "-00000000"), 1u);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnEncryptFile("333333", kKey, in.c_str(), out.c_str()) == ENN_OK ? 0 : 1;
              }));
    EXPECT_EQ(Listing(home).size(), 3u);  // the user's own went with their write
}

}  // namespace
#endif
