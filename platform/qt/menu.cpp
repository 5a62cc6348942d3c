// CMenu on Qt: the system menu's items, which CWnd shows as a popup menu.
#include "platform/qt/handles.h"

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const std::string& text) {
    if (nFlags & MF_SEPARATOR) {
        items_.push_back({MF_SEPARATOR, 0, {}});
    } else {
        items_.push_back({MF_STRING, nIDNewItem, text});
    }
    return TRUE;
}
