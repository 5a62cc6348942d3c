// What only Windows can get wrong in the codec's file handling: other
// spellings of one file, Chinese and long names, devices, sizes past 4 GiB,
// and aside files that must vanish whatever happens.
#include <windows.h>
// windows.h first: winioctl.h needs its types.
#include <gtest/gtest.h>
#include <winioctl.h>
// after windows.h
#include <aclapi.h>

#include <filesystem>
#include <set>
#include <string>

#include "codec/enn.h"
#include "codec/enn_file.h"
#include "codec/enn_syscalls.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

const char kKey[] = "Karsholm payment batch key";

std::wstring Wide(const std::string& utf8) {
    return fs::u8path(utf8).wstring();
}

// The names in folder, as UTF-8, listed through the \\?\ form so that long
// paths are listed too.
std::set<std::string> Names(const std::string& folder) {
    std::wstring pattern = L"\\\\?\\" + fs::absolute(fs::u8path(folder)).wstring() + L"\\*";
    for (wchar_t& c : pattern) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    std::set<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot list " << folder;
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.insert(fs::path(name).u8string());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

class WindowsFiles : public ::testing::Test {
  protected:
    int Encrypt(const std::string& in, const std::string& out) {
        int fault = ENN_FAULT_NONE;
        const int result = EnnEncryptFileEx("246810", kKey, in.c_str(), out.c_str(), &fault);
        return result == ENN_OK ? ENN_OK : fault;
    }
    int Decrypt(const std::string& in, const std::string& out, int placing) {
        int fault = ENN_FAULT_NONE;
        const int result = EnnDecryptFileEx(kKey, in.c_str(), out.c_str(), placing, &fault);
        return result == ENN_OK ? ENN_OK : fault;
    }

    TempDir dir;
    const Bytes plain = PseudoRandomBytes(9001, 77);
};

TEST_F(WindowsFiles, ChineseNamesRoundTrip) {
    const std::string in = dir.File("付款清单（十二月）.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    ASSERT_EQ(Decrypt(in + ".enn", dir.File("明细.txt"), ENN_KEEP_EXISTING), ENN_OK);
    EXPECT_EQ(ReadFile(dir.File("明细.txt")), plain);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"付款清单（十二月）.txt",
                                                        "付款清单（十二月）.txt.enn", "明细.txt"}));
}

TEST_F(WindowsFiles, PathsLongerThan260CharactersWork) {
    std::string folder = dir.path();
    for (int i = 0; i < 6; ++i) {
        folder += "/" + std::string(50, static_cast<char>('a' + i));
        ASSERT_TRUE(fs::create_directory(fs::u8path(folder)));
    }
    const std::string in = folder + "/批次.txt";
    ASSERT_GT(in.size(), 300u);
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    ASSERT_EQ(Decrypt(in + ".enn", folder + "/back.txt", ENN_KEEP_EXISTING), ENN_OK);
    EXPECT_EQ(ReadFile(folder + "/back.txt"), plain);
    EXPECT_EQ(Names(folder), (std::set<std::string>{"批次.txt", "批次.txt.enn", "back.txt"}));
}

TEST_F(WindowsFiles, BackslashesAndSlashesBothSeparate) {
    std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    for (char& c : in) {
        if (c == '/') {
            c = '\\';
        }
    }
    ASSERT_EQ(Encrypt(in, dir.path() + "\\sub/../batch.txt.enn"), ENN_OK);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"batch.txt", "batch.txt.enn"}));
}

TEST_F(WindowsFiles, EncryptingOntoItsOwnInputByAnotherSpellingIsRefused) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_TRUE(CreateHardLinkW(Wide(dir.File("link.txt")).c_str(), Wide(in).c_str(), nullptr));
    for (const std::string& out : {dir.File("BATCH.TXT"), dir.path() + "\\.\\batch.txt",
                                   dir.File("./Batch.txt"), dir.File("link.txt")}) {
        EXPECT_EQ(Encrypt(in, out), ENN_FAULT_SAME_FILE) << out;
    }
    EXPECT_EQ(ReadFile(in), plain);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"batch.txt", "link.txt"}));
}

TEST_F(WindowsFiles, DecryptingOntoTheContainerIsRefused) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    const Bytes container = ReadFile(in + ".enn");
    for (const std::string& out :
         {in + ".enn", dir.File("BATCH.TXT.ENN"), dir.File(".\\batch.txt.enn")}) {
        EXPECT_EQ(Decrypt(in + ".enn", out, ENN_REPLACE_EXISTING), ENN_FAULT_SAME_FILE) << out;
    }
    EXPECT_EQ(ReadFile(in + ".enn"), container);
}

TEST_F(WindowsFiles, FoldersAndDevicesAreNeverWritten) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_TRUE(fs::create_directory(fs::u8path(dir.File("folder"))));
    EXPECT_EQ(Encrypt(in, dir.File("folder")), ENN_FAULT_OUTPUT_FOLDER);
    // NUL is Windows' /dev/null: a device in every folder.
    EXPECT_EQ(Encrypt(in, "NUL"), ENN_FAULT_NOT_REGULAR);
    EXPECT_EQ(EnnTargetFault("NUL", nullptr, false), ENN_FAULT_NOT_REGULAR);
    EnnReader reader;
    EXPECT_NE(EnnOpenReader("NUL", &reader), ENN_FAULT_NONE);
    EXPECT_NE(EnnOpenReader(dir.File("folder").c_str(), &reader), ENN_FAULT_NONE);
}

TEST_F(WindowsFiles, ReplacingAndKeepingAnExistingOutput) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    const std::string out = dir.File("out.txt");
    WriteFile(out, {1, 2, 3});
    EXPECT_EQ(Decrypt(in + ".enn", dir.File("OUT.TXT"), ENN_KEEP_EXISTING), ENN_FAULT_EXISTS);
    EXPECT_EQ(ReadFile(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(Decrypt(in + ".enn", out, ENN_REPLACE_EXISTING), ENN_OK);
    EXPECT_EQ(ReadFile(out), plain);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"batch.txt", "batch.txt.enn", "out.txt"}));
}

TEST_F(WindowsFiles, AsideFileVanishesWhenItsHandleClosesUncommitted) {
    const std::string out = dir.File("plain.txt");
    EnnWriter writer;
    ASSERT_EQ(EnnCreateAside(out.c_str(), 0, &writer), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&writer, plain.data(), static_cast<int>(plain.size())), ENN_FAULT_NONE);
    EXPECT_EQ(Names(dir.path()).size(), 1u);  // the aside file, under a name of its own
    // What the system does to every handle of a process that dies.
    CloseHandle(reinterpret_cast<HANDLE>(writer.handle));
    EXPECT_TRUE(Names(dir.path()).empty());
}

TEST_F(WindowsFiles, NobodyElseOpensAFileBeingWrittenToReadIt) {
    const std::string out = dir.File("plain.txt");
    EnnWriter writer;
    ASSERT_EQ(EnnCreateAside(out.c_str(), 0, &writer), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&writer, plain.data(), 100), ENN_FAULT_NONE);
    HANDLE other = CreateFileW(Wide(writer.aside).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    }
    EnnDiscard(&writer);
}

// The access rules (DACL) of the file at path, protected from inheritance or
// not, and how many entries it holds; false when they cannot be read.
bool AccessRules(const std::string& path, bool* isProtected, DWORD* entries) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    *isProtected = (control & SE_DACL_PROTECTED) != 0;
    *entries = dacl != nullptr ? dacl->AceCount : 0;
    LocalFree(descriptor);
    return true;
}

TEST_F(WindowsFiles, AReplacedFileKeepsItsAccessRulesAndAttributes) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    const std::string out = dir.File("private.txt");
    WriteFile(out, {1, 2, 3});
    // Rules of its own that shut out everyone but the current user, where
    // the folder's would let others in.
    EXPLICIT_ACCESSW mine = {};
    mine.grfAccessPermissions = GENERIC_ALL;
    mine.grfAccessMode = SET_ACCESS;
    mine.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    mine.Trustee.ptstrName = const_cast<wchar_t*>(L"CURRENT_USER");
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &mine, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    const DWORD set =
        SetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(out).c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    ASSERT_TRUE(SetFileAttributesW(Wide(out).c_str(), FILE_ATTRIBUTE_HIDDEN));
    bool isProtected = false;
    DWORD entries = 0;
    const bool shown = set == ERROR_SUCCESS && AccessRules(out, &isProtected, &entries) &&
                       isProtected && entries == 1;

    ASSERT_EQ(Decrypt(in + ".enn", out, ENN_REPLACE_EXISTING), ENN_OK);
    EXPECT_EQ(ReadFile(out), plain);
    EXPECT_NE(GetFileAttributesW(Wide(out).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    if (!shown) {
        GTEST_SKIP() << "access rules set on a file do not read back here";
    }
    ASSERT_TRUE(AccessRules(out, &isProtected, &entries));
    EXPECT_TRUE(isProtected);
    EXPECT_EQ(entries, 1u);
}

TEST_F(WindowsFiles, DiscardLeavesNothingAndPlacingLeavesOnlyTheFile) {
    const std::string out = dir.File("plain.txt");
    EnnWriter discarded;
    ASSERT_EQ(EnnCreateAside(out.c_str(), 0, &discarded), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&discarded, plain.data(), 100), ENN_FAULT_NONE);
    EnnDiscard(&discarded);
    EXPECT_TRUE(Names(dir.path()).empty());

    EnnWriter placed;
    ASSERT_EQ(EnnCreateAside(out.c_str(), 0, &placed), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&placed, plain.data(), 100), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAt(&placed, 0, "head", 4), ENN_FAULT_NONE);
    ASSERT_EQ(EnnWriteAll(&placed, plain.data() + 100, 50), ENN_FAULT_NONE);
    ASSERT_EQ(EnnPutInPlace(&placed, out.c_str(), ENN_KEEP_EXISTING), ENN_FAULT_NONE);
    Bytes expected(plain.begin(), plain.begin() + 150);
    std::copy_n("head", 4, expected.begin());
    EXPECT_EQ(ReadFile(out), expected);
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"plain.txt"}));
}

TEST_F(WindowsFiles, SizesPast4GiBAreReportedWhole) {
    const std::string path = dir.File("big.bin");
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    // Sparse, so that the test writes nothing like 4 GiB (where the file
    // system cannot, SetEndOfFile still gives the size).
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    const long long size = (4LL << 30) + 8 * 4008 + 48 + 5;
    LARGE_INTEGER end;
    end.QuadPart = size;
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    EnnReader reader;
    ASSERT_EQ(EnnOpenReader(path.c_str(), &reader), ENN_FAULT_NONE);
    EXPECT_EQ(reader.size, size);
    EXPECT_TRUE(EnnReaderUnchanged(&reader));
    EnnCloseReader(&reader);
    EXPECT_FALSE(EnnIsContainerSize(size));
    EXPECT_EQ(EnnTargetFault(path.c_str(), nullptr, false), ENN_FAULT_NONE);
}

TEST_F(WindowsFiles, SameFileIdentityThroughAHardLink) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_TRUE(CreateHardLinkW(Wide(dir.File("other.txt")).c_str(), Wide(in).c_str(), nullptr));
    EnnReader reader;
    ASSERT_EQ(EnnOpenReader(in.c_str(), &reader), ENN_FAULT_NONE);
    EXPECT_EQ(EnnTargetFault(dir.File("other.txt").c_str(), &reader.id, false),
              ENN_FAULT_SAME_FILE);
    EXPECT_EQ(EnnTargetFault(dir.File("nothing.txt").c_str(), &reader.id, true), ENN_FAULT_NONE);
    EXPECT_EQ(EnnTargetFault(dir.File("no/such/folder.txt").c_str(), &reader.id, false),
              ENN_FAULT_NO_FOLDER);
    WriteFile(dir.File("third.txt"), plain);
    EXPECT_EQ(EnnTargetFault(dir.File("third.txt").c_str(), &reader.id, false), ENN_FAULT_NONE);
    EnnCloseReader(&reader);
}

// The read-only attribute refuses a replacement before anything is read,
// and leaves the file as it was.
TEST_F(WindowsFiles, AReadOnlyTargetIsRefusedAtOnce) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    const Bytes container = ReadFile(in + ".enn");
    ASSERT_TRUE(SetFileAttributesW(Wide(in + ".enn").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(EnnTargetFault((in + ".enn").c_str(), nullptr, false), ENN_FAULT_READ_ONLY);
    EXPECT_EQ(Encrypt(in, in + ".enn"), ENN_FAULT_READ_ONLY);
    const std::string out = dir.File("out.txt");
    WriteFile(out, {1, 2, 3});
    ASSERT_TRUE(SetFileAttributesW(Wide(out).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Decrypt(in + ".enn", out, ENN_REPLACE_EXISTING), ENN_FAULT_READ_ONLY);
    EXPECT_EQ(ReadFile(in + ".enn"), container);
    EXPECT_EQ(ReadFile(out), (Bytes{1, 2, 3}));
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"batch.txt", "batch.txt.enn", "out.txt"}));
    SetFileAttributesW(Wide(in + ".enn").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesW(Wide(out).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Aside files take short names of their own, so every name the folder
// accepts works, up to 255 characters.
TEST_F(WindowsFiles, NamesUpToTheLongestTheFolderAcceptsWork) {
    for (size_t length : {232u, 240u, 251u}) {
        const std::string in = dir.File(std::string(length, 'f'));
        WriteFile(in, plain);
        EXPECT_EQ(Encrypt(in, in + ".enn"), ENN_OK) << length;
        EXPECT_EQ(Encrypt(in, in + ".enn"), ENN_OK) << length << ", replacing";
        const std::string out = dir.File(std::string(255, 'o'));
        EXPECT_EQ(Decrypt(in + ".enn", out, ENN_REPLACE_EXISTING), ENN_OK) << length;
        EXPECT_EQ(ReadFile(out), plain);
        fs::remove(fs::u8path(in));
        fs::remove(fs::u8path(in + ".enn"));
        fs::remove(fs::u8path(out));
    }
    EXPECT_TRUE(Names(dir.path()).empty());
}

// A share that lets its users change files but not create them: creating
// anything in the folder is refused, as the system would.
HANDLE WINAPI CreateNoNewFile(LPCWSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                              HANDLE templateFile) {
    if (creation == CREATE_NEW && std::wstring(name).find(L"\\shared\\") != std::wstring::npos) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(name, access, share, security, creation, flags, templateFile);
}

// Such a share has its files replaced only by a copy in place, where the
// caller allows it; else nothing is written.
TEST_F(WindowsFiles, AFolderThatTakesNoNewFileHasItsFilesReplacedInPlaceByConsent) {
    ASSERT_TRUE(fs::create_directory(fs::u8path(dir.File("shared"))));
    const std::string in = dir.File("shared/batch.txt");
    WriteFile(in, plain);
    const Bytes earlier(100000, 'x');  // longer than the new container
    WriteFile(in + ".enn", earlier);
    g_ennSys.createFile = CreateNoNewFile;
    EXPECT_EQ(Encrypt(in, in + ".enn"), ENN_FAULT_IN_PLACE_ONLY);
    EXPECT_EQ(ReadFile(in + ".enn"), earlier);
    EXPECT_EQ(
        EnnEncryptStreamPlaced("246810", kKey, in.c_str(), (in + ".enn").c_str(),
                               ENN_ALLOW_IN_PLACE, nullptr, nullptr, nullptr, nullptr, nullptr),
        ENN_OK);
    EXPECT_EQ(Decrypt(in + ".enn", dir.File("shared/new.txt"), ENN_ALLOW_IN_PLACE),
              ENN_FAULT_DENIED);
    EnnRestoreSystemCalls();
    EXPECT_EQ(Decrypt(in + ".enn", dir.File("plain.txt"), ENN_REPLACE_EXISTING), ENN_OK);
    EXPECT_EQ(ReadFile(dir.File("plain.txt")), plain);
    EXPECT_EQ(Names(dir.File("shared")), (std::set<std::string>{"batch.txt", "batch.txt.enn"}));
}

// An output already there is done (ENN_ACCEPT_PRESENT) only where it is the
// caller's alone. Under Wine a file's owner and rules come from its Unix
// owner and mode: of the others, only a second link and a grant to everyone
// can be made there.
TEST_F(WindowsFiles, OnlyTheCallersOwnCopyOfAnOutputIsDone) {
    const std::string in = dir.File("batch.txt");
    WriteFile(in, plain);
    ASSERT_EQ(Encrypt(in, in + ".enn"), ENN_OK);
    const std::string container = in + ".enn";
    const std::string out = dir.File("plain.txt");
    const int accept = ENN_KEEP_EXISTING | ENN_ACCEPT_PRESENT;
    ASSERT_EQ(Decrypt(container, out, accept), ENN_OK);
    EXPECT_EQ(EnnDecryptFileEx(kKey, container.c_str(), out.c_str(), accept, nullptr), ENN_PRESENT);
    const std::wstring second = Wide(dir.File("second.txt"));
    ASSERT_TRUE(CreateHardLinkW(second.c_str(), Wide(out).c_str(), nullptr));
    EXPECT_EQ(Decrypt(container, out, accept), ENN_FAULT_EXISTS) << "a second link";
    ASSERT_TRUE(DeleteFileW(second.c_str()));
    EXPLICIT_ACCESSW everyone = {};
    everyone.grfAccessPermissions = FILE_WRITE_DATA;
    everyone.grfAccessMode = GRANT_ACCESS;
    everyone.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    everyone.Trustee.ptstrName = const_cast<wchar_t*>(L"Everyone");
    std::wstring name = Wide(out);
    PACL old = nullptr;
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &old, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(SetEntriesInAclW(1, &everyone, old, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, acl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(acl);
    LocalFree(descriptor);
    EXPECT_EQ(Decrypt(container, out, accept), ENN_FAULT_EXISTS) << "everyone may write it";
    EXPECT_EQ(ReadFile(out), plain);
}
}  // namespace
