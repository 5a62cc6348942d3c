// The program's resources as plain data: dialog templates, string table,
// icons and bitmaps, with the window and control styles a template uses.
// The program describes them once and registers them with
// AFX_RESOURCE_REGISTRATION; the platform layer finds them by id.
#ifndef VELTRANE_PLATFORM_AFXRES_H
#define VELTRANE_PLATFORM_AFXRES_H

#include <cstddef>
#include <cstdint>

using DWORD = std::uint32_t;

#define IDC_STATIC (-1)
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Window styles.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;  // every control, implied by the template
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;  // on a window, not a control
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD DS_SETFONT = 0x40;  // the template names a font; implied when it does
constexpr DWORD DS_MODALFRAME = 0x80;
// Button, edit and static control styles.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD ES_LEFT = 0x0;
constexpr DWORD ES_PASSWORD = 0x20;
constexpr DWORD ES_AUTOHSCROLL = 0x80;
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_ICON = 0x3;
constexpr DWORD SS_BITMAP = 0xE;
constexpr DWORD SS_TYPEMASK = 0x1F;
constexpr DWORD SS_NOPREFIX = 0x80;

enum class ControlClass { Button, Edit, Static };

// One control; rectangle in dialog units. A picture static (SS_BITMAP or
// SS_ICON) names its image resource in imageId and has no text.
struct DLGITEMTEMPLATE {
    int id;
    ControlClass controlClass;
    const char* text;
    int imageId;
    int x, y, cx, cy;
    DWORD style;
};

struct DLGTEMPLATE {
    int id;
    int x, y, cx, cy;  // dialog units; cx and cy are the client area
    const char* caption;
    int pointSize;
    const char* fontFace;
    DWORD style;
    DWORD exStyle;
    const DLGITEMTEMPLATE* items;  // in template order: tab and drawing order
    std::size_t itemCount;
};

struct AFX_STRING_RESOURCE {
    int id;
    const char* text;
};

enum class ImageKind { Icon, Bitmap };

// An image resource: a file embedded in the program under res/.
struct AFX_IMAGE_RESOURCE {
    int id;
    ImageKind kind;
    const char* file;         // e.g. "res/banner.bmp"
    const char* description;  // what assistive technology says for it
};

// What the platform says on the program's behalf, in the program's language.
// Every text the user sees lives with the program's resources; the platform
// only shows these.
struct AFX_PLATFORM_TEXTS {
    const char* minimizeItem;       // the system menu's Minimise item
    const char* closeItem;          // its Close item
    const char* helpTitle;          // F1 shows the program's help, where
    const char* helpText;           // Windows opens a help file
    const char* version;            // the line --version prints
    const char* noDisplay;          // the line printed when there is no display
    const char* cannotOpenDisplay;  // ... and when the display does not open
};

struct AFX_RESOURCE_TABLE {
    const DLGTEMPLATE* dialogs;
    std::size_t dialogCount;
    const AFX_STRING_RESOURCE* strings;
    std::size_t stringCount;
    const AFX_IMAGE_RESOURCE* images;
    std::size_t imageCount;
    AFX_PLATFORM_TEXTS texts;
};

// Registers the program's resource table during static initialisation.
struct AFX_RESOURCE_REGISTRATION {
    explicit AFX_RESOURCE_REGISTRATION(const AFX_RESOURCE_TABLE& table);
};

// The registered table, or null.
const AFX_RESOURCE_TABLE* AfxGetResourceTable();
const DLGTEMPLATE* AfxFindDialogTemplate(int id);
const AFX_IMAGE_RESOURCE* AfxFindImage(int id);
// One of the platform's texts, e.g. AfxPlatformText(&AFX_PLATFORM_TEXTS::helpText);
// empty when the program gives none.
const char* AfxPlatformText(const char* AFX_PLATFORM_TEXTS::*text);

#endif
