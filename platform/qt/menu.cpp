// Menus on Qt: the system menu's items, shown as a popup menu.
#include <QMenu>

#include "platform/qt/qt_handles.h"

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const std::string& text) {
    if (nFlags & MF_SEPARATOR) {
        items_.push_back({MF_SEPARATOR, 0, {}});
    } else {
        items_.push_back({MF_STRING, nIDNewItem, text});
    }
    return TRUE;
}

void CWnd::TrackSystemMenu(int screenX, int screenY) {
    QWidget* w = AfxWidget(m_hWnd);
    if (!m_sysMenu || !w) {
        return;
    }
    QMenu menu(w);
    for (const CMenu::Item& item : m_sysMenu->Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
        } else {
            menu.addAction(AfxQString(item.text))
                ->setData(QVariant::fromValue<qulonglong>(item.id));
        }
    }
    if (QAction* chosen = menu.exec(QPoint(screenX, screenY))) {
        SendMessage(WM_SYSCOMMAND, WPARAM(chosen->data().toULongLong()), 0);
    }
}
