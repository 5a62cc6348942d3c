#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

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
    return {RealOpen,  close,     read,     pread,     write,     pwrite,   fsync,
            ftruncate, RealFstat, RealStat, RealLstat, faccessat, fchmod,   fchown,
            link,      linkat,    rename,   unlink,    listxattr, getxattr, fgetxattr,
            fsetxattr, mkdir,     rmdir,    flock};
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
            return ENN_FAULT_NO_MEMORY;
        default:
            return ENN_FAULT_NO_OUTPUT;
    }
}

}  // namespace

// An aside file is the file in a private folder of its own,
// FOLDER/.enn-aside-PID-RANDOM/file (see EnnSysMakeNamed).
#define ENN_ASIDE_FILE "file"
const char kEnnSeparators[] = "/";
const char kEnnAsideTail[] = "/" ENN_ASIDE_FILE;

unsigned long EnnSysProcessId() {
    return static_cast<unsigned long>(getpid());
}

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

// An aside file stands in a folder of its own, made for its writer alone:
// whatever looks the file inside takes before its rename, nobody else can
// reach it by a name, and what a kill leaves is readable by its writer alone.
// The folder is made unwritable first (kLockingFolder), and takes its mode
// only once its writer holds its lock, so that a sweep finds it either
// unlike a leftover or locked. Beside the file, only the probe that tells a
// new file's looks is ever made there.
constexpr char kAsideMark[] = ENN_ASIDE_MARK;
constexpr char kAsideFile[] = ENN_ASIDE_FILE;
constexpr char kProbe[] = "probe";
constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kLockingFolder = 0500;

// The private folder of the aside name aside, into out; false when it does
// not fit or aside is no such name. Only what a signal handler may call.
bool PrivateFolderOf(const char* aside, char* out, size_t size) {
    const size_t len = std::strlen(aside);
    const size_t tail = sizeof kEnnAsideTail - 1;
    if (len <= tail || len - tail >= size) {
        return false;
    }
    std::memcpy(out, aside, len - tail);
    out[len - tail] = '\0';
    return true;
}

// Removes the aside file aside names and its private folder, through the
// calls given (a signal handler's own, or the table's).
void RemoveNames(const char* aside, int (*unlinkName)(const char*),
                 int (*removeFolder)(const char*)) {
    char folder[sizeof EnnWriter().aside];
    unlinkName(aside);
    if (PrivateFolderOf(aside, folder, sizeof folder)) {
        removeFolder(folder);
    }
}

// Makes the private folder of writer->aside and holds its lock in
// writer->lock, for as long as the writer has it: no sweep takes a folder
// whose lock is held. Where the file system has no locks, no sweep takes it
// either, and where it keeps no mode (vfat) the folder has what it gives.
int MakePrivateFolder(EnnWriter* writer) {
    char folder[sizeof writer->aside];
    if (!PrivateFolderOf(writer->aside, folder, sizeof folder)) {
        return ENN_FAULT_NAME_TOO_LONG;
    }
    if (g_ennSys.mkdir(folder, kLockingFolder) != 0) {
        return errno == EEXIST ? ENN_FAULT_EXISTS : CreateFault(errno);
    }
    const int fd = g_ennSys.open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0) {
        const int err = errno;
        g_ennSys.rmdir(folder);
        return CreateFault(err);
    }
    g_ennSys.flock(fd, LOCK_EX | LOCK_NB);
    g_ennSys.fchmod(fd, kPrivateFolder);
    writer->lock = fd;
    return ENN_FAULT_NONE;
}

// Undoes MakePrivateFolder where its file could not be made.
void DropPrivateFolder(EnnWriter* writer) {
    char folder[sizeof writer->aside];
    if (PrivateFolderOf(writer->aside, folder, sizeof folder)) {
        g_ennSys.rmdir(folder);
    }
    g_ennSys.close(Fd(writer->lock));
    writer->lock = -1;
}

// Leftovers. A sweep removes a private folder only where it is certainly
// one of the caller's own that a killed writer left, and leaves anything else
// exactly as it found it: it takes no word of a name, a process number or an
// owner alone, as another user, another PID namespace or a file system that
// shows every file as the caller's can make those lie.

// True when nobody but the caller and root can have named an entry of the
// folder open at fd: it is theirs, and nobody else may write in it, or it is
// sticky. Elsewhere another user could rename a folder of the caller's under
// an aside name, and the caller's files in it would go.
bool NamedByOwnersAlone(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && (st.st_uid == geteuid() || st.st_uid == 0) &&
           ((st.st_mode & 022) == 0 || (st.st_mode & S_ISVTX) != 0);
}

// An access ACL as the kernel keeps it in its attribute: a version word, then
// entries of a tag, permissions and an id, little-endian.
constexpr char kAclName[] = "system.posix_acl_access";
constexpr char kDefaultAclName[] = "system.posix_acl_default";
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

// True when the folder open at fd has an extended ACL, or may have one.
bool HasAcl(int fd) {
    for (const char* name : {kAclName, kDefaultAclName}) {
        if (g_ennSys.fgetxattr(fd, name, nullptr, 0) >= 0 ||
            (errno != ENODATA && errno != EOPNOTSUPP)) {
            return true;
        }
    }
    return false;
}

bool IsLayerName(const char* name) {
    return std::strcmp(name, kAsideFile) == 0 || std::strcmp(name, kProbe) == 0;
}

// True when the folder open at sub is certainly a leftover of the caller's
// own, and now held by this sweep: a folder of theirs, 0700, with no extended
// ACL, whose lock no writer holds (taken now, without waiting, until sub
// closes), holding nothing but the layer's names, each a regular file of
// theirs with one link. Nothing in it is opened or followed.
bool CertainlyLeftover(int sub) {
    struct stat st;
    if (fstat(sub, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 07777) != kPrivateFolder || HasAcl(sub) ||
        g_ennSys.flock(sub, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    const int listed = fcntl(sub, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
    if (dir == nullptr) {
        if (listed >= 0) {
            close(listed);
        }
        return false;
    }
    bool own = true;
    while (const dirent* entry = own ? readdir(dir) : nullptr) {
        const char* name = entry->d_name;
        struct stat file;
        own = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
              (IsLayerName(name) && fstatat(sub, name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(file.st_mode) && file.st_uid == geteuid() && file.st_nlink == 1);
    }
    closedir(dir);
    return own;
}

// Removes from folder the private folders of the caller's that killed
// writers left: only where NamedByOwnersAlone, only under an aside name
// whose process is gone as this process sees them (the lock tells of one in
// another PID namespace), and only where CertainlyLeftover.
void RemoveLeftovers(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return;
    }
    const int fd = dirfd(dir);
    const size_t markLen = sizeof kAsideMark - 1;
    bool removed = false;
    const bool sweeping = NamedByOwnersAlone(fd);
    while (const dirent* entry = sweeping ? readdir(dir) : nullptr) {
        if (std::strncmp(entry->d_name, kAsideMark, markLen) != 0) {
            continue;
        }
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name + markLen, &end, 10);
        if (pid <= 0 || end == nullptr || *end != '-' || kill(static_cast<pid_t>(pid), 0) == 0 ||
            errno != ESRCH) {
            continue;  // not an aside name, or its process runs
        }
        const int sub =
            openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (sub < 0) {
            continue;
        }
        if (CertainlyLeftover(sub)) {
            unlinkat(sub, kAsideFile, 0);
            unlinkat(sub, kProbe, 0);
            removed = unlinkat(fd, entry->d_name, AT_REMOVEDIR) == 0 || removed;
        }
        close(sub);
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

// Gives the writer's file what a file newly made in path's folder gets: the
// permission bits the umask leaves, or the folder's default ACL. An empty
// file made there tells, by the kernel's own rules: an unnamed one, or where
// the file system has none, one beside the writer's file in its private
// folder, which took its parent's default ACL. Where none can be made the
// file stays its writer's alone.
void GiveNewFileLooks(EnnWriter* writer, const char* path) {
    char named[sizeof writer->aside] = {};
    int probe = -1;
    if (writer->unnamed) {
        char folder[sizeof writer->aside];
        if (FolderOf(path, folder, sizeof folder)) {
            probe = g_ennSys.open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        }
    } else if (PrivateFolderOf(writer->aside, named, sizeof named) &&
               std::strlen(named) + 1 + sizeof kProbe <= sizeof named) {
        std::strcat(std::strcat(named, "/"), kProbe);
        probe = g_ennSys.open(named, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (probe < 0) {
        return;
    }
    struct stat st;
    if (g_ennSys.fstat(probe, &st) == 0) {
        g_ennSys.fchmod(Fd(writer->handle), st.st_mode & 0777);
        std::vector<char> acl;
        if (ReadAttribute(nullptr, probe, kAclName, &acl)) {
            g_ennSys.fsetxattr(Fd(writer->handle), kAclName, acl.data(), acl.size(), 0);
        }
    }
    // Closed before its name goes: a FUSE file system keeps a removed file
    // that is still open under another name, and its folder could not go.
    g_ennSys.close(probe);
    if (!writer->unnamed) {
        g_ennSys.unlink(named);
    }
}

// Gives the finished file at fd the looks of the file old at path, which it
// replaces: its owner and group as far as the caller may set them, its
// permission bits (never setuid, setgid or sticky), its ACL and attributes.
// Where the group cannot be kept, the caller's group gets no more than
// everybody else had. ENN_FAULT_NONE, or the fault of CarryAttributes.
int GiveFinalLooks(int fd, const char* path, const struct stat& old) {
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

namespace {

// Gives reader the file open at fd, as st shows it.
int Hold(int fd, const struct stat& st, EnnReader* reader) {
    reader->handle = fd;
    reader->size = st.st_size;
    reader->modified = ModifiedOf(st);
    reader->id = IdOf(st);
    return ENN_FAULT_NONE;
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
    return Hold(fd, st, reader);
}

int EnnSysOpenOwn(const char* path, EnnReader* reader) {
    const int fd = g_ennSys.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) {
        // A link, a file gone meanwhile, or one the caller may not read.
        return errno == ELOOP || errno == ENOENT || errno == EACCES || errno == EPERM
                   ? ENN_FAULT_EXISTS
                   : ENN_FAULT_READ_EXISTING;
    }
    // Nobody else may write it: an ACL entry granting anyone write shows in
    // the group bits too, which are then the ACL's mask.
    struct stat st;
    const bool looked = g_ennSys.fstat(fd, &st) == 0;
    if (looked && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
        (st.st_mode & 022) == 0) {
        return Hold(fd, st, reader);
    }
    g_ennSys.close(fd);
    return looked ? ENN_FAULT_EXISTS : ENN_FAULT_READ_EXISTING;
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

}  // namespace

namespace {

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

// The name under /proc through which the writer's open file can be linked.
std::string SelfName(const EnnWriter* writer) {
    return "/proc/self/fd/" + std::to_string(Fd(writer->handle));
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

int EnnSysFlush(intptr_t handle) {
    return g_ennSys.fsync(Fd(handle)) == 0 ? ENN_FAULT_NONE : WriteFault(errno);
}

void EnnSysStartWriteBack(intptr_t handle, long long from, long long to) {
#ifdef SYNC_FILE_RANGE_WRITE
    sync_file_range(Fd(handle), from, to - from, SYNC_FILE_RANGE_WRITE);
#else
    (void)handle;
    (void)from;
    (void)to;
#endif
}

void EnnSysSweep(const char* path) {
    char folder[4096];
    if (FolderOf(path, folder, sizeof folder)) {
        SweepOnce(folder);
    }
}

bool EnnSysMakeUnnamed(const char* path, EnnWriter* writer, int* fault) {
    // Only where a name can be linked to it later, through /proc.
    char folder[sizeof writer->aside];
    if (access("/proc/self/fd", X_OK) != 0 || !FolderOf(path, folder, sizeof folder)) {
        return false;
    }
    // An unnamed file needs no cleaning up, whatever ends the process.
    const int fd = g_ennSys.open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, kPrivate);
    if (fd >= 0) {
        writer->handle = fd;
        writer->unnamed = true;
        *fault = ENN_FAULT_NONE;
        return true;
    }
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
        *fault = ENN_FAULT_DENIED;
        return true;
    }
    return false;  // not every file system has unnamed files
}

int EnnSysMakeNamed(EnnWriter* writer) {
    if (const int why = MakePrivateFolder(writer)) {
        return why;
    }
    const int fd = g_ennSys.open(writer->aside, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kPrivate);
    if (fd < 0) {
        const int err = errno;
        DropPrivateFolder(writer);
        return CreateFault(err);
    }
    writer->handle = fd;
    return ENN_FAULT_NONE;
}

int EnnSysNameUnnamed(EnnWriter* writer) {
    if (const int why = MakePrivateFolder(writer)) {
        return why;
    }
    if (g_ennSys.linkat(AT_FDCWD, SelfName(writer).c_str(), AT_FDCWD, writer->aside,
                        AT_SYMLINK_FOLLOW) != 0) {
        const int err = errno;
        DropPrivateFolder(writer);
        return PlaceFault(err);
    }
    writer->unnamed = false;
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

int EnnSysFinalLooks(EnnWriter* writer, const char* path, bool replace) {
    struct stat old;
    if (replace && g_ennSys.stat(path, &old) == 0 && S_ISREG(old.st_mode)) {
        return GiveFinalLooks(Fd(writer->handle), path, old);
    }
    GiveNewFileLooks(writer, path);
    return ENN_FAULT_NONE;
}

int EnnSysPlace(EnnWriter* writer, const char* path, bool replace) {
    char folder[sizeof writer->aside] = {};
    PrivateFolderOf(writer->aside, folder, sizeof folder);
    if (!replace) {
        // Only while the name is free: link() fails rather than replace a
        // file that appeared meanwhile.
        const bool linked = writer->unnamed
                                ? g_ennSys.linkat(AT_FDCWD, SelfName(writer).c_str(), AT_FDCWD,
                                                  path, AT_SYMLINK_FOLLOW) == 0
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
        } else if (!writer->unnamed) {
            // Closed before its aside name goes (see GiveNewFileLooks).
            g_ennSys.close(Fd(writer->handle));
            writer->handle = -1;
            g_ennSys.unlink(writer->aside);
        }
        if (!writer->unnamed) {
            g_ennSys.rmdir(folder);
        }
        SyncFolderOf(path);
        return ENN_FAULT_NONE;
    }
    // Held open, the file replaced is freed only once the private folder is
    // gone: freed inside the rename, a large one would keep that folder there
    // for as long, for a kill to leave behind.
    const int replaced = g_ennSys.open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
    int why = ENN_FAULT_NONE;
    if (g_ennSys.rename(writer->aside, path) != 0) {
        why = PlaceFault(errno);
    } else {
        g_ennSys.rmdir(folder);
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

void EnnSysRemoveAside(EnnWriter* writer) {
    RemoveNames(writer->aside, unlink, rmdir);
}

void EnnSysCloseWriter(EnnWriter* writer, bool remove) {
    // Closed before its name goes (see GiveNewFileLooks); the lock is held
    // until the private folder is gone.
    if (writer->handle >= 0) {
        g_ennSys.close(Fd(writer->handle));
    }
    if (remove) {
        RemoveNames(writer->aside, g_ennSys.unlink, g_ennSys.rmdir);
    }
    if (writer->lock >= 0) {
        g_ennSys.close(Fd(writer->lock));
    }
}
