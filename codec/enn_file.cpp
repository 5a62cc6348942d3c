// The file layer's policy, on both systems: what may receive a file, how an
// aside file is made and put in place, the copy in place, the table of aside
// files. What differs between the systems is in enn_file_sys.h.
#include "codec/enn_file.h"

#include <atomic>
#include <cstdio>
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

// Copies what the writer holds over the file at path, in place, and flushes
// it: the file keeps its owner, looks and links. Before the first byte of it
// is overwritten, the whole new content is kept under a name with a note of
// its target (EnnSysStage), so that a copy cut short, by a kill or a power
// cut, can be finished by the next write; one that fails part-way keeps it
// for that too.
int CopyInPlace(EnnWriter* writer, const char* path) {
    intptr_t target = -1;
    int why = EnnSysOpenInPlace(path, &target);
    if (why != ENN_FAULT_NONE) {
        return why;
    }
    why = EnnSysReserve(target, writer->written);
    if (why == ENN_FAULT_NONE) {
        why = EnnSysStage(writer, path, target);
    }
    if (why == ENN_FAULT_NONE) {
        why = EnnCopyOver(writer, writer->written, target);
        if (why != ENN_FAULT_NONE && writer->staged) {
            // The target may be damaged now: the staged copy stays for the
            // next write to finish, and EnnDiscard leaves it.
            EnnUnregisterAside(writer);
            writer->aside[0] = '\0';
            writer->staged = false;
        }
    }
    EnnSysClose(target);
    return why;
}

}  // namespace

EnnSystemCalls g_ennSys = EnnRealSystemCalls();

void EnnRestoreSystemCalls() {
    g_ennSys = EnnRealSystemCalls();
}

int EnnReadLoop(intptr_t handle, unsigned char* buf, int size, long long offset) {
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

int EnnWriteLoop(intptr_t handle, const unsigned char* buf, int size, long long offset) {
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

int EnnCopyOver(EnnWriter* from, long long size, intptr_t target) {
    // On the heap: operations on several threads each copy their own.
    constexpr int kStep = 1 << 16;
    const std::unique_ptr<unsigned char[]> buf(new unsigned char[kStep]);
    int why = ENN_FAULT_NONE;
    for (long long at = 0; why == ENN_FAULT_NONE && at < size;) {
        const int got = EnnReadBack(from, at, buf.get(), kStep);
        if (got <= 0) {
            why = ENN_FAULT_WRITE;
            break;
        }
        // A staged copy keeps its note's bound on the target ahead of each write.
        if (from->staged) {
            why = EnnSysStage(from, nullptr, target);
            if (why != ENN_FAULT_NONE) {
                break;
            }
        }
        why = EnnSysWriteAt(target, buf.get(), got, at);
        at += got;
    }
    SecureWipe(buf.get(), kStep);
    return why == ENN_FAULT_NONE ? EnnSysEndInPlace(target, size) : why;
}

int EnnNoteText(char* out, std::size_t size, const EnnFileId& target, const char* name) {
    const int n =
        std::snprintf(out, size, "%llu %llu\n%s", static_cast<unsigned long long>(target.volume),
                      static_cast<unsigned long long>(target.index), name);
    return n > 0 && static_cast<std::size_t>(n) < size ? n : -1;
}

bool EnnReadNote(const char* text, EnnFileId* target, const char** name) {
    unsigned long long volume = 0;
    unsigned long long index = 0;
    int nameAt = 0;
    if (std::sscanf(text, "%llu %llu%n", &volume, &index, &nameAt) != 2 || text[nameAt] != '\n' ||
        text[nameAt + 1] == '\0') {
        return false;
    }
    target->volume = volume;
    target->index = index;
    *name = text + nameAt + 1;
    return true;
}

int EnnReadFull(EnnReader* reader, unsigned char* buf, int size) {
    return EnnReadLoop(reader->handle, buf, size, -1);
}

bool EnnRegisterAside(EnnWriter* writer) {
    return SwapSlot(nullptr, writer);
}

bool EnnUnregisterAside(EnnWriter* writer) {
    return SwapSlot(writer, nullptr);
}

void EnnDiscardAllAside() {
    for (auto& slot : g_asides) {
        if (EnnWriter* writer = slot.exchange(nullptr)) {
            EnnSysRemoveAsideNow(writer);
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

int EnnCreateAside(const char* path, EnnWriter* writer) {
    const int why = EnnSysMakeAside(path, writer);
    if (why == ENN_FAULT_DENIED) {
        // Where the folder takes no new file (a share that lets its users
        // change files but not create them), a file the caller may write is
        // replaced in place from a copy made whole in the temporary folder.
        if (EnnSysWritableInPlace(path) && EnnCreateTemporary(writer) == ENN_FAULT_NONE) {
            writer->inPlace = true;
            return ENN_FAULT_NONE;
        }
        return why;
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

int EnnCreateTemporary(EnnWriter* writer) {
    char path[sizeof writer->aside];
    if (!EnnSysTemporaryName(path, sizeof path) ||
        EnnSysMakeAside(path, writer) != ENN_FAULT_NONE) {
        return ENN_FAULT_NO_OUTPUT;
    }
    return ENN_FAULT_NONE;
}

int EnnPutInPlace(EnnWriter* writer, const char* path, EnnPlacing placing) {
    int why = ENN_FAULT_NONE;
    if (writer->inPlace) {
        why = EnnSysFlush(writer);
        if (why == ENN_FAULT_NONE) {
            why = placing == ENN_PLACE_NEW ? ENN_FAULT_EXISTS : CopyInPlace(writer, path);
        }
    } else {
        // Flushes the file itself, once it has its final looks.
        why = EnnSysPlace(writer, path, placing);
        // A sticky folder keeps others from replacing a file there, though
        // they may write it: the old file takes the new content in place.
        if (why == ENN_FAULT_DENIED && placing == ENN_PLACE_REPLACE &&
            EnnSysWritableInPlace(path)) {
            why = CopyInPlace(writer, path);
        }
    }
    EnnDiscard(writer);
    return why;
}
