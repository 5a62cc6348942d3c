// Who may open a file while the layer writes it, and what a replacement keeps
// of the file it replaces: its access ACL, its extended attributes, what its
// group may do, and a link that is never written through. Other users are
// acted for real, in children, so these run as root (as CI does) on a file
// system with ACLs and user attributes, and are skipped otherwise.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "as_user.h"
#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "test_util.h"

namespace {

const char kKey[] = "Karsholm payment batch key";
const char kAcl[] = "system.posix_acl_access";

// The value of attribute name on path, or "" when it has none.
std::string Attribute(const std::string& path, const char* name) {
    char value[4096];
    const ssize_t n = lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
}

bool Shell(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

// True when user may open path for reading.
bool Readable(uid_t user, const std::string& path) {
    return AsUser(user, [&] {
               const int fd = open(path.c_str(), O_RDONLY);
               return fd >= 0 ? 0 : 1;
           }) == 0;
}

// What every write into a file of the layer finds: a file any other user
// could open, and whether another user did open it by its name.
int g_wideFiles = 0;
int g_openedByOthers = 0;
ssize_t CheckingWrite(int fd, const void* buf, size_t size) {
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        g_wideFiles += (st.st_mode & 077) != 0;
        char link[64];
        char name[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, name, sizeof name - 1);
        const std::string path(name, n > 0 ? static_cast<size_t>(n) : 0);
        if (geteuid() == 0 && n > 0 && path.find(" (deleted)") == std::string::npos &&
            Readable(kOtherUser, path)) {
            ++g_openedByOthers;
        }
    }
    return write(fd, buf, size);
}

int g_reads = 0;
ssize_t CountingRead(int fd, void* buf, size_t size) {
    ++g_reads;
    return read(fd, buf, size);
}

// fsetxattr failing for the attributes whose names begin with g_refused, as
// on a file system that keeps no ACLs or no user attributes.
const char* g_refused = "";
int RefusingSetAttribute(int fd, const char* name, const void* value, size_t size, int flags) {
    if (std::strncmp(name, g_refused, std::strlen(g_refused)) == 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return fsetxattr(fd, name, value, size, flags);
}

int WriteToNowhere(void*, const unsigned char*, int) {
    return 0;
}

class FileRights : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root, to act as other users";
        }
        previousMask = umask(022);
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
        ASSERT_EQ(chown(home.c_str(), kUser, kUser), 0);
        WriteFile(in, PseudoRandomBytes(30000, 4));
        ASSERT_EQ(EnnEncryptFile("111111", kKey, in.c_str(), out.c_str()), ENN_OK);
        earlier = ReadFile(out);
        WriteFile(plain, {'o', 'l', 'd'});
        if (!Shell("setfacl -m u:" + std::to_string(kOtherUser) + ":r " + plain) ||
            setxattr(plain.c_str(), "user.probe", "x", 1, 0) != 0) {
            GTEST_SKIP() << "no ACLs or user attributes here, or no setfacl";
        }
        Shell("setfacl -b " + plain);
        removexattr(plain.c_str(), "user.probe");
    }
    void TearDown() override {
        EnnRestoreSystemCalls();
        umask(previousMask);
    }

    mode_t previousMask = 022;
    TempDir dir;
    std::string home = dir.File("home");
    std::string in = home + "/batch.txt";
    std::string out = home + "/batch.txt.enn";
    std::string plain = home + "/batch.out";
    Bytes earlier;
};

TEST_F(FileRights, NoFileBeingWrittenOpensForAnyoneButItsWriter) {
    const std::string tmp = dir.File("tmp");  // a shared temporary folder, as /tmp
    ASSERT_EQ(mkdir(tmp.c_str(), 01777), 0);
    ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
    setenv("TMPDIR", tmp.c_str(), 1);
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "with unnamed files" : "without unnamed files");
        EnnRestoreSystemCalls();
        if (!unnamed) {
            g_ennSys.open = OpenWithoutUnnamedFiles;
        }
        g_ennSys.write = CheckingWrite;
        g_wideFiles = g_openedByOthers = 0;
        // The aside file of a replaced private file, of a new file, and the
        // temporary file behind a stream.
        ASSERT_EQ(chmod(plain.c_str(), 0600), 0);
        EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
        EXPECT_EQ(StatOf(plain).st_mode & 0777, 0600u);
        const std::string fresh = home + (unnamed ? "/fresh1" : "/fresh2");
        EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), fresh.c_str()), ENN_OK);
        EXPECT_EQ(StatOf(fresh).st_mode & 0777, 0644u);  // as any new file under umask 022
        EXPECT_EQ(EnnDecryptStream(kKey, out.c_str(), nullptr, 0, nullptr, WriteToNowhere, nullptr,
                                   nullptr, nullptr),
                  ENN_OK);
        EXPECT_EQ(g_wideFiles, 0);
        EXPECT_EQ(g_openedByOthers, 0);
    }
    // The temporary file of a copy in place, in a folder that takes no new file.
    ASSERT_EQ(chown(out.c_str(), kUser, kUser), 0);
    ASSERT_EQ(chmod(home.c_str(), 0555), 0);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  g_ennSys.open = OpenWithoutUnnamedFiles;
                  g_ennSys.write = CheckingWrite;
                  return EnnEncryptStreamPlaced("222222", kKey, in.c_str(), out.c_str(),
                                                ENN_ALLOW_IN_PLACE, nullptr, nullptr, nullptr,
                                                nullptr, nullptr) == ENN_OK &&
                                 g_wideFiles == 0
                             ? 0
                             : 1;
              }));
    // What a kill leaves is its writer's alone.
    ASSERT_EQ(chmod(home.c_str(), 0755), 0);
    EXPECT_EQ(-1, AsUser(0, [&] {
        g_ennSys.open = OpenWithoutUnnamedFiles;
        EnnWriter writer;
        if (EnnCreateAside(plain.c_str(), 0, &writer) == ENN_FAULT_NONE &&
            EnnWriteAll(&writer, "plain text", 10) == ENN_FAULT_NONE) {
            raise(SIGKILL);
        }
        return 1;
    }));
    int left = 0;
    for (const std::string& name : Listing(home)) {
        if (name.rfind(".enn-aside-", 0) == 0) {
            ++left;
            // A folder of its writer's alone, and in it the file, theirs alone too.
            EXPECT_EQ(StatOf(home + "/" + name).st_mode & 07777, 0700u);
            for (const std::string& inside : Listing(home + "/" + name)) {
                EXPECT_EQ(StatOf(home + "/" + name + "/" + inside).st_mode & 0777, 0600u);
            }
        }
    }
    EXPECT_EQ(left, 1);
    unsetenv("TMPDIR");
}

TEST_F(FileRights, AReplacementKeepsTheAccessAclAndAttributesOfTheFileItReplaces) {
    const std::string other = std::to_string(kOtherUser);
    // An ACL that shuts one user out of a file everyone else may read, and
    // one that lets a user write a file its group may only read.
    ASSERT_TRUE(Shell("setfacl -m u:" + other + ":--- " + out));
    ASSERT_TRUE(Shell("setfacl -m u:" + other + ":rw " + plain));
    ASSERT_EQ(setxattr(out.c_str(), "user.intake", "received", 8, 0), 0);
    ASSERT_EQ(setxattr(plain.c_str(), "user.intake", "checked", 7, 0), 0);
    const std::string containerAcl = Attribute(out, kAcl);
    const std::string plainAcl = Attribute(plain, kAcl);
    ASSERT_FALSE(Readable(kOtherUser, out));
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "with unnamed files" : "without unnamed files");
        EnnRestoreSystemCalls();
        if (!unnamed) {
            g_ennSys.open = OpenWithoutUnnamedFiles;
        }
        ASSERT_EQ(EnnEncryptFile("222222", kKey, in.c_str(), out.c_str()), ENN_OK);
        ASSERT_NE(ReadFile(out), earlier);
        EXPECT_EQ(Attribute(out, kAcl), containerAcl);
        EXPECT_EQ(Attribute(out, "user.intake"), "received");
        EXPECT_FALSE(Readable(kOtherUser, out));
        ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
        EXPECT_EQ(ReadFile(plain), ReadFile(in));
        EXPECT_EQ(Attribute(plain, kAcl), plainAcl);
        EXPECT_EQ(StatOf(plain).st_mode & 0777, 0664u);  // the mask, as before
        EXPECT_EQ(Attribute(plain, "user.intake"), "checked");
    }
    // A new file in a folder with a default ACL gets what any new file there
    // gets.
    ASSERT_TRUE(Shell("setfacl -d -m u:" + other + ":r " + home));
    const std::string reference = home + "/reference";
    close(open(reference.c_str(), O_WRONLY | O_CREAT, 0666));
    for (bool unnamed : {true, false}) {
        EnnRestoreSystemCalls();
        if (!unnamed) {
            g_ennSys.open = OpenWithoutUnnamedFiles;
        }
        const std::string fresh = home + (unnamed ? "/fresh1" : "/fresh2");
        ASSERT_EQ(EnnDecryptFile(kKey, out.c_str(), fresh.c_str()), ENN_OK);
        EXPECT_EQ(Attribute(fresh, kAcl), Attribute(reference, kAcl));
        EXPECT_EQ(StatOf(fresh).st_mode & 0777, StatOf(reference).st_mode & 0777);
    }
}

TEST_F(FileRights, WhatANewFileCannotKeepRefusesTheReplacementBeforeAnythingIsRead) {
    ASSERT_TRUE(Shell("setfacl -m u:" + std::to_string(kOtherUser) + ":--- " + out));
    ASSERT_EQ(setxattr(plain.c_str(), "user.intake", "checked", 7, 0), 0);
    const Bytes container = ReadFile(out);
    const std::set<std::string> before = Listing(home);
    g_ennSys.fsetxattr = RefusingSetAttribute;
    g_ennSys.read = CountingRead;
    const struct {
        const char* refused;
        int fault;
    } cases[] = {{"system.posix_acl", ENN_FAULT_ACL_NOT_KEPT},
                 {"user.", ENN_FAULT_ATTRIBUTES_NOT_KEPT}};
    g_refused = cases[0].refused;
    g_reads = 0;
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, cases[0].fault);
    EXPECT_EQ(g_reads, 0);
    EXPECT_EQ(ReadFile(out), container);
    g_refused = cases[1].refused;
    EXPECT_EQ(EnnDecryptFileEx(kKey, out.c_str(), plain.c_str(), ENN_REPLACE_EXISTING, &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, cases[1].fault);
    EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(Listing(home), before);
}

TEST_F(FileRights, AGroupThatCannotBeKeptGetsNoMoreThanEverybodyElseHad) {
    // Another user's file that the caller may write through an ACL entry, its
    // group may read and nobody else may: replaced by the caller, it is in
    // the caller's group, which must not read it as the old group could.
    ASSERT_EQ(chown(plain.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(chmod(plain.c_str(), 0640), 0);
    ASSERT_TRUE(Shell("setfacl -m u:" + std::to_string(kUser) + ":rw " + plain));
    const std::string shared = home + "/shared.out";
    WriteFile(shared, {'o', 'l', 'd'});
    ASSERT_EQ(chown(shared.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0646), 0);
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnDecryptFile(kKey, out.c_str(), plain.c_str()) == ENN_OK &&
                                 EnnDecryptFile(kKey, out.c_str(), shared.c_str()) == ENN_OK
                             ? 0
                             : 1;
              }));
    EXPECT_EQ(StatOf(plain).st_uid, kUser);
    EXPECT_EQ(StatOf(plain).st_gid, kUser);
    constexpr uid_t kUsersGroupMate = 12347;
    EXPECT_NE(
        0, AsUser(
               kUsersGroupMate, [&] { return open(plain.c_str(), O_RDONLY) >= 0 ? 0 : 1; }, kUser));
    EXPECT_EQ(StatOf(shared).st_mode & 0777, 0646u);  // as before: others had what it had
}

TEST_F(FileRights, ALinkIsNeverWrittenThrough) {
    // Another user's file that anyone may write, and links to it that the
    // caller may not replace: in the caller's own read-only folder, and in a
    // sticky folder (with links followed there, as where protected_symlinks
    // is 0).
    const std::string theirs = dir.File("theirs");
    WriteFile(theirs, earlier);
    ASSERT_EQ(chown(theirs.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
    const std::string mine = home + "/link.enn";
    ASSERT_EQ(symlink(theirs.c_str(), mine.c_str()), 0);
    ASSERT_EQ(lchown(mine.c_str(), kUser, kUser), 0);
    ASSERT_EQ(chmod(home.c_str(), 0555), 0);
    const std::string sticky = dir.File("sticky");
    ASSERT_EQ(mkdir(sticky.c_str(), 01777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    const std::string planted = sticky + "/batch.txt.enn";
    ASSERT_EQ(symlink(theirs.c_str(), planted.c_str()), 0);
    ASSERT_EQ(lchown(planted.c_str(), kOtherUser, kOtherUser), 0);
    for (const std::string& link : {mine, planted}) {
        SCOPED_TRACE(link);
        for (bool unnamed : {true, false}) {
            EXPECT_EQ(0, AsUser(kUser, [&] {
                          if (!unnamed) {
                              g_ennSys.open = OpenWithoutUnnamedFiles;
                          }
                          int fault = 0;
                          return EnnEncryptFileEx("222222", kKey, in.c_str(), link.c_str(),
                                                  &fault) == ENN_ERR_CREATE_OUTPUT &&
                                         fault == ENN_FAULT_DENIED
                                     ? 0
                                     : 1;
                      }));
        }
        EXPECT_EQ(ReadFile(theirs), earlier);
        EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode));
    }
    ASSERT_EQ(chmod(home.c_str(), 0755), 0);
}

TEST_F(FileRights, AMountPointIsToldAsSuch) {
    g_ennSys.rename = [](const char*, const char*) {
        errno = EBUSY;  // what rename() says of a bind-mounted file
        return -1;
    };
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("222222", kKey, in.c_str(), out.c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_MOUNT_POINT);
    EXPECT_EQ(ReadFile(out), earlier);
}

// An unprivileged caller cannot so much as list the trusted.* attributes
// that root set on their file: a replacement keeps what its caller can see,
// and only that. Root's own replacement keeps them too.
TEST_F(FileRights, AReplacementKeepsOnlyTheAttributesItsCallerCanSee) {
    ASSERT_EQ(chown(plain.c_str(), kUser, kUser), 0);
    ASSERT_EQ(setxattr(plain.c_str(), "user.intake", "checked", 7, 0), 0);
    if (setxattr(plain.c_str(), "trusted.intake", "root's", 6, 0) != 0) {
        GTEST_SKIP() << "no trusted attributes here";
    }
    EXPECT_EQ(EnnDecryptFile(kKey, out.c_str(), plain.c_str()), ENN_OK);
    EXPECT_EQ(Attribute(plain, "trusted.intake"), "root's");
    EXPECT_EQ(Attribute(plain, "user.intake"), "checked");
    EXPECT_EQ(0, AsUser(kUser, [&] {
                  return EnnDecryptFile(kKey, out.c_str(), plain.c_str()) == ENN_OK ? 0 : 1;
              }));
    EXPECT_EQ(ReadFile(plain), ReadFile(in));
    EXPECT_EQ(Attribute(plain, "user.intake"), "checked");
    EXPECT_EQ(Attribute(plain, "trusted.intake"), "");
}

}  // namespace
#endif
