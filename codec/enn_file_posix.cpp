#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/enn.h"
#include "codec/enn_file.h"

bool (*g_ennReadFault)(const EnnReader*) = nullptr;
bool g_ennUnnamedFiles = true;

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

bool SameId(const EnnFileId& a, const EnnFileId& b) {
    return a.volume == b.volume && a.index == b.index;
}

long long ModifiedOf(const struct stat& st) {
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// The names of aside files open in this process, for EnnDiscardAllAside: a
// fixed table of pointers into the writers, which a signal handler can walk.
constexpr int kAsideSlots = 16;
std::atomic<const char*> g_asideNames[kAsideSlots];

void RegisterAside(const char* name) {
    EnnSwapSlot(g_asideNames, static_cast<const char*>(nullptr), name);
}

void UnregisterAside(const char* name) {
    EnnSwapSlot(g_asideNames, name, static_cast<const char*>(nullptr));
}

// The folder part of path with its slash ("" for a bare name).
size_t FolderLength(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// Writes "FOLDER.NAME.partial-XXXXXX" into out, the X from a counter and the
// process id; false when it does not fit.
bool AsideName(const char* path, unsigned serial, char* out, size_t size) {
    const size_t folder = FolderLength(path);
    const int n =
        std::snprintf(out, size, "%.*s.%s.partial-%06x%04x", static_cast<int>(folder), path,
                      path + folder, serial & 0xFFFFFFu, static_cast<unsigned>(getpid()) & 0xFFFFu);
    return n > 0 && static_cast<size_t>(n) < size;
}

std::atomic<unsigned> g_serial{0};

// Creates a new file under a fresh aside name for path; -1 when none can be made.
int CreateNamed(const char* path, char* name, size_t size) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!AsideName(path, g_serial.fetch_add(1) * 2654435761u, name, size)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        RegisterAside(name);
        const int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return fd;
        }
        UnregisterAside(name);
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

void SyncFolderOf(const char* path) {
    char folder[4096];
    const size_t len = FolderLength(path);
    if (len == 0) {
        std::strcpy(folder, ".");
    } else if (len < sizeof folder) {
        std::memcpy(folder, path, len);
        folder[len] = '\0';
    } else {
        return;
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);  // the new name reaches the disk too; a failure loses nothing written
        close(fd);
    }
}

}  // namespace

bool EnnOpenReader(const char* path, EnnReader* reader) {
    // Non-blocking, so that a fifo swapped in for the file cannot hold the open.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    reader->handle = fd;
    reader->size = st.st_size;
    reader->modified = ModifiedOf(st);
    reader->id = IdOf(st);
    return true;
}

int EnnReadFull(EnnReader* reader, unsigned char* buf, int size) {
    if (g_ennReadFault != nullptr && g_ennReadFault(reader)) {
        return -1;
    }
    int done = 0;
    while (done < size) {
        const ssize_t got = read(Fd(reader->handle), buf + done, static_cast<size_t>(size - done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<int>(got);
    }
    return done;
}

bool EnnReaderUnchanged(const EnnReader* reader) {
    struct stat st;
    return fstat(Fd(reader->handle), &st) == 0 && st.st_size == reader->size &&
           ModifiedOf(st) == reader->modified;
}

void EnnCloseReader(EnnReader* reader) {
    if (reader->handle >= 0) {
        close(Fd(reader->handle));
        reader->handle = -1;
    }
}

EnnTarget EnnLookAtTarget(const char* path, const EnnFileId* source) {
    struct stat st;
    if (lstat(path, &st) != 0) {
        return errno == ENOENT ? ENN_TARGET_FREE : ENN_TARGET_UNKNOWN;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        return ENN_TARGET_OTHER;
    }
    struct stat followed;
    if (source != nullptr && stat(path, &followed) == 0 && SameId(IdOf(followed), *source)) {
        return ENN_TARGET_SAME_FILE;
    }
    return ENN_TARGET_FILE;
}

bool EnnCreateAside(const char* path, EnnWriter* writer) {
    writer->aside[0] = '\0';
    writer->unnamed = false;
    const size_t folder = FolderLength(path);
    if (g_ennUnnamedFiles && folder + 1 < sizeof writer->aside &&
        access("/proc/self/fd", X_OK) == 0) {
        // An unnamed file needs no cleaning up, whatever ends the process.
        char dir[sizeof writer->aside] = ".";
        if (folder > 0) {
            std::snprintf(dir, sizeof dir, "%.*s", static_cast<int>(folder), path);
        }
        const int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            writer->handle = fd;
            writer->unnamed = true;
            return true;
        }
        // Not every file system has unnamed files; fall back to a hidden name.
    }
    const int fd = CreateNamed(path, writer->aside, sizeof writer->aside);
    if (fd < 0) {
        writer->aside[0] = '\0';
        return false;
    }
    writer->handle = fd;
    return true;
}

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

bool EnnCreateTemporary(EnnWriter* writer) {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0') {
        folder = "/tmp";
    }
    char path[4096];
    const int n = std::snprintf(path, sizeof path, "%s/enn", folder);
    return n > 0 && static_cast<size_t>(n) < sizeof path && EnnCreateAside(path, writer);
}

int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size) {
    int done = 0;
    while (done < size) {
        const ssize_t got =
            pread(Fd(writer->handle), buf + done, static_cast<size_t>(size - done), offset + done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<int>(got);
    }
    return done;
}

bool EnnWriteAll(EnnWriter* writer, const void* buf, int size) {
    const unsigned char* at = static_cast<const unsigned char*>(buf);
    while (size > 0) {
        const ssize_t put = write(Fd(writer->handle), at, static_cast<size_t>(size));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        at += put;
        size -= static_cast<int>(put);
        writer->written += put;
    }
    StartWriteBack(writer);
    return true;
}

bool EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size) {
    const unsigned char* at = static_cast<const unsigned char*>(buf);
    while (size > 0) {
        const ssize_t put = pwrite(Fd(writer->handle), at, static_cast<size_t>(size), offset);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        at += put;
        offset += put;
        size -= static_cast<int>(put);
    }
    return true;
}

int EnnPutInPlace(EnnWriter* writer, const char* path, EnnPlacing placing) {
    const int fd = Fd(writer->handle);
    if (fsync(fd) != 0) {
        EnnDiscard(writer);
        return ENN_FAULT_WRITE;
    }
    struct stat old;
    if (placing == ENN_PLACE_REPLACE && lstat(path, &old) == 0 && S_ISREG(old.st_mode)) {
        fchmod(fd, old.st_mode & 07777);  // at worst the new file keeps the default mode
    }
    if (writer->unnamed) {
        // Linking through /proc names the open file; link() never replaces,
        // so replacing goes through a hidden name and rename().
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        if (placing == ENN_PLACE_NEW) {
            const bool linked = linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
            const int err = errno;
            EnnDiscard(writer);
            if (!linked) {
                return err == EEXIST ? ENN_FAULT_EXISTS : ENN_FAULT_WRITE;
            }
            SyncFolderOf(path);
            return ENN_OK;
        }
        bool named = false;
        for (int attempt = 0; attempt < 100 && !named; ++attempt) {
            if (!AsideName(path, g_serial.fetch_add(1) * 2654435761u, writer->aside,
                           sizeof writer->aside)) {
                break;
            }
            RegisterAside(writer->aside);
            named = linkat(AT_FDCWD, self, AT_FDCWD, writer->aside, AT_SYMLINK_FOLLOW) == 0;
            if (!named) {
                UnregisterAside(writer->aside);
                if (errno != EEXIST) {
                    break;
                }
            }
        }
        writer->unnamed = false;
        if (!named) {
            writer->aside[0] = '\0';
            EnnDiscard(writer);
            return ENN_FAULT_WRITE;
        }
    }
    if (placing == ENN_PLACE_NEW) {
        // link() fails rather than replace a file that appeared meanwhile.
        if (link(writer->aside, path) != 0) {
            const int err = errno;
            struct stat there;
            const bool taken = err == EEXIST || lstat(path, &there) == 0;
            if (taken || rename(writer->aside, path) != 0) {
                EnnDiscard(writer);
                return taken ? ENN_FAULT_EXISTS : ENN_FAULT_WRITE;
            }
        }
        EnnDiscard(writer);  // drops the aside name; the file stays under path
        SyncFolderOf(path);
        return ENN_OK;
    }
    if (rename(writer->aside, path) != 0) {
        EnnDiscard(writer);
        return ENN_FAULT_WRITE;
    }
    UnregisterAside(writer->aside);
    writer->aside[0] = '\0';
    EnnDiscard(writer);
    SyncFolderOf(path);
    return ENN_OK;
}

void EnnDiscard(EnnWriter* writer) {
    if (writer->aside[0] != '\0') {
        unlink(writer->aside);
        UnregisterAside(writer->aside);
        writer->aside[0] = '\0';
    }
    if (writer->handle >= 0) {
        close(Fd(writer->handle));
        writer->handle = -1;
    }
    writer->unnamed = false;
}

void EnnDiscardAllAside() {
    for (auto& slot : g_asideNames) {
        const char* name = slot.load();
        if (name != nullptr) {
            unlink(name);
        }
    }
}
