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
#include <string>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "crypto/wipe.h"
#include "text/utf16.h"

namespace {

constexpr EnnSystemCalls kRealCalls = {
    CreateFileW, ReadFile,           WriteFile,    FlushFileBuffers,
    MoveFileExW, GetFileAttributesW, GetTempPathW,
};

}  // namespace

EnnSystemCalls g_ennSys = kRealCalls;

void EnnRestoreSystemCalls() {
    g_ennSys = kRealCalls;
}

namespace {

HANDLE Handle(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
    return s.compare(0, std::wcslen(prefix), prefix) == 0;
}

// The \\?\ form of the full path of a UTF-8 path; "" when it is not valid
// UTF-8 or has no full path. Names of devices (CON, NUL, COM1, ...) come out
// as \\.\ paths, which open the device: the callers refuse what is not a disk
// file.
std::wstring LongPath(const char* path) {
    const std::wstring wide = WideFromUtf8(path).value_or(std::wstring());
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

bool SameId(const EnnFileId& a, const EnnFileId& b) {
    return a.volume == b.volume && a.index == b.index;
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

// The handles of the aside files open in this process, for
// EnnDiscardAllAside: closing one deletes its file. Whoever takes a handle
// out of the table closes it, so it is closed once.
constexpr int kAsideSlots = 64;
std::atomic<HANDLE> g_asideHandles[kAsideSlots];

bool RegisterAside(HANDLE file) {
    return EnnSwapSlot(g_asideHandles, static_cast<HANDLE>(nullptr), file);
}

// True when file was still in the table: the caller closes it now.
bool TakeAside(HANDLE file) {
    return EnnSwapSlot(g_asideHandles, file, static_cast<HANDLE>(nullptr));
}

// Writes "FOLDER\.enn-aside-PID-XXXXXXXX" for the full path into aside: the
// mark, the process id and a random part, and nothing of the name it stands
// in for, so that it fits wherever that name does. False when the path has no
// folder part.
bool AsideName(const std::wstring& full, unsigned serial, std::wstring* aside) {
    const size_t slash = full.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 >= full.size()) {
        return false;
    }
    wchar_t tail[48];
    std::swprintf(tail, sizeof tail / sizeof tail[0], L".enn-aside-%lu-%08x",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  serial ^ static_cast<unsigned>(GetTickCount()));
    *aside = full.substr(0, slash + 1) + tail;
    return true;
}

bool Report(int* fault, int why) {
    if (fault != nullptr) {
        *fault = why;
    }
    return false;
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

// Reads up to size bytes from file, at offset unless it is negative (then
// where the file pointer stands), stopping short only at the end of the file.
// Returns the count, or -1 on a read error (never taken for the end).
int ReadLoop(HANDLE file, unsigned char* buf, int size, long long offset) {
    int done = 0;
    while (done < size) {
        OVERLAPPED where = At(offset + done);
        DWORD got = 0;
        if (!g_ennSys.readFile(file, buf + done, static_cast<DWORD>(size - done), &got,
                               offset < 0 ? nullptr : &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;  // how a positioned read past the end ends
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<int>(got);
    }
    return done;
}

// Writes all size bytes to file, at offset unless it is negative (then where
// the file pointer stands). Returns ENN_FAULT_NONE, or why not:
// ENN_FAULT_DISK_FULL or ENN_FAULT_WRITE.
int WriteLoop(HANDLE file, const unsigned char* buf, int size, long long offset) {
    for (int done = 0; done < size;) {
        OVERLAPPED where = At(offset + done);
        DWORD put = 0;
        if (!g_ennSys.writeFile(file, buf + done, static_cast<DWORD>(size - done), &put,
                                offset < 0 ? nullptr : &where) ||
            put == 0) {
            return WriteFault(GetLastError());
        }
        done += static_cast<int>(put);
    }
    return ENN_FAULT_NONE;
}

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

bool EnnOpenReader(const char* path, EnnReader* reader, int* fault) {
    const std::wstring wide = LongPath(path);
    if (wide.empty()) {
        return Report(fault, ENN_FAULT_NO_INPUT);
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
            return Report(fault, ENN_FAULT_INPUT_FOLDER);
        }
        return Report(fault, error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                                 ? ENN_FAULT_INPUT_DENIED
                                 : ENN_FAULT_NO_INPUT);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(file);
        return Report(fault, ENN_FAULT_INPUT_NOT_REGULAR);
    }
    reader->handle = reinterpret_cast<intptr_t>(file);
    reader->size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    reader->modified = ModifiedOf(info);
    reader->id = IdOf(info);
    return true;
}

int EnnReadFull(EnnReader* reader, unsigned char* buf, int size) {
    return ReadLoop(Handle(reader->handle), buf, size, -1);
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

EnnTarget EnnLookAtTarget(const char* path, const EnnFileId* source) {
    const std::wstring wide = LongPath(path);
    if (wide.empty()) {
        return ENN_TARGET_UNKNOWN;
    }
    // Reading attributes is allowed whatever others share; the name itself is
    // looked at, not what a reparse point (a symbolic link, a junction) leads to.
    HANDLE file = g_ennSys.createFile(
        wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
                return ENN_TARGET_FREE;
            case ERROR_PATH_NOT_FOUND:
                return ENN_TARGET_NO_FOLDER;
            case ERROR_FILENAME_EXCED_RANGE:
                return ENN_TARGET_NAME_TOO_LONG;
            default:
                return ENN_TARGET_UNKNOWN;
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known) {
        return ENN_TARGET_OTHER;  // a device, a pipe, the console
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ENN_TARGET_FOLDER;  // a folder, or a link or junction to one
    }
    EnnFileId id = IdOf(info);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link: what it leads to decides.
        HANDLE followed =
            g_ennSys.createFile(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (followed == INVALID_HANDLE_VALUE) {
            return ENN_TARGET_FILE;  // a link that leads nowhere is only a name
        }
        BY_HANDLE_FILE_INFORMATION end;
        const bool disk =
            GetFileType(followed) == FILE_TYPE_DISK && GetFileInformationByHandle(followed, &end);
        CloseHandle(followed);
        if (!disk) {
            return ENN_TARGET_OTHER;
        }
        if ((end.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return ENN_TARGET_FOLDER;
        }
        id = IdOf(end);
    }
    if (source != nullptr && SameId(id, *source)) {
        return ENN_TARGET_SAME_FILE;
    }
    return Writable(wide) ? ENN_TARGET_FILE : ENN_TARGET_READ_ONLY;
}

namespace {

// Creates the aside file for the full path full; false, with *error set, when
// the folder takes none.
bool CreateNamed(const std::wstring& full, EnnWriter* writer, DWORD* error) {
    *error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring aside;
        if (!AsideName(full, g_serial.fetch_add(1) * 2654435761u, &aside)) {
            *error = ERROR_PATH_NOT_FOUND;
            return false;
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
            *error = GetLastError();
            if (*error == ERROR_FILE_EXISTS || *error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return false;
        }
        const std::string name = Utf8(aside);
        if (!MarkForDeletion(file, true) || name.empty() || name.size() >= sizeof writer->aside ||
            !RegisterAside(file)) {
            MarkForDeletion(file, true);
            CloseHandle(file);
            DeleteFileW(aside.c_str());
            *error = ERROR_GEN_FAILURE;
            return false;
        }
        std::memcpy(writer->aside, name.c_str(), name.size() + 1);
        writer->handle = reinterpret_cast<intptr_t>(file);
        return true;
    }
    return false;
}

bool CreateAside(const char* path, EnnWriter* writer, int* fault, bool mayCopyInPlace) {
    *writer = EnnWriter();
    const std::wstring full = LongPath(path);
    if (full.empty()) {
        return Report(fault, ENN_FAULT_NO_OUTPUT);
    }
    DWORD error = 0;
    if (CreateNamed(full, writer, &error)) {
        return true;
    }
    const int why = CreateFault(error);
    // Where the folder takes no new file (a share that lets its users change
    // files but not create them), a file the caller may write is replaced in
    // place from a copy made whole in the temporary folder.
    if (why == ENN_FAULT_DENIED && mayCopyInPlace) {
        const DWORD attributes = g_ennSys.getFileAttributes(full.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            Writable(full) && EnnCreateTemporary(writer)) {
            writer->inPlace = true;
            return true;
        }
    }
    return Report(fault, why);
}

// Gives the aside file the access rules of the file at the full path target,
// which it is to replace: a new file in the folder would take the folder's
// inherited rules instead, which may grant more. Nobody else can open the
// aside file meanwhile (see CreateNamed). ENN_FAULT_NONE, or
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

bool EnnCreateAside(const char* path, EnnWriter* writer, int* fault) {
    if (!CreateAside(path, writer, fault, true)) {
        return false;
    }
    // What the old file carries that the new one could not keep refuses the
    // replacement now, before anything is written.
    const std::wstring target = LongPath(path);
    const DWORD attributes = g_ennSys.getFileAttributes(target.c_str());
    if (!writer->inPlace && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        if (const int why = CarryAccessRules(Handle(writer->handle), target)) {
            EnnDiscard(writer);
            return Report(fault, why);
        }
    }
    return true;
}

bool EnnCreateTemporary(EnnWriter* writer) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD n = g_ennSys.getTempPath(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH) {
        return false;
    }
    const std::string path = Utf8(std::wstring(folder, n) + L"enn");
    return !path.empty() && CreateAside(path.c_str(), writer, nullptr, false);
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
    const int done = ReadLoop(file, buf, size, offset);
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ? done : -1;
}

bool EnnWriteAll(EnnWriter* writer, const void* buf, int size) {
    const int why =
        WriteLoop(Handle(writer->handle), static_cast<const unsigned char*>(buf), size, -1);
    if (why != ENN_FAULT_NONE) {
        writer->fault = why;
        return false;
    }
    writer->written += size;
    return true;
}

bool EnnWriteAt(EnnWriter* writer, long long offset, const void* buf, int size) {
    // A positioned write moves the file pointer of a synchronous handle too;
    // appending goes on from where it was.
    HANDLE file = Handle(writer->handle);
    LARGE_INTEGER zero = {};
    LARGE_INTEGER end;
    if (!SetFilePointerEx(file, zero, &end, FILE_CURRENT)) {
        writer->fault = ENN_FAULT_WRITE;
        return false;
    }
    const int why = WriteLoop(file, static_cast<const unsigned char*>(buf), size, offset);
    if (why != ENN_FAULT_NONE) {
        writer->fault = why;
    }
    return SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && why == ENN_FAULT_NONE;
}

namespace {

// Copies what the writer holds over the file at the full path target, in
// place, and flushes it: the file keeps its attributes, owner and access
// rules. Space is reserved first, so that a full disk is found before the old
// content is touched.
int CopyInPlace(EnnWriter* writer, const std::wstring& target) {
    HANDLE file = g_ennSys.createFile(target.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_ACCESS_DENIED ? ENN_FAULT_READ_ONLY : ENN_FAULT_WRITE;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return ENN_FAULT_NOT_REGULAR;
    }
    const long long size = writer->written;
    LARGE_INTEGER old = {};
    GetFileSizeEx(file, &old);
    if (size > old.QuadPart) {
        FILE_ALLOCATION_INFO reserve;
        reserve.AllocationSize.QuadPart = size;
        if (!SetFileInformationByHandle(file, FileAllocationInfo, &reserve, sizeof reserve) &&
            WriteFault(GetLastError()) == ENN_FAULT_DISK_FULL) {
            CloseHandle(file);
            return ENN_FAULT_DISK_FULL;
        }
    }
    // On the heap: operations on several threads each copy their own.
    constexpr int kStep = 1 << 16;
    const std::unique_ptr<unsigned char[]> buf(new unsigned char[kStep]);
    int result = ENN_OK;
    for (long long at = 0; result == ENN_OK && at < size;) {
        const int got = EnnReadBack(writer, at, buf.get(), kStep);
        if (got <= 0) {
            result = ENN_FAULT_WRITE;
            break;
        }
        result = WriteLoop(file, buf.get(), got, at);
        at += got;
    }
    SecureWipe(buf.get(), kStep);
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (result == ENN_OK && (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ||
                             !SetEndOfFile(file) || !g_ennSys.flushFileBuffers(file))) {
        result = WriteFault(GetLastError());
    }
    CloseHandle(file);
    return result;
}

}  // namespace

int EnnPutInPlace(EnnWriter* writer, const char* path, EnnPlacing placing) {
    HANDLE file = Handle(writer->handle);
    const std::wstring target = LongPath(path);
    const std::wstring aside = LongPath(writer->aside);
    if (target.empty() || aside.empty()) {
        EnnDiscard(writer);
        return ENN_FAULT_WRITE;
    }
    if (!g_ennSys.flushFileBuffers(file)) {
        const int why = WriteFault(GetLastError());
        EnnDiscard(writer);
        return why;
    }
    if (writer->inPlace) {
        const int why = placing == ENN_PLACE_NEW ? ENN_FAULT_EXISTS : CopyInPlace(writer, target);
        EnnDiscard(writer);
        return why;
    }
    if (placing == ENN_PLACE_REPLACE) {
        CarryAttributes(file, target);
    }
    // A file marked for deletion cannot be opened, not even by MoveFileExW:
    // the mark comes off just before the move and back on if it fails.
    if (!MarkForDeletion(file, false)) {
        EnnDiscard(writer);
        return ENN_FAULT_WRITE;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails rather than replace a
    // file that appeared meanwhile, as link() does on POSIX.
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (placing == ENN_PLACE_REPLACE ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!g_ennSys.moveFileEx(aside.c_str(), target.c_str(), flags)) {
        const DWORD error = GetLastError();
        int why = ENN_FAULT_WRITE;
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            why = placing == ENN_PLACE_NEW ? ENN_FAULT_EXISTS : ENN_FAULT_WRITE;
        } else if (error == ERROR_ACCESS_DENIED) {
            why = placing == ENN_PLACE_REPLACE && Writable(target) ? CopyInPlace(writer, target)
                                                                   : ENN_FAULT_DENIED;
        } else {
            why = WriteFault(error);
        }
        EnnDiscard(writer);
        return why;
    }
    writer->aside[0] = '\0';
    if (TakeAside(file)) {
        CloseHandle(file);
    }
    writer->handle = -1;
    return ENN_OK;
}

void EnnDiscard(EnnWriter* writer) {
    if (writer->handle != -1) {
        HANDLE file = Handle(writer->handle);
        writer->handle = -1;
        // Not in the table: EnnDiscardAllAside has closed it already.
        if (TakeAside(file)) {
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
}

void EnnDiscardAllAside() {
    // Every aside file is marked for deletion while it is written, so the
    // system removes it when the process ends, however it ends; closing the
    // handles removes them at once.
    for (auto& slot : g_asideHandles) {
        HANDLE file = slot.exchange(nullptr);
        if (file != nullptr) {
            CloseHandle(file);
        }
    }
}
