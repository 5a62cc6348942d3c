// Drives the real veltrane.exe from outside, as a user would: starts it,
// finds its windows, sends keys (SendInput) and commands (posted or sent
// messages), and reads what its controls show. Every wait is a bounded poll
// for a condition. Prints one line per case and, last, "driver: N passed, N failed".
//
//   veltrane_gui_driver VELTRANE.EXE WORK-FOLDER [--leave-open | NAME-PART]
//
// NAME-PART runs only the cases whose names hold it.
// WORK-FOLDER receives the files the cases encrypt; 付款清单.txt.enn stays
// there for the caller to decrypt. With --leave-open the driver only opens
// the window, runs a successful Encrypt for a picture, prints the window's
// rectangle ("rect X Y W H") and leaves the program running.
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/resource.h"
#include "app/version.h"
#include "expected.h"
#include "text/utf16.h"

namespace {

// ---- texts

std::wstring W(const std::string& utf8) {
    return WideFromUtf8(utf8).value_or(std::wstring());
}

std::string U(const std::wstring& wide) {
    return Utf8FromWide(wide).value_or(std::string());
}

// ---- results

int g_passed = 0;
int g_failed = 0;
std::vector<std::string> g_problems;  // of the case under way

void Check(bool ok, const std::string& what) {
    if (!ok) {
        g_problems.push_back(what);
    }
}

void CheckText(const std::wstring& actual, const std::string& expected, const std::string& what) {
    Check(actual == W(expected), what + ": \"" + U(actual) + "\", expected \"" + expected + "\"");
}

// ---- waiting

// Polls until the condition holds, at most timeoutMs; whether it held.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 15000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() > end) {
            return false;
        }
        Sleep(10);
    }
}

// ---- the program's windows

std::wstring Text(HWND hWnd) {
    wchar_t buffer[2048] = {};
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &n)) {
        return L"<no answer>";
    }
    return std::wstring(buffer, n);
}

void SetText(HWND hWnd, const std::string& text) {
    const std::wstring w = W(text);
    SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()));
}

struct FindWindowOf {
    DWORD pid;
    std::wstring caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam) {
    auto* f = reinterpret_cast<FindWindowOf*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid == f->pid && IsWindowVisible(hWnd) && Text(hWnd) == f->caption) {
        f->found = hWnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the process with that caption, or null.
HWND TopWindow(DWORD pid, const std::string& caption) {
    FindWindowOf f{pid, W(caption)};
    EnumWindows(&FindProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

// The other visible top-level windows of the process, beside main.
int OtherWindows(DWORD pid, HWND main) {
    struct Count {
        DWORD pid;
        HWND main;
        int n = 0;
    } c{pid, main};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* c = reinterpret_cast<Count*>(lParam);
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            if (pid == c->pid && hWnd != c->main && IsWindowVisible(hWnd)) {
                ++c->n;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&c));
    return c.n;
}

// The visible top-level window of the process owned by main, or null.
HWND OwnedWindow(DWORD pid, HWND main) {
    struct Find {
        DWORD pid;
        HWND main;
        HWND found = nullptr;
    } f{pid, main};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* f = reinterpret_cast<Find*>(lParam);
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            if (pid == f->pid && IsWindowVisible(hWnd) && GetWindow(hWnd, GW_OWNER) == f->main) {
                f->found = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.found;
}

const ExpectedTexts& Expected() {
    static const ExpectedTexts t = LoadExpectedTexts();
    return t;
}

std::wstring g_exe;

class App {
  public:
    // Starts the program with the arguments (already quoted), in the folder
    // if one is given.
    explicit App(const std::wstring& args = L"", const std::wstring& folder = L"") {
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        std::wstring command = L"\"" + g_exe + L"\"" + (args.empty() ? L"" : L" " + args);
        if (!CreateProcessW(g_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &si, &pi_)) {
            Check(false, "the program does not start");
            return;
        }
        WaitFor([&] { return (main_ = TopWindow(pi_.dwProcessId, Expected().mainCaption)); },
                60000);
        Check(main_ != nullptr,
              "no main window with the caption \"" + Expected().mainCaption + "\"");
        if (main_) {
            Foreground(main_);
        }
    }
    ~App() {
        if (pi_.hProcess) {
            if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(pi_.hProcess, 1);
                WaitForSingleObject(pi_.hProcess, 10000);
            }
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    bool ok() const { return main_ != nullptr; }
    HWND main() const { return main_; }
    DWORD pid() const { return pi_.dwProcessId; }
    DWORD thread() const { return pi_.dwThreadId; }
    HWND item(int id) const { return GetDlgItem(main_, id); }
    std::wstring text(int id) const { return Text(item(id)); }

    // The id of the control with the keyboard focus in the program, or 0.
    int focus() const {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(pi_.dwThreadId, &info) || info.hwndFocus == nullptr) {
            return 0;
        }
        return GetDlgCtrlID(info.hwndFocus);
    }
    bool WaitFocus(int id) const {
        return WaitFor([&] { return focus() == id; }, 5000);
    }
    bool Ended(DWORD timeoutMs = 15000) const {
        return WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }
    static void Foreground(HWND hWnd) {
        WaitFor(
            [&] {
                SetForegroundWindow(hWnd);
                return GetForegroundWindow() == hWnd;
            },
            5000);
    }

    // Brings root to the front and waits until its thread's keyboard focus is
    // inside it, so that keys sent next reach it.
    static bool KeyboardIn(HWND root) {
        Foreground(root);
        const DWORD thread = GetWindowThreadProcessId(root, nullptr);
        return WaitFor(
            [&] {
                GUITHREADINFO info = {};
                info.cbSize = sizeof info;
                return GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
                       GetAncestor(info.hwndFocus, GA_ROOT) == root;
            },
            5000);
    }

  private:
    PROCESS_INFORMATION pi_ = {};
    HWND main_ = nullptr;
};

// ---- input

void Keys(std::vector<INPUT> inputs) {
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

INPUT Key(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return in;
}

// Presses key with the modifiers held, and lets everything go.
void Press(WORD vk, std::vector<WORD> modifiers = {}) {
    std::vector<INPUT> in;
    for (WORD m : modifiers) {
        in.push_back(Key(m, false));
    }
    in.push_back(Key(vk, false));
    in.push_back(Key(vk, true));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        in.push_back(Key(*it, true));
    }
    Keys(in);
}

void Type(const std::wstring& text) {
    std::vector<INPUT> in;
    for (wchar_t c : text) {
        INPUT down = {};
        down.type = INPUT_KEYBOARD;
        down.ki.wScan = c;
        down.ki.dwFlags = KEYEVENTF_UNICODE;
        INPUT up = down;
        up.ki.dwFlags |= KEYEVENTF_KEYUP;
        in.push_back(down);
        in.push_back(up);
    }
    Keys(in);
}

// Clicks a button of the program and returns when its handler has run.
void Click(HWND button) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result);
}

// Clicks a button whose handler runs a modal loop, without waiting for it.
void ClickLater(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

// Moves the focus with Tab from Browse to the control, counting the stops.
const int kTabOrder[] = {IDOK, IDC_FILE_PATH, IDC_ENCRYPT, IDC_PASSWORD, IDC_CONFIRM};

bool TabTo(const App& app, int id) {
    for (int i = 0; i < 6 && app.focus() != id; ++i) {
        const int before = app.focus();
        Press(VK_TAB);
        WaitFor([&] { return app.focus() != before; }, 5000);
    }
    return app.focus() == id;
}

// ---- folders and files

std::wstring g_work;  // ends with a backslash

std::string WorkPath(const std::string& name) {
    return U(g_work) + name;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

long long SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A plain file of several chunks with every byte value in it.
std::string SampleBytes() {
    std::string bytes;
    for (int i = 0; i < 10007; ++i) {
        bytes += char((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

const char kChineseName[] = "付款清单.txt";

// ---- the cases

using Case = std::function<void()>;

std::string g_only;  // runs only the cases whose names hold this

void Run(const char* name, const Case& body) {
    if (std::string(name).find(g_only) == std::string::npos) {
        return;
    }
    g_problems.clear();
    const ULONGLONG start = GetTickCount64();
    body();
    const double seconds = double(GetTickCount64() - start) / 1000.0;
    if (g_problems.empty()) {
        ++g_passed;
        std::printf("ok     %s (%.1f s)\n", name, seconds);
    } else {
        ++g_failed;
        std::printf("FAILED %s (%.1f s)\n", name, seconds);
        for (const std::string& p : g_problems) {
            std::printf("       %s\n", p.c_str());
        }
    }
    std::fflush(stdout);
}

RECT WindowRectOf(HWND hWnd) {
    RECT r = {};
    GetWindowRect(hWnd, &r);
    return r;
}

void StartState() {
    App app;
    if (!app.ok()) {
        return;
    }
    for (int id : {IDC_FILE_PATH, IDC_PASSWORD, IDC_CONFIRM, IDC_STATUS}) {
        CheckText(app.text(id), "", "control " + std::to_string(id) + " at start");
    }
    Check(app.WaitFocus(IDOK), "the focus is on " + std::to_string(app.focus()) + ", not Browse");
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    const RECT r = WindowRectOf(app.main());
    const long dx = (r.left + r.right) - (area.left + area.right);
    const long dy = (r.top + r.bottom) - (area.top + area.bottom);
    Check(dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2, "the window is not centred on the work area");
    for (int id : {IDC_PASSWORD, IDC_CONFIRM}) {
        Check(GetWindowLongW(app.item(id), GWL_STYLE) & ES_PASSWORD,
              "field " + std::to_string(id) + " is not masked");
    }
    Check(!(GetWindowLongW(app.item(IDC_FILE_PATH), GWL_STYLE) & ES_PASSWORD),
          "the path field is masked");
    Check(GetWindowLongW(app.main(), GWL_EXSTYLE) & WS_EX_APPWINDOW, "no task-bar button style");
    const LONG style = GetWindowLongW(app.main(), GWL_STYLE);
    Check((style & WS_MINIMIZEBOX) && !(style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME),
          "not a fixed frame with a minimise box only");
}

void TabOrder() {
    App app;
    if (!app.ok() || !app.WaitFocus(IDOK)) {
        Check(false, "no focus on Browse at start");
        return;
    }
    for (int i = 1; i <= 5; ++i) {
        const int want = kTabOrder[i % 5];
        Press(VK_TAB);
        Check(app.WaitFocus(want), "Tab " + std::to_string(i) + " went to " +
                                       std::to_string(app.focus()) + ", not " +
                                       std::to_string(want));
    }
    for (int i = 1; i <= 5; ++i) {
        const int want = kTabOrder[(10 - i) % 5];
        Press(VK_TAB, {VK_SHIFT});
        Check(app.WaitFocus(want), "Shift+Tab " + std::to_string(i) + " went to " +
                                       std::to_string(app.focus()) + ", not " +
                                       std::to_string(want));
    }
}

// The chooser: open over the main window, which it disables.
HWND WaitChooser(const App& app) {
    HWND chooser = nullptr;
    WaitFor([&] { return (chooser = OwnedWindow(app.pid(), app.main())) != nullptr; }, 15000);
    return chooser;
}

void EnterInEditFieldsOpensTheChooser() {
    App app;
    if (!app.ok()) {
        return;
    }
    SetText(app.item(IDC_FILE_PATH), "C:\\keep.txt");
    for (int id : {IDC_FILE_PATH, IDC_PASSWORD, IDC_CONFIRM}) {
        const std::string where = "Enter in " + std::to_string(id);
        if (!TabTo(app, id)) {
            Check(false, "cannot reach " + std::to_string(id) + " with Tab");
            continue;
        }
        Press(VK_RETURN);
        HWND chooser = WaitChooser(app);
        Check(chooser != nullptr, where + " opens no chooser");
        if (!chooser) {
            continue;
        }
        Check(!IsWindowEnabled(app.main()), where + ": the main window is not disabled");
        // The file type box shows the first filter; the read-only box is hidden.
        HWND types = GetDlgItem(chooser, 0x470);
        Check(types != nullptr, where + ": the chooser has no file type box");
        if (types) {
            CheckText(Text(types), ExpectedFirstFilterLabel(), where + ": the file type");
        }
        HWND readOnly = GetDlgItem(chooser, 0x410);
        Check(readOnly == nullptr || !IsWindowVisible(readOnly),
              where + ": the read-only box shows");
        App::KeyboardIn(chooser);
        Press(VK_ESCAPE);
        Check(WaitFor([&] { return !IsWindow(chooser); }), where + ": Escape leaves the chooser");
        Check(WaitFor([&] { return IsWindowEnabled(app.main()) != 0; }),
              where + ": the main window stays disabled");
        CheckText(app.text(IDC_FILE_PATH), "C:\\keep.txt", where + ": cancelling changed the path");
        CheckText(app.text(IDC_STATUS), "", where + ": the status");
        App::Foreground(app.main());
    }
}

void ChoosingAFileWritesItsFullPath() {
    App app;
    if (!app.ok()) {
        return;
    }
    const std::string path = WorkPath(kChineseName);
    SetText(app.item(IDC_FILE_PATH), "old text");
    Click(app.item(IDC_ENCRYPT));  // a status to keep: no password
    const std::wstring status = app.text(IDC_STATUS);
    ClickLater(app.item(IDOK));
    HWND chooser = WaitChooser(app);
    Check(chooser != nullptr, "Browse opens no chooser");
    if (!chooser) {
        return;
    }
    // The file name box: the Explorer-style chooser's combo box, or its edit.
    HWND name = GetDlgItem(chooser, 0x47C);
    if (name == nullptr) {
        name = GetDlgItem(chooser, 0x480);
    }
    Check(name != nullptr, "the chooser has no file name box");
    if (!name) {
        return;
    }
    SetText(name, path);
    PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    Check(WaitFor([&] { return !IsWindow(chooser); }), "the chooser stays open");
    Check(WaitFor([&] { return app.text(IDC_FILE_PATH) == W(path); }, 5000),
          "the path field holds \"" + U(app.text(IDC_FILE_PATH)) + "\", not the chosen file");
    Check(app.text(IDC_STATUS) == status, "choosing a file changed the status");
}

void EnterOnEncryptRunsTheCommand() {
    App app;
    if (!app.ok() || !TabTo(app, IDC_ENCRYPT)) {
        Check(false, "cannot reach Encrypt with Tab");
        return;
    }
    Press(VK_RETURN);
    Check(WaitFor([&] { return app.text(IDC_STATUS) == W(Expected().noPath); }, 5000),
          "Enter on Encrypt shows \"" + U(app.text(IDC_STATUS)) + "\"");
    Check(OtherWindows(app.pid(), app.main()) == 0, "Enter on Encrypt opened a window");
}

void FillFields(const App& app, const std::string& path, const std::string& password,
                const std::string& confirm) {
    SetText(app.item(IDC_FILE_PATH), path);
    SetText(app.item(IDC_PASSWORD), password);
    SetText(app.item(IDC_CONFIRM), confirm);
}

void EndsWith(const char* how, const std::function<void(const App&)>& act) {
    App app;
    if (!app.ok()) {
        return;
    }
    FillFields(app, "C:\\a.txt", "123456", "123456");
    act(app);
    Check(app.Ended(), std::string(how) + " does not end the tool");
}

void EscapeCloseBoxAndAltF4EndTheTool() {
    EndsWith("Escape", [](const App&) { Press(VK_ESCAPE); });
    EndsWith("Escape in the password field", [](const App& app) {
        TabTo(app, IDC_PASSWORD);
        Press(VK_ESCAPE);
    });
    EndsWith("Alt+F4", [](const App&) { Press(VK_F4, {VK_MENU}); });
    // What the close box and the system menu's Close send.
    EndsWith("the close box",
             [](const App& app) { PostMessageW(app.main(), WM_SYSCOMMAND, SC_CLOSE, 0); });
}

struct StatusCase {
    const char* name;
    std::string path, password, confirm;
    std::string status;
    bool passwordCleared, confirmCleared;
    int focus;
};

void EveryStatusMessage() {
    const ExpectedTexts& t = Expected();
    const std::string input = WorkPath("status.txt");
    WriteFileBytes(input, "abc");
    // The output's name taken by a folder: nothing can be made there.
    const std::string blocked = WorkPath("blocked.txt");
    WriteFileBytes(blocked, "abc");
    CreateDirectoryW(W(ExpectedContainerPath(blocked)).c_str(), nullptr);

    const std::vector<StatusCase> cases = {
        {"spaces for a path", "   ", "123456", "123456", t.noPath, false, false, IDC_ENCRYPT},
        {"no password", input, "", "", t.noPassword, false, false, IDC_ENCRYPT},
        {"no confirmation", input, "123456", "", t.noConfirm, false, false, IDC_ENCRYPT},
        {"five digits twice", input, "12345", "12345", t.passwordLength, true, true, IDC_PASSWORD},
        {"seven digits", input, "1234567", "1234567", t.passwordLength, true, true, IDC_PASSWORD},
        {"short confirmation", input, "123456", "12345", t.confirmLength, false, true, IDC_CONFIRM},
        {"different", input, "123456", "654321", t.mismatch, true, true, IDC_PASSWORD},
        {"a letter", input, "12345a", "12345a", t.notDigits, true, true, IDC_PASSWORD},
        {"full-width digits", input, "１２３４５６", "１２３４５６", t.passwordLength, true, true,
         IDC_PASSWORD},
        {"missing file", WorkPath("missing.txt"), "123456", "123456", t.inputMissing, false, false,
         IDC_ENCRYPT},
        {"output taken by a folder", blocked, "123456", "123456", t.cannotCreate, false, false,
         IDC_ENCRYPT},
        {"spaces around the path", "  " + input + " \t", "123456", "123456", ExpectedSuccess(input),
         false, false, IDC_ENCRYPT},
    };
    App app;
    if (!app.ok()) {
        return;
    }
    for (const StatusCase& c : cases) {
        const std::string where = c.name;
        FillFields(app, c.path, c.password, c.confirm);
        Click(app.item(IDC_ENCRYPT));
        CheckText(app.text(IDC_STATUS), c.status, where + ": status");
        CheckText(app.text(IDC_PASSWORD), c.passwordCleared ? "" : c.password,
                  where + ": password field");
        CheckText(app.text(IDC_CONFIRM), c.confirmCleared ? "" : c.confirm,
                  where + ": confirmation field");
        CheckText(app.text(IDC_FILE_PATH), c.path, where + ": path field");
        Check(app.WaitFocus(c.focus), where + ": the focus is on " + std::to_string(app.focus()) +
                                          ", not " + std::to_string(c.focus));
    }
    Check(!Exists(ExpectedContainerPath(WorkPath("missing.txt"))),
          "a container appeared for a missing file");
    Check(Exists(ExpectedContainerPath(input)), "no container beside status.txt");
}

void AContainerIsWritten() {
    const std::string path = WorkPath(kChineseName);
    const std::string container = ExpectedContainerPath(path);
    DeleteFileW(W(container).c_str());
    Check(WriteFileBytes(path, SampleBytes()), "cannot write " + path);
    App app;
    if (!app.ok()) {
        return;
    }
    // Typed, as a user would: the path, Tab to the password fields.
    TabTo(app, IDC_FILE_PATH);
    Type(W(path));
    TabTo(app, IDC_PASSWORD);
    Type(L"135790");
    Press(VK_TAB);
    app.WaitFocus(IDC_CONFIRM);
    Type(L"135790");
    Check(WaitFor([&] { return app.text(IDC_CONFIRM).size() == 6; }, 5000),
          "typing reached the confirmation field as \"" + U(app.text(IDC_CONFIRM)) + "\"");
    Check(SendMessageW(app.item(IDC_PASSWORD), EM_GETPASSWORDCHAR, 0, 0) != 0,
          "the password field shows what is typed");
    Press(VK_TAB, {VK_SHIFT});
    Press(VK_TAB, {VK_SHIFT});
    Check(app.WaitFocus(IDC_ENCRYPT), "Shift+Tab twice does not reach Encrypt");
    Press(VK_RETURN);
    Check(WaitFor([&] { return app.text(IDC_STATUS) == W(ExpectedSuccess(path)); }),
          "the status reads \"" + U(app.text(IDC_STATUS)) + "\"");
    // 32 + 16 + two full chunks of 4008 + one of 8 + 2008 (2007 bytes).
    const long long chunks = (10007 + 3999) / 4000;
    const long long want = 48 + (chunks - 1) * 4008 + 8 + ((10007 - 8000 + 7) / 8) * 8;
    Check(SizeOf(container) == want, "the container has " + std::to_string(SizeOf(container)) +
                                         " bytes, not " + std::to_string(want));
    CheckText(app.text(IDC_PASSWORD), "135790", "the password field after success");
}

// A popup menu on the screen, or null; menus are windows of class #32768.
HWND VisibleMenu() {
    HWND found = nullptr;
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            wchar_t name[16] = {};
            GetClassNameW(hWnd, name, 16);
            if (IsWindowVisible(hWnd) && std::wstring(name) == L"#32768") {
                *reinterpret_cast<HWND*>(lParam) = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND WaitAbout(const App& app) {
    HWND about = nullptr;
    WaitFor([&] { return (about = TopWindow(app.pid(), Expected().aboutCaption)) != nullptr; },
            15000);
    return about;
}

// Waits for a popup menu and chooses its last item: Up from the top wraps
// to it. False when no menu opened.
bool PickLastMenuItem(const App& app) {
    // Shown, and tracking: only then do the keys reach the menu.
    const bool tracking = WaitFor(
        [&] {
            GUITHREADINFO info = {};
            info.cbSize = sizeof info;
            return VisibleMenu() != nullptr && GetGUIThreadInfo(app.thread(), &info) &&
                   (info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE));
        },
        10000);
    if (tracking) {
        Press(VK_UP);
        Press(VK_RETURN);
    }
    return tracking;
}

// Chooses the last item of the window's menu, the about item; the about box
// it opens.
HWND ChooseLastMenuItem(const App& app) {
    return PickLastMenuItem(app) ? WaitAbout(app) : nullptr;
}

void CheckAboutBox(const App& app, HWND about, const std::string& how) {
    Check(about != nullptr, how + " opens no about box");
    if (!about) {
        return;
    }
    Check(GetWindow(about, GW_OWNER) == app.main(), how + ": the about box's owner");
    Check(!IsWindowEnabled(app.main()), how + ": the main window is not disabled");
    const RECT a = WindowRectOf(about);
    const RECT m = WindowRectOf(app.main());
    const long dx = (a.left + a.right) - (m.left + m.right);
    const long dy = (a.top + a.bottom) - (m.top + m.bottom);
    Check(dx >= -2 && dx <= 2 && dy >= -2 && dy <= 2,
          how + ": the about box is not centred over the main window");
    Check(GetWindowLongW(about, GWL_STYLE) & WS_SYSMENU, how + ": the about box has no close box");
    CheckText(Text(GetDlgItem(about, IDOK)), "确定", how + ": the about box's button");
}

void ClosesAbout(const App& app, HWND about, const std::string& how,
                 const std::function<void()>& close) {
    if (!about) {
        return;
    }
    close();
    Check(WaitFor([&] { return !IsWindow(about); }), how + " does not close the about box");
    Check(WaitFor([&] { return IsWindowEnabled(app.main()) != 0; }),
          "after " + how + " the main window stays disabled");
    Check(IsWindow(app.main()), how + " ended the tool");
    Check(WaitFor([&] { return OtherWindows(app.pid(), app.main()) == 0; }, 5000),
          "after " + how + " another window is open");
}

// The caption and the about box's product line are the form's own texts,
// whatever the package's version; written here, not taken from the
// program's table, so that a change there shows.
void TheCaptionAndTheAboutTextAreTheFormsOwn() {
    App app;
    if (!app.ok()) {
        return;
    }
    CheckText(Text(app.main()), "Karsholm -- Veltrane(2014版) v1.1.2", "the caption");
    PostMessageW(app.main(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitAbout(app);
    Check(about != nullptr, "no about box");
    if (!about) {
        return;
    }
    std::vector<std::wstring> texts;
    EnumChildWindows(
        about,
        [](HWND child, LPARAM lParam) -> BOOL {
            reinterpret_cast<std::vector<std::wstring>*>(lParam)->push_back(Text(child));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    bool found = false;
    std::string all;
    for (const std::wstring& t : texts) {
        found = found || t == W("Veltrane(2014版) v1.1.2");
        all += "\"" + U(t) + "\" ";
    }
    Check(found, "the about box shows " + all + "but not \"Veltrane(2014版) v1.1.2\"");
    ClosesAbout(app, about, "its OK button", [&] { Click(GetDlgItem(about, IDOK)); });
}

void TheAboutBoxFromTheSystemMenu() {
    App app;
    if (!app.ok()) {
        return;
    }
    // The item's own command, and the same with the low four bits set.
    PostMessageW(app.main(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = WaitAbout(app);
    CheckAboutBox(app, about, "WM_SYSCOMMAND 0x10");
    ClosesAbout(app, about, "Escape", [&] {
        App::KeyboardIn(about);
        Press(VK_ESCAPE);
    });

    PostMessageW(app.main(), WM_SYSCOMMAND, 0x1F, 0);
    about = WaitAbout(app);
    CheckAboutBox(app, about, "WM_SYSCOMMAND 0x1F");
    ClosesAbout(app, about, "its OK button", [&] { Click(GetDlgItem(about, IDOK)); });

    // 0x20 is another command: the call returns at once and nothing opens.
    DWORD_PTR result = 0;
    Check(SendMessageTimeoutW(app.main(), WM_SYSCOMMAND, 0x20, 0, SMTO_NORMAL, 10000, &result) != 0,
          "WM_SYSCOMMAND 0x20 runs a modal loop");
    Check(TopWindow(app.pid(), Expected().aboutCaption) == nullptr,
          "WM_SYSCOMMAND 0x20 opens the about box");

    // By keyboard: Alt+Space opens the system menu.
    App::Foreground(app.main());
    Press(VK_SPACE, {VK_MENU});
    about = ChooseLastMenuItem(app);
    CheckAboutBox(app, about, "Alt+Space, Up, Enter");
    ClosesAbout(app, about, "its close box",
                [&] { PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); });
}

void ShiftF10AndARightClickOpenTheWindowsMenu() {
    App app;
    if (!app.ok()) {
        return;
    }
    // On a button, the window's menu.
    App::KeyboardIn(app.main());
    TabTo(app, IDC_ENCRYPT);
    Press(VK_F10, {VK_SHIFT});
    HWND about = ChooseLastMenuItem(app);
    CheckAboutBox(app, about, "Shift+F10 on Encrypt");
    ClosesAbout(app, about, "Escape", [&] {
        App::KeyboardIn(about);
        Press(VK_ESCAPE);
    });
    // In an edit field, the field's own menu, whose last item selects all.
    for (int id : {IDC_FILE_PATH, IDC_PASSWORD}) {
        const std::string how = "Shift+F10 in " + std::to_string(id);
        App::KeyboardIn(app.main());
        TabTo(app, id);
        SetText(app.item(id), "123456");
        SendMessageW(app.item(id), EM_SETSEL, 6, 6);
        Press(VK_F10, {VK_SHIFT});
        Check(PickLastMenuItem(app), how + " opens no menu");
        Check(WaitFor([&] { return SendMessageW(app.item(id), EM_GETSEL, 0, 0) == MAKELONG(0, 6); },
                      5000),
              how + ": the last item of the menu that opened does not select the field's text");
        Check(app.focus() == id, how + ": the focus left the field");
        Check(TopWindow(app.pid(), Expected().aboutCaption) == nullptr,
              how + " opened the about box");
        SetText(app.item(id), "");
    }
    // What Windows sends the form for a right click on it (mouse input
    // under Wine on Xvfb is too unsteady to click for real): WM_CONTEXTMENU
    // with the screen point, here on the status field.
    RECT client;
    GetClientRect(app.item(IDC_STATUS), &client);
    POINT at = {client.right / 2, client.bottom / 2};
    ClientToScreen(app.item(IDC_STATUS), &at);
    App::KeyboardIn(app.main());
    PostMessageW(app.main(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(app.main()),
                 MAKELPARAM(at.x, at.y));
    about = ChooseLastMenuItem(app);
    CheckAboutBox(app, about, "a right click on the form");
    ClosesAbout(app, about, "its OK button", [&] { Click(GetDlgItem(about, IDOK)); });
}

void F1ShowsTheHelp() {
    App app;
    if (!app.ok()) {
        return;
    }
    TabTo(app, IDC_PASSWORD);
    Press(VK_F1);
    HWND help = nullptr;
    WaitFor([&] { return (help = TopWindow(app.pid(), Expected().helpTitle)) != nullptr; });
    Check(help != nullptr, "F1 shows no window titled \"" + Expected().helpTitle + "\"");
    if (!help) {
        return;
    }
    bool found = false;
    for (HWND child = GetWindow(help, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        found = found || Text(child) == W(Expected().helpText);
    }
    Check(found, "the help window does not show the help text");
    HWND ok = GetDlgItem(help, IDOK);
    Check(ok != nullptr, "the help has no OK button");
    if (ok) {
        Click(ok);
    }
    Check(WaitFor([&] { return !IsWindow(help); }), "OK does not close the help");
    Check(WaitFor([&] { return OtherWindows(app.pid(), app.main()) == 0; }, 5000),
          "F1 opened more than one window");
    Check(WaitFor([&] { return IsWindowEnabled(app.main()) != 0; }),
          "the main window stays disabled after the help");
}

void MinimiseFromTheSystemMenu() {
    App app;
    if (!app.ok()) {
        return;
    }
    // The command goes to the default processing, which keeps the window
    // answering (Wine on Xvfb does not minimise windows, so what a minimised
    // window paints is not seen here).
    DWORD_PTR r = 0;
    Check(
        SendMessageTimeoutW(app.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_NORMAL, 10000, &r) != 0,
        "SC_MINIMIZE does not return");
    if (IsIconic(app.main())) {
        ShowWindowAsync(app.main(), SW_RESTORE);
        Check(WaitFor([&] { return !IsIconic(app.main()); }), "the window does not restore");
    }
    Check(OtherWindows(app.pid(), app.main()) == 0, "SC_MINIMIZE opened a window");
    App::KeyboardIn(app.main());
    Press(VK_ESCAPE);
    Check(app.Ended(), "Escape after SC_MINIMIZE does not end the tool");
}

void TheMinimisedIconOrigin() {
    // The Windows build of the arithmetic OnPaint uses while minimised.
    Check(ExpectedIconOrigin(100, 50, 32, 32) == std::make_pair(34, 9),
          "a 100 x 50 client area does not put the icon at (34, 9)");
    Check(ExpectedIconOrigin(0, 0, 32, 32) == std::make_pair(-15, -15),
          "a 0 x 0 client area does not put the icon at (-15, -15)");
    Check(ExpectedIconOrigin(33, 33, 32, 32) == std::make_pair(1, 1),
          "a 33 x 33 client area does not put the icon at (1, 1)");
}

void TheProgramsResources() {
    HMODULE exe = LoadLibraryExW(g_exe.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Check(exe != nullptr, "cannot open the program's resources");
    if (!exe) {
        return;
    }
    // Explorer shows the icon group with the lowest id.
    std::vector<ULONG_PTR> groups;
    EnumResourceNamesW(
        exe, RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
            reinterpret_cast<std::vector<ULONG_PTR>*>(param)->push_back(
                IS_INTRESOURCE(name) ? ULONG_PTR(name) : 0);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&groups));
    Check(groups.size() == 1 && groups[0] == IDR_MAINFRAME,
          "the icon groups are not exactly IDR_MAINFRAME");
    for (int size : {16, 32, 48, 64, 128, 256}) {
        HANDLE icon = LoadImageW(exe, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0);
        ICONINFO info = {};
        BITMAP bm = {};
        bool exact = icon && GetIconInfo(HICON(icon), &info) &&
                     GetObjectW(info.hbmColor, sizeof bm, &bm) && bm.bmWidth == size;
        Check(exact, "no " + std::to_string(size) + "-pixel image in the icon");
        if (info.hbmColor) {
            DeleteObject(info.hbmColor);
        }
        if (info.hbmMask) {
            DeleteObject(info.hbmMask);
        }
        if (icon) {
            DestroyIcon(HICON(icon));
        }
    }
    for (int id : {IDB_FOOTER, IDB_BANNER, IDB_SIDEBAR}) {
        Check(FindResourceW(exe, MAKEINTRESOURCEW(id), RT_BITMAP) != nullptr,
              "no bitmap " + std::to_string(id));
    }
    Check(FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST) != nullptr, "no manifest");
    FreeLibrary(exe);

    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(g_exe.c_str(), &ignored));
    wchar_t* product = nullptr;
    UINT length = 0;
    VS_FIXEDFILEINFO* fixed = nullptr;
    const bool ok = !info.empty() &&
                    GetFileVersionInfoW(g_exe.c_str(), 0, DWORD(info.size()), info.data()) &&
                    VerQueryValueW(info.data(), L"\\StringFileInfo\\080404b0\\ProductVersion",
                                   reinterpret_cast<void**>(&product), &length) &&
                    VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
    Check(ok, "no version resource");
    if (ok) {
        CheckText(product, VELTRANE_VERSION, "the product version");
        Check(fixed->dwFileVersionMS ==
                      DWORD((VELTRANE_VERSION_MAJOR << 16) | VELTRANE_VERSION_MINOR) &&
                  HIWORD(fixed->dwFileVersionLS) == VELTRANE_VERSION_PATCH,
              "the file version numbers");
    }
}

// A path of about 95 characters: a dated folder with a long Chinese name in
// the public documents, as a user's would read.
std::string LongPath() {
    return std::string(
               "C:\\users\\Public\\Documents\\20261208-批量付款指令文件第四季度对账用（正式版）") +
           "\\karsholm-batch-payment-instructions-" + kChineseName;
}

// Whether text, in the font 宋体 of the template made here as the program
// makes it, wraps within a width to no more than a height.
bool FitsAsTheStatusWraps(const std::wstring& text, const RECT& client) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0,
                             0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"宋体");
    HGDIOBJ old = SelectObject(dc, font);
    RECT need = {0, 0, client.right, 0};
    DrawTextW(dc, text.c_str(), int(text.size()), &need,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return need.bottom <= client.bottom;
}

void ALongPathShowsTheWholeInstruction() {
    const std::string path = LongPath();
    CreateDirectoryW(W(path.substr(0, path.rfind('\\'))).c_str(), nullptr);
    Check(WriteFileBytes(path, SampleBytes()), "cannot write " + path);
    App app;
    if (!app.ok()) {
        return;
    }
    FillFields(app, path, "135790", "135790");
    Click(app.item(IDC_ENCRYPT));
    const std::wstring whole = W(ExpectedSuccess(path));
    const std::wstring shown = app.text(IDC_STATUS);
    RECT client = {};
    GetClientRect(app.item(IDC_STATUS), &client);
    Check(!FitsAsTheStatusWraps(whole, client), "the whole message fits: the case tests nothing");
    Check(FitsAsTheStatusWraps(shown, client),
          "the message shown does not fit: \"" + U(shown) + "\"");
    const std::wstring instruction = L"\"，请将加密文件送交至我行！";
    Check(shown.size() > instruction.size() && shown.compare(shown.size() - instruction.size(),
                                                             instruction.size(), instruction) == 0,
          "the message shown does not end with the instruction: \"" + U(shown) + "\"");
    const size_t cut = shown.find(L'\u2026');
    Check(cut != std::wstring::npos && whole.compare(0, cut, shown, 0, cut) == 0 &&
              whole.compare(whole.size() - (shown.size() - cut - 1), std::wstring::npos, shown,
                            cut + 1) == 0,
          "the message shown is not the whole one with its path cut in the middle: \"" + U(shown) +
              "\"");
    Check(Exists(ExpectedContainerPath(path)), "no container at the long path");
}

void AFileFromTheCommandLine() {
    const std::string path = WorkPath(kChineseName);
    // Named relative to the folder the program starts in.
    App app(L"\"" + W(kChineseName) + L"\"", g_work);
    if (!app.ok()) {
        return;
    }
    CheckText(app.text(IDC_FILE_PATH), path, "the path field");
    Check(app.WaitFocus(IDC_PASSWORD),
          "the focus is on " + std::to_string(app.focus()) + ", not the password");
    CheckText(app.text(IDC_STATUS), "", "the status");
}

// Arguments the window cannot use never keep it closed: it opens, with the
// one file named in the field, or none of two.
void ArgumentsNeverKeepTheWindowClosed() {
    const std::string path = WorkPath(kChineseName);
    const struct {
        std::wstring args;
        std::string field;
    } starts[] = {
        {L"-x", ""},
        {L"a.txt b.txt", ""},
        {L"--frobnicate \"" + W(kChineseName) + L"\"", path},
        {L"\"\"", ""},
    };
    for (const auto& start : starts) {
        App app(start.args, g_work);
        if (!app.ok()) {
            Check(false, "with " + U(start.args) + " no window opens");
            continue;
        }
        CheckText(app.text(IDC_FILE_PATH), start.field,
                  "with " + U(start.args) + " the path field");
    }
}

// The colour of the screen's pixel at a point of the window's client area.
COLORREF ScreenPixel(HWND hWnd, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(hWnd, &at);
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return c;
}

void TheFormIsWhole() {
    App app;
    if (!app.ok()) {
        return;
    }
    // Whether the template's own face shows Chinese here, for the record:
    // where it does not, the program chose another.
    {
        HDC dc = GetDC(nullptr);
        HFONT font =
            CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"宋体");
        HGDIOBJ old = SelectObject(dc, font);
        WORD glyphs[2] = {};
        GetGlyphIndicesW(dc, L"文件", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        std::printf("       宋体 is drawn with %s, %s Chinese glyphs\n", U(face).c_str(),
                    glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF ? "with" : "without");
        SelectObject(dc, old);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
    }
    // The form's font has Chinese glyphs: in the path field, a Chinese
    // character is not as wide as a character no font has (an empty box).
    HWND edit = app.item(IDC_FILE_PATH);
    SetText(edit, "\u0378\u0378文件路径");
    auto x = [&](int i) { return short(LOWORD(SendMessageW(edit, EM_POSFROMCHAR, i, 0))); };
    const int box = x(1) - x(0);
    const int chinese = x(3) - x(2);
    Check(chinese != box && chinese == x(4) - x(3),
          "a Chinese character is " + std::to_string(chinese) + " pixels wide, a box " +
              std::to_string(box) + ": no Chinese glyphs");
    SetText(edit, "");

    // The pictures fill their rectangles, which scale with the form's font
    // as the other controls do: one unit is measured between the path
    // field's corner and Browse's left edge and Encrypt's top.
    auto corner = [&](int id) {
        RECT r = WindowRectOf(app.item(id));
        MapWindowPoints(nullptr, app.main(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const RECT path = corner(IDC_FILE_PATH);
    const ExpectedRect pathUnits = ExpectedUnitsOf(IDC_FILE_PATH);
    const double sx =
        double(corner(IDOK).left - path.left) / (ExpectedUnitsOf(IDOK).x - pathUnits.x);
    const double sy =
        double(corner(IDC_ENCRYPT).top - path.top) / (ExpectedUnitsOf(IDC_ENCRYPT).y - pathUnits.y);
    std::printf("       one dialog unit: %.3f x %.3f pixels\n", sx, sy);
    const COLORREF ground = GetSysColor(COLOR_3DFACE);
    Sleep(500);  // painted
    for (const ExpectedRect& units : ExpectedPictureUnits()) {
        const std::string which =
            "the picture at (" + std::to_string(units.x) + ", " + std::to_string(units.y) + ")";
        HWND picture = ChildWindowFromPointEx(
            app.main(), POINT{int(units.x * sx) + 2, int(units.y * sy) + 2}, CWP_SKIPINVISIBLE);
        RECT r = WindowRectOf(picture);
        MapWindowPoints(nullptr, app.main(), reinterpret_cast<POINT*>(&r), 2);
        const double slack = 2 + sx;
        Check(std::abs(r.left - units.x * sx) <= slack && std::abs(r.top - units.y * sy) <= slack &&
                  std::abs(r.right - (units.x + units.cx) * sx) <= slack &&
                  std::abs(r.bottom - (units.y + units.cy) * sy) <= slack,
              which + " is at " + std::to_string(r.left) + "," + std::to_string(r.top) + " - " +
                  std::to_string(r.right) + "," + std::to_string(r.bottom));
        // Drawn to its right and bottom edges: not the form's ground there.
        int bare = 0;
        int seen = 0;
        for (int y = r.top + 2; y < r.bottom - 2; y += 3, ++seen) {
            bare += ScreenPixel(app.main(), r.right - 2, y) == ground;
        }
        for (int x2 = r.left + 2; x2 < r.right - 2; x2 += 3, ++seen) {
            bare += ScreenPixel(app.main(), x2, r.bottom - 2) == ground;
        }
        Check(seen > 0 && bare * 4 < seen, which + " leaves " + std::to_string(bare) + " of " +
                                               std::to_string(seen) + " points of its edges bare");
    }
}

void LeaveOpenForAPicture() {
    const std::string path = LongPath();
    CreateDirectoryW(W(path.substr(0, path.rfind('\\'))).c_str(), nullptr);
    WriteFileBytes(path, SampleBytes());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring command = L"\"" + g_exe + L"\"";
    if (!CreateProcessW(g_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        return;
    }
    HWND main = nullptr;
    WaitFor([&] { return (main = TopWindow(pi.dwProcessId, Expected().mainCaption)) != nullptr; },
            60000);
    if (!main) {
        return;
    }
    SetText(GetDlgItem(main, IDC_FILE_PATH), path);
    SetText(GetDlgItem(main, IDC_PASSWORD), "135790");
    SetText(GetDlgItem(main, IDC_CONFIRM), "135790");
    Click(GetDlgItem(main, IDC_ENCRYPT));
    App::Foreground(main);
    const RECT r = WindowRectOf(main);
    std::printf("rect %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: veltrane_gui_driver VELTRANE.EXE WORK-FOLDER [--leave-open]\n");
        return 2;
    }
    g_exe = argv[1];
    g_work = argv[2];
    if (!g_work.empty() && g_work.back() != L'\\') {
        g_work += L'\\';
    }
    if (argc > 3 && std::wstring(argv[3]) == L"--leave-open") {
        LeaveOpenForAPicture();
        return 0;
    }
    if (argc > 3) {
        g_only = U(argv[3]);
    }
    Run("the program's resources: icon, bitmaps, version, manifest", TheProgramsResources);
    Run("start: empty fields, focus on Browse, centred", StartState);
    Run("Tab and Shift+Tab visit the tab stops in template order", TabOrder);
    Run("Enter in every edit field opens the chooser; Escape cancels it",
        EnterInEditFieldsOpensTheChooser);
    Run("choosing a file writes its full path", ChoosingAFileWritesItsFullPath);
    Run("Enter on Encrypt runs the command", EnterOnEncryptRunsTheCommand);
    Run("Escape, Alt+F4 and the close box end the tool", EscapeCloseBoxAndAltF4EndTheTool);
    Run("every status message, the fields it clears, the focus it moves", EveryStatusMessage);
    Run("a container written from typed input", AContainerIsWritten);
    Run("the about box from the system menu: 0x10, 0x1F, not 0x20", TheAboutBoxFromTheSystemMenu);
    Run("the caption and the about box's text are the form's own, not the package's version",
        TheCaptionAndTheAboutTextAreTheFormsOwn);
    Run("Shift+F10 and a right click (WM_CONTEXTMENU) open the window's menu with the about item",
        ShiftF10AndARightClickOpenTheWindowsMenu);
    Run("F1 shows the help", F1ShowsTheHelp);
    Run("a long path: the message shown fits and ends with the instruction",
        ALongPathShowsTheWholeInstruction);
    Run("a file on the command line starts in the path field, focus on the password",
        AFileFromTheCommandLine);
    Run("arguments the window cannot use never keep it closed", ArgumentsNeverKeepTheWindowClosed);
    Run("the form whole: Chinese glyphs, pictures filling their rectangles", TheFormIsWhole);
    Run("Minimise from the system menu, then Escape ends the tool", MinimiseFromTheSystemMenu);
    Run("the minimised icon's origin: centred, halves truncated toward zero",
        TheMinimisedIconOrigin);
    // The caller adds its own checks and prints the run's summary line.
    std::printf("driver: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
