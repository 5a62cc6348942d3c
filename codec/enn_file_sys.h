// What each system gives the file layer's policy (enn_file.cpp): names,
// error mapping, aside files (unnamed, or named and marked for deletion),
// linking or moving into place. enn_file_posix.cpp and enn_file_win32.cpp
// each define these, and the reader's functions of enn_file.h. Every int is
// an ENN_FAULT_. Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_FILE_SYS_H
#define VELTRANE_CODEC_ENN_FILE_SYS_H

#include <cstddef>
#include <cstdint>

#include "codec/enn_file.h"

// One read of up to size bytes at offset (negative: where the file stands):
// the count, 0 at the end, or -1 on an error.
int EnnSysReadOnce(intptr_t handle, unsigned char* buf, int size, long long offset);

// One write of up to size bytes at offset (negative: where the file stands):
// the count, at least 1, or -1 with *fault telling DISK_FULL or WRITE.
int EnnSysWriteOnce(intptr_t handle, const unsigned char* buf, int size, long long offset,
                    int* fault);

// Reads up to size bytes at offset (negative: where the file stands),
// stopping short only at the end of the file: the count, or -1 on a read
// error, never taken for the end. (enn_file.cpp, over EnnSysReadOnce.)
int EnnReadLoop(intptr_t handle, unsigned char* buf, int size, long long offset);

// Writes all size bytes at offset (negative: where the file stands):
// ENN_FAULT_NONE, DISK_FULL or WRITE. (enn_file.cpp, over EnnSysWriteOnce.)
int EnnWriteLoop(intptr_t handle, const unsigned char* buf, int size, long long offset);

// What stands at path: ENN_FAULT_NONE where the name is free or a regular
// file (or a link to one) the caller may write stands there, *exists telling
// which; else SAME_FILE, OUTPUT_FOLDER, NOT_REGULAR, NO_FOLDER,
// NAME_TOO_LONG, or READ_ONLY (*exists set).
int EnnSysLookAt(const char* path, const EnnFileId* source, bool* exists);

// Makes an empty file aside in path's folder, readable by its writer alone,
// into *writer (cleared). ENN_FAULT_DENIED when the folder takes no new file
// from the caller; NO_FOLDER, NAME_TOO_LONG, DISK_FULL, NO_OUTPUT, NO_MEMORY.
int EnnSysMakeAside(const char* path, EnnWriter* writer);

// True when path itself (not through a link) is a regular file the caller
// may write in place.
bool EnnSysWritableInPlace(const char* path);

// Writes the name for a file made in the system's temporary folder into out;
// false when it does not fit.
bool EnnSysTemporaryName(char* out, std::size_t size);

// Sets on the empty aside file what the file at path carries and a
// replacement must keep, as far as it can be set without granting anyone
// access: where it cannot be set, ENN_FAULT_ACL_NOT_KEPT or
// ATTRIBUTES_NOT_KEPT. ENN_FAULT_NONE where nothing stands at path.
int EnnSysTryLooks(EnnWriter* writer, const char* path);

// Flushes the aside file to disk: ENN_FAULT_NONE, DISK_FULL or WRITE.
int EnnSysFlush(EnnWriter* writer);

// Gives the finished aside file its final looks (those of the file at path,
// or a new file's), flushes it, content and looks, to disk, and gives it the
// name path: replacing what stands there, or only while the name is free. On success the writer
// holds no name and no handle that EnnDiscard would remove; on failure it is as it was, for a copy
// in place or EnnDiscard. ENN_FAULT_NONE, EXISTS, DENIED, OUTPUT_FOLDER, MOUNT_POINT, ACL_NOT_KEPT,
// ATTRIBUTES_NOT_KEPT, NO_MEMORY, DISK_FULL, WRITE.
int EnnSysPlace(EnnWriter* writer, const char* path, EnnPlacing placing);

// The regular file at path opened for writing in place, never through a link
// and only while it is still the file looked at: ENN_FAULT_NONE, or DENIED (a
// link there), READ_ONLY, NOT_REGULAR, WRITE.
int EnnSysOpenInPlace(const char* path, intptr_t* handle);

// Reserves size bytes for the file, so that a full disk is found before its
// content is touched: ENN_FAULT_NONE or DISK_FULL.
int EnnSysReserve(intptr_t handle, long long size);

// Writes size bytes at offset: ENN_FAULT_NONE, DISK_FULL or WRITE.
int EnnSysWriteAt(intptr_t handle, const unsigned char* buf, int size, long long offset);

// Cuts the file at size and flushes it: ENN_FAULT_NONE, DISK_FULL or WRITE.
int EnnSysEndInPlace(intptr_t handle, long long size);

// Before a copy in place overwrites target (open at handle): keeps the
// writer's whole, flushed file under a name readable by its writer alone,
// beside a flushed note of the file at path that bounds the target's
// modification time a few seconds ahead, and sets writer->staged, so that
// the next write can finish a copy cut short, unless the target was changed
// after the bound; EnnDiscard then removes both and flushes their removal.
// Called again once staged (path unused), before each write of the copy, it
// renews the bound when due. ENN_FAULT_NONE, or DISK_FULL or WRITE, the
// target not yet written.
int EnnSysStage(EnnWriter* writer, const char* path, intptr_t target);

// Copies the first size bytes of from over target, cuts target there and
// flushes it, renewing a staged copy's bound before each write (EnnSysStage):
// ENN_FAULT_NONE, DISK_FULL or WRITE. (enn_file.cpp.)
int EnnCopyOver(EnnWriter* from, long long size, intptr_t target);

// The note of a staged copy in place, "VOLUME INDEX\nNAME": the target's
// volume (or device) and file number, and its full name, which any process
// finds. EnnNoteText writes it into out and returns its length, or -1 when
// it does not fit; EnnReadNote reads one back, false when text holds no
// whole note. (enn_file.cpp.)
int EnnNoteText(char* out, std::size_t size, const EnnFileId& target, const char* name);
bool EnnReadNote(const char* text, EnnFileId* target, const char** name);

void EnnSysClose(intptr_t handle);

// Removes the aside file of writer at once, from a signal or console handler:
// only calls that are safe there.
void EnnSysRemoveAsideNow(EnnWriter* writer);

// The one table of aside files that need removing if the process is
// interrupted, which EnnDiscardAllAside walks. Registering fails when it is
// full: the file is then not made (ENN_FAULT_NO_MEMORY). Unregistering is
// true when the writer was still there, so that whoever takes it out of the
// table closes it, once.
bool EnnRegisterAside(EnnWriter* writer);
bool EnnUnregisterAside(EnnWriter* writer);

#endif
