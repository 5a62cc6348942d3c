// The Win32 side of the codec's file layer. Paths arrive as UTF-8 and go to the
// wide calls as full paths in the \\?\ form, so that neither the ANSI code
// page nor the 260-character limit applies; \ and / both separate folders.
#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_file_sys.h"
#include "codec/enn_syscalls.h"
#include "text/utf16.h"

EnnSystemCalls EnnRealSystemCalls() {
    return {CreateFileW, ReadFile,           WriteFile,   FlushFileBuffers,
            MoveFileExW, GetFileAttributesW, GetTempPathW};
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

// Runs io, a read or write at offset (negative: where the file stands), so
// that a positioned one leaves the file where it stood: on a synchronous
// handle it moves the file on, and appending goes on from where it was.
template <typename Io>
BOOL Positioned(HANDLE file, long long offset, Io io) {
    if (offset < 0) {
        return io(nullptr);
    }
    LARGE_INTEGER zero = {};
    LARGE_INTEGER stood;
    if (!SetFilePointerEx(file, zero, &stood, FILE_CURRENT)) {
        return FALSE;
    }
    OVERLAPPED where = At(offset);
    const BOOL done = io(&where);
    const DWORD error = GetLastError();
    const BOOL back = SetFilePointerEx(file, stood, nullptr, FILE_BEGIN);
    SetLastError(error);
    return done && back;
}

}  // namespace

// The aside file is the private name itself, FOLDER\.enn-aside-PID-RANDOM.
const char kEnnSeparators[] = "/\\";
const char kEnnAsideTail[] = "";

unsigned long EnnSysProcessId() {
    return GetCurrentProcessId();
}

int EnnSysReadOnce(intptr_t handle, unsigned char* buf, int size, long long offset) {
    DWORD got = 0;
    if (!Positioned(Handle(handle), offset, [&](OVERLAPPED* at) {
            return g_ennSys.readFile(Handle(handle), buf, static_cast<DWORD>(size), &got, at);
        })) {
        // How a positioned read past the end ends.
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<int>(got);
}

int EnnSysWriteOnce(intptr_t handle, const unsigned char* buf, int size, long long offset,
                    int* fault) {
    DWORD put = 0;
    if (!Positioned(Handle(handle), offset,
                    [&](OVERLAPPED* at) {
                        return g_ennSys.writeFile(Handle(handle), buf, static_cast<DWORD>(size),
                                                  &put, at);
                    }) ||
        put == 0) {
        *fault = WriteFault(GetLastError());
        return -1;
    }
    return static_cast<int>(put);
}

void EnnSysStartWriteBack(intptr_t, long long, long long) {}

int EnnSysFlush(intptr_t handle) {
    return g_ennSys.flushFileBuffers(Handle(handle)) ? ENN_FAULT_NONE : WriteFault(GetLastError());
}

void EnnSysClose(intptr_t handle) {
    CloseHandle(Handle(handle));
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

// Gives reader the file open at file, as info shows it.
int Hold(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info, EnnReader* reader) {
    reader->handle = reinterpret_cast<intptr_t>(file);
    reader->size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    reader->modified = ModifiedOf(info);
    reader->id = IdOf(info);
    return ENN_FAULT_NONE;
}

// What lets whoever holds it change a file or who may.
constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER |
                            GENERIC_WRITE | GENERIC_ALL;

// True when an ACE of a DACL that applies to its file lets nobody but caller,
// SYSTEM and the Administrators change it. Only plain grants are read: a
// denial grants nothing, and any other kind might grant anything.
bool GrantsNoOther(const ACE_HEADER* ace, PSID caller) {
    if ((ace->AceFlags & INHERIT_ONLY_ACE) != 0 || ace->AceType == ACCESS_DENIED_ACE_TYPE) {
        return true;
    }
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) {
        return false;
    }
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
    const PSID who = const_cast<DWORD*>(&allowed->SidStart);
    return (allowed->Mask & kChanging) == 0 || EqualSid(who, caller) ||
           IsWellKnownSid(who, WinLocalSystemSid) ||
           IsWellKnownSid(who, WinBuiltinAdministratorsSid);
}

// True when the file open at file is owned by the caller's SID and its DACL
// lets nobody but the caller, SYSTEM and the Administrators write it, delete
// it or change who may.
bool OwnedAlone(HANDLE file) {
    alignas(TOKEN_USER) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    HANDLE token = nullptr;
    DWORD size = 0;
    const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    if (token != nullptr) {
        CloseHandle(token);
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!known || GetSecurityInfo(file, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                  nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const PSID caller = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    // A null DACL grants everyone everything.
    bool alone = owner != nullptr && EqualSid(owner, caller) && dacl != nullptr;
    for (DWORD i = 0; alone && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        alone = GetAce(dacl, i, &ace) && GrantsNoOther(static_cast<ACE_HEADER*>(ace), caller);
    }
    LocalFree(descriptor);
    return alone;
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
    return Hold(file, info, reader);
}

int EnnSysOpenOwn(const char* path, EnnReader* reader) {
    // The name itself, never what a reparse point there leads to.
    const std::wstring wide = LongPath(path);
    HANDLE file =
        wide.empty()
            ? INVALID_HANDLE_VALUE
            : g_ennSys.createFile(
                  wide.c_str(), GENERIC_READ | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // A file gone meanwhile, or one the caller may not read.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_ACCESS_DENIED
                   ? ENN_FAULT_EXISTS
                   : ENN_FAULT_READ_EXISTING;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
        info.nNumberOfLinks == 1 && OwnedAlone(file)) {
        return Hold(file, info, reader);
    }
    CloseHandle(file);
    return ENN_FAULT_EXISTS;
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

}  // namespace

void EnnSysSweep(const char*) {}

bool EnnSysMakeUnnamed(const char*, EnnWriter*, int*) {
    return false;
}

int EnnSysMakeNamed(EnnWriter* writer) {
    const std::wstring aside = LongPath(writer->aside);
    if (aside.empty()) {
        return ENN_FAULT_NO_OUTPUT;
    }
    // DELETE access for the deletion mark, WRITE_DAC for the access rules of
    // the file it replaces; FILE_SHARE_DELETE so that MoveFileExW can open it
    // to put it in place while it is open here, and nothing else: while this
    // handle lives, nobody else can open the file to read what is written
    // into it, whatever its access rules.
    HANDLE file = g_ennSys.createFile(
        aside.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
        FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? ENN_FAULT_EXISTS
                                                                           : CreateFault(error);
    }
    if (!MarkForDeletion(file, true)) {
        CloseHandle(file);
        DeleteFileW(aside.c_str());
        return ENN_FAULT_NO_OUTPUT;
    }
    writer->handle = reinterpret_cast<intptr_t>(file);
    return ENN_FAULT_NONE;
}

int EnnSysNameUnnamed(EnnWriter*) {
    return ENN_FAULT_WRITE;  // never asked: Windows has no unnamed files
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
// aside file meanwhile (see EnnSysMakeNamed). ENN_FAULT_NONE, or
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

int EnnSysFinalLooks(EnnWriter* writer, const char* path, bool replace) {
    const std::wstring target = LongPath(path);
    if (replace && !target.empty()) {
        CarryAttributes(Handle(writer->handle), target);
    }
    return ENN_FAULT_NONE;
}

int EnnSysPlace(EnnWriter* writer, const char* path, bool replace) {
    const std::wstring target = LongPath(path);
    const std::wstring aside = LongPath(writer->aside);
    if (target.empty() || aside.empty()) {
        return ENN_FAULT_WRITE;
    }
    // A file marked for deletion cannot be opened, not even by MoveFileExW:
    // the mark comes off just before the move, and EnnSysCloseWriter puts it
    // back where the move fails.
    if (!MarkForDeletion(Handle(writer->handle), false)) {
        return ENN_FAULT_WRITE;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails rather than replace a
    // file that appeared meanwhile, as link() does on POSIX.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!g_ennSys.moveFileEx(aside.c_str(), target.c_str(), flags)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return replace ? ENN_FAULT_WRITE : ENN_FAULT_EXISTS;
        }
        return error == ERROR_ACCESS_DENIED ? ENN_FAULT_DENIED : WriteFault(error);
    }
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

void EnnSysRemoveAside(EnnWriter* writer) {
    // Marked for deletion while it is written: it goes with its handle (none
    // yet in the instant its name is in the table before it is made).
    HANDLE file = Handle(writer->handle);
    writer->handle = -1;
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

void EnnSysCloseWriter(EnnWriter* writer, bool remove) {
    if (writer->handle == -1) {
        return;  // a handler's EnnSysRemoveAside closed it
    }
    HANDLE file = Handle(writer->handle);
    // The mark, put back where a move failed, deletes the file when its
    // handle closes, under whatever name it has by then.
    const bool marked = remove && MarkForDeletion(file, true);
    CloseHandle(file);
    const std::wstring aside = remove && !marked ? LongPath(writer->aside) : std::wstring();
    if (!aside.empty()) {
        DeleteFileW(aside.c_str());
    }
}
