// The file layer's policy, on both systems: what may receive a file, how an
// aside file is named, made and put in place, the copy in place, the table of
// aside files. What differs between the systems is in enn_file_sys.h.
#include "codec/enn_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_file_sys.h"
#include "codec/enn_syscalls.h"
#include "crypto/wipe.h"

namespace {

// The aside files a signal or console handler must remove: a fixed table, as
// such a handler can walk it but not allocate. More writers at once than this
// in one process are refused rather than left out of it.
constexpr int kAsideSlots = 64;
std::atomic<EnnWriter*> g_asides[kAsideSlots];

// Puts to into the first slot holding from; false when none does.
bool SwapSlot(EnnWriter* from, EnnWriter* to) {
    for (auto& slot : g_asides) {
        EnnWriter* expected = from;
        if (slot.compare_exchange_strong(expected, to)) {
            return true;
        }
    }
    return false;
}

// A writer is in the table while its aside file has a name; whoever takes it
// out (EnnDiscard, or a handler's EnnDiscardAllAside) removes that file, once.
bool Register(EnnWriter* writer) {
    return SwapSlot(nullptr, writer);
}

bool Unregister(EnnWriter* writer) {
    return SwapSlot(writer, nullptr);
}

// Reads up to size bytes at offset (negative: where the file stands),
// stopping short only at the end of the file: the count, or -1 on a read
// error, never taken for the end.
int ReadLoop(intptr_t handle, unsigned char* buf, int size, long long offset) {
    int done = 0;
    while (done < size) {
        const int got =
            EnnSysReadOnce(handle, buf + done, size - done, offset < 0 ? offset : offset + done);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

// Writes all size bytes at offset (negative: where the file stands):
// ENN_FAULT_NONE, DISK_FULL or WRITE.
int WriteLoop(intptr_t handle, const void* bytes, int size, long long offset) {
    const auto* buf = static_cast<const unsigned char*>(bytes);
    for (int done = 0; done < size;) {
        int fault = ENN_FAULT_WRITE;
        const int put = EnnSysWriteOnce(handle, buf + done, size - done,
                                        offset < 0 ? offset : offset + done, &fault);
        if (put <= 0) {
            return fault;
        }
        done += put;
    }
    return ENN_FAULT_NONE;
}

// Writes a fresh aside name for path into out: the folder part of path, the
// mark, this process's number and a random part, and nothing of path's own
// name, so that it fits wherever that name does. False when it does not fit.
bool AsideName(const char* path, char* out, std::size_t size) {
    static std::atomic<unsigned> serial{0};
    std::size_t folder = std::strlen(path);
    while (folder > 0 && std::strchr(kEnnSeparators, path[folder - 1]) == nullptr) {
        --folder;
    }
    const auto now =
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    unsigned x =
        serial.fetch_add(1) * 2654435761u ^ now ^ static_cast<unsigned>(EnnSysProcessId()) << 16;
    x ^= x >> 15;
    x *= 2246822519u;
    const int n = std::snprintf(out, size, "%.*s%s%lu-%08x%s", static_cast<int>(folder), path,
                                ENN_ASIDE_MARK, EnnSysProcessId(), x ^ (x >> 13), kEnnAsideTail);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

// Runs make(writer) under fresh aside names for path until one is made, the
// writer in the table of aside files while each name stands. ENN_FAULT_NONE,
// or the fault that keeps any from being made: NO_MEMORY when the table is
// full, NAME_TOO_LONG, or make's.
int UnderAsideName(const char* path, EnnWriter* writer, int (*make)(EnnWriter*)) {
    int why = ENN_FAULT_EXISTS;
    for (int attempt = 0; attempt < 100 && why == ENN_FAULT_EXISTS; ++attempt) {
        if (!AsideName(path, writer->aside, sizeof writer->aside)) {
            why = ENN_FAULT_NAME_TOO_LONG;
            break;
        }
        if (!Register(writer)) {
            why = ENN_FAULT_NO_MEMORY;
            break;
        }
        why = make(writer);
        if (why == ENN_FAULT_NONE) {
            return why;
        }
        Unregister(writer);
    }
    writer->aside[0] = '\0';
    return why == ENN_FAULT_EXISTS ? ENN_FAULT_NO_OUTPUT : why;
}

// Makes an empty file aside for path, unnamed where the system has such
// files, after sweeping what killed writers left in its folder.
int MakeAside(const char* path, EnnWriter* writer) {
    *writer = EnnWriter();
    EnnSysSweep(path);
    int why = ENN_FAULT_NONE;
    if (EnnSysMakeUnnamed(path, writer, &why)) {
        return why;
    }
    return UnderAsideName(path, writer, EnnSysMakeNamed);
}

// Gives the finished aside file its looks and its name path, flushed.
int Place(EnnWriter* writer, const char* path, bool replace) {
    int why = EnnSysFinalLooks(writer, path, replace);
    if (why == ENN_FAULT_NONE) {
        why = EnnSysFlush(writer->handle);  // the content and the looks, before the name
    }
    // An unnamed file is linked under a name of its own first: only a name
    // is renamed over another file.
    if (why == ENN_FAULT_NONE && replace && writer->unnamed) {
        why = UnderAsideName(path, writer, EnnSysNameUnnamed);
    }
    if (why == ENN_FAULT_NONE) {
        why = EnnSysPlace(writer, path, replace);
    }
    if (why == ENN_FAULT_NONE) {
        Unregister(writer);  // its name is the output's now
        writer->aside[0] = '\0';
    }
    return why;
}

// Copies what the writer holds over the regular file at path, in place, and
// flushes it: the file keeps its owner, looks and links. Space is reserved
// first, so that a full disk is found before its content is touched. Not
// whole across a kill or a power cut: the file may then hold part new, part
// old content, which the caller allowed.
int CopyInPlace(EnnWriter* writer, const char* path) {
    intptr_t target = -1;
    int why = EnnSysOpenInPlace(path, &target);
    if (why != ENN_FAULT_NONE) {
        return why;
    }
    const long long size = writer->written;
    why = EnnSysReserve(target, size);
    // On the heap: operations on several threads each copy their own.
    constexpr int kStep = 1 << 16;
    const std::unique_ptr<unsigned char[]> buf(new unsigned char[kStep]);
    for (long long at = 0; why == ENN_FAULT_NONE && at < size;) {
        const int got = EnnReadBack(writer, at, buf.get(), kStep);
        if (got <= 0) {
            why = ENN_FAULT_WRITE;
            break;
        }
        why = WriteLoop(target, buf.get(), got, at);
        at += got;
    }
    SecureWipe(buf.get(), kStep);
    if (why == ENN_FAULT_NONE) {
        why = EnnSysEndInPlace(target, size);
    }
    EnnSysClose(target);
    return why;
}

// Holds the next size bytes of the existing file against bytes: ENN_FAULT_NONE,
// EXISTS where they differ or the file ends first, READ_EXISTING where it
// cannot be read. What was read, plain data itself, is wiped.
int CompareNext(EnnReader* existing, const unsigned char* bytes, int size) {
    unsigned char held[1 << 16];
    int why = ENN_FAULT_NONE;
    for (int done = 0; why == ENN_FAULT_NONE && done < size;) {
        const int want = std::min(size - done, static_cast<int>(sizeof held));
        const int got = ReadLoop(existing->handle, held, want, -1);
        if (got < 0) {
            why = ENN_FAULT_READ_EXISTING;
        } else if (got < want || std::memcmp(held, bytes + done, static_cast<size_t>(want)) != 0) {
            why = ENN_FAULT_EXISTS;
        }
        done += want;
    }
    SecureWipe(held, sizeof held);
    return why;
}

// Ends a comparison: the file must end where the bytes did, and be as it was
// when it was opened.
int EndComparison(EnnReader* existing) {
    unsigned char past = 0;
    const int got = ReadLoop(existing->handle, &past, 1, -1);
    if (got < 0) {
        return ENN_FAULT_READ_EXISTING;
    }
    return got == 0 && EnnReaderUnchanged(existing) ? ENN_FAULT_NONE : ENN_FAULT_EXISTS;
}

}  // namespace

EnnSystemCalls g_ennSys = EnnRealSystemCalls();

void EnnRestoreSystemCalls() {
    g_ennSys = EnnRealSystemCalls();
}

int EnnReadFull(EnnReader* reader, unsigned char* buf, int size) {
    return ReadLoop(reader->handle, buf, size, -1);
}

void EnnDiscardAllAside() {
    for (auto& slot : g_asides) {
        if (EnnWriter* writer = slot.exchange(nullptr)) {
            EnnSysRemoveAside(writer);
        }
    }
}

int EnnTargetFault(const char* path, const EnnFileId* source, bool keepExisting) {
    bool exists = false;
    const int why = EnnSysLookAt(path, source, &exists);
    if (keepExisting && exists && (why == ENN_FAULT_NONE || why == ENN_FAULT_READ_ONLY)) {
        return ENN_FAULT_EXISTS;
    }
    return why;
}

int EnnCreateAside(const char* path, int placing, EnnWriter* writer) {
    const int why = MakeAside(path, writer);
    if (why == ENN_FAULT_DENIED && (placing & ENN_KEEP_EXISTING) == 0 &&
        EnnSysWritableInPlace(path)) {
        // Where the folder takes no new file (a share that lets its users
        // change files but not create them), a file the caller may write is
        // replaced only by a copy in place, from a file made whole in the
        // temporary folder, and only where the caller allows it.
        if ((placing & ENN_ALLOW_IN_PLACE) == 0) {
            return ENN_FAULT_IN_PLACE_ONLY;
        }
        const int made = EnnCreateTemporary(writer);
        writer->inPlace = made == ENN_FAULT_NONE;
        return made;
    }
    if (why != ENN_FAULT_NONE) {
        return why;
    }
    if (const int kept = EnnSysTryLooks(writer, path)) {
        EnnDiscard(writer);
        return kept;
    }
    return ENN_FAULT_NONE;
}

int EnnOpenToCompare(const char* path, EnnWriter* writer) {
    *writer = EnnWriter();
    return EnnSysOpenOwn(path, &writer->existing);
}

int EnnCreateTemporary(EnnWriter* writer) {
    char path[sizeof writer->aside];
    if (!EnnSysTemporaryName(path, sizeof path)) {
        return ENN_FAULT_NO_OUTPUT;
    }
    const int why = MakeAside(path, writer);
    return why == ENN_FAULT_NONE || why == ENN_FAULT_NO_MEMORY ? why : ENN_FAULT_NO_OUTPUT;
}

int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size) {
    return ReadLoop(writer->handle, buf, size, offset);
}

int EnnWriteAll(EnnWriter* writer, const void* buf, int size) {
    if (writer->existing.handle != -1) {
        return CompareNext(&writer->existing, static_cast<const unsigned char*>(buf), size);
    }
    const int why = WriteLoop(writer->handle, buf, size, -1);
    if (why != ENN_FAULT_NONE) {
        return why;
    }
    writer->written += size;
    // Written back every few MiB, the disk works while the cipher does and
    // the flush at the end has little left to wait for: without it, the
    // flush took a third of the time of a 64 MiB file.
    constexpr long long kWriteBackStep = 4 << 20;
    if (writer->written - writer->flushing >= kWriteBackStep) {
        EnnSysStartWriteBack(writer->handle, writer->flushing, writer->written);
        writer->flushing = writer->written;
    }
    return ENN_FAULT_NONE;
}

int EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size) {
    return WriteLoop(writer->handle, buf, size, offset);
}

int EnnPutInPlace(EnnWriter* writer, const char* path, int placing) {
    const bool replace = (placing & ENN_KEEP_EXISTING) == 0;
    int why = ENN_FAULT_NONE;
    if (writer->existing.handle != -1) {
        why = EndComparison(&writer->existing);
    } else if (writer->inPlace) {
        why = CopyInPlace(writer, path);  // allowed when it was made
    } else {
        why = Place(writer, path, replace);
        // A sticky folder keeps others from replacing a file there, though
        // they may write it: only a copy in place can replace it.
        if (why == ENN_FAULT_DENIED && replace && EnnSysWritableInPlace(path)) {
            why = (placing & ENN_ALLOW_IN_PLACE) != 0 ? CopyInPlace(writer, path)
                                                      : ENN_FAULT_IN_PLACE_ONLY;
        }
    }
    EnnDiscard(writer);
    return why;
}

void EnnDiscard(EnnWriter* writer) {
    EnnSysCloseWriter(writer, Unregister(writer));
    EnnCloseReader(&writer->existing);
    writer->handle = -1;
    writer->lock = -1;
    writer->aside[0] = '\0';
    writer->unnamed = false;
    writer->inPlace = false;
}
