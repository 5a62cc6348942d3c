// CMenu on Win32: the items go into the window's own system menu.
#include "platform/afxwin.h"
#include "platform/win32/native.h"

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const std::string& text) {
    if (m_hMenu && !native::AppendMenuItem(m_hMenu, nFlags, nIDNewItem, text)) {
        return FALSE;
    }
    if (nFlags & MF_SEPARATOR) {
        items_.push_back({MF_SEPARATOR, 0, {}});
    } else {
        items_.push_back({MF_STRING, nIDNewItem, text});
    }
    return TRUE;
}
