// The Win32 side of the codec's file layer. Paths arrive as UTF-8 and go to the
// wide calls as full paths in the \\?\ form, so that neither the ANSI code
// page nor the 260-character limit applies; \ and / both separate folders.
#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_file_sys.h"
#include "codec/enn_syscalls.h"
#include "text/utf16.h"

EnnSystemCalls EnnRealSystemCalls() {
    return {CreateFileW,      ReadFile,           WriteFile,    FlushFileBuffers,
            MoveFileExW,      GetFileAttributesW, GetTempPathW, CreateDirectoryW,
            RemoveDirectoryW, DeleteFileW,        SetFileTime,  GetTickCount64};
}

namespace {

HANDLE Handle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
    return s.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The \\?\ form of the full path of a path; "" when it has no full path.
// Names of devices (CON, NUL, COM1, ...) come out as \\.\ paths, which open
// the device: the callers refuse what is not a disk file.
std::wstring LongPath(const std::wstring& wide) {
    if (wide.empty()) {
        return std::wstring();
    }
    if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) {
        return wide;
    }
    const DWORD need = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (need == 0) {
        return std::wstring();
    }
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), need, &full[0], nullptr);
    if (got == 0 || got >= need) {
        return std::wstring();
    }
    full.resize(got);
    if (StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\")) {
        return full;
    }
    if (StartsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    }
    return L"\\\\?\\" + full;
}

// The same for a UTF-8 path; "" too when it is not valid UTF-8.
std::wstring LongPath(const char* path) {
    return LongPath(WideFromUtf8(path).value_or(std::wstring()));
}

std::string Utf8(const std::wstring& wide) {
    return Utf8FromWide(wide).value_or(std::string());
}

long long Join(DWORD high, DWORD low) {
    return static_cast<long long>((static_cast<unsigned long long>(high) << 32) | low);
}

EnnFileId IdOf(const BY_HANDLE_FILE_INFORMATION& info) {
    EnnFileId id;
    id.volume = info.dwVolumeSerialNumber;
    id.index = static_cast<uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow));
    return id;
}

long long ModifiedOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
}

// Marks the open file for deletion when its last handle closes, or takes the
// mark back. Marked, an aside file goes whatever ends the process.
bool MarkForDeletion(HANDLE file, bool deleteOnClose) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleteOnClose ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

std::atomic<unsigned> g_serial{0};

// What every aside name starts with, in whatever folder.
constexpr wchar_t kAsideMark[] = L"" ENN_ASIDE_MARK;

// "FOLDER.enn-aside-PID-XXXXXXXX" for folder (ending in a separator): the
// mark, the process id and a random part, and nothing of the name it stands
// in for, so that it fits wherever that name does.
std::wstring PrivateName(const std::wstring& folder) {
    wchar_t tail[48];
    std::swprintf(tail, sizeof tail / sizeof tail[0], L"%ls%lu-%08x", kAsideMark,
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  g_serial.fetch_add(1) * 2654435761u ^ static_cast<unsigned>(GetTickCount()));
    return folder + tail;
}

// Writes a fresh aside name in the folder of the full path into aside. False
// when the path has no folder part.
bool AsideName(const std::wstring& full, std::wstring* aside) {
    const size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 >= full.size()) {
        return false;
    }
    *aside = PrivateName(full.substr(0, slash + 1));
    return true;
}

// Why writing failed, by the system's error: a full disk apart.
int WriteFault(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENN_FAULT_DISK_FULL
                                                                       : ENN_FAULT_WRITE;
}

// Where a positioned read or write starts.
OVERLAPPED At(long long offset) {
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset));
    where.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
    return where;
}

}  // namespace

int EnnSysReadOnce(intptr_t handle, unsigned char* buf, int size, long long offset) {
    OVERLAPPED where = At(offset);
    DWORD got = 0;
    if (!g_ennSys.readFile(Handle(handle), buf, static_cast<DWORD>(size), &got,
                           offset < 0 ? nullptr : &where)) {
        // How a positioned read past the end ends.
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<int>(got);
}

int EnnSysWriteOnce(intptr_t handle, const unsigned char* buf, int size, long long offset,
                    int* fault) {
    OVERLAPPED where = At(offset);
    DWORD put = 0;
    if (!g_ennSys.writeFile(Handle(handle), buf, static_cast<DWORD>(size), &put,
                            offset < 0 ? nullptr : &where) ||
        put == 0) {
        *fault = WriteFault(GetLastError());
        return -1;
    }
    return static_cast<int>(put);
}

namespace {

// Why a new file cannot be made in a folder, by the system's error.
int CreateFault(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return ENN_FAULT_DENIED;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            return ENN_FAULT_NO_FOLDER;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENN_FAULT_NAME_TOO_LONG;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENN_FAULT_DISK_FULL;
        default:
            return ENN_FAULT_NO_OUTPUT;
    }
}

// True when the file at the full path wide is one the caller may write: not
// read-only, and opened for writing when asked (others may have it open).
bool Writable(const std::wstring& wide) {
    const DWORD attributes = g_ennSys.getFileAttributes(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    HANDLE file = g_ennSys.createFile(wide.c_str(), FILE_WRITE_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return true;
}

}  // namespace

int EnnOpenReader(const char* path, EnnReader* reader) {
    const std::wstring wide = LongPath(path);
    if (wide.empty()) {
        return ENN_FAULT_NO_INPUT;
    }
    // Others may go on reading, writing, renaming or deleting, as on POSIX;
    // EnnReaderUnchanged catches a change. Folders do not open without
    // FILE_FLAG_BACKUP_SEMANTICS.
    HANDLE file = g_ennSys.createFile(wide.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = g_ennSys.getFileAttributes(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return ENN_FAULT_INPUT_FOLDER;
        }
        return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                   ? ENN_FAULT_INPUT_DENIED
                   : ENN_FAULT_NO_INPUT;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(file);
        return ENN_FAULT_INPUT_NOT_REGULAR;
    }
    reader->handle = reinterpret_cast<intptr_t>(file);
    reader->size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    reader->modified = ModifiedOf(info);
    reader->id = IdOf(info);
    return ENN_FAULT_NONE;
}

bool EnnReaderUnchanged(const EnnReader* reader) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(Handle(reader->handle), &info) &&
           Join(info.nFileSizeHigh, info.nFileSizeLow) == reader->size &&
           ModifiedOf(info) == reader->modified;
}

void EnnCloseReader(EnnReader* reader) {
    if (reader->handle != -1) {
        CloseHandle(Handle(reader->handle));
        reader->handle = -1;
    }
}

int EnnSysLookAt(const char* path, const EnnFileId* source, bool* exists) {
    *exists = false;
    const std::wstring wide = LongPath(path);
    if (wide.empty()) {
        return ENN_FAULT_NONE;  // making the file aside tells what is wrong
    }
    // Reading attributes is allowed whatever others share; the name itself is
    // looked at, not what a reparse point (a symbolic link, a junction) leads to.
    HANDLE file = g_ennSys.createFile(
        wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_PATH_NOT_FOUND:
                return ENN_FAULT_NO_FOLDER;
            case ERROR_FILENAME_EXCED_RANGE:
                return ENN_FAULT_NAME_TOO_LONG;
            default:
                return ENN_FAULT_NONE;  // free, or making the file aside tells
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known) {
        return ENN_FAULT_NOT_REGULAR;  // a device, a pipe, the console
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ENN_FAULT_OUTPUT_FOLDER;  // a folder, or a link or junction to one
    }
    *exists = true;
    EnnFileId id = IdOf(info);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link: what it leads to decides.
        HANDLE followed =
            g_ennSys.createFile(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (followed == INVALID_HANDLE_VALUE) {
            return ENN_FAULT_NONE;  // a link that leads nowhere is only a name
        }
        BY_HANDLE_FILE_INFORMATION end;
        const bool disk =
            GetFileType(followed) == FILE_TYPE_DISK && GetFileInformationByHandle(followed, &end);
        CloseHandle(followed);
        if (!disk) {
            return ENN_FAULT_NOT_REGULAR;
        }
        if ((end.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return ENN_FAULT_OUTPUT_FOLDER;
        }
        id = IdOf(end);
    }
    if (source != nullptr && EnnSameFile(id, *source)) {
        return ENN_FAULT_SAME_FILE;
    }
    return Writable(wide) ? ENN_FAULT_NONE : ENN_FAULT_READ_ONLY;
}

namespace {

// The system's temporary folder (the user's own), in the \\?\ form and
// ending in a separator; "" when it has none that fits.
std::wstring TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = g_ennSys.getTempPath(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) {
        return std::wstring();
    }
    const std::wstring full = LongPath(std::wstring(folder, n));
    return full.empty() || full.back() == L'\\' ? full : full + L'\\';
}

// A copy in place is staged in a private folder of the temporary folder,
// .enn-aside-PID-XXXXXXXX\: the whole new file, and the note of its target
// (enn_file_sys.h), written under a name of its own and moved to its name
// only once it is whole and flushed with its bound.
constexpr wchar_t kStagedFile[] = L"\\" ENN_STAGED_FILE;
constexpr wchar_t kNote[] = L"\\" ENN_NOTE;
constexpr wchar_t kNoteNew[] = L"\\" ENN_NOTE_NEW;

// The bound (enn_file.h) in FILETIME's 100 ns, and its renewal in ms.
constexpr long long kBound = kEnnBoundSeconds * 10000000;
constexpr ULONGLONG kRenew = kEnnRenewSeconds * 1000;

long long TimeOf(const FILETIME& time) {
    return Join(time.dwHighDateTime, time.dwLowDateTime);
}

FILETIME FileTimeOf(long long time) {
    FILETIME out;
    out.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(time));
    out.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(time) >> 32);
    return out;
}

// Bounds, in the note of a staged copy, its target's last-write time for the
// next kBound, when the bound is due for renewal. The target is touched with
// this machine's clock and its time read back, so that the bound is the time
// its file system keeps (rounded as it rounds); the note takes it as its own
// last-write time, flushed, before the copy writes on. ENN_FAULT_NONE, or
// DISK_FULL or WRITE where a time cannot be set or flushed.
int BoundTarget(EnnWriter* writer, HANDLE target) {
    const ULONGLONG now = g_ennSys.getTickCount64();
    if (now < static_cast<ULONGLONG>(writer->boundDue)) {
        return ENN_FAULT_NONE;
    }
    FILETIME touch;
    GetSystemTimeAsFileTime(&touch);
    FILETIME back;
    if (!g_ennSys.setFileTime(target, nullptr, nullptr, &touch) ||
        !GetFileTime(target, nullptr, nullptr, &back)) {
        return WriteFault(GetLastError());
    }
    const FILETIME bound = FileTimeOf(TimeOf(back) + kBound);
    HANDLE note = Handle(writer->note);
    if (!g_ennSys.setFileTime(note, nullptr, nullptr, &bound) || !g_ennSys.flushFileBuffers(note)) {
        return WriteFault(GetLastError());
    }
    writer->boundDue = static_cast<long long>(now + kRenew);
    return ENN_FAULT_NONE;
}

// Removes a staged copy's private folder: the note first, so that what a
// cut leaves of it tells of no copy to finish.
void RemoveStaged(const std::wstring& folder) {
    g_ennSys.deleteFile((folder + kNote).c_str());
    g_ennSys.deleteFile((folder + kNoteNew).c_str());
    g_ennSys.deleteFile((folder + kStagedFile).c_str());
    g_ennSys.removeDirectory(folder.c_str());
}

// The private folder of the staged file at the full path file.
std::wstring StagedFolder(const std::wstring& file) {
    return file.substr(0, file.size() - (sizeof kStagedFile / sizeof kStagedFile[0] - 1));
}

// True when process pid is gone: there is no such process, or it has
// exited. A running process, another user's too, is not gone.
bool ProcessGone(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    const bool exited = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return exited;
}

// Finishes the copy in place that the note open at note, in the private
// folder sub, tells of; as FinishCopy.
bool FinishFromNote(const std::wstring& sub, HANDLE note) {
    unsigned char text[2 * sizeof EnnWriter().aside + 64] = {};
    FILETIME bound;
    if (!GetFileTime(note, nullptr, nullptr, &bound) ||
        EnnReadLoop(reinterpret_cast<intptr_t>(note), text, static_cast<int>(sizeof text - 1), 0) <
            0) {
        return false;
    }
    EnnFileId noted;
    const char* name = nullptr;
    if (!EnnReadNote(reinterpret_cast<const char*>(text), &noted, &name)) {
        return true;  // no note whole: the copy never started
    }
    const std::wstring path = LongPath(name);
    HANDLE look =
        path.empty()
            ? INVALID_HANDLE_VALUE
            : CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                          nullptr);
    if (look == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // gone since
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(look, &info) != 0;
    CloseHandle(look);
    if (!known) {
        return false;
    }
    if (!EnnSameFile(IdOf(info), noted)) {
        return true;  // replaced since by a whole file
    }
    if (ModifiedOf(info) > TimeOf(bound)) {
        // Changed after the cut, by its owner: what they wrote stays, and so
        // does the staged copy, for nothing to be lost.
        return false;
    }
    HANDLE file = CreateFileW((sub + kStagedFile).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // nothing to finish it from
    }
    EnnWriter from;
    from.handle = reinterpret_cast<intptr_t>(file);
    from.staged = true;  // the copy renews the note's bound as it goes
    from.note = reinterpret_cast<intptr_t>(note);
    LARGE_INTEGER size = {};
    intptr_t target = -1;
    bool done = GetFileSizeEx(file, &size) && EnnSysOpenInPlace(name, &target) == ENN_FAULT_NONE;
    if (done) {
        // Still the file looked at, now that it is open for writing.
        done = GetFileInformationByHandle(Handle(target), &info) &&
               EnnSameFile(IdOf(info), noted) &&
               EnnCopyOver(&from, size.QuadPart, target) == ENN_FAULT_NONE;
        CloseHandle(Handle(target));
    }
    CloseHandle(file);
    return done;
}

// Finishes, from the private folder sub, the copy in place its note tells
// of: true when nothing is left to do (done, or the target is no longer the
// file noted), false when it failed, or the target was changed after the
// copy was cut, and the copy is to stay.
bool FinishCopy(const std::wstring& sub) {
    HANDLE note = CreateFileW((sub + kNote).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (note == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // no note: the copy never started
    }
    const bool done = FinishFromNote(sub, note);
    CloseHandle(note);
    return done;
}

// Removes from folder (ending in a separator) the aside files and private
// folders of processes that are gone: what a kill left. A private folder
// with a note finishes the copy in place it was for first. Never one of a
// process still running.
void RemoveLeftovers(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + kAsideMark + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    const size_t markLen = sizeof kAsideMark / sizeof kAsideMark[0] - 1;
    do {
        const std::wstring entry = found.cFileName;
        wchar_t* end = nullptr;
        const unsigned long pid =
            entry.size() > markLen ? std::wcstoul(entry.c_str() + markLen, &end, 10) : 0;
        if (pid == 0 || end == nullptr || *end != L'-' || pid == GetCurrentProcessId() ||
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            !ProcessGone(static_cast<DWORD>(pid))) {
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileW((folder + entry).c_str());
            continue;
        }
        // Taken under this process's own name first, so that no other sweep
        // works on it at once, and a kill now leaves it to the next.
        const std::wstring mine = PrivateName(folder);
        if (MoveFileExW((folder + entry).c_str(), mine.c_str(), MOVEFILE_WRITE_THROUGH) &&
            FinishCopy(mine)) {
            RemoveStaged(mine);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Sweeps folder once in a process: a folder may hold thousands of files, and
// what a process leaves is swept by the next.
void SweepOnce(const std::wstring& folder) {
    static std::mutex guard;
    static std::set<std::wstring> swept;
    {
        const std::lock_guard<std::mutex> lock(guard);
        if (folder.empty() || !swept.insert(folder).second) {
            return;
        }
    }
    RemoveLeftovers(folder);
}

}  // namespace

int EnnSysMakeAside(const char* path, EnnWriter* writer) {
    *writer = EnnWriter();
    // A copy in place that a killed writer cut short, staged in the
    // temporary folder, is finished first, whatever folder this write is for.
    SweepOnce(TemporaryFolder());
    const std::wstring full = LongPath(path);
    if (full.empty()) {
        return ENN_FAULT_NO_OUTPUT;
    }
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring aside;
        if (!AsideName(full, &aside)) {
            return ENN_FAULT_NO_FOLDER;
        }
        // DELETE access for the deletion mark, WRITE_DAC for the access
        // rules of the file it replaces; FILE_SHARE_DELETE so that
        // MoveFileExW can open it to put it in place while it is open here,
        // and nothing else: while this handle lives, nobody else can open the
        // file to read what is written into it, whatever its access rules.
        HANDLE file = g_ennSys.createFile(
            aside.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
            FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return CreateFault(error);
        }
        const std::string name = Utf8(aside);
        writer->handle = reinterpret_cast<intptr_t>(file);
        if (!MarkForDeletion(file, true) || name.empty() || name.size() >= sizeof writer->aside) {
            MarkForDeletion(file, true);
            CloseHandle(file);
            DeleteFileW(aside.c_str());
            *writer = EnnWriter();
            return ENN_FAULT_NO_OUTPUT;
        }
        std::memcpy(writer->aside, name.c_str(), name.size() + 1);
        if (!EnnRegisterAside(writer)) {
            CloseHandle(file);  // marked: the file goes with its handle
            *writer = EnnWriter();
            return ENN_FAULT_NO_MEMORY;
        }
        return ENN_FAULT_NONE;
    }
    return CreateFault(error);
}

bool EnnSysWritableInPlace(const char* path) {
    const std::wstring full = LongPath(path);
    if (full.empty()) {
        return false;
    }
    const DWORD attributes = g_ennSys.getFileAttributes(full.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           Writable(full);
}

bool EnnSysTemporaryName(char* out, std::size_t size) {
    const std::wstring folder = TemporaryFolder();
    const std::string path = folder.empty() ? std::string() : Utf8(folder + L"enn");
    if (path.empty() || path.size() >= size) {
        return false;
    }
    std::memcpy(out, path.c_str(), path.size() + 1);
    return true;
}

namespace {

// Gives the aside file the access rules of the file at the full path target,
// which it is to replace: a new file in the folder would take the folder's
// inherited rules instead, which may grant more. Nobody else can open the
// aside file meanwhile (see EnnSysMakeAside). ENN_FAULT_NONE, or
// ENN_FAULT_ACL_NOT_KEPT when they cannot be read or set.
int CarryAccessRules(HANDLE aside, const std::wstring& target) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return ENN_FAULT_ACL_NOT_KEPT;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD set = SetSecurityInfo(aside, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return set == ERROR_SUCCESS ? ENN_FAULT_NONE : ENN_FAULT_ACL_NOT_KEPT;
}

// The attributes of a file that its owner sets and a replacement keeps.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives the finished aside file the attributes of the file at target, if any.
void CarryAttributes(HANDLE aside, const std::wstring& target) {
    const DWORD old = g_ennSys.getFileAttributes(target.c_str());
    if (old == INVALID_FILE_ATTRIBUTES || (old & kCarriedAttributes) == 0) {
        return;
    }
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = old & kCarriedAttributes;
    SetFileInformationByHandle(aside, FileBasicInfo, &basic, sizeof basic);
}

}  // namespace

int EnnSysTryLooks(EnnWriter* writer, const char* path) {
    // Set for good at once: the file is unshared while it is written.
    const std::wstring target = LongPath(path);
    const DWORD attributes =
        target.empty() ? INVALID_FILE_ATTRIBUTES : g_ennSys.getFileAttributes(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ENN_FAULT_NONE;
    }
    return CarryAccessRules(Handle(writer->handle), target);
}

int EnnSysFlush(EnnWriter* writer) {
    return g_ennSys.flushFileBuffers(Handle(writer->handle)) ? ENN_FAULT_NONE
                                                             : WriteFault(GetLastError());
}

int EnnSysPlace(EnnWriter* writer, const char* path, EnnPlacing placing) {
    HANDLE file = Handle(writer->handle);
    const std::wstring target = LongPath(path);
    const std::wstring aside = LongPath(writer->aside);
    if (target.empty() || aside.empty()) {
        return ENN_FAULT_WRITE;
    }
    if (placing == ENN_PLACE_REPLACE) {
        CarryAttributes(file, target);
    }
    // The content and the attributes reach the disk before the name does.
    if (const int why = EnnSysFlush(writer)) {
        return why;
    }
    // A file marked for deletion cannot be opened, not even by MoveFileExW:
    // the mark comes off just before the move, and EnnDiscard puts it back.
    if (!MarkForDeletion(file, false)) {
        return ENN_FAULT_WRITE;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails rather than replace a
    // file that appeared meanwhile, as link() does on POSIX.
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (placing == ENN_PLACE_REPLACE ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!g_ennSys.moveFileEx(aside.c_str(), target.c_str(), flags)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return placing == ENN_PLACE_NEW ? ENN_FAULT_EXISTS : ENN_FAULT_WRITE;
        }
        return error == ERROR_ACCESS_DENIED ? ENN_FAULT_DENIED : WriteFault(error);
    }
    writer->aside[0] = '\0';
    if (EnnUnregisterAside(writer)) {
        CloseHandle(file);
    }
    writer->handle = -1;
    return ENN_FAULT_NONE;
}

int EnnSysOpenInPlace(const char* path, intptr_t* handle) {
    const std::wstring target = LongPath(path);
    // The name itself, never what a link there leads to.
    HANDLE file =
        target.empty()
            ? INVALID_HANDLE_VALUE
            : g_ennSys.createFile(target.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_ACCESS_DENIED ? ENN_FAULT_READ_ONLY : ENN_FAULT_WRITE;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) {
        CloseHandle(file);
        return ENN_FAULT_NOT_REGULAR;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        CloseHandle(file);
        return ENN_FAULT_DENIED;
    }
    *handle = reinterpret_cast<intptr_t>(file);
    return ENN_FAULT_NONE;
}

int EnnSysReserve(intptr_t handle, long long size) {
    HANDLE file = Handle(handle);
    LARGE_INTEGER old = {};
    GetFileSizeEx(file, &old);
    if (size > old.QuadPart) {
        FILE_ALLOCATION_INFO reserve;
        reserve.AllocationSize.QuadPart = size;
        if (!SetFileInformationByHandle(file, FileAllocationInfo, &reserve, sizeof reserve) &&
            WriteFault(GetLastError()) == ENN_FAULT_DISK_FULL) {
            return ENN_FAULT_DISK_FULL;
        }
    }
    return ENN_FAULT_NONE;
}

int EnnSysWriteAt(intptr_t handle, const unsigned char* buf, int size, long long offset) {
    return EnnWriteLoop(handle, buf, size, offset);
}

int EnnSysEndInPlace(intptr_t handle, long long size) {
    HANDLE file = Handle(handle);
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !g_ennSys.flushFileBuffers(file)) {
        return WriteFault(GetLastError());
    }
    return ENN_FAULT_NONE;
}

void EnnSysClose(intptr_t handle) {
    CloseHandle(Handle(handle));
}

int EnnSysStage(EnnWriter* writer, const char* path, intptr_t target) {
    if (writer->staged) {
        return BoundTarget(writer, Handle(target));  // the copy goes on
    }
    // The target by its volume and file index, and by its full name.
    BY_HANDLE_FILE_INFORMATION info;
    const std::string name = Utf8(LongPath(path));
    char note[2 * sizeof writer->aside + 64];
    const int n = name.empty() || !GetFileInformationByHandle(Handle(target), &info)
                      ? -1
                      : EnnNoteText(note, sizeof note, IdOf(info), name.c_str());
    const std::wstring temporary = TemporaryFolder();
    if (n < 0 || temporary.empty()) {
        return ENN_FAULT_WRITE;
    }
    std::wstring folder;
    for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
        const std::wstring fresh = PrivateName(temporary);
        if (g_ennSys.createDirectory(fresh.c_str(), nullptr)) {
            folder = fresh;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return WriteFault(GetLastError());
        }
    }
    const std::string staged = Utf8(folder + kStagedFile);
    if (folder.empty() || staged.empty() || staged.size() >= sizeof writer->aside) {
        if (!folder.empty()) {
            g_ennSys.removeDirectory(folder.c_str());
        }
        return ENN_FAULT_WRITE;
    }
    // The whole new file is made anew there and flushed, while the aside file
    // stays marked for deletion; nobody else can open it to read (see
    // EnnSysMakeAside).
    HANDLE file =
        g_ennSys.createFile((folder + kStagedFile).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    int why = file == INVALID_HANDLE_VALUE
                  ? WriteFault(GetLastError())
                  : EnnCopyOver(writer, writer->written, reinterpret_cast<intptr_t>(file));
    // The note takes its name only once it is whole and flushed with its
    // bound, before the first write to the target: a note found under that
    // name after any cut bounds the target, and without one the target was
    // never written.
    HANDLE fresh = INVALID_HANDLE_VALUE;
    if (why == ENN_FAULT_NONE) {
        fresh = g_ennSys.createFile((folder + kNoteNew).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
        why = fresh == INVALID_HANDLE_VALUE
                  ? WriteFault(GetLastError())
                  : EnnWriteLoop(reinterpret_cast<intptr_t>(fresh),
                                 reinterpret_cast<const unsigned char*>(note), n, 0);
    }
    if (why == ENN_FAULT_NONE) {
        writer->note = reinterpret_cast<intptr_t>(fresh);
        writer->boundDue = 0;
        why = BoundTarget(writer, Handle(target));
        writer->note = -1;
    }
    if (why == ENN_FAULT_NONE &&
        !g_ennSys.moveFileEx((folder + kNoteNew).c_str(), (folder + kNote).c_str(),
                             MOVEFILE_WRITE_THROUGH)) {
        why = WriteFault(GetLastError());
    }
    if (why != ENN_FAULT_NONE) {
        if (fresh != INVALID_HANDLE_VALUE) {
            CloseHandle(fresh);
        }
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        RemoveStaged(folder);
        return why;
    }
    // The staged file takes the aside file's place in the writer, and the
    // aside file goes; from here EnnDiscard removes the staged copy.
    HANDLE aside = Handle(writer->handle);
    const std::wstring asideName = LongPath(writer->aside);
    writer->handle = reinterpret_cast<intptr_t>(file);
    writer->note = reinterpret_cast<intptr_t>(fresh);
    std::memcpy(writer->aside, staged.c_str(), staged.size() + 1);
    writer->staged = true;
    // Where a refused move took the mark off, it goes back first.
    if (!MarkForDeletion(aside, true) && !asideName.empty()) {
        CloseHandle(aside);
        g_ennSys.deleteFile(asideName.c_str());
    } else {
        CloseHandle(aside);
    }
    return ENN_FAULT_NONE;
}

void EnnSysRemoveAsideNow(EnnWriter* writer) {
    // Marked for deletion while it is written: closing removes it. A staged
    // copy in place stays for the next write to finish.
    if (!writer->staged) {
        CloseHandle(Handle(writer->handle));
    }
}

int EnnReadBack(EnnWriter* writer, long long offset, unsigned char* buf, int size) {
    // A positioned read moves the file pointer of a synchronous handle too;
    // appending goes on from where it was.
    HANDLE file = Handle(writer->handle);
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end;
    if (!SetFilePointerEx(file, zero, &end, FILE_CURRENT)) {
        return -1;
    }
    const int done = EnnReadLoop(writer->handle, buf, size, offset);
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ? done : -1;
}

int EnnWriteAll(EnnWriter* writer, const void* buf, int size) {
    const int why = EnnWriteLoop(writer->handle, static_cast<const unsigned char*>(buf), size, -1);
    if (why == ENN_FAULT_NONE) {
        writer->written += size;
    }
    return why;
}

int EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size) {
    // A positioned write moves the file pointer of a synchronous handle too;
    // appending goes on from where it was.
    HANDLE file = Handle(writer->handle);
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end;
    if (!SetFilePointerEx(file, zero, &end, FILE_CURRENT)) {
        return ENN_FAULT_WRITE;
    }
    const int why =
        EnnWriteLoop(writer->handle, static_cast<const unsigned char*>(buf), size, offset);
    if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && why == ENN_FAULT_NONE) {
        return ENN_FAULT_WRITE;
    }
    return why;
}

void EnnDiscard(EnnWriter* writer) {
    // A note open while the writer is no longer staged: a copy in place that
    // failed part-way, whose staged copy stays for the next write to finish.
    const bool kept = writer->note != -1 && !writer->staged;
    if (writer->note != -1) {
        CloseHandle(Handle(writer->note));
        writer->note = -1;
    }
    if (writer->handle != -1) {
        HANDLE file = Handle(writer->handle);
        writer->handle = -1;
        // Not in the table: EnnDiscardAllAside has closed it already (or
        // left a staged copy), or a failed copy in place keeps it.
        const bool mine = EnnUnregisterAside(writer);
        if (mine && writer->staged) {
            // The target is flushed: the staged copy goes, before success is
            // reported.
            CloseHandle(file);
            const std::wstring staged = LongPath(writer->aside);
            if (!staged.empty()) {
                RemoveStaged(StagedFolder(staged));
            }
        } else if (kept) {
            CloseHandle(file);
        } else if (mine) {
            // The mark deletes the file when the handle closes, under
            // whatever name it has by then.
            const bool marked = MarkForDeletion(file, true);
            CloseHandle(file);
            const std::wstring aside = LongPath(writer->aside);
            if (!marked && !aside.empty()) {
                DeleteFileW(aside.c_str());
            }
        }
    }
    writer->aside[0] = '\0';
    writer->unnamed = false;
    writer->inPlace = false;
    writer->staged = false;
}
