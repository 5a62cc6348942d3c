// Runs enn.exe as a script on Windows would: standard input and output
// redirected to files, no console.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    DWORD status = 0;
    std::string out;
    std::string err;
};

// enn.exe of the same build: cli\enn.exe two folders above this program.
std::wstring EnnPath() {
    wchar_t self[32768];
    const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
    return fs::path(std::wstring(self, n)).parent_path().parent_path().parent_path() / L"cli" /
           L"enn.exe";
}

HANDLE Inheritable(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

class EnnExe : public ::testing::Test {
  protected:
    // Runs enn.exe with the command line's arguments in folder dir, input as
    // its standard input.
    Outcome Run(const std::wstring& arguments, const std::string& input = "") {
        const fs::path io = fs::u8path(io_.path());
        WriteFile((io / "in").u8string(), Bytes(input.begin(), input.end()));
        HANDLE in = Inheritable(io / "in", false);
        HANDLE out = Inheritable(io / "out", true);
        HANDLE err = Inheritable(io / "err", true);
        STARTUPINFOW start = {};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = in;
        start.hStdOutput = out;
        start.hStdError = err;
        std::wstring line = L"\"" + EnnPath() + L"\" " + arguments;
        PROCESS_INFORMATION process = {};
        Outcome outcome;
        // No console at all: nothing to ask a password on.
        if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                           fs::u8path(dir.path()).c_str(), &start, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            GetExitCodeProcess(process.hProcess, &outcome.status);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        } else {
            ADD_FAILURE() << "cannot start enn.exe";
            outcome.status = 999;
        }
        CloseHandle(in);
        CloseHandle(out);
        CloseHandle(err);
        outcome.out = Text(ReadFile((io / "out").u8string()));
        outcome.err = Text(ReadFile((io / "err").u8string()));
        return outcome;
    }

    TempDir dir;
    TempDir io_;
    const Bytes plain = PseudoRandomBytes(12345, 3);
};

TEST_F(EnnExe, EncryptsFromStandardInputAndReadsItsOwnContainer) {
    WriteFile(dir.File("batch.txt"), plain);
    // Lines as a Windows pipe carries them, with carriage returns.
    const Outcome encrypted = Run(L"encrypt --password-stdin batch.txt", "123456\r\n123456\r\n");
    EXPECT_EQ(encrypted.status, 0u) << encrypted.err;
    // enn keeps no catalogue on Windows: one language, English, results too.
    EXPECT_EQ(encrypted.out,
              "Encrypted. The container is saved as \"batch.txt.enn\"; please deliver it to the "
              "bank.\n");

    const Outcome verified = Run(L"verify batch.txt.enn");
    EXPECT_EQ(verified.status, 0u);
    EXPECT_EQ(verified.out, "batch.txt.enn: intact\n");  // a bare line feed, as on Linux

    const Outcome password = Run(L"password batch.txt.enn");
    EXPECT_EQ(password.status, 0u);
    EXPECT_EQ(password.out, "123456\n");

    const Outcome decrypted = Run(L"decrypt batch.txt.enn -o plain.txt");
    EXPECT_EQ(decrypted.status, 0u) << decrypted.err;
    EXPECT_EQ(ReadFile(dir.File("plain.txt")), plain);
}

TEST_F(EnnExe, ChineseFileNamesOnTheCommandLine) {
    WriteFile(dir.File("付款清单（十二月）.txt"), plain);
    const Outcome encrypted =
        Run(L"encrypt --password-stdin \"\u4ed8\u6b3e\u6e05\u5355\uff08"
            L"\u5341\u4e8c\u6708\uff09.txt\"",
            "123456\n123456\n");
    EXPECT_EQ(encrypted.status, 0u) << encrypted.err;
    EXPECT_NE(encrypted.out.find("\"付款清单（十二月）.txt.enn\""), std::string::npos)
        << encrypted.out;
    const Outcome decrypted =
        Run(L"decrypt \u4ed8\u6b3e\u6e05\u5355\uff08\u5341\u4e8c\u6708\uff09.txt.enn -o "
            L"\u660e\u7ec6.txt");
    EXPECT_EQ(decrypted.status, 0u) << decrypted.err;
    EXPECT_EQ(decrypted.out, "付款清单（十二月）.txt.enn: decrypted to 明细.txt\n");
    EXPECT_EQ(ReadFile(dir.File("明细.txt")), plain);
}

TEST_F(EnnExe, WithoutAConsoleThePasswordCannotBeAsked) {
    WriteFile(dir.File("batch.txt"), plain);
    const Outcome run = Run(L"encrypt batch.txt", "123456\n123456\n");
    EXPECT_EQ(run.status, 2u);
    EXPECT_NE(run.err.find("--password-stdin"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("batch.txt.enn")));
}

TEST_F(EnnExe, DamagedContainerFailsAndLeavesNoFile) {
    WriteFile(dir.File("batch.txt"), plain);
    ASSERT_EQ(Run(L"encrypt --password-stdin batch.txt", "123456\n123456\n").status, 0u);
    Bytes container = ReadFile(dir.File("batch.txt.enn"));
    container[5000] ^= 1;
    WriteFile(dir.File("batch.txt.enn"), container);
    const Outcome run = Run(L"decrypt batch.txt.enn -o plain.txt");
    EXPECT_EQ(run.status, 1u);
    EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(dir.File("plain.txt")));
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(dir.path()))) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2u);  // batch.txt and the container: nothing aside stays
}

TEST_F(EnnExe, TheContainerUnderAnotherSpellingIsNeverTheOutput) {
    WriteFile(dir.File("batch.txt"), plain);
    ASSERT_EQ(Run(L"encrypt --password-stdin batch.txt", "123456\n123456\n").status, 0u);
    const Bytes container = ReadFile(dir.File("batch.txt.enn"));
    for (const wchar_t* out : {L"BATCH.TXT.ENN", L".\\batch.txt.enn", L"./Batch.Txt.Enn"}) {
        const Outcome run = Run(std::wstring(L"decrypt batch.txt.enn --force -o ") + out);
        EXPECT_EQ(run.status, 2u);  // the output is in the way, not the container
        EXPECT_NE(run.err.find("is the file being read; not replaced"), std::string::npos)
            << run.err;
    }
    EXPECT_EQ(ReadFile(dir.File("batch.txt.enn")), container);
}

TEST_F(EnnExe, StandardInputAndOutputCarryEveryByteUnchanged) {
    // Line ends, a Ctrl+Z and a NUL: what a text-mode stream would change.
    Bytes data = plain;
    const std::string awkward = "a\r\nb\nc\x1a\0d";
    data.insert(data.begin(), awkward.begin(), awkward.end());
    const std::string text(data.begin(), data.end());
    const Outcome sealed = Run(L"encrypt --password-stdin - -o -", "123456\r\n123456\r\n" + text);
    EXPECT_EQ(sealed.status, 0u) << sealed.err;
    EXPECT_EQ(sealed.err, "");
    EXPECT_EQ(sealed.out.size(), 48u + 4008 * 3 + 8 + 8 * ((data.size() % 4000 + 7) / 8));

    const Outcome opened = Run(L"decrypt - -o -", sealed.out);
    EXPECT_EQ(opened.status, 0u) << opened.err;
    EXPECT_EQ(opened.out, text);
    const Outcome password = Run(L"password -", sealed.out);
    EXPECT_EQ(password.out, "123456\n");

    std::string damaged = sealed.out;
    damaged[damaged.size() - 1] ^= 1;
    const Outcome refused = Run(L"decrypt - -o -", damaged);
    EXPECT_EQ(refused.status, 1u);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "enn: standard input: damaged: the digest header does not match the "
              "content\n");
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(dir.path()))) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 0u) << "nothing named - or left aside";
}

TEST_F(EnnExe, EncryptWritesToTheOutputNamedAndQuietPrintsNothing) {
    WriteFile(dir.File("batch.txt"), plain);
    const Outcome run =
        Run(L"encrypt -q --password-stdin batch.txt -o out.enn", "123456\n123456\n");
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(FileExists(dir.File("batch.txt.enn")));
    const Outcome verified = Run(L"verify out.enn -");
    EXPECT_EQ(verified.status, 1u);
    EXPECT_EQ(verified.out, "out.enn: intact\n");
}

}  // namespace
