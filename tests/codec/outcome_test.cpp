// One outcome wherever it strikes: the order in which the decoder tells what
// is wrong, a full disk told by where it strikes (the output cannot be made,
// or a write failed part-way), and the one rule for a full table of aside
// files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "codec/enn_workers.h"
#include "test_util.h"
#ifndef _WIN32
#include <pthread.h>
#include <sys/mount.h>

#include "as_user.h"
#endif

namespace {

const char kKey[] = "Karsholm payment batch key";

Bytes Concat(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// The sealed chunk of n bytes of c under kKey.
Bytes Chunk(int n, unsigned char c) {
    const Bytes plain(static_cast<size_t>(n), c);
    Bytes sealed(static_cast<size_t>(16 + n));
    int len = 0;
    EXPECT_EQ(EnnEncryptChunk(kKey, plain.data(), n, sealed.data(), &len), ENN_OK);
    sealed.resize(static_cast<size_t>(len));
    return sealed;
}

class Outcome : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(in, PseudoRandomBytes(9000, 11));
        ASSERT_EQ(EnnEncryptFile("123456", kKey, in.c_str(), good.c_str()), ENN_OK);
    }
    void TearDown() override { EnnRestoreSystemCalls(); }

    // body (everything after the header) of the good container.
    Bytes Body() const {
        const Bytes whole = ReadFile(good);
        return Bytes(whole.begin() + ENN_HEADER_SIZE, whole.end());
    }

    TempDir dir;
    std::string in = dir.File("batch.txt");
    std::string good = dir.File("batch.txt.enn");
};

TEST_F(Outcome, TheDecoderTellsDamageThenTheOutputThenAChunkThatWillNotDecode) {
    const Bytes body = Body();
    const Bytes password(body.begin(), body.begin() + 16);
    ASSERT_EQ(EnnEncryptFile("123456", "another key entirely", in.c_str(),
                             dir.File("foreign.enn").c_str()),
              ENN_OK);
    Bytes flipped = ReadFile(good);
    flipped[100] ^= 1;
    const struct {
        const char* what;
        Bytes container;
        int result;  // with an output that cannot be made
        int fault;
    } cases[] = {
        {"a 5-byte trailing piece", WithDigestHeader(Concat(body, Bytes(5, 'x'))),
         ENN_ERR_CREATE_OUTPUT, ENN_FAULT_NO_FOLDER},
        {"a short chunk before a full one",
         WithDigestHeader(Concat(Concat(password, Chunk(3000, 'y')), Chunk(4000, 'z'))),
         ENN_ERR_CREATE_OUTPUT, ENN_FAULT_NO_FOLDER},
        {"another key", ReadFile(dir.File("foreign.enn")), ENN_ERR_CREATE_OUTPUT,
         ENN_FAULT_NO_FOLDER},
        {"damage", flipped, ENN_ERR_DIGEST, ENN_FAULT_DIGEST},
    };
    const std::string nowhere = dir.File("no/such/folder/batch.out");
    for (const auto& c : cases) {
        const std::string path = dir.File("case.enn");
        WriteFile(path, c.container);
        int fault = 0;
        EXPECT_EQ(EnnDecryptFileEx(kKey, path.c_str(), nowhere.c_str(), ENN_NO_DIAGNOSTIC, &fault),
                  c.result)
            << c.what;
        EXPECT_EQ(fault, c.fault) << c.what;
        // With an output that can be made, the chunk's own fault.
        EXPECT_NE(EnnDecryptFileEx(kKey, path.c_str(), dir.File("out").c_str(), ENN_NO_DIAGNOSTIC,
                                   &fault),
                  ENN_OK)
            << c.what;
        EXPECT_FALSE(FileExists(dir.File("out")));
    }
}

#ifndef _WIN32
// A full disk through the table of system calls: the call named fails with
// ENOSPC.
int g_failOn = 0;
enum { kOnCreate = 1, kOnWrite, kOnFlush, kOnPlace };

int FullOpen(const char* path, int flags, mode_t mode) {
    if (g_failOn == kOnCreate && (flags & O_CREAT) != 0) {
        errno = ENOSPC;
        return -1;
    }
    if (g_failOn == kOnCreate && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;  // so that the named file is tried, and fails
        return -1;
    }
    return open(path, flags, mode);
}
ssize_t FullWrite(int fd, const void* buf, size_t size) {
    if (g_failOn == kOnWrite) {
        errno = ENOSPC;
        return -1;
    }
    return write(fd, buf, size);
}
int FullFsync(int fd) {
    if (g_failOn == kOnFlush) {
        errno = ENOSPC;
        return -1;
    }
    return fsync(fd);
}
int FullRename(const char* from, const char* to) {
    if (g_failOn == kOnPlace) {
        errno = ENOSPC;
        return -1;
    }
    return rename(from, to);
}

TEST_F(Outcome, AFullDiskCannotCreateTheOutputOrFailsAWritePartWay) {
    const Bytes container = ReadFile(good);
    const std::string plain = dir.File("batch.out");
    WriteFile(plain, {'o', 'l', 'd'});
    g_ennSys.open = FullOpen;
    g_ennSys.write = FullWrite;
    g_ennSys.fsync = FullFsync;
    g_ennSys.rename = FullRename;
    for (int where : {kOnCreate, kOnWrite, kOnFlush, kOnPlace}) {
        g_failOn = where;
        const int result = where == kOnCreate ? ENN_ERR_CREATE_OUTPUT : ENN_ERR_GENERIC;
        int fault = 0;
        EXPECT_EQ(EnnEncryptFileEx("654321", kKey, in.c_str(), good.c_str(), &fault), result)
            << where;
        EXPECT_EQ(fault, ENN_FAULT_DISK_FULL) << where;
        EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), plain.c_str(), 0, &fault), result) << where;
        EXPECT_EQ(fault, ENN_FAULT_DISK_FULL) << where;
        EXPECT_EQ(ReadFile(good), container);
        EXPECT_EQ(ReadFile(plain), Bytes({'o', 'l', 'd'}));
    }
    EXPECT_EQ(Listing(dir.path()).size(), 3u);
}

TEST_F(Outcome, AFullTableOfAsideFilesRefusesTheNextWriter) {
    g_ennSys.open = OpenWithoutUnnamedFiles;
    std::vector<EnnWriter> writers(64);
    for (EnnWriter& w : writers) {
        ASSERT_EQ(EnnCreateAside(dir.File("x").c_str(), 0, &w), ENN_FAULT_NONE);
    }
    EnnWriter one_more;
    EXPECT_EQ(EnnCreateAside(dir.File("x").c_str(), 0, &one_more), ENN_FAULT_NO_MEMORY);
    int fault = 0;
    EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), dir.File("y").c_str(), 0, &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_NO_MEMORY);
    EXPECT_EQ(EnnCreateTemporary(&one_more), ENN_FAULT_NO_MEMORY);  // for a stream, as well
    for (EnnWriter& w : writers) {
        EnnDiscard(&w);
    }
    EXPECT_EQ(EnnDecryptFile(kKey, good.c_str(), dir.File("y").c_str()), ENN_OK);
    EXPECT_EQ(Listing(dir.path()).size(), 3u);
}

// A read of the caller's that gives the container from memory and ends its
// thread on a later read, as pthread_exit or a cancellation does (Python
// ends its threads so as it shuts down): by then helper threads are coding
// the batch before.
struct EndingSource {
    Bytes container;
    size_t at = 0;
    int reads = 0;
    std::string to;
};

int EndingRead(void* context, unsigned char* buf, int size) {
    EndingSource* source = static_cast<EndingSource*>(context);
    if (++source->reads == 3) {
        pthread_exit(nullptr);
    }
    const size_t n = std::min(static_cast<size_t>(size), source->container.size() - source->at);
    std::memcpy(buf, source->container.data() + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

void* DecryptEndingInItsRead(void* context) {
    EndingSource* source = static_cast<EndingSource*>(context);
    EnnDecryptStream(kKey, nullptr, source->to.c_str(), 0, EndingRead, nullptr, nullptr, source,
                     nullptr);
    return nullptr;  // never: the thread ends in its read
}

TEST_F(Outcome, AThreadThatEndsInsideACallUnwindsThroughTheLibrary) {
    WriteFile(in, PseudoRandomBytes(6 << 20, 13));
    const std::string big = dir.File("big.enn");
    ASSERT_EQ(EnnEncryptFile("123456", kKey, in.c_str(), big.c_str()), ENN_OK);
    EndingSource source;
    source.container = ReadFile(big);
    source.to = dir.File("batch.out");
    WriteFile(source.to, {'o', 'l', 'd'});
    // In a child: were the unwinding caught and kept, the C library would
    // abort the whole process; were the helpers not waited for, they would
    // code into the frames it took away.
    EXPECT_EQ(0, AsUser(0, [&] {
                  EnnPinThreadCount(3);
                  pthread_t thread;
                  if (pthread_create(&thread, nullptr, DecryptEndingInItsRead, &source) != 0) {
                      return 2;
                  }
                  void* ended = &source;
                  pthread_join(thread, &ended);
                  return ended == nullptr && source.reads == 3 ? 0 : 1;
              }));
    EXPECT_EQ(ReadFile(source.to), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(Listing(dir.path()).size(), 4u);  // nothing aside is left
}

// A file system with no inode left, for real: no file can be made there,
// while a file already there may still grow.
TEST_F(Outcome, NoInodeLeftIsAnOutputThatCannotBeCreated) {
    const std::string full = dir.File("full");
    ASSERT_EQ(mkdir(full.c_str(), 0755), 0);
    if (geteuid() != 0 ||
        mount("veltrane-test", full.c_str(), "tmpfs", 0, "size=1m,nr_inodes=16,mode=0755") != 0) {
        GTEST_SKIP() << "needs root, to mount a small tmpfs";
    }
    std::vector<std::string> fillers;
    for (int i = 0;; ++i) {
        const std::string name = full + "/filler" + std::to_string(i);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) {
            ASSERT_EQ(errno, ENOSPC);
            break;
        }
        close(fd);
        fillers.push_back(name);
    }
    Bytes damaged = ReadFile(good);
    damaged[100] ^= 1;
    const std::string bad = dir.File("damaged.enn");
    WriteFile(bad, damaged);
    const std::string out = full + "/batch.out";
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("654321", kKey, in.c_str(), (full + "/x.enn").c_str(), &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_DISK_FULL);
    EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), out.c_str(), 0, &fault), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_DISK_FULL);
    // Damage is told first, with its one message.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(EnnDecryptFileEx(kKey, bad.c_str(), out.c_str(), 0, &fault), ENN_ERR_DIGEST);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n md5 error !");
    EXPECT_EQ(fault, ENN_FAULT_DIGEST);
    // A write that fails part-way is a failed write, not an output refused.
    ASSERT_EQ(unlink(fillers.back().c_str()), 0);
    WriteFile(in, PseudoRandomBytes(3 << 20, 12));
    EXPECT_EQ(EnnEncryptFileEx("654321", kKey, in.c_str(), (full + "/x.enn").c_str(), &fault),
              ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_DISK_FULL);
    EXPECT_EQ(Listing(full).size(), fillers.size() - 1);
    EXPECT_EQ(umount(full.c_str()), 0);
}
#endif

// Input that is no container, an empty file among it, is one fault for both
// readers, and two results: the password reader never consults the digest.
TEST_F(Outcome, NoContainerIsTheDigestsFailureButNotThePasswordReaders) {
    const std::string empty = dir.File("empty.enn");
    WriteFile(empty, {});
    int fault = 0;
    char password[7] = "xxxxxx";
    EXPECT_EQ(EnnReadPasswordEx(kKey, empty.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_NOT_CONTAINER);
    EXPECT_EQ(EnnDecryptFileEx(kKey, empty.c_str(), nullptr, 0, &fault), ENN_ERR_DIGEST);
    EXPECT_EQ(fault, ENN_FAULT_NOT_CONTAINER);
    // A header and too little after it is too short, for the password reader.
    const Bytes whole = ReadFile(good);
    WriteFile(empty, Bytes(whole.begin(), whole.begin() + 40));
    EXPECT_EQ(EnnReadPasswordEx(kKey, empty.c_str(), password, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_TOO_SHORT);
    EXPECT_EQ(std::string(password), "xxxxxx");
}

// An empty output name is an output that cannot be opened: told only once
// the digest has matched, so that damage keeps its result and its message.
TEST_F(Outcome, AnEmptyOutputNameCannotBeCreated) {
    int fault = 0;
    EXPECT_EQ(EnnEncryptFileEx("654321", kKey, in.c_str(), "", &fault), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(EnnEncryptFileEx("654321", kKey, dir.File("missing").c_str(), "", &fault),
              ENN_ERR_OPEN_INPUT);
    EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), "", 0, &fault), ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    Bytes damaged = ReadFile(good);
    damaged[100] ^= 1;
    const std::string bad = dir.File("damaged.enn");
    WriteFile(bad, damaged);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(EnnDecryptFileEx(kKey, bad.c_str(), "", 0, &fault), ENN_ERR_DIGEST);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n md5 error !");
    EXPECT_EQ(fault, ENN_FAULT_DIGEST);
    // A null name stays a refused argument, and reads nothing.
    EXPECT_EQ(EnnEncryptFileEx("654321", kKey, in.c_str(), nullptr, &fault), ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    EXPECT_EQ(Listing(dir.path()).size(), 3u);
}

#ifndef _WIN32
// What happens to reads of one file (by its inode), through the table.
ino_t g_watched = 0;
bool g_failWatched = false;
ssize_t WatchedRead(int fd, void* buf, size_t size) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_ino == g_watched) {
        if (g_failWatched) {
            errno = EIO;
            return -1;
        }
        const timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};  // touched while read
        futimens(fd, times);
    }
    return read(fd, buf, size);
}
#endif

// Where the caller asks (ENN_ACCEPT_PRESENT), an output already there that is
// its own copy of the plain data is done: ENN_PRESENT and the password. A
// caller that does not ask never sees ENN_PRESENT,
// the encryptions refuse the bit, and a container refused for its own fault
// is refused whatever the output holds. (enn's tests try other data there.)
TEST_F(Outcome, AnOutputAlreadyThereIsDoneOnlyWhereItIsTheCallersOwnCopy) {
    const std::string out = dir.File("batch.out");
    ASSERT_EQ(EnnDecryptFile(kKey, good.c_str(), out.c_str()), ENN_OK);
    char password[7] = {};
    int fault = -1;
    EXPECT_EQ(EnnDecryptStreamEx(kKey, good.c_str(), out.c_str(), ENN_ACCEPT_PRESENT, nullptr,
                                 nullptr, nullptr, nullptr, password, &fault),
              ENN_PRESENT);
    EXPECT_EQ(fault, ENN_FAULT_NONE);
    EXPECT_STREQ(password, "123456");
    EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), out.c_str(), ENN_KEEP_EXISTING, &fault),
              ENN_ERR_CREATE_OUTPUT);
    EXPECT_EQ(EnnEncryptStreamPlaced("123456", kKey, in.c_str(), good.c_str(), ENN_ACCEPT_PRESENT,
                                     nullptr, nullptr, nullptr, nullptr, &fault),
              ENN_ERR_GENERIC);
    EXPECT_EQ(fault, ENN_FAULT_ARGUMENT);
    ASSERT_EQ(EnnEncryptFile("123456", "another key entirely", in.c_str(),
                             dir.File("foreign.enn").c_str()),
              ENN_OK);
    for (const int placing : {int{ENN_KEEP_EXISTING}, ENN_KEEP_EXISTING | ENN_ACCEPT_PRESENT}) {
        EXPECT_EQ(
            EnnDecryptFileEx(kKey, dir.File("foreign.enn").c_str(), out.c_str(), placing, &fault),
            ENN_ERR_GENERIC);
        EXPECT_EQ(fault, ENN_FAULT_FOREIGN_KEY) << placing;
    }
#ifndef _WIN32
    // Read but changed meanwhile, it is not the caller's copy; one that
    // cannot be read is not told as one that differs.
    const Bytes data = ReadFile(out);
    g_watched = StatOf(out).st_ino;
    g_ennSys.read = WatchedRead;
    for (const bool failRead : {false, true}) {
        g_failWatched = failRead;
        EXPECT_EQ(EnnDecryptFileEx(kKey, good.c_str(), out.c_str(), ENN_ACCEPT_PRESENT, &fault),
                  failRead ? ENN_ERR_GENERIC : ENN_ERR_CREATE_OUTPUT);
        EXPECT_EQ(fault, failRead ? ENN_FAULT_READ_EXISTING : ENN_FAULT_EXISTS);
        EXPECT_EQ(ReadFile(out), data);
    }
#endif
}
}  // namespace
