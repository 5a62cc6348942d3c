// The window classes the front end is written against: an application object,
// windows and dialogs built from templates, message maps, system menus and
// painting, with the names and the behaviour of the Windows framework they
// stand in for. This header and its neighbours name no window toolkit: the
// handles are opaque, and each toolkit's side of the layer (platform/qt/)
// gives them their meaning.
#ifndef VELTRANE_PLATFORM_AFXWIN_H
#define VELTRANE_PLATFORM_AFXWIN_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/afxres.h"

using BOOL = bool;
constexpr BOOL TRUE = true;
constexpr BOOL FALSE = false;
using UINT = unsigned int;
using WORD = std::uint16_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
// A window; declared as the platform declares its own, so that the two agree.
struct HWND__;
using HWND = HWND__*;
// A menu; the platform's own where it has one.
struct HMENU__;
using HMENU = HMENU__*;

// An icon loaded from the program's resources; shared, never freed.
struct AfxIcon;
using HICON = const AfxIcon*;
using HCURSOR = HICON;
// The device context of one paint, valid while its CPaintDC lives.
struct AfxPaintContext;
using HDC = AfxPaintContext*;
// The files of one drop, valid while WM_DROPFILES is handled.
struct AfxDropFiles;
using HDROP = const AfxDropFiles*;

constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_HELP = 0x0053;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_DROPFILES = 0x0233;

constexpr UINT BN_CLICKED = 0;
constexpr UINT SC_MINIMIZE = 0xF020;
constexpr UINT SC_CLOSE = 0xF060;
constexpr UINT ID_HELP = 0xE146;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_SEPARATOR = 0x0800;

constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int ICON_SMALL = 0;
constexpr int ICON_BIG = 1;

constexpr WORD LOWORD(WPARAM w) {
    return static_cast<WORD>(w & 0xFFFF);
}
constexpr WORD HIWORD(WPARAM w) {
    return static_cast<WORD>((w >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16);
}

struct CPoint {
    int x = 0;
    int y = 0;
};

struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Message maps: a static table per class, from messages (and for WM_COMMAND
// the notification code and control id) to handlers, chained to the base
// class's table. A handler receives the message's two parameters.
class CCmdTarget;
using AFX_PMSG = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nCode;  // WM_COMMAND only
    UINT nID;    // WM_COMMAND only
    AFX_PMSG pfn;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;  // ends with an entry whose pfn is null
};

#define DECLARE_MESSAGE_MAP()                         \
  protected:                                          \
    static const AFX_MSGMAP* GetThisMessageMap();     \
    const AFX_MSGMAP* GetMessageMap() const override; \
                                                      \
  private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const AFX_MSGMAP_ENTRY entries[] = {
// clang-format off
#define END_MESSAGE_MAP()                                                                     \
            {0, 0, 0, nullptr}};                                                              \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &entries[0]}; \
        return &messageMap;                                                                   \
    }
// clang-format on

#define AFX_COMMAND_ENTRY(code, id, memberFxn)                                                    \
    {WM_COMMAND, code, static_cast<UINT>(id), [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass*>(target)->memberFxn();                                            \
         return 0;                                                                                \
     }},
#define ON_COMMAND(id, memberFxn) AFX_COMMAND_ENTRY(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) AFX_COMMAND_ENTRY(BN_CLICKED, id, memberFxn)
#define ON_WM_PAINT()                                                    \
    {WM_PAINT, 0, 0, [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass*>(target)->OnPaint();                     \
         return 0;                                                       \
     }},
#define ON_WM_SYSCOMMAND()                                                                  \
    {WM_SYSCOMMAND, 0, 0, [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT { \
         static_cast<ThisClass*>(target)->OnSysCommand(static_cast<UINT>(wParam), lParam);  \
         return 0;                                                                          \
     }},
#define ON_WM_QUERYDRAGICON()                                                                  \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {               \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(target)->OnQueryDragIcon()); \
     }},
#define ON_WM_DROPFILES()                                                               \
    {WM_DROPFILES, 0, 0, [](CCmdTarget* target, WPARAM wParam, LPARAM) -> LRESULT {     \
         static_cast<ThisClass*>(target)->OnDropFiles(reinterpret_cast<HDROP>(wParam)); \
         return 0;                                                                      \
     }},

// Something that handles messages through a message map.
class CCmdTarget {
  public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the WM_COMMAND handler for id and code if this object's map chain
    // has one; false if it has none.
    virtual BOOL OnCmdMsg(UINT nID, UINT nCode);

  protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    // The first entry for the message (and code and id) in the map chain.
    const AFX_MSGMAP_ENTRY* FindEntry(UINT nMessage, UINT nCode, UINT nID) const;
};

class CMenu {
  public:
    struct Item {
        UINT flags;
        UINT_PTR id;
        std::string text;
    };
    // Adds a separator (MF_SEPARATOR) or a string item (MF_STRING) at the end.
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const std::string& text = {});
    const std::vector<Item>& Items() const { return items_; }

    HMENU m_hMenu = nullptr;  // the platform's menu this object adds to, if any

  private:
    std::vector<Item> items_;
};

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    explicit CWnd(HWND hWnd) : m_hWnd(hWnd) {}
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // The control with the id in this window, or null. The object belongs
    // to this window and lives as long as the control.
    CWnd* GetDlgItem(int nID) const;
    void GetWindowText(std::string& text) const;
    void SetWindowText(const std::string& text);
    void SetFocus();
    void GetClientRect(CRect* rect) const;
    BOOL IsIconic() const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    // The window's own system menu (bRevert FALSE: the live one), or null
    // for a window without one.
    CMenu* GetSystemMenu(BOOL bRevert);
    // Windows accepting files get WM_DROPFILES when files are dropped on them.
    void DragAcceptFiles(BOOL bAccept = TRUE);

    // Sends the message through the message map; the platform's default
    // processing when the map has no handler.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Opens the system menu at a point of the screen (a right click on the
    // form, the Menu key, Shift+F10 or Alt+Space) and delivers the chosen
    // item as WM_SYSCOMMAND.
    void TrackSystemMenu(int screenX, int screenY);

  protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The default processing of the message being handled.
    LRESULT Default();

    HWND m_hWnd = nullptr;
    std::unique_ptr<CMenu> m_sysMenu;
    std::map<int, std::unique_ptr<CWnd>> m_controls;

  private:
    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };
    CurrentMessage m_current;
    HICON m_icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG
    // A static text shown shortened to fit, where the control itself holds
    // only what it shows (Win32): the whole text, and the text shown.
    std::string m_wholeText;
    std::string m_shownText;
};

// The bracket of one paint of a window, from inside its WM_PAINT handler.
class CPaintDC {
  public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    // Draws the icon with its mask, its top-left corner at (x, y).
    BOOL DrawIcon(int x, int y, HICON hIcon);

  private:
    HDC m_hDC;
};

struct CDataExchange;

// A dialog built from a template in the program's resources.
class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Builds the window, runs it modally until EndDialog and returns the end
    // code; -1 if the template cannot be found.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // Puts the focus on the first edit field with a tab stop, in template
    // order, that is empty; false when there is none.
    BOOL FocusFirstEmptyEdit();

  protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    DECLARE_MESSAGE_MAP()

  private:
    // The toolkit side's way into a dialog it runs.
    friend struct AfxDialogAccess;
    BOOL CreateFromTemplate(const DLGTEMPLATE& tmpl);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    bool m_ending = false;
    int m_nResult = -1;
};

// The one application object. Its constructor makes it what AfxGetApp
// returns; AfxWinMain calls InitInstance once.
class CWinApp : public CCmdTarget {
  public:
    explicit CWinApp(const char* lpszAppName = nullptr);
    ~CWinApp() override;

    // Starts the program; FALSE ends it without running a message loop.
    virtual BOOL InitInstance();
    // An icon resource at the large icon size, or null.
    HICON LoadIcon(UINT nIDResource) const;
    // Shows the program's help (F1): the resource table's help text.
    void OnHelp();

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// The program's start. The arguments --version and --help are answered
// without touching the window system (AfxAnswerCommandLine); any others
// never keep the window from opening. Otherwise it makes the window system ready, sets a file given
// as the main window's start file (AfxSetStartFile) and calls the application object's
// InitInstance; without a display it prints the table's noDisplay line on
// standard error and returns 1.
int AfxWinMain(int argc, char** argv);

// Nothing to do here: the forms host no OLE controls, and every toolkit side
// draws its controls with the desktop's own look.
inline void AfxEnableControlContainer() {}
inline void Enable3dControlsStatic() {}

// The text of a string resource; empty when there is none.
std::string LoadString(UINT nID);
// SM_CXICON and SM_CYICON: the large icon size, 32 pixels.
int GetSystemMetrics(int nIndex);
// The number of dropped files for iFile 0xFFFFFFFF, else the path of file
// iFile (empty past the end).
UINT DragQueryFile(HDROP hDrop, UINT iFile, std::string* path);

#endif
