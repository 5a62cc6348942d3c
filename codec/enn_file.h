// The codec's file operations: one small layer with a POSIX side
// (enn_file_posix.cpp) and a Win32 side. Paths are UTF-8. Nothing here prints;
// every failure is reported by the result.
//
// A file the codec writes is made aside, in the folder of the name it is meant
// for, and put under that name only once it is complete and on disk, so a
// reader of that name sees the earlier file or the whole new one, never part
// of one. A failure or a kill leaves the earlier file as it was and no
// temporary file behind.
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
// waits, whatever path names. False, with nothing open, otherwise.
bool EnnOpenReader(const char* path, EnnReader* reader);

// Reads up to size bytes, stopping short only at the end of the file. Returns
// the count, or -1 on a read error (never taken for the end of the file).
int EnnReadFull(EnnReader* reader, unsigned char* buf, int size);

// True when the file still has the size and modification time it had when
// opened.
bool EnnReaderUnchanged(const EnnReader* reader);

void EnnCloseReader(EnnReader* reader);

// For tests: false makes writers take hidden names, as on a file system that
// has no unnamed files.
extern bool g_ennUnnamedFiles;

// For tests: when set, called before every read; true makes that read fail
// as an I/O error would. The hook may also change the file meanwhile.
extern bool (*g_ennReadFault)(const EnnReader* reader);

// What stands at a name the codec is to write, looked at without opening it
// and without following a last link.
enum EnnTarget {
    ENN_TARGET_FREE,       // nothing: the name is free
    ENN_TARGET_FILE,       // a regular file or a link, which writing replaces
    ENN_TARGET_SAME_FILE,  // the very file described by the id given
    ENN_TARGET_OTHER,      // a folder, fifo, device or anything else: never written
    ENN_TARGET_UNKNOWN,    // cannot be looked at
};

// Tells what stands at path. When source is given and path leads (through
// links too) to that file, the answer is ENN_TARGET_SAME_FILE.
EnnTarget EnnLookAtTarget(const char* path, const EnnFileId* source);

// A file being written aside, not yet under its name.
struct EnnWriter {
    intptr_t handle = -1;
    bool unnamed = false;    // no name at all until put in place
    long long written = 0;   // bytes appended so far
    long long flushing = 0;  // bytes on their way to the disk
    char aside[4096] = {};   // the temporary name, when it has one
};

// Creates an empty file aside for path, readable and writable as a new file
// under path would be. False when the folder does not take a new file.
bool EnnCreateAside(const char* path, EnnWriter* writer);

// Creates an empty file aside in the system's temporary folder ($TMPDIR or
// /tmp; GetTempPathW on Windows), for a file that is built there whole
// before it goes elsewhere. False when none can be made.
bool EnnCreateTemporary(EnnWriter* writer);

// Reads up to size bytes at offset of what the writer has written, stopping
// short only at its end: an aside file can serve as a store. Returns the
// count, or -1 on a read error.
int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size);

// Appends size bytes; false on any failure (a full disk included).
bool EnnWriteAll(EnnWriter* writer, const void* buf, int size);

// Overwrites size bytes at offset; false on any failure.
bool EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size);

// How EnnPutInPlace treats a name that is taken.
enum EnnPlacing {
    ENN_PLACE_REPLACE,  // replace a regular file or link there, keeping its permissions
    ENN_PLACE_NEW,      // put in place only while the name is free
};

// Flushes the file to disk and gives it the name path; the writer is closed in
// any case and the aside file gone on failure. Returns ENN_OK, or the
// ENN_FAULT_ (codec/enn.h) that stopped it: ENN_FAULT_EXISTS (only with
// ENN_PLACE_NEW), ENN_FAULT_WRITE.
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
