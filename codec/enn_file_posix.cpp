#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_file_sys.h"
#include "codec/enn_syscalls.h"

namespace {

int RealOpen(const char* path, int flags, mode_t mode) {
    return open(path, flags, mode);
}
int RealStat(const char* path, struct stat* st) {
    return stat(path, st);
}
int RealLstat(const char* path, struct stat* st) {
    return lstat(path, st);
}
int RealFstat(int fd, struct stat* st) {
    return fstat(fd, st);
}

}  // namespace

EnnSystemCalls EnnRealSystemCalls() {
    return {RealOpen,  close,     read,     pread,     write,        pwrite,   fsync,
            ftruncate, RealFstat, RealStat, RealLstat, faccessat,    fchmod,   fchown,
            link,      linkat,    rename,   unlink,    listxattr,    getxattr, fgetxattr,
            fsetxattr, mkdir,     rmdir,    futimens,  clock_gettime};
}

namespace {

int Fd(intptr_t handle) {
    return static_cast<int>(handle);
}

EnnFileId IdOf(const struct stat& st) {
    EnnFileId id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    return id;
}

long long ModifiedOf(const struct stat& st) {
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// Why writing failed, by errno: a full disk or quota (or a file-size limit)
// apart from any other failure.
int WriteFault(int err) {
    return err == ENOSPC || err == EDQUOT || err == EFBIG ? ENN_FAULT_DISK_FULL : ENN_FAULT_WRITE;
}

// Why a new file cannot be made in a folder, by errno.
int CreateFault(int err) {
    switch (err) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ENN_FAULT_DENIED;
        case ENOENT:
        case ENOTDIR:
            return ENN_FAULT_NO_FOLDER;
        case ENAMETOOLONG:
            return ENN_FAULT_NAME_TOO_LONG;
        case ENOSPC:
        case EDQUOT:
            return ENN_FAULT_DISK_FULL;
        case ENOMEM:
            return ENN_FAULT_NO_MEMORY;  // the table of aside files is full
        default:
            return ENN_FAULT_NO_OUTPUT;
    }
}

}  // namespace

int EnnSysReadOnce(intptr_t handle, unsigned char* buf, int size, long long offset) {
    for (;;) {
        const size_t want = static_cast<size_t>(size);
        const ssize_t got = offset < 0 ? g_ennSys.read(Fd(handle), buf, want)
                                       : g_ennSys.pread(Fd(handle), buf, want, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 ? -1 : static_cast<int>(got);
    }
}

int EnnSysWriteOnce(intptr_t handle, const unsigned char* buf, int size, long long offset,
                    int* fault) {
    for (;;) {
        const size_t want = static_cast<size_t>(size);
        const ssize_t put =
            offset < 0 ? g_ennSys.write(Fd(handle), buf, want)
                       : g_ennSys.pwrite(Fd(handle), buf, want, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            *fault = put < 0 ? WriteFault(errno) : ENN_FAULT_WRITE;
            return -1;
        }
        return static_cast<int>(put);
    }
}

namespace {

// The folder part of path with its slash ("" for a bare name).
size_t FolderLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// The folder of path, "." for a bare name; false when it does not fit.
bool FolderOf(const char* path, char* out, size_t size) {
    const size_t len = FolderLength(path);
    const int n = len == 0 ? std::snprintf(out, size, ".")
                           : std::snprintf(out, size, "%.*s", static_cast<int>(len), path);
    return n > 0 && static_cast<size_t>(n) < size;
}

// Every file the layer makes starts readable and writable by its writer
// alone, whatever the umask or the folder's default ACL: what is written into
// it reaches nobody else through its name, nor through a descriptor opened
// early and kept. It takes the looks it is to have just before its name.
constexpr mode_t kPrivate = 0600;

// An aside file stands in a folder of its own, FOLDER/.enn-aside-PID-RANDOM/,
// made for its writer alone: whatever looks the file inside takes before its
// rename, nobody else can reach it by a name, and what a kill leaves is
// readable by its writer alone. The names carry the writer's process id and
// nothing of the name they stand in for, so that they fit wherever it does.
// Beside the file, a copy in place keeps the note of its target.
constexpr char kAsideMark[] = ENN_ASIDE_MARK;
constexpr char kAsideFile[] = ENN_STAGED_FILE;
constexpr char kAsideNote[] = ENN_NOTE;
constexpr char kAsideNoteNew[] = ENN_NOTE_NEW;
constexpr mode_t kPrivateFolder = 0700;

// The bound and its renewal (enn_file.h) in nanoseconds.
constexpr long long kSecond = 1000000000LL;
constexpr long long kBound = kEnnBoundSeconds * kSecond;
constexpr long long kRenew = kEnnRenewSeconds * kSecond;

std::atomic<unsigned> g_serial{0};

unsigned RandomPart() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned x = g_serial.fetch_add(1) * 2654435761u ^ static_cast<unsigned>(now.tv_nsec) ^
                 static_cast<unsigned>(getpid()) << 16;
    x ^= x >> 15;
    x *= 2246822519u;
    return x ^ (x >> 13);
}

// Writes a fresh private folder's name ".enn-aside-PID-XXXXXXXX", after the
// folder part of path, into out; false when it does not fit.
bool PrivateFolderName(const char* path, char* out, size_t size) {
    const size_t folder = FolderLength(path);
    const int n = std::snprintf(out, size, "%.*s%s%ld-%08x", static_cast<int>(folder), path,
                                kAsideMark, static_cast<long>(getpid()), RandomPart());
    return n > 0 && static_cast<size_t>(n) < size;
}

// Removes what an aside name leaves: the file (unless it was moved away), the
// note beside it (where it was staged) and their folder, through the calls
// given (a signal handler's own, or the table's). Only what a signal handler
// may call.
void RemoveAsideNames(const char* aside, int (*unlinkName)(const char*),
                      int (*removeFolder)(const char*), bool file, bool note) {
    char name[4096];
    const char* slash = std::strrchr(aside, '/');
    if (slash == nullptr ||
        static_cast<size_t>(slash - aside) + 1 + sizeof kAsideNote > sizeof name) {
        return;
    }
    if (file) {
        unlinkName(aside);
    }
    const size_t folder = static_cast<size_t>(slash - aside) + 1;
    std::memcpy(name, aside, folder);
    std::memcpy(name + folder, kAsideNote, sizeof kAsideNote);
    if (note) {
        unlinkName(name);
    }
    name[folder - 1] = '\0';
    removeFolder(name);
}

int RealUnlink(const char* path) {
    return unlink(path);
}
int RealRmdir(const char* path) {
    return rmdir(path);
}

// Runs make(name) under fresh aside names for path, each the file in a new
// private folder, held in writer->aside and the writer in the table of aside
// files while each stands, until one is made. True once make succeeds;
// false, with errno set and the name cleared, when none will do (ENOMEM: the
// table is full).
template <typename Make>
bool UnderAsideName(const char* path, EnnWriter* writer, Make make) {
    char folder[sizeof writer->aside];
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int n =
            PrivateFolderName(path, folder, sizeof folder)
                ? std::snprintf(writer->aside, sizeof writer->aside, "%s/%s", folder, kAsideFile)
                : -1;
        if (n <= 0 || static_cast<size_t>(n) >= sizeof writer->aside) {
            errno = ENAMETOOLONG;
            break;
        }
        if (!EnnRegisterAside(writer)) {
            errno = ENOMEM;
            break;
        }
        const bool made = g_ennSys.mkdir(folder, kPrivateFolder) == 0;
        if (made && make(writer->aside)) {
            return true;
        }
        const int err = errno;
        if (made) {
            g_ennSys.rmdir(folder);
        }
        EnnUnregisterAside(writer);
        errno = err;
        if (made || err != EEXIST) {
            break;
        }
    }
    writer->aside[0] = '\0';
    return false;
}

// Creates a new file under a fresh aside name for path, with mode; -1 (errno
// set) when none can be made.
int CreateNamed(const char* path, EnnWriter* writer, mode_t mode) {
    int fd = -1;
    UnderAsideName(path, writer, [&fd, mode](const char* aside) {
        fd = g_ennSys.open(aside, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        return fd >= 0;
    });
    return fd;
}

// Removes the names of the writer's aside file (unless it was moved away),
// its note and its folder.
void RemoveAside(EnnWriter* writer, bool file) {
    RemoveAsideNames(writer->aside, g_ennSys.unlink, g_ennSys.rmdir, file, writer->staged);
    EnnUnregisterAside(writer);
    writer->aside[0] = '\0';
}

// Bounds, in the note of a staged copy, its target's modification time for
// the next kBound, when the bound is due for renewal. The target is touched
// through its own file system and its time read back, so that the bound is
// on that file system's clock, whatever clock the note's disk or another
// machine keeps; the note takes it as its own modification time, flushed,
// before the copy writes on. ENN_FAULT_NONE, or DISK_FULL or WRITE where a
// time cannot be set or flushed.
int BoundTarget(EnnWriter* writer, int target) {
    timespec now = {};
    const bool timed = g_ennSys.clockGettime(CLOCK_MONOTONIC, &now) == 0;
    const long long at = static_cast<long long>(now.tv_sec) * kSecond + now.tv_nsec;
    if (timed && at < writer->boundDue) {
        return ENN_FAULT_NONE;
    }
    // Only the file's owner may keep its access time; anyone who may write
    // it may set both to now.
    const timespec touch[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    const timespec both[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    struct stat st;
    if ((g_ennSys.futimens(target, touch) != 0 &&
         (errno != EPERM || g_ennSys.futimens(target, both) != 0)) ||
        g_ennSys.fstat(target, &st) != 0) {
        return WriteFault(errno);
    }
    const long long bound = ModifiedOf(st) + kBound;
    const timespec mark[2] = {{0, UTIME_OMIT},
                              {static_cast<time_t>(bound / kSecond), bound % kSecond}};
    if (g_ennSys.futimens(Fd(writer->note), mark) != 0 || g_ennSys.fsync(Fd(writer->note)) != 0) {
        return WriteFault(errno);
    }
    writer->boundDue = at + kRenew;
    return ENN_FAULT_NONE;
}

// Finishes the copy in place that the note at fd, in the private folder at
// sub, tells of; as FinishCopy.
bool FinishFromNote(int sub, int fd) {
    char note[2 * sizeof EnnWriter().aside + 64] = {};
    struct stat bound;
    const int got = fstat(fd, &bound) != 0 ? -1
                                           : EnnReadLoop(fd, reinterpret_cast<unsigned char*>(note),
                                                         static_cast<int>(sizeof note - 1), 0);
    EnnFileId noted;
    const char* path = nullptr;
    if (got <= 0 || !EnnReadNote(note, &noted, &path)) {
        return true;  // no note whole (an earlier version's): the copy never started
    }
    struct stat named;
    if (lstat(path, &named) != 0) {
        return errno == ENOENT || errno == ENOTDIR;  // gone since: nothing to finish
    }
    if (static_cast<uint64_t>(named.st_dev) != noted.volume ||
        static_cast<uint64_t>(named.st_ino) != noted.index) {
        return true;  // replaced since by a whole file
    }
    if (ModifiedOf(named) > ModifiedOf(bound)) {
        // Changed after the cut, by its owner: what they wrote stays, and so
        // does the staged copy, for nothing to be lost.
        return false;
    }
    EnnWriter from;
    from.staged = true;  // the copy renews the note's bound as it goes
    from.note = fd;
    from.handle = openat(sub, kAsideFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (from.handle < 0 && errno == ENOENT) {
        return true;  // nothing to finish it from
    }
    struct stat content;
    intptr_t target = -1;
    if (from.handle < 0 || fstat(Fd(from.handle), &content) != 0 ||
        EnnSysOpenInPlace(path, &target) != ENN_FAULT_NONE) {
        if (from.handle >= 0) {
            close(Fd(from.handle));
        }
        return false;
    }
    const bool done = EnnCopyOver(&from, content.st_size, target) == ENN_FAULT_NONE;
    close(Fd(target));
    close(Fd(from.handle));
    return done;
}

// Finishes, from the private folder at sub, the copy in place its note
// tells of: true when nothing is left to do (done, or the target is no
// longer the file noted), false when it failed, or the target was changed
// after the copy was cut, and the copy is to stay.
bool FinishCopy(int sub) {
    const int fd = openat(sub, kAsideNote, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return true;  // no note: the copy never started
    }
    const bool done = FinishFromNote(sub, fd);
    close(fd);
    return done;
}

// Removes from folder the aside files and private folders of processes that
// are gone: what a kill left. A private folder with a note finishes the copy
// in place it was for first. Only the caller's own; never another user's,
// never one of a process still running.
void RemoveLeftovers(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return;
    }
    const int fd = dirfd(dir);
    const size_t markLen = sizeof kAsideMark - 1;
    bool removed = false;
    while (const dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, kAsideMark, markLen) != 0) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name + markLen, &end, 10);
        if (pid <= 0 || end == nullptr || *end != '-' || pid == static_cast<long>(getpid())) {
            continue;
        }
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
            continue;  // running, or another user's process that is running
        }
        struct stat st;
        if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid()) {
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            removed = unlinkat(fd, entry->d_name, 0) == 0 || removed;
            continue;
        }
        // Taken under this process's own name first, so that no other sweep
        // works on it at once, and a kill now leaves it to the next.
        char mine[64];
        std::snprintf(mine, sizeof mine, "%s%ld-%08x", kAsideMark, static_cast<long>(getpid()),
                      RandomPart());
        if (!S_ISDIR(st.st_mode) || renameat(fd, entry->d_name, fd, mine) != 0) {
            continue;
        }
        const int sub = openat(fd, mine, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0 && FinishCopy(sub)) {
            unlinkat(sub, kAsideFile, 0);
            unlinkat(sub, kAsideNote, 0);
            unlinkat(sub, kAsideNoteNew, 0);
            removed = unlinkat(fd, mine, AT_REMOVEDIR) == 0 || removed;
        }
        if (sub >= 0) {
            close(sub);
        }
    }
    if (removed) {
        fsync(fd);
    }
    closedir(dir);
}

// Sweeps folder once in a process (per user it runs as): a folder may hold
// thousands of files, and what a process leaves is swept by the next. A
// folder is told by its number and its birth, where the file system keeps
// one: a new folder may get the number of one removed.
void SweepOnce(const char* folder) {
    static std::mutex guard;
    static std::set<std::tuple<dev_t, ino_t, long long, unsigned, uid_t>> swept;
    static pid_t sweeper = 0;
    struct statx st = {};
    if (statx(AT_FDCWD, folder, 0, STATX_INO | STATX_BTIME, &st) != 0) {
        return;
    }
    const auto key = std::make_tuple(
        makedev(st.stx_dev_major, st.stx_dev_minor), static_cast<ino_t>(st.stx_ino),
        static_cast<long long>(st.stx_btime.tv_sec), st.stx_btime.tv_nsec, geteuid());
    {
        const std::lock_guard<std::mutex> lock(guard);
        if (sweeper != getpid()) {  // a child sweeps for itself
            swept.clear();
            sweeper = getpid();
        }
        if (!swept.insert(key).second) {
            return;
        }
    }
    RemoveLeftovers(folder);
}

void SyncFolderOf(const char* path) {
    char folder[4096];
    if (!FolderOf(path, folder, sizeof folder)) {
        return;
    }
    const int fd = g_ennSys.open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd >= 0) {
        g_ennSys.fsync(fd);  // the new name reaches the disk too; a failure loses nothing written
        g_ennSys.close(fd);
    }
}

// True when the caller may write the file path leads to, as opening it for
// writing would find.
bool Writable(const char* path) {
    return g_ennSys.faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// An access ACL as the kernel keeps it in its attribute: a version word, then
// entries of a tag, permissions and an id, little-endian.
constexpr char kAclName[] = "system.posix_acl_access";
constexpr size_t kAclHeader = 4;
constexpr size_t kAclEntry = 8;
constexpr unsigned kAclUserObj = 0x01;
constexpr unsigned kAclGroupObj = 0x04;
constexpr unsigned kAclOther = 0x20;

unsigned AclWord(const std::vector<char>& acl, size_t at) {
    return static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1]) << 8;
}

void SetAclPerm(std::vector<char>* acl, size_t entry, unsigned perm) {
    (*acl)[entry + 2] = static_cast<char>(perm & 0xff);
    (*acl)[entry + 3] = 0;
}

// Every entry of acl, as (offset of the entry, tag, permissions).
template <typename F>
void ForEachAclEntry(const std::vector<char>& acl, F each) {
    for (size_t at = kAclHeader; at + kAclEntry <= acl.size(); at += kAclEntry) {
        each(at, AclWord(acl, at), AclWord(acl, at + 2));
    }
}

// The same entries granting the file's owner (the writer, while it is
// written) alone: a trial that the file system takes them.
void AclForWriterAlone(std::vector<char>* acl) {
    ForEachAclEntry(*acl, [acl](size_t at, unsigned tag, unsigned) {
        SetAclPerm(acl, at, tag == kAclUserObj ? 6 : 0);
    });
}

// Where the old group cannot be kept, the caller's group, which takes its
// place, gets no more than everybody else had.
void AclWithoutGroup(std::vector<char>* acl) {
    unsigned other = 0;
    ForEachAclEntry(*acl, [&other](size_t, unsigned tag, unsigned perm) {
        other = tag == kAclOther ? perm : other;
    });
    ForEachAclEntry(*acl, [acl, other](size_t at, unsigned tag, unsigned perm) {
        if (tag == kAclGroupObj) {
            SetAclPerm(acl, at, perm & other);
        }
    });
}

// Reads attribute name of the file path leads to (of fd when path is null)
// into value; false when it cannot be read.
bool ReadAttribute(const char* path, int fd, const char* name, std::vector<char>* value) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = path != nullptr ? g_ennSys.getxattr(path, name, nullptr, 0)
                                             : g_ennSys.fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            return false;
        }
        value->resize(static_cast<size_t>(size));
        const ssize_t got = path != nullptr
                                ? g_ennSys.getxattr(path, name, value->data(), value->size())
                                : g_ennSys.fgetxattr(fd, name, value->data(), value->size());
        if (got >= 0) {
            value->resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) {
            return false;  // ERANGE: it grew meanwhile
        }
    }
    return false;
}

// The names of the attributes of the file path leads to, each ending in a
// NUL; false when they cannot be listed.
bool ReadAttributeNames(const char* path, std::vector<char>* names) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = g_ennSys.listxattr(path, nullptr, 0);
        if (size < 0) {
            return errno == ENOTSUP;  // a file system without attributes: none to carry
        }
        names->resize(static_cast<size_t>(size));
        const ssize_t got = g_ennSys.listxattr(path, names->data(), names->size());
        if (got >= 0) {
            names->resize(static_cast<size_t>(got));
            return true;
        }
        if (errno != ERANGE) {
            return false;
        }
    }
    return false;
}

// Gives fd the extended attributes and access ACL of the file at path, all
// but file capabilities, which like setuid are never carried onto new
// content. On trial the ACL grants the writer alone, so that the file shows
// nobody anything while it is written; the real one comes before its name.
// ENN_FAULT_NONE, or the one that cannot be read or set (a file system
// without ACLs, an attribute the caller may not set): ENN_FAULT_ACL_NOT_KEPT
// or ENN_FAULT_ATTRIBUTES_NOT_KEPT.
int CarryAttributes(int fd, const char* path, bool trial, bool groupKept) {
    std::vector<char> names;
    if (!ReadAttributeNames(path, &names)) {
        return ENN_FAULT_ATTRIBUTES_NOT_KEPT;
    }
    std::vector<char> value;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        if (std::strcmp(name, "security.capability") == 0) {
            continue;
        }
        const bool acl = std::strcmp(name, kAclName) == 0;
        const int why = acl ? ENN_FAULT_ACL_NOT_KEPT : ENN_FAULT_ATTRIBUTES_NOT_KEPT;
        if (!ReadAttribute(path, -1, name, &value)) {
            return why;
        }
        if (acl && trial) {
            AclForWriterAlone(&value);
        } else if (acl && !groupKept) {
            AclWithoutGroup(&value);
        }
        if (g_ennSys.fsetxattr(fd, name, value.data(), value.size(), 0) != 0) {
            return why;
        }
    }
    return ENN_FAULT_NONE;
}

// Gives fd what a file newly made in path's folder gets: the permission bits
// the umask leaves, or the folder's default ACL. An empty file made there
// tells, by the kernel's own rules. Where none can be made the file stays
// its writer's alone.
void GiveNewFileLooks(int fd, const char* path) {
    char folder[4096];
    if (!FolderOf(path, folder, sizeof folder)) {
        return;
    }
    // Made in a private folder where there are no unnamed files, it takes
    // that folder's default ACL, which is its parent's.
    EnnWriter named;
    int probe = g_ennSys.open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (probe < 0) {
        probe = CreateNamed(path, &named, 0666);
        if (probe < 0) {
            return;
        }
        RemoveAside(&named, true);
    }
    struct stat st;
    if (g_ennSys.fstat(probe, &st) == 0) {
        g_ennSys.fchmod(fd, st.st_mode & 0777);
        std::vector<char> acl;
        if (ReadAttribute(nullptr, probe, kAclName, &acl)) {
            g_ennSys.fsetxattr(fd, kAclName, acl.data(), acl.size(), 0);
        }
    }
    g_ennSys.close(probe);
}

// Gives the finished file the looks of the file it replaces: its owner and
// group as far as the caller may set them, its permission bits (never
// setuid, setgid or sticky), its ACL and attributes; or, where nothing stands
// at path, a new file's. Where the group cannot be kept, the caller's group
// gets no more than everybody else had. ENN_FAULT_NONE, or the fault of
// CarryAttributes.
int GiveFinalLooks(int fd, const char* path) {
    struct stat old;
    if (g_ennSys.stat(path, &old) != 0 || !S_ISREG(old.st_mode)) {
        GiveNewFileLooks(fd, path);
        return ENN_FAULT_NONE;
    }
    bool groupKept = true;
    struct stat mine;
    if (g_ennSys.fstat(fd, &mine) == 0 &&
        (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid)) {
        // Only root may give a file away; anyone may pass it to a group of
        // their own. Otherwise the new file is the caller's, as a new file is.
        if (g_ennSys.fchown(fd, old.st_uid, old.st_gid) != 0) {
            groupKept = g_ennSys.fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
        }
    }
    mode_t mode = old.st_mode & 0777;
    if (!groupKept) {
        mode = (mode & ~070) | (mode & 070 & (mode & 07) << 3);
    }
    g_ennSys.fchmod(fd, mode);
    return CarryAttributes(fd, path, false, groupKept);
}

}  // namespace

int EnnOpenReader(const char* path, EnnReader* reader) {
    // Non-blocking, so that a fifo swapped in for the file cannot hold the open.
    const int fd = g_ennSys.open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? ENN_FAULT_INPUT_DENIED : ENN_FAULT_NO_INPUT;
    }
    struct stat st;
    if (g_ennSys.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        g_ennSys.close(fd);
        return S_ISDIR(st.st_mode) ? ENN_FAULT_INPUT_FOLDER : ENN_FAULT_INPUT_NOT_REGULAR;
    }
    reader->handle = fd;
    reader->size = st.st_size;
    reader->modified = ModifiedOf(st);
    reader->id = IdOf(st);
    return ENN_FAULT_NONE;
}

bool EnnReaderUnchanged(const EnnReader* reader) {
    struct stat st;
    return g_ennSys.fstat(Fd(reader->handle), &st) == 0 && st.st_size == reader->size &&
           ModifiedOf(st) == reader->modified;
}

void EnnCloseReader(EnnReader* reader) {
    if (reader->handle >= 0) {
        g_ennSys.close(Fd(reader->handle));
        reader->handle = -1;
    }
}

namespace {

// True when path is, or its links lead through, a name under /proc: a
// process's descriptor (/dev/stdout, /proc/self/fd/1) is whatever it has
// open, never a file to replace, even when it is a regular file now.
bool ThroughProc(const char* path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        if (current.compare(0, 6, "/proc/") == 0) {
            return true;
        }
        struct stat st;
        if (g_ennSys.lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return false;
        }
        char target[4096];
        const ssize_t n = readlink(current.c_str(), target, sizeof target - 1);
        if (n <= 0) {
            return false;
        }
        target[n] = '\0';
        const size_t slash = current.rfind('/');
        current = target[0] == '/' || slash == std::string::npos
                      ? std::string(target)
                      : current.substr(0, slash + 1) + target;
    }
    return false;
}

// Gives the unnamed file of writer a hidden aside name in path's folder, so
// that rename() can put it in place; false when it cannot.
bool NameUnnamed(EnnWriter* writer, const char* self, const char* path) {
    if (!UnderAsideName(path, writer, [self](const char* aside) {
            return g_ennSys.linkat(AT_FDCWD, self, AT_FDCWD, aside, AT_SYMLINK_FOLLOW) == 0;
        })) {
        return false;
    }
    writer->unnamed = false;
    return true;
}

// The fault of a rename or link into path's folder that failed with err.
int PlaceFault(int err) {
    if (err == EACCES || err == EPERM || err == EROFS) {
        return ENN_FAULT_DENIED;
    }
    if (err == EBUSY || err == EXDEV) {
        return ENN_FAULT_MOUNT_POINT;  // a mount point, as a bind-mounted file is
    }
    if (err == ENOMEM) {
        return ENN_FAULT_NO_MEMORY;
    }
    return err == EISDIR ? ENN_FAULT_OUTPUT_FOLDER : WriteFault(err);
}

// Puts the finished aside file under path only while the name is free: link()
// fails rather than replace a file that appeared meanwhile.
int PlaceNew(EnnWriter* writer, const char* path, const char* self) {
    GiveNewFileLooks(Fd(writer->handle), path);
    if (const int why = EnnSysFlush(writer)) {
        return why;
    }
    const bool linked =
        writer->unnamed ? g_ennSys.linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0
                        : g_ennSys.link(writer->aside, path) == 0;
    if (!linked) {
        const int err = errno;
        struct stat there;
        if (err == EEXIST || g_ennSys.lstat(path, &there) == 0) {
            return ENN_FAULT_EXISTS;
        }
        // Some file systems take no hard links: a rename cannot replace a
        // file that was checked to be absent only an instant ago, but is
        // the way there.
        if (writer->unnamed || g_ennSys.rename(writer->aside, path) != 0) {
            return PlaceFault(writer->unnamed ? err : errno);
        }
        RemoveAside(writer, false);
    }
    SyncFolderOf(path);
    return ENN_FAULT_NONE;  // a named aside file's own name goes with EnnDiscard
}

}  // namespace

int EnnSysLookAt(const char* path, const EnnFileId* source, bool* exists) {
    *exists = false;
    if (ThroughProc(path)) {
        return ENN_FAULT_NOT_REGULAR;
    }
    struct stat st;
    if (g_ennSys.lstat(path, &st) != 0) {
        if (errno == ENAMETOOLONG) {
            return ENN_FAULT_NAME_TOO_LONG;
        }
        if (errno == ENOTDIR) {
            return ENN_FAULT_NO_FOLDER;
        }
        char folder[4096];
        struct stat dir;
        if (errno == ENOENT && FolderOf(path, folder, sizeof folder) &&
            g_ennSys.stat(folder, &dir) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            return ENN_FAULT_NO_FOLDER;
        }
        return ENN_FAULT_NONE;  // free, or making the file aside tells what is wrong
    }
    if (S_ISDIR(st.st_mode)) {
        return ENN_FAULT_OUTPUT_FOLDER;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        return ENN_FAULT_NOT_REGULAR;
    }
    *exists = true;
    struct stat followed;
    if (g_ennSys.stat(path, &followed) != 0) {
        return ENN_FAULT_NONE;  // a link that leads nowhere is only a name
    }
    if (S_ISDIR(followed.st_mode)) {
        return ENN_FAULT_OUTPUT_FOLDER;
    }
    if (!S_ISREG(followed.st_mode)) {
        return ENN_FAULT_NOT_REGULAR;  // /dev/stdout, a descriptor under /proc, ...
    }
    if (source != nullptr && EnnSameFile(IdOf(followed), *source)) {
        return ENN_FAULT_SAME_FILE;
    }
    return Writable(path) ? ENN_FAULT_NONE : ENN_FAULT_READ_ONLY;
}

int EnnSysMakeAside(const char* path, EnnWriter* writer) {
    *writer = EnnWriter();
    char folder[sizeof writer->aside];
    if (!FolderOf(path, folder, sizeof folder)) {
        return ENN_FAULT_NAME_TOO_LONG;
    }
    // What killed writers left there goes first; a copy in place they cut
    // short, staged in the temporary folder, is finished.
    SweepOnce(folder);
    char temporary[sizeof folder];
    char temporaryFolder[sizeof folder];
    if (EnnSysTemporaryName(temporary, sizeof temporary) &&
        FolderOf(temporary, temporaryFolder, sizeof temporaryFolder)) {
        SweepOnce(temporaryFolder);
    }
    if (access("/proc/self/fd", X_OK) == 0) {
        // An unnamed file needs no cleaning up, whatever ends the process.
        const int fd = g_ennSys.open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, kPrivate);
        if (fd >= 0) {
            writer->handle = fd;
            writer->unnamed = true;
            return ENN_FAULT_NONE;
        }
        // Not every file system has unnamed files; fall back to a hidden name.
        if (errno == EACCES || errno == EPERM || errno == EROFS) {
            return ENN_FAULT_DENIED;
        }
    }
    const int fd = CreateNamed(path, writer, kPrivate);
    if (fd < 0) {
        return CreateFault(errno);
    }
    writer->handle = fd;
    return ENN_FAULT_NONE;
}

bool EnnSysWritableInPlace(const char* path) {
    struct stat st;
    return g_ennSys.lstat(path, &st) == 0 && S_ISREG(st.st_mode) && Writable(path);
}

bool EnnSysTemporaryName(char* out, size_t size) {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0') {
        folder = "/tmp";
    }
    const int n = std::snprintf(out, size, "%s/enn", folder);
    return n > 0 && static_cast<size_t>(n) < size;
}

int EnnSysTryLooks(EnnWriter* writer, const char* path) {
    struct stat old;
    if (g_ennSys.stat(path, &old) != 0 || !S_ISREG(old.st_mode)) {
        return ENN_FAULT_NONE;
    }
    return CarryAttributes(Fd(writer->handle), path, true, true);
}

int EnnSysFlush(EnnWriter* writer) {
    return g_ennSys.fsync(Fd(writer->handle)) == 0 ? ENN_FAULT_NONE : WriteFault(errno);
}

int EnnSysPlace(EnnWriter* writer, const char* path, EnnPlacing placing) {
    const int fd = Fd(writer->handle);
    // Linking through /proc names the open file; link() never replaces, so
    // replacing goes through a hidden name and rename().
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (placing == ENN_PLACE_NEW) {
        return PlaceNew(writer, path, self);
    }
    if (const int why = GiveFinalLooks(fd, path)) {
        return why;
    }
    // The looks reach the disk with the content, before the name does.
    if (const int why = EnnSysFlush(writer)) {
        return why;
    }
    // Held open, the file replaced is freed only once the private folder is
    // gone: freed inside the rename, a large one would keep that folder
    // there for as long, for a kill to leave behind.
    const int replaced = g_ennSys.open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
    int why = ENN_FAULT_NONE;
    if (writer->unnamed && !NameUnnamed(writer, self, path)) {
        why = PlaceFault(errno);
    } else if (g_ennSys.rename(writer->aside, path) != 0) {
        why = PlaceFault(errno);
    } else {
        RemoveAside(writer, false);
    }
    if (replaced >= 0) {
        g_ennSys.close(replaced);
    }
    if (why == ENN_FAULT_NONE) {
        SyncFolderOf(path);  // the new name, and the private folder gone
    }
    return why;
}

int EnnSysOpenInPlace(const char* path, intptr_t* handle) {
    // The name must still be the regular file it was: O_NOFOLLOW refuses a
    // link put there since, and the ids tell a file swapped in meanwhile.
    struct stat named;
    if (g_ennSys.lstat(path, &named) != 0 || !S_ISREG(named.st_mode)) {
        return ENN_FAULT_DENIED;
    }
    const int fd = g_ennSys.open(path, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ELOOP) {
            return ENN_FAULT_DENIED;
        }
        return errno == EACCES || errno == EPERM || errno == EROFS ? ENN_FAULT_READ_ONLY
                                                                   : ENN_FAULT_WRITE;
    }
    struct stat st;
    if (g_ennSys.fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !EnnSameFile(IdOf(st), IdOf(named))) {
        g_ennSys.close(fd);
        return ENN_FAULT_NOT_REGULAR;
    }
    *handle = fd;
    return ENN_FAULT_NONE;
}

int EnnSysReserve(intptr_t handle, long long size) {
    struct stat st;
    if (g_ennSys.fstat(Fd(handle), &st) == 0 && size > st.st_size &&
        fallocate(Fd(handle), FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
        (errno == ENOSPC || errno == EDQUOT)) {
        return ENN_FAULT_DISK_FULL;
    }
    return ENN_FAULT_NONE;
}

int EnnSysWriteAt(intptr_t handle, const unsigned char* buf, int size, long long offset) {
    return EnnWriteLoop(handle, buf, size, offset);
}

int EnnSysEndInPlace(intptr_t handle, long long size) {
    if (g_ennSys.ftruncate(Fd(handle), static_cast<off_t>(size)) != 0 ||
        g_ennSys.fsync(Fd(handle)) != 0) {
        return WriteFault(errno);
    }
    return ENN_FAULT_NONE;
}

void EnnSysClose(intptr_t handle) {
    g_ennSys.close(Fd(handle));
}

int EnnSysStage(EnnWriter* writer, const char* path, intptr_t target) {
    if (writer->staged) {
        return BoundTarget(writer, Fd(target));  // the copy goes on
    }
    // An unnamed file takes a name in a private folder beside it: in the
    // temporary folder, or where the rename was refused.
    if (writer->aside[0] == '\0') {
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", Fd(writer->handle));
        char beside[sizeof writer->aside];
        if (!(writer->inPlace ? EnnSysTemporaryName(beside, sizeof beside)
                              : std::snprintf(beside, sizeof beside, "%s", path) > 0) ||
            !NameUnnamed(writer, self, beside)) {
            return WriteFault(errno);
        }
    }
    // The target by its number, and by a name that any process finds.
    char here[4096] = ".";
    if (path[0] != '/' && getcwd(here, sizeof here) == nullptr) {
        return ENN_FAULT_WRITE;
    }
    struct stat st;
    char full[2 * sizeof writer->aside];
    char note[2 * sizeof writer->aside + 64];
    const size_t folder = FolderLength(writer->aside);
    const int named = std::snprintf(full, sizeof full, "%s%s%s", path[0] == '/' ? "" : here,
                                    path[0] == '/' ? "" : "/", path);
    int n = -1;
    if (named > 0 && static_cast<size_t>(named) < sizeof full &&
        g_ennSys.fstat(Fd(target), &st) == 0) {
        EnnFileId id;
        id.volume = static_cast<uint64_t>(st.st_dev);
        id.index = static_cast<uint64_t>(st.st_ino);
        n = EnnNoteText(note, sizeof note, id, full);
    }
    char name[sizeof writer->aside];
    char fresh[sizeof writer->aside];
    if (n <= 0 || static_cast<size_t>(n) >= sizeof note ||
        std::snprintf(name, sizeof name, "%.*s%s", static_cast<int>(folder), writer->aside,
                      kAsideNote) >= static_cast<int>(sizeof name) ||
        std::snprintf(fresh, sizeof fresh, "%.*s%s", static_cast<int>(folder), writer->aside,
                      kAsideNoteNew) >= static_cast<int>(sizeof fresh)) {
        return ENN_FAULT_WRITE;
    }
    // The note takes its name only once it is whole and flushed with its
    // bound, before the first write to the target: a note found under that
    // name after any cut bounds the target, and without one the target was
    // never written.
    const int fd = g_ennSys.open(fresh, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate);
    if (fd < 0) {
        return WriteFault(errno);
    }
    writer->note = fd;
    writer->boundDue = 0;
    int why = EnnWriteLoop(fd, reinterpret_cast<const unsigned char*>(note), n, 0);
    if (why == ENN_FAULT_NONE) {
        why = BoundTarget(writer, Fd(target));
    }
    if (why == ENN_FAULT_NONE && g_ennSys.rename(fresh, name) != 0) {
        why = WriteFault(errno);
    }
    if (why != ENN_FAULT_NONE) {
        g_ennSys.unlink(fresh);
        g_ennSys.close(fd);
        writer->note = -1;
        return why;
    }
    writer->staged = true;  // from here EnnDiscard removes the note and flushes the removal
    // The file and the note in their folder, and that folder in its own.
    SyncFolderOf(name);
    name[folder - 1] = '\0';
    SyncFolderOf(name);
    return ENN_FAULT_NONE;
}

void EnnSysRemoveAsideNow(EnnWriter* writer) {
    // A staged copy in place stays for the next write to finish.
    if (!writer->staged) {
        RemoveAsideNames(writer->aside, RealUnlink, RealRmdir, true, false);
    }
}

int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size) {
    return EnnReadLoop(writer->handle, buf, size, offset);
}

namespace {

// Starts writing back what has been appended every few MiB, so that the disk
// works while the cipher does and the flush at the end has little left to
// wait for: without it, the flush took a third of the time of a 64 MiB file.
void StartWriteBack(EnnWriter* writer) {
#ifdef SYNC_FILE_RANGE_WRITE
    constexpr long long kStep = 4 << 20;
    if (writer->written - writer->flushing >= kStep) {
        sync_file_range(Fd(writer->handle), writer->flushing, writer->written - writer->flushing,
                        SYNC_FILE_RANGE_WRITE);
        writer->flushing = writer->written;
    }
#else
    (void)writer;
#endif
}

}  // namespace

int EnnWriteAll(EnnWriter* writer, const void* buf, int size) {
    const int why = EnnWriteLoop(writer->handle, static_cast<const unsigned char*>(buf), size, -1);
    if (why == ENN_FAULT_NONE) {
        writer->written += size;
        StartWriteBack(writer);
    }
    return why;
}

int EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size) {
    return EnnWriteLoop(writer->handle, static_cast<const unsigned char*>(buf), size, offset);
}

void EnnDiscard(EnnWriter* writer) {
    if (writer->aside[0] != '\0') {
        char outer[sizeof writer->aside];
        const bool flush = writer->staged && FolderOf(writer->aside, outer, sizeof outer);
        RemoveAside(writer, true);
        if (flush) {
            // Gone from the disk too before a copy in place is reported done,
            // so that no later sweep takes the staged copy for an unfinished one.
            outer[std::strlen(outer) - 1] = '\0';
            SyncFolderOf(outer);
        }
    }
    if (writer->handle >= 0) {
        g_ennSys.close(Fd(writer->handle));
        writer->handle = -1;
    }
    if (writer->note >= 0) {
        g_ennSys.close(Fd(writer->note));
        writer->note = -1;
    }
    writer->unnamed = false;
    writer->inPlace = false;
    writer->staged = false;
}
