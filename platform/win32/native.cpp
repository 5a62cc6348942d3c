// The Win32 side's calls into Windows: the only source of the layer that
// includes <windows.h> (see native.h).
#define NOMINMAX
#include <windows.h>
// After windows.h, whose types these need.
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/native.h"
#include "text/utf16.h"

namespace {

// What a dialog run by RunDialog keeps on its window.
struct DialogRun {
    native::InitProc init;
    native::WindowProc proc;
    void* target;
    WNDPROC dialogManager;  // the class's procedure, which the layer's wraps
    HWND tips;              // the tooltips of its controls, once there is one
};

const wchar_t kRunProperty[] = L"VeltraneDialogRun";

DialogRun* RunOf(HWND hWnd) {
    return static_cast<DialogRun*>(GetPropW(hWnd, kRunProperty));
}

// Everything the dialog's window receives goes to the window classes first;
// what they leave goes on to the dialog manager (native::DefaultProc).
LRESULT CALLBACK LayerWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogRun* run = RunOf(hWnd);
    if (message == WM_NCDESTROY) {
        RemovePropW(hWnd, kRunProperty);
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(run->dialogManager));
        return CallWindowProcW(run->dialogManager, hWnd, message, wParam, lParam);
    }
    if (run->tips && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
        MSG msg = {hWnd, message, wParam, lParam, DWORD(GetMessageTime()), {}};
        SendMessageW(run->tips, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
    }
    return run->proc(run->target, message, wParam, lParam);
}

// The dialog procedure handles nothing but the start: the window classes see
// every message through LayerWindowProc before the dialog manager calls this.
INT_PTR CALLBACK LayerDialogProc(HWND hWnd, UINT message, WPARAM /*wParam*/, LPARAM lParam) {
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    auto* run = reinterpret_cast<DialogRun*>(lParam);
    SetPropW(hWnd, kRunProperty, run);
    run->dialogManager = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LayerWindowProc)));
    return run->init(run->target, hWnd) ? TRUE : FALSE;
}

bool IsEditField(HWND hWnd) {
    wchar_t name[8] = {};
    return GetClassNameW(hWnd, name, 8) && lstrcmpiW(name, L"Edit") == 0;
}

// Shift+F10 opens the window's menu from a button, as a right click on the
// form does; the dialog manager would pass it to the button, which has no
// menu. An edit field keeps its own menu (Cut, Copy, Paste...), which
// DefWindowProc opens on the key's release. (F1 needs nothing here: Windows
// turns it into WM_HELP for the focused control, which passes it up to the
// dialog.)
LRESULT CALLBACK DialogKeys(int code, WPARAM wParam, LPARAM lParam) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && IsEditField(msg->hwnd)) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    const bool down = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
    const bool up = msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
    if (code == MSGF_DIALOGBOX && (down || up) && msg->wParam == VK_F10 &&
        GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
        HWND root = GetAncestor(msg->hwnd, GA_ROOT);
        if (root && RunOf(root) && up) {
            // Its release too, or the field's own menu opens after ours.
            return 1;
        }
        if (root && RunOf(root)) {
            // The dialog loop and IsDialogMessage may both offer a key, the
            // second time after a nested loop has run: each press acts once.
            static std::deque<MSG> handled;
            for (const MSG& h : handled) {
                if (h.hwnd == msg->hwnd && h.message == msg->message && h.lParam == msg->lParam &&
                    h.time == msg->time) {
                    return 1;
                }
            }
            handled.push_back(*msg);
            if (handled.size() > 16) {
                handled.pop_front();
            }
            SendMessageW(root, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(root), -1);
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The PAINTSTRUCT of each paint under way, by its device context.
std::map<HDC, PAINTSTRUCT>& Paints() {
    static std::map<HDC, PAINTSTRUCT> paints;
    return paints;
}

// The window's texts are its own, valid UTF-8, and names from the system
// valid UTF-16; what is not becomes empty rather than another text.
std::wstring Wide(const std::string& utf8) {
    return WideFromUtf8(utf8).value_or(std::wstring());
}

std::string Utf8(const wchar_t* wide, int length) {
    return length <= 0 ? std::string()
                       : Utf8FromWide(std::wstring_view(wide, static_cast<size_t>(length)))
                             .value_or(std::string());
}

}  // namespace

namespace native {

std::intptr_t RunDialog(const void* dialogTemplate, HWND owner, InitProc init, WindowProc proc,
                        void* target) {
    DialogRun run = {init, proc, target, nullptr, nullptr};
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                   static_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner,
                                   &LayerDialogProc, reinterpret_cast<LPARAM>(&run));
}

void EndDialog(HWND hWnd, int result) {
    ::EndDialog(hWnd, result);
}

std::intptr_t DefaultProc(HWND hWnd, unsigned message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
    DialogRun* run = RunOf(hWnd);
    return run ? CallWindowProcW(run->dialogManager, hWnd, message, wParam, lParam)
               : DefWindowProcW(hWnd, message, wParam, lParam);
}

std::intptr_t Send(HWND hWnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    return SendMessageW(hWnd, message, wParam, lParam);
}

void CentreDialog(HWND hWnd) {
    HWND owner = GetWindow(hWnd, GW_OWNER);
    RECT window;
    GetWindowRect(hWnd, &window);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner ? owner : hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT area = monitor.rcWork;
    RECT around = area;
    if (owner && IsWindowVisible(owner) && !::IsIconic(owner)) {
        GetWindowRect(owner, &around);
    }
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = (around.left + around.right) / 2 - width / 2;
    LONG y = (around.top + around.bottom) / 2 - height / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

Rect WindowRect(HWND hWnd) {
    RECT r = {};
    GetWindowRect(hWnd, &r);
    return {r.left, r.top, r.right, r.bottom};
}

Rect ClientRect(HWND hWnd) {
    RECT r = {};
    GetClientRect(hWnd, &r);
    return {r.left, r.top, r.right, r.bottom};
}

bool IsIconic(HWND hWnd) {
    return ::IsIconic(hWnd);
}

HWND DialogItem(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

bool IsTextStatic(HWND hWnd) {
    wchar_t name[8] = {};
    if (!GetClassNameW(hWnd, name, 8) || lstrcmpiW(name, L"Static") != 0) {
        return false;
    }
    const LONG type = GetWindowLongW(hWnd, GWL_STYLE) & SS_TYPEMASK;
    return type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
}

bool FitsStatic(HWND hWnd, const std::string& text) {
    RECT client = {};
    GetClientRect(hWnd, &client);
    RECT need = {0, 0, client.right, 0};
    const std::wstring wide = Wide(text);
    UINT format = DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS;
    if (GetWindowLongW(hWnd, GWL_STYLE) & SS_NOPREFIX) {
        format |= DT_NOPREFIX;
    }
    HDC dc = GetDC(hWnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0)));
    DrawTextW(dc, wide.c_str(), int(wide.size()), &need, format);
    SelectObject(dc, old);
    ReleaseDC(hWnd, dc);
    // A word longer than the line widens the rectangle instead of wrapping.
    return need.bottom <= client.bottom && need.right <= client.right;
}

void SetToolTip(HWND control, const std::string& text) {
    HWND dialog = GetParent(control);
    DialogRun* run = dialog ? RunOf(dialog) : nullptr;
    if (run == nullptr) {
        return;
    }
    if (run->tips == nullptr) {
        if (text.empty()) {
            return;
        }
        run->tips =
            CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
        // Long texts wrap, at about the width of the dialog.
        RECT r = {};
        GetClientRect(dialog, &r);
        SendMessageW(run->tips, TTM_SETMAXTIPWIDTH, 0, r.right);
    }
    // The tool is the control's rectangle on the dialog, which gets the mouse
    // where a static lets it through; the dialog relays it (LayerWindowProc).
    std::wstring wide = Wide(text);
    TOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = dialog;
    tool.uId = UINT_PTR(GetDlgCtrlID(control));
    SendMessageW(run->tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    if (!wide.empty()) {
        GetWindowRect(control, &tool.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&tool.rect), 2);
        tool.lpszText = wide.data();
        SendMessageW(run->tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

std::string WindowText(HWND hWnd) {
    std::wstring text(GetWindowTextLengthW(hWnd) + 1, L'\0');
    const int n = GetWindowTextW(hWnd, text.data(), int(text.size()));
    return Utf8(text.data(), n);
}

void SetText(HWND hWnd, const std::string& text) {
    SetWindowTextW(hWnd, Wide(text).c_str());
}

void SetFocus(HWND hWnd) {
    ::SetFocus(hWnd);
}

void* LoadProgramIcon(unsigned id) {
    return LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED);
}

void* SetIcon(HWND hWnd, void* icon, bool big) {
    return reinterpret_cast<void*>(SendMessageW(hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                                                reinterpret_cast<LPARAM>(icon)));
}

int SystemMetrics(int index) {
    return GetSystemMetrics(index);
}

void* SystemMenu(HWND hWnd) {
    return GetSystemMenu(hWnd, FALSE);
}

bool AppendMenuItem(void* menu, unsigned flags, std::uintptr_t id, const std::string& text) {
    return AppendMenuW(static_cast<HMENU>(menu), flags, id,
                       (flags & MF_SEPARATOR) ? nullptr : Wide(text).c_str());
}

std::uintptr_t TrackMenu(void* menu, HWND owner, int screenX, int screenY) {
    // A popup menu tracks only for the foreground window; a click elsewhere
    // would not close it otherwise.
    SetForegroundWindow(owner);
    return TrackPopupMenu(static_cast<HMENU>(menu), TPM_RETURNCMD | TPM_RIGHTBUTTON, screenX,
                          screenY, 0, owner, nullptr);
}

void* BeginPaint(HWND hWnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hWnd, &ps);
    if (dc) {
        Paints()[dc] = ps;
    }
    return dc;
}

void EndPaint(void* dc) {
    auto it = Paints().find(static_cast<HDC>(dc));
    if (it != Paints().end()) {
        ::EndPaint(WindowFromDC(it->first), &it->second);
        Paints().erase(it);
    }
}

bool DrawIcon(void* dc, int x, int y, void* icon) {
    return ::DrawIcon(static_cast<HDC>(dc), x, y, static_cast<HICON>(icon));
}

void DragAcceptFiles(HWND hWnd, bool accept) {
    ::DragAcceptFiles(hWnd, accept);
}

unsigned DroppedFile(void* drop, unsigned index, std::string* path) {
    auto hDrop = static_cast<HDROP>(drop);
    if (index == 0xFFFFFFFF) {
        return DragQueryFileW(hDrop, index, nullptr, 0);
    }
    const UINT length = DragQueryFileW(hDrop, index, nullptr, 0);
    std::wstring wide(length + 1, L'\0');
    const UINT n = length ? DragQueryFileW(hDrop, index, wide.data(), length + 1) : 0;
    if (path) {
        *path = Utf8(wide.data(), int(n));
    }
    return n ? UINT(Utf8(wide.data(), int(n)).size()) : 0;
}

void FinishDrop(void* drop) {
    DragFinish(static_cast<HDROP>(drop));
}

void* MakeDrop(const std::string& path) {
    const std::wstring wide = Wide(path);
    // The header, the path and two terminators: the list of paths ends empty.
    const SIZE_T size = sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    std::copy(wide.begin(), wide.end(), reinterpret_cast<wchar_t*>(drop + 1));
    GlobalUnlock(memory);
    return memory;
}

std::string FullPath(const std::string& path) {
    const std::wstring wide = Wide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD written = n ? GetFullPathNameW(wide.c_str(), n, full.data(), nullptr) : 0;
    return written && written < n ? Utf8(full.data(), int(written)) : path;
}

bool RunOpenChooser(const OpenRequest& request, std::string* path) {
    // Label and pattern, each ended by a NUL, and one more NUL at the end.
    std::wstring filter;
    for (const auto& [label, pattern] : request.filters) {
        filter += Wide(label) + L'\0' + Wide(pattern) + L'\0';
    }
    filter += L'\0';
    const std::wstring defaultExt = Wide(request.defaultExt);
    wchar_t file[MAX_PATH] = {};
    lstrcpynW(file, Wide(request.fileName).c_str(), MAX_PATH);

    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = request.owner;
    ofn.lpstrFilter = request.filters.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = DWORD(request.filterIndex);
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    // Nothing of the choice is kept: the file is not added to the user's
    // recent documents, and the working folder stays the program's.
    ofn.Flags = request.flags | OFN_EXPLORER | OFN_DONTADDTORECENT | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&ofn)) {
        return false;
    }
    *path = Utf8(file, lstrlenW(file));
    return true;
}

void ShowMessageBox(HWND owner, const std::string& text, const std::string& title) {
    MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

void Start() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    SetWindowsHookExW(WH_MSGFILTER, &DialogKeys, nullptr, GetCurrentThreadId());
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return int(msg.wParam);
}

std::vector<std::string> Arguments() {
    bool refused = false;
    std::vector<std::string> args = CommandLineArguments(&refused);
    if (refused) {
        return {""};  // names no file: told as a wrong argument
    }
    if (!args.empty()) {
        args.erase(args.begin());  // the program's name
    }
    return args;
}

std::string ChineseFace(const std::string& face) {
    HDC dc = GetDC(nullptr);
    // Whether the face, made as the dialog manager makes a form's font,
    // has glyphs for Chinese text; a face the system lacks is replaced by
    // another that may have none.
    auto showsChinese = [dc](const std::wstring& name) {
        LOGFONTW lf = {};
        lf.lfHeight = -12;
        lf.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
        HFONT font = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(dc, font);
        WORD glyphs[2] = {};
        const bool shows =
            GetGlyphIndicesW(dc, L"\u4E2D\u6587", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS) == 2 &&
            glyphs[0] != 0xFFFF && glyphs[1] != 0xFFFF;
        SelectObject(dc, old);
        DeleteObject(font);
        return shows;
    };
    std::string chosen = face;
    if (!showsChinese(Wide(face))) {
        // The usual Chinese faces first, each under its English and its
        // Chinese name, then any the system has for Chinese text.
        std::vector<std::wstring> faces = {L"SimSun",          L"\u5B8B\u4F53",
                                           L"NSimSun",         L"\u65B0\u5B8B\u4F53",
                                           L"Microsoft YaHei", L"\u5FAE\u8F6F\u96C5\u9ED1"};
        LOGFONTW want = {};
        want.lfCharSet = GB2312_CHARSET;
        EnumFontFamiliesExW(
            dc, &want,
            [](const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM param) -> int {
                // Faces with '@' are the vertical forms.
                if (lf->lfFaceName[0] != L'@') {
                    reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(lf->lfFaceName);
                }
                return 1;
            },
            reinterpret_cast<LPARAM>(&faces), 0);
        for (const std::wstring& f : faces) {
            if (showsChinese(f)) {
                chosen = Utf8(f.data(), int(f.size()));
                break;
            }
        }
    }
    ReleaseDC(nullptr, dc);
    return chosen;
}

std::u16string Utf16(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    return std::u16string(wide.begin(), wide.end());
}

}  // namespace native
