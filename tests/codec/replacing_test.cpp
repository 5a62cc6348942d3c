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
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <map>
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

// A folder that takes no new file has its files replaced only by a copy in
// place, where the caller allows it; else nothing is read or written.
TEST_F(Replacing, AFolderThatTakesNoNewFileHasItsFilesReplacedInPlaceByConsent) {
    WriteFile(plain, {'o', 'l', 'd'});
    Own(plain, kUser, 0640);
    Own(out, kUser, 0644);
    const ino_t container = StatOf(out).st_ino;
    ASSERT_EQ(chmod(home.c_str(), 0555), 0);
    for (bool unnamed : {true, false}) {
        EXPECT_EQ(0, AsUser(kUser,
                            [&] {
                                if (!unnamed) {
                                    g_ennSys.open = OpenWithoutUnnamedFiles;
                                }
                                g_ennSys.read = CountingRead;
                                const Bytes was = ReadFile(out);
                                int fault = 0;
                                if (EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(),
                                                     &fault) != ENN_ERR_CREATE_OUTPUT ||
                                    fault != ENN_FAULT_IN_PLACE_ONLY || g_reads != 0 ||
                                    ReadFile(out) != was) {
                                    return 6;
                                }
                                if (EnnEncryptStreamPlaced("222222", kKey, in.c_str(), out.c_str(),
                                                           ENN_ALLOW_IN_PLACE, nullptr, nullptr,
                                                           nullptr, nullptr, nullptr) != ENN_OK) {
                                    return 1;
                                }
                                char password[7] = {};
                                if (EnnReadPassword(kKey, out.c_str(), password) != ENN_OK ||
                                    std::string(password) != "222222") {
                                    return 2;
                                }
                                if (EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(),
                                                     ENN_ALLOW_IN_PLACE, nullptr) != ENN_OK) {
                                    return 3;
                                }
                                // Nothing new can be made there, and an existing file
                                // that is to be kept is kept.
                                if (EnnDecryptFileEx(kKey, out.c_str(), (home + "/new").c_str(),
                                                     ENN_ALLOW_IN_PLACE,
                                                     &fault) != ENN_ERR_CREATE_OUTPUT ||
                                    fault != ENN_FAULT_DENIED) {
                                    return 4;
                                }
                                if (EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(),
                                                     ENN_KEEP_EXISTING | ENN_ALLOW_IN_PLACE,
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

// A sticky folder lets a writable file of another user be rewritten in
// place, by consent; without it the file stays as it was.
TEST_F(Replacing, AStickyFolderLetsAWritableFileOfAnotherUserBeRewrittenByConsent) {
    const std::string shared = dir.File("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string theirs = shared + "/batch.txt.enn";
    WriteFile(theirs, earlier);
    Own(theirs, kOtherUser, 0666);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  int fault = 0;
                  return EnnEncryptFileEx("222222", kKey, in.c_str(), theirs.c_str(), &fault) ==
                                     ENN_ERR_CREATE_OUTPUT &&
                                 fault == ENN_FAULT_IN_PLACE_ONLY
                             ? 0
                             : 1;
              }));
    EXPECT_EQ(ReadFile(theirs), earlier);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnEncryptStreamPlaced("222222", kKey, in.c_str(), theirs.c_str(),
                                                ENN_ALLOW_IN_PLACE, nullptr, nullptr, nullptr,
                                                nullptr, nullptr) == ENN_OK
                             ? 0
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

// Counts the names removed while a file of this process has them open.
int g_removedOpen = 0;
int UnlinkCounting(const char* path) {
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        g_removedOpen += std::filesystem::read_symlink(fd.path(), error) == path ? 1 : 0;
    }
    return unlink(path);
}

// A FUSE file system keeps a file removed while open under another name, and
// its private folder could not go: every file is closed before its name goes.
TEST_F(Replacing, NoNameIsRemovedWhileItsFileIsOpen) {
    Bytes damaged = earlier;
    damaged.back() ^= 1;
    WriteFile(plain, damaged);
    g_ennSys.open = OpenWithoutUnnamedFiles;
    g_ennSys.unlink = UnlinkCounting;
    EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), (home + "/new").c_str()), ENN_OK);
    EXPECT_EQ(
        EnnDecryptFileEx(kKey, out.c_str(), (home + "/kept").c_str(), ENN_KEEP_EXISTING, nullptr),
        ENN_OK);
    EXPECT_EQ(
        EnnDecryptFileEx(kKey, plain.c_str(), (home + "/none").c_str(), ENN_NO_DIAGNOSTIC, nullptr),
        ENN_ERR_DIGEST);
    EXPECT_EQ(g_removedOpen, 0);
    EXPECT_EQ(Listing(home),
              (std::set<std::string>{"batch.out", "batch.txt", "batch.txt.enn", "kept", "new"}));
}

// Kills a writer of user's aside file in folder where there are no unnamed
// files, part-way; its process number.
pid_t KilledWriter(const std::string& folder, uid_t user) {
    const pid_t child = fork();
    if (child == 0) {
        if (user != 0 && (setresgid(user, user, user) != 0 || setresuid(user, user, user))) {
            _exit(99);
        }
        g_ennSys.open = OpenWithoutUnnamedFiles;
        EnnWriter writer;
        if (EnnCreateAside((folder + "/plain").c_str(), 0, &writer) == ENN_FAULT_NONE &&
            EnnWriteAll(&writer, "plain text", 10) == ENN_FAULT_NONE) {
            raise(SIGKILL);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? child : -1;
}

// Every entry under root, by its path, as lstat sees it, with a regular
// file's content.
std::map<std::string, std::pair<struct stat, Bytes>> Tree(const std::string& root) {
    std::map<std::string, std::pair<struct stat, Bytes>> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string path = entry.path().string();
        const struct stat st = StatOf(path);
        tree[path] = {st, S_ISREG(st.st_mode) ? ReadFile(path) : Bytes()};
    }
    return tree;
}

// A write removes what its user's killed writers left beside it, and nothing
// else: every entry planted to pose as such a leftover stays exactly as it was
// (content, time, inode), as does every other file but the write's output.
TEST_F(Replacing, AWriteRemovesItsUsersKilledWritersLeftoversAndNothingElse) {
    const pid_t dead = KilledWriter(home, kUser);
    ASSERT_GT(dead, 0);
    const std::string leftover = home + "/" + *Listing(home).begin();
    ASSERT_GT(KilledWriter(home, 0), 0);  // root's stays
    const std::string pub = dir.File("pub");
    const std::string mark = "/.enn-aside-" + std::to_string(dead) + "-";
    const auto plant = [&](const std::string& folder, int n, uid_t owner, mode_t mode) {
        const std::string planted = folder + mark + std::to_string(n);
        EXPECT_EQ(mkdir(planted.c_str(), mode), 0);
        EXPECT_EQ(chown(planted.c_str(), owner, owner), 0);
        EXPECT_EQ(chmod(planted.c_str(), mode), 0);
        return planted;
    };
    const auto ownFile = [&](const std::string& path, uid_t owner) {
        WriteFile(path, {'m', 'i', 'n', 'e'});
        Own(path, owner, 0600);
    };
    for (mode_t mode : {0755, 0777}) {
        ownFile(plant(home, mode, kUser, mode) + "/file", kUser);
    }
    ownFile(plant(home, 1, kOtherUser, 0700) + "/file", kOtherUser);
    ownFile(plant(home, 2, kUser, 0700) + "/file", kOtherUser);
    const std::string fifo = plant(home, 3, kUser, 0700) + "/file";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Own(fifo, kUser, 0600);
    ownFile(home + "/ledger", kUser);
    ASSERT_EQ(link((home + "/ledger").c_str(), (plant(home, 4, kUser, 0700) + "/file").c_str()), 0);
    const std::string renamed = plant(home, 5, kUser, 0700);
    ownFile(renamed + "/file", kUser);
    ownFile(renamed + "/notes", kUser);
    const std::string acl = plant(home, 6, kUser, 0700);
    ownFile(acl + "/file", kUser);
    ASSERT_TRUE(
        std::system(("setfacl -m u:" + std::to_string(kOtherUser) + ":--- " + acl).c_str()) == 0);
    // A live writer in another PID namespace: its number looks dead here.
    const std::string live = plant(home, 7, kUser, 0700);
    ownFile(live + "/file", kUser);
    const int locked = open(live.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(locked, LOCK_EX), 0);
    // The owner of a sticky folder renames a user's folder into the mark.
    ASSERT_EQ(mkdir(pub.c_str(), 01777), 0);
    Own(pub, kOtherUser, 01777);
    const std::string theirs = plant(pub, 8, kUser, 0700);
    ownFile(theirs + "/file", kUser);
    ASSERT_EQ(rename(theirs.c_str(), (pub + "/sub").c_str()), 0);
    ASSERT_EQ(0,
              AsUser(kOtherUser, [&] { return rename((pub + "/sub").c_str(), theirs.c_str()); }));

    auto before = Tree(dir.path());
    for (const std::string& folder : {home, pub}) {
        EXPECT_EQ(0, AsUser(kUser, [&] {
                      return EnnEncryptFile("222222", kKey, in.c_str(),
                                            (folder + "/x.enn").c_str());
                  }));
    }
    close(locked);
    auto after = Tree(dir.path());
    for (const std::string& folder : {home, pub}) {  // their entries are checked one by one
        ASSERT_EQ(after.erase(folder + "/x.enn"), 1u);
        after[folder].first.st_mtim = before[folder].first.st_mtim;
        after[folder].first.st_nlink = before[folder].first.st_nlink;
    }
    std::set<std::string> gone;
    for (auto& [path, was] : before) {
        const auto now = after.find(path);
        if (now == after.end()) {
            gone.insert(path);
            continue;
        }
        const struct stat& a = was.first;
        const struct stat& b = now->second.first;
        EXPECT_TRUE(a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_uid == b.st_uid &&
                    a.st_nlink == b.st_nlink && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
                    a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && was.second == now->second.second)
            << path;
    }
    EXPECT_EQ(gone, (std::set<std::string>{leftover, leftover + "/file"}));
    EXPECT_EQ(after.size() + gone.size(), before.size());
}

// Where the file system has no locks, no sweep can tell a live writer's folder
// from a leftover, and leaves it.
TEST_F(Replacing, WithoutLocksLeftoversStay) {
    ASSERT_GT(KilledWriter(home, kUser), 0);
    std::set<std::string> left = Listing(home);
    const auto write = [&](bool locks) {
        return AsUser(kUser, [&] {
            if (!locks) {
                g_ennSys.flock = [](int, int) {
                    errno = EOPNOTSUPP;
                    return -1;
                };
            }
            return EnnEncryptFile("222222", kKey, in.c_str(), (home + "/y.enn").c_str());
        });
    };
    EXPECT_EQ(write(false), 0);
    left.insert("y.enn");
    EXPECT_EQ(Listing(home), left);
    EXPECT_EQ(write(true), 0);
    EXPECT_EQ(Listing(home).size(), left.size() - 1);
}

}  // namespace
#endif
