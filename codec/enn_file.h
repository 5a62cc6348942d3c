// The codec's file operations: one small layer with a POSIX side
// (enn_file_posix.cpp) and a Win32 side. Paths are UTF-8. Nothing here prints;
// every failure is reported by the result.
//
// A file the codec writes is made aside, in the folder of the name it is meant
// for, and put under that name only once it is complete and on disk, so a
// reader of that name sees the earlier file or the whole new one, never part
// of one. A failure leaves the earlier file as it was and no temporary file
// behind; what a kill can leave is removed by the next write into that folder.
// A replaced file's owner, group and permission bits carry over where the
// caller may set them; setuid, setgid and sticky bits never do. Where the
// folder takes no new file but the file there may be written, the new file is
// made whole in the system's temporary folder and then copied over the old
// one in place: the one case in which a crash can leave a damaged file.
//
// Aside files are named ".enn-aside-PID-RANDOM" after the writing process.
// The system calls made are those of codec/enn_syscalls.h.
#ifndef VELTRANE_CODEC_ENN_FILE_H
#define VELTRANE_CODEC_ENN_FILE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

// What makes two names one file: a device or volume and a file number on it.
struct EnnFileId {
    uint64_t volume = 0;
    uint64_t index = 0;
};

// A regular file open for reading, with what it looked like when opened.
struct EnnReader {
    intptr_t handle = -1;
    long long size = 0;
    long long modified = 0;  // in the platform's finest unit
    EnnFileId id;
};

// Opens path for reading when it names a regular file (through links). Never
// waits, whatever path names. False, with nothing open, otherwise, and *fault
// (when given) says why: ENN_FAULT_NO_INPUT, INPUT_DENIED, INPUT_FOLDER,
// INPUT_NOT_REGULAR.
bool EnnOpenReader(const char* path, EnnReader* reader, int* fault = nullptr);

// Reads up to size bytes, stopping short only at the end of the file. Returns
// the count, or -1 on a read error (never taken for the end of the file).
int EnnReadFull(EnnReader* reader, unsigned char* buf, int size);

// True when the file still has the size and modification time it had when
// opened.
bool EnnReaderUnchanged(const EnnReader* reader);

void EnnCloseReader(EnnReader* reader);

// What stands at a name the codec is to write, looked at without opening it
// and without following a last link.
enum EnnTarget {
    ENN_TARGET_FREE,           // nothing: the name is free
    ENN_TARGET_FILE,           // a regular file, or a link to one, which writing replaces
    ENN_TARGET_SAME_FILE,      // the very file described by the id given
    ENN_TARGET_READ_ONLY,      // a regular file (or a link to one) the caller may not write
    ENN_TARGET_FOLDER,         // a folder, or a link to one
    ENN_TARGET_OTHER,          // a fifo, device or anything else, or a link to one
    ENN_TARGET_NO_FOLDER,      // the name's folder does not exist
    ENN_TARGET_NAME_TOO_LONG,  // longer than the folder accepts
    ENN_TARGET_UNKNOWN,        // cannot be looked at
};

// Tells what stands at path. When source is given and path leads (through
// links too) to that file, the answer is ENN_TARGET_SAME_FILE.
EnnTarget EnnLookAtTarget(const char* path, const EnnFileId* source);

// A file being written aside, not yet under its name.
struct EnnWriter {
    intptr_t handle = -1;
    bool unnamed = false;    // no name at all until put in place
    bool inPlace = false;    // made in the temporary folder, to be copied over the target
    long long written = 0;   // bytes appended so far
    long long flushing = 0;  // bytes on their way to the disk
    int fault = 0;           // the ENN_FAULT_ of the last write that failed
    char aside[4096] = {};   // the temporary name, when it has one
};

// Creates an empty file aside for path, readable and writable as a new file
// under path would be; where the folder takes no new file but path names a
// file the caller may write, in the temporary folder instead (inPlace). False
// otherwise, and *fault (when given) says why: ENN_FAULT_DENIED, NO_FOLDER,
// NAME_TOO_LONG, DISK_FULL, NO_OUTPUT.
bool EnnCreateAside(const char* path, EnnWriter* writer, int* fault = nullptr);

// Creates an empty file aside in the system's temporary folder ($TMPDIR or
// /tmp; GetTempPathW on Windows), for a file that is built there whole
// before it goes elsewhere. False when none can be made.
bool EnnCreateTemporary(EnnWriter* writer);

// Reads up to size bytes at offset of what the writer has written, stopping
// short only at its end: an aside file can serve as a store. Returns the
// count, or -1 on a read error.
int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size);

// Appends size bytes; false on any failure, with writer->fault saying which:
// ENN_FAULT_DISK_FULL or ENN_FAULT_WRITE.
bool EnnWriteAll(EnnWriter* writer, const void* buf, int size);

// Overwrites size bytes at offset; false on any failure.
bool EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size);

// How EnnPutInPlace treats a name that is taken.
enum EnnPlacing {
    ENN_PLACE_REPLACE,  // replace a regular file or link there, keeping its owner and mode
    ENN_PLACE_NEW,      // put in place only while the name is free
};

// Flushes the file to disk and gives it the name path; the writer is closed in
// any case and the aside file gone on failure. Where the folder refuses the
// replacement (a sticky folder, say) but the file there may be written, the
// new content is copied over it in place. Returns ENN_OK, or the ENN_FAULT_
// (codec/enn.h) that stopped it: ENN_FAULT_EXISTS (only with ENN_PLACE_NEW),
// DENIED, NOT_REGULAR, DISK_FULL, WRITE.
int EnnPutInPlace(EnnWriter* writer, const char* path, EnnPlacing placing);

// Closes the writer and removes the aside file: nothing of it stays.
void EnnDiscard(EnnWriter* writer);

// EnnDiscardAllAside (codec/enn.h) belongs to this layer too. Each side keeps
// its aside files in a fixed table that a signal or console handler can walk;
// this puts to into the first slot holding from, false when none does.
template <typename T, std::size_t N>
bool EnnSwapSlot(std::atomic<T> (&table)[N], T from, T to) {
    for (auto& slot : table) {
        T expected = from;
        if (slot.compare_exchange_strong(expected, to)) {
            return true;
        }
    }
    return false;
}

#endif
