// The window's resources, language Chinese (PRC): both dialog templates, the
// string table, the icon and the three bitmaps (embedded from res/), and the
// texts the platform shows for the program. Every text the window's user sees
// is here, except the Encrypt command's messages.
#include <iterator>

#include "app/resource.h"
#include "app/version.h"
#include "platform/afxres.h"

namespace {

// The product's name as the window and the about box show it. Its version is
// that of the form, fixed with its texts; the package's own version is the
// one --version prints.
#define VELTRANE_FORM_TITLE "Veltrane(2014版) v1.1.2"

const DLGITEMTEMPLATE kAboutItems[] = {
    {IDC_STATIC, ControlClass::Static, nullptr, IDR_MAINFRAME, 7, 13, 20, 20, SS_ICON},
    {IDC_STATIC, ControlClass::Static, VELTRANE_FORM_TITLE, 0, 43, 14, 170, 8,
     SS_LEFT | SS_NOPREFIX | WS_GROUP},
    {IDC_STATIC, ControlClass::Static, "Copyright (C) 2014 Karsholm", 0, 43, 26, 119, 8,
     SS_LEFT | WS_GROUP},
    {IDOK, ControlClass::Button, "确定", 0, 178, 34, 50, 14,
     BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP},
};

const DLGITEMTEMPLATE kEncryptItems[] = {
    {IDOK, ControlClass::Button, "浏  览", 0, 276, 54, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {IDC_FILE_PATH, ControlClass::Edit, "", 0, 126, 55, 143, 14,
     ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_ENCRYPT, ControlClass::Button, "加  密", 0, 126, 138, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
    {IDC_STATUS, ControlClass::Static, "", 0, 84, 157, 245, 24, SS_LEFT | WS_GROUP},
    {IDC_STATIC, ControlClass::Static, "文件路径：", 0, 84, 56, 41, 8, SS_LEFT | WS_GROUP},
    {IDC_STATIC, ControlClass::Static, "输入密码：", 0, 84, 84, 41, 8, SS_LEFT | WS_GROUP},
    {IDC_PASSWORD, ControlClass::Edit, "", 0, 126, 82, 79, 14,
     ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_STATIC, ControlClass::Static, "确认密码：", 0, 84, 112, 41, 8, SS_LEFT | WS_GROUP},
    {IDC_CONFIRM, ControlClass::Edit, "", 0, 126, 110, 80, 14,
     ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {IDC_STATIC, ControlClass::Static, nullptr, IDB_FOOTER, 213, 182, 115, 18, SS_BITMAP},
    {IDC_STATIC, ControlClass::Static, nullptr, IDB_BANNER, 89, 14, 233, 27, SS_BITMAP},
    {IDC_STATIC, ControlClass::Static, nullptr, IDB_SIDEBAR, 7, 7, 70, 194, SS_BITMAP},
};

const DLGTEMPLATE kDialogs[] = {
    {IDD_ABOUTBOX, 0, 0, 235, 55, "关于Veltrane", 9, "宋体",
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, kAboutItems, std::size(kAboutItems)},
    {IDD_ENCRYPT_DIALOG, 0, 0, 336, 207, "Karsholm -- " VELTRANE_FORM_TITLE, 9, "宋体",
     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | WS_VISIBLE,
     WS_EX_APPWINDOW, kEncryptItems, std::size(kEncryptItems)},
};

const AFX_STRING_RESOURCE kStrings[] = {
    {IDS_ABOUTBOX, "关于Veltrane(&A)..."},
};

const AFX_IMAGE_RESOURCE kImages[] = {
    {IDR_MAINFRAME, ImageKind::Icon, "res/veltrane.png", "Veltrane"},
    {IDB_FOOTER, ImageKind::Bitmap, "res/footer.bmp", "Karsholm"},
    {IDB_BANNER, ImageKind::Bitmap, "res/banner.bmp", "Veltrane(2014版)"},
    {IDB_SIDEBAR, ImageKind::Bitmap, "res/sidebar.bmp", ""},
};

const char kHelpText[] =
    "Veltrane 为付款指令文件加密，加密后再送交银行。\n"
    "\n"
    "1. 点击“浏  览”选择要加密的文件，或在“文件路径”中直接输入，"
    "也可以把文件拖到窗口上。\n"
    "2. 在“输入密码”和“确认密码”中输入同一个6位数字密码。\n"
    "3. 点击“加  密”。加密文件保存在原文件旁边，文件名后加“.enn”。\n"
    "4. 请将加密文件送交至我行。\n"
    "\n"
    "按 Tab 键在各栏之间移动；在输入栏中按回车键打开“浏  览”；"
    "按 Esc 键退出。\n"
    "在窗口上单击右键、按菜单键或按 Shift+F10 打开窗口菜单，"
    "其中有“关于Veltrane”。";

const AFX_RESOURCE_TABLE kResources = {
    kDialogs,
    std::size(kDialogs),
    kStrings,
    std::size(kStrings),
    kImages,
    std::size(kImages),
    {
        // The platform's items of the system menu: Minimise and Close.
        "最小化(&N)",
        "关闭(&C)\tAlt+F4",
        // F1.
        "Veltrane 帮助",
        kHelpText,
        // veltrane --version.
        "veltrane " VELTRANE_VERSION,
        // Started without a display, and with one that does not open.
        "veltrane: 没有图形显示，无法打开窗口 (no display: set DISPLAY or WAYLAND_DISPLAY "
        "and run it in a graphical session)",
        "veltrane: 无法打开图形显示，无法打开窗口 (cannot open the display: is the X server "
        "or Wayland compositor running and reachable?)",
    },
};

const AFX_RESOURCE_REGISTRATION kRegistration(kResources);

}  // namespace
