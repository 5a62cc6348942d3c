// The system calls of the codec's file layer that touch files, in one table.
// Each side of the layer makes them only through g_ennSys, so that a test can
// put a call of its own in place of any of them (a read that fails, a file
// system without unnamed files or without locks, a folder that takes no new
// file) and EnnRestoreSystemCalls puts the real ones back. (Made directly:
// reading a folder for leftovers and removing them, asking whether a process
// lives, following links towards /proc, reserving space before a copy in
// place, the hints that start writing back; on Windows, access rules, file
// information read by handle, and the deletion mark.) Not part of the codec's
// interface.
#ifndef VELTRANE_CODEC_ENN_SYSCALLS_H
#define VELTRANE_CODEC_ENN_SYSCALLS_H

#ifdef _WIN32
#include <windows.h>

struct EnnSystemCalls {
    HANDLE(WINAPI* createFile)
    (LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD creation,
     DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* readFile)(HANDLE file, LPVOID buf, DWORD size, LPDWORD got, LPOVERLAPPED at);
    BOOL(WINAPI* writeFile)
    (HANDLE file, LPCVOID buf, DWORD size, LPDWORD put, LPOVERLAPPED at);
    BOOL(WINAPI* flushFileBuffers)(HANDLE file);
    BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR name);
    DWORD(WINAPI* getTempPath)(DWORD size, LPWSTR buf);
};
#else
#include <sys/stat.h>
#include <sys/types.h>

struct EnnSystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buf, size_t size);
    ssize_t (*pread)(int fd, void* buf, size_t size, off_t offset);
    ssize_t (*write)(int fd, const void* buf, size_t size);
    ssize_t (*pwrite)(int fd, const void* buf, size_t size, off_t offset);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t size);
    int (*fstat)(int fd, struct stat* st);
    int (*stat)(const char* path, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    int (*faccessat)(int dirfd, const char* path, int mode, int flags);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
    int (*link)(const char* from, const char* to);
    int (*linkat)(int fromdir, const char* from, int todir, const char* to, int flags);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    ssize_t (*listxattr)(const char* path, char* names, size_t size);
    ssize_t (*getxattr)(const char* path, const char* name, void* value, size_t size);
    ssize_t (*fgetxattr)(int fd, const char* name, void* value, size_t size);
    int (*fsetxattr)(int fd, const char* name, const void* value, size_t size, int flags);
    int (*mkdir)(const char* path, mode_t mode);
    int (*rmdir)(const char* path);
    int (*flock)(int fd, int operation);
};
#endif

// The real calls, each system's own: a function, so that the table is made
// from them whatever order the files' statics start in.
EnnSystemCalls EnnRealSystemCalls();

// The calls the layer makes now; the real ones unless a test replaced some.
extern EnnSystemCalls g_ennSys;

// Puts the real calls back in every entry.
void EnnRestoreSystemCalls();

#endif
