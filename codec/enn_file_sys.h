// What each system gives the file layer's policy (enn_file.cpp): names and
// their errors, aside files (unnamed, or named and marked for deletion),
// looks, linking or moving into place, writing in place. enn_file_posix.cpp
// and enn_file_win32.cpp each define these, and the reader's functions of
// enn_file.h; nothing here decides what to do. Every int is an ENN_FAULT_.
// Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_FILE_SYS_H
#define VELTRANE_CODEC_ENN_FILE_SYS_H

#include <cstddef>
#include <cstdint>

#include "codec/enn_file.h"

// The characters that end the folder part of a path, and what follows a
// private name in the name of an aside file: the file inside its private
// folder, or nothing where the aside file is the private name itself.
extern const char kEnnSeparators[];
extern const char kEnnAsideTail[];

// The number of this process, which its aside names carry.
unsigned long EnnSysProcessId();

// One read of up to size bytes at offset, leaving where the file stands as
// it was (negative: where it stands, moving on): the count, 0 at the end, or
// -1 on an error.
int EnnSysReadOnce(intptr_t handle, unsigned char* buf, int size, long long offset);

// One write of up to size bytes, placed as EnnSysReadOnce reads: the count,
// at least 1, or -1 with *fault telling DISK_FULL or WRITE.
int EnnSysWriteOnce(intptr_t handle, const unsigned char* buf, int size, long long offset,
                    int* fault);

// Starts the disk writing bytes from to to of the file, without waiting
// (where the system has a way to).
void EnnSysStartWriteBack(intptr_t handle, long long from, long long to);

// Flushes the file to disk: ENN_FAULT_NONE, DISK_FULL or WRITE.
int EnnSysFlush(intptr_t handle);

void EnnSysClose(intptr_t handle);

// What stands at path: ENN_FAULT_NONE where the name is free or a regular
// file (or a link to one) the caller may write stands there, *exists telling
// which; else SAME_FILE, OUTPUT_FOLDER, NOT_REGULAR, NO_FOLDER,
// NAME_TOO_LONG, or READ_ONLY (*exists set).
int EnnSysLookAt(const char* path, const EnnFileId* source, bool* exists);

// Opens the file at path for reading, never through a link and without
// waiting, where it is the caller's own as ENN_ACCEPT_PRESENT (codec/enn.h)
// has it, judged on the handle opened: ENN_FAULT_NONE, EXISTS where it is
// not, READ_EXISTING where it cannot be opened for another cause.
int EnnSysOpenOwn(const char* path, EnnReader* reader);

// True when path itself (not through a link) is a regular file the caller
// may write in place.
bool EnnSysWritableInPlace(const char* path);

// Writes the name for a file made in the system's temporary folder into out;
// false when it does not fit.
bool EnnSysTemporaryName(char* out, std::size_t size);

// Removes, once a process, what writers of the caller's that were killed
// left in path's folder, and nothing else (enn_file_posix.cpp says how it
// knows); on Windows nothing, as an aside file goes with its handle.
void EnnSysSweep(const char* path);

// Makes an empty file with no name in path's folder, readable by its writer
// alone, into writer->handle, and sets writer->unnamed. True when it did, or
// when the folder took no new file (*fault ENN_FAULT_DENIED); false where the
// file system has no unnamed files (Windows has none).
bool EnnSysMakeUnnamed(const char* path, EnnWriter* writer, int* fault);

// Makes the empty file writer->aside names, readable by its writer alone:
// on POSIX in a new private folder of its writer's, locked while the writer
// has it (writer->lock). ENN_FAULT_NONE, EXISTS when the name is taken, or
// DENIED, NO_FOLDER, NAME_TOO_LONG, DISK_FULL, NO_OUTPUT.
int EnnSysMakeNamed(EnnWriter* writer);

// Gives the unnamed file of writer the name writer->aside, in a new private
// folder as EnnSysMakeNamed makes one; the faults of EnnSysMakeNamed.
int EnnSysNameUnnamed(EnnWriter* writer);

// Sets on the empty aside file what the file at path carries and a
// replacement must keep, as far as it can be set without granting anyone
// access: where it cannot be set, ENN_FAULT_ACL_NOT_KEPT or
// ATTRIBUTES_NOT_KEPT. ENN_FAULT_NONE where nothing stands at path.
int EnnSysTryLooks(EnnWriter* writer, const char* path);

// Gives the finished aside file its final looks: those of the regular file
// at path where replace and one stands there, else those a new file made
// there gets. ENN_FAULT_NONE, ACL_NOT_KEPT or ATTRIBUTES_NOT_KEPT.
int EnnSysFinalLooks(EnnWriter* writer, const char* path, bool replace);

// Gives the finished, flushed aside file the name path (a named one when
// replace): replacing what stands there, or only while the name is free, and
// flushes the folder. On success the aside name and its private folder are
// gone; on failure the writer is as it was. ENN_FAULT_NONE, EXISTS, DENIED,
// OUTPUT_FOLDER, MOUNT_POINT, NO_MEMORY, DISK_FULL, WRITE.
int EnnSysPlace(EnnWriter* writer, const char* path, bool replace);

// The regular file at path opened for writing in place, never through a link
// and only while it is still the file looked at: ENN_FAULT_NONE, or DENIED (a
// link there), READ_ONLY, NOT_REGULAR, WRITE.
int EnnSysOpenInPlace(const char* path, intptr_t* handle);

// Reserves size bytes for the file, so that a full disk is found before its
// content is touched: ENN_FAULT_NONE or DISK_FULL.
int EnnSysReserve(intptr_t handle, long long size);

// Cuts the file at size and flushes it: ENN_FAULT_NONE, DISK_FULL or WRITE.
int EnnSysEndInPlace(intptr_t handle, long long size);

// Removes the aside file writer->aside names, and its private folder, at
// once, from a signal or console handler: only calls that are safe there.
// On Windows it goes with its handle, which this closes (writer->handle -1).
void EnnSysRemoveAside(EnnWriter* writer);

// Closes what the writer holds; where remove, its aside file and private
// folder go too, the file closed first.
void EnnSysCloseWriter(EnnWriter* writer, bool remove);

#endif
