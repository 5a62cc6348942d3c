// The codec's file operations. The policy (what may be replaced, how a file is
// made whole aside and put in place, the copy in place where a folder takes
// no new file, the table of aside files) is enn_file.cpp, once; each system
// gives it primitives (enn_file_sys.h: enn_file_posix.cpp, enn_file_win32.cpp).
// Paths are UTF-8. Nothing here prints; every failure is an ENN_FAULT_
// (codec/enn.h), ENN_FAULT_NONE for none.
//
// A file the codec writes is made aside, in the folder of the name it is meant
// for, readable by its writer alone, and put under that name only once it is
// complete and on disk, with the looks of the file it replaces (owner, group,
// permission bits, ACL and attributes as far as the caller may set them) or
// of a new file there, given while nobody else can reach it by a name. So a
// reader of that name sees the earlier file or the whole new one, never part
// of one. A failure leaves the earlier file as it was and no temporary file
// behind; what a kill can leave, readable by its writer alone, is removed by
// the next process of the same user to write into that folder, and nothing
// else is. Where the folder takes no new file (or refuses the rename) but the
// file there may be written, and the caller allows it (ENN_ALLOW_IN_PLACE),
// the new file is made whole aside and then copied over the old one in place:
// the one road on which a crash can leave a file part new, part old.
#ifndef VELTRANE_CODEC_ENN_FILE_H
#define VELTRANE_CODEC_ENN_FILE_H

#include <cstddef>
#include <cstdint>

// What makes two names one file: a device or volume and a file number on it.
struct EnnFileId {
    uint64_t volume = 0;
    uint64_t index = 0;
};

inline bool EnnSameFile(const EnnFileId& a, const EnnFileId& b) {
    return a.volume == b.volume && a.index == b.index;
}

// A regular file open for reading, with what it looked like when opened.
struct EnnReader {
    intptr_t handle = -1;
    long long size = 0;
    long long modified = 0;  // in the platform's finest unit
    EnnFileId id;
};

// Opens path for reading when it names a regular file (through links). Never
// waits, whatever path names. ENN_FAULT_NONE, or with nothing open
// ENN_FAULT_NO_INPUT, INPUT_DENIED, INPUT_FOLDER or INPUT_NOT_REGULAR.
int EnnOpenReader(const char* path, EnnReader* reader);

// Reads up to size bytes, stopping short only at the end of the file. Returns
// the count, or -1 on a read error (never taken for the end of the file).
int EnnReadFull(EnnReader* reader, unsigned char* buf, int size);

// True when the file still has the size and modification time it had when
// opened.
bool EnnReaderUnchanged(const EnnReader* reader);

void EnnCloseReader(EnnReader* reader);

// Why path cannot receive a file, looking only and without following a last
// link: ENN_FAULT_NONE where it is free or holds a regular file (or a link to
// one) that writing may replace; else ENN_FAULT_SAME_FILE (the file source
// describes, through links too), OUTPUT_FOLDER, NOT_REGULAR, NO_FOLDER,
// NAME_TOO_LONG, READ_ONLY, or EXISTS for any file there when keepExisting.
int EnnTargetFault(const char* path, const EnnFileId* source, bool keepExisting);

// What every aside name and private folder starts with, on both sides: a
// macro, so that each side spells it in its own characters ("" or L"").
#define ENN_ASIDE_MARK ".enn-aside-"

// A file being written aside, not yet under its name.
struct EnnWriter {
    intptr_t handle = -1;
    intptr_t lock = -1;      // the private folder, held locked while the writer has it
    bool unnamed = false;    // no name at all until put in place
    bool inPlace = false;    // made in the temporary folder, to be copied over the target
    long long written = 0;   // bytes appended so far
    long long flushing = 0;  // bytes on their way to the disk
    char aside[4096] = {};   // the temporary name, when it has one
    // A comparing writer (EnnOpenToCompare) has no file of its own: this is
    // the caller's file at the output, which what is appended is held against.
    EnnReader existing;
};

// Creates an empty file aside for path, to be placed as placing says
// (ENN_KEEP_EXISTING, ENN_ALLOW_IN_PLACE of codec/enn.h; other bits are not
// looked at). Where the folder takes no new file but path names a regular
// file the caller may write, only a copy in place can replace it: the file is
// made in the temporary folder instead (inPlace) where placing allows that,
// else ENN_FAULT_IN_PLACE_ONLY. What the file at path carries that the new one
// could not keep refuses it now. ENN_FAULT_NONE, or ENN_FAULT_DENIED,
// NO_FOLDER, NAME_TOO_LONG, DISK_FULL, NO_OUTPUT, ACL_NOT_KEPT,
// ATTRIBUTES_NOT_KEPT, IN_PLACE_ONLY, or NO_MEMORY when more files are being
// written at once than the table of aside files holds.
int EnnCreateAside(const char* path, int placing, EnnWriter* writer);

// Makes a comparing writer of the file at path, where it is the caller's own
// copy as ENN_ACCEPT_PRESENT (codec/enn.h) has it, looked at on the handle
// opened: what is appended is compared with the file instead of written, and
// nothing is written anywhere. ENN_FAULT_NONE, or ENN_FAULT_EXISTS where the
// file is not the caller's own, READ_EXISTING where it cannot be opened.
int EnnOpenToCompare(const char* path, EnnWriter* writer);

// Creates an empty file aside in the system's temporary folder ($TMPDIR or
// /tmp; GetTempPathW on Windows), for a file that is built there whole
// before it goes elsewhere. ENN_FAULT_NONE, or ENN_FAULT_NO_OUTPUT or
// NO_MEMORY.
int EnnCreateTemporary(EnnWriter* writer);

// Reads up to size bytes at offset of what the writer has written, stopping
// short only at its end: an aside file can serve as a store. Returns the
// count, or -1 on a read error.
int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size);

// Appends size bytes. ENN_FAULT_NONE, or ENN_FAULT_DISK_FULL or WRITE; for a
// comparing writer, ENN_FAULT_EXISTS where the file holds other bytes next
// (or ends first), READ_EXISTING where it cannot be read.
int EnnWriteAll(EnnWriter* writer, const void* buf, int size);

// Overwrites size bytes at offset. ENN_FAULT_NONE, or ENN_FAULT_DISK_FULL
// or WRITE.
int EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size);

// Flushes the file to disk and gives it the name path, placed as placing
// says (as EnnCreateAside); the writer is closed in any case and the aside
// file gone. Where the folder refuses the replacement (a sticky folder, say)
// but the regular file there may be written, the new content is copied over
// it in place where placing allows that (ENN_FAULT_IN_PLACE_ONLY where not);
// a link there is never written through. ENN_FAULT_NONE, or ENN_FAULT_EXISTS
// (only with ENN_KEEP_EXISTING), DENIED, NOT_REGULAR, READ_ONLY,
// OUTPUT_FOLDER, MOUNT_POINT, ACL_NOT_KEPT, ATTRIBUTES_NOT_KEPT, IN_PLACE_ONLY,
// NO_MEMORY, DISK_FULL or WRITE. A comparing writer succeeds where the file
// held what was appended and nothing more, and has not changed since it was
// opened; else ENN_FAULT_EXISTS, or READ_EXISTING.
int EnnPutInPlace(EnnWriter* writer, const char* path, int placing);

// Closes the writer and removes the aside file: nothing of it stays.
void EnnDiscard(EnnWriter* writer);

// Files that close, and aside files that go, on every way out.
struct EnnReaderGuard {
    EnnReader reader;
    ~EnnReaderGuard() { EnnCloseReader(&reader); }
};
struct EnnWriterGuard {
    EnnWriter writer;
    ~EnnWriterGuard() { EnnDiscard(&writer); }
};

// EnnDiscardAllAside (codec/enn.h) belongs to this layer too: it walks the
// one table of aside files that a signal or console handler can reach.

#endif
