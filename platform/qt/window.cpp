// CWnd on Qt: a window's text, focus, icons and system menu, and the default
// processing of a message that the message map leaves.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>

#include "platform/cmdline.h"
#include "platform/qt/controls.h"
#include "platform/qt/handles.h"
#include "platform/qt/paint.h"

CWnd::~CWnd() = default;

void CWnd::GetWindowText(std::string& text) const {
    QWidget* w = AfxWidget(m_hWnd);
    QString t;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        t = edit->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        t = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        t = label->text();
    } else if (w) {
        t = w->windowTitle();
    }
    text = AfxUtf8(t);
}

void CWnd::SetWindowText(const std::string& text) {
    QWidget* w = AfxWidget(m_hWnd);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(AfxQString(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(AfxQString(text));
    } else if (auto* staticText = dynamic_cast<AfxStaticText*>(w)) {
        staticText->SetWholeText(AfxQString(text));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(AfxQString(text));
    } else if (w) {
        w->setWindowTitle(AfxQString(text));
    }
}

void CWnd::SetFocus() {
    if (QWidget* w = AfxWidget(m_hWnd)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

void CWnd::GetClientRect(CRect* rect) const {
    *rect = CRect{};
    if (QWidget* w = AfxWidget(m_hWnd)) {
        rect->right = w->width();
        rect->bottom = w->height();
    }
}

BOOL CWnd::IsIconic() const {
    QWidget* w = AfxWidget(m_hWnd);
    return w && w->isMinimized();
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    HICON& slot = m_icons[bBigIcon ? ICON_BIG : ICON_SMALL];
    HICON previous = slot;
    slot = hIcon;
    if (QWidget* w = AfxWidget(m_hWnd)) {
        // Qt keeps one icon a window, in every size it needs.
        QIcon icon;
        for (HICON h : m_icons) {
            if (h) {
                icon.addPixmap(QPixmap::fromImage(h->image));
            }
        }
        w->setWindowIcon(icon);
    }
    return previous;
}

CMenu* CWnd::GetSystemMenu(BOOL /*bRevert*/) {
    return m_sysMenu.get();
}

void CWnd::DragAcceptFiles(BOOL bAccept) {
    if (QWidget* w = AfxWidget(m_hWnd)) {
        w->setAcceptDrops(bAccept);
    }
}

UINT DragQueryFile(HDROP hDrop, UINT iFile, std::string* path) {
    if (hDrop == nullptr) {
        return 0;
    }
    if (iFile == 0xFFFFFFFF) {
        return UINT(hDrop->paths.size());
    }
    if (iFile >= hDrop->paths.size()) {
        if (path) {
            path->clear();
        }
        return 0;
    }
    if (path) {
        *path = hDrop->paths[iFile];
    }
    return UINT(hDrop->paths[iFile].size());
}

HDROP AfxMakeDrop(const std::string& path) {
    // Named as the user's file manager would: full, cleaned, native separators.
    const QString full =
        QDir::cleanPath(QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath());
    return new AfxDropFiles{{AfxUtf8(QDir::toNativeSeparators(full))}};
}

void AfxFreeDrop(HDROP drop) {
    delete drop;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_ICONERASEBKGND:
            AfxEraseIconBackground(reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_MINIMIZE:
                    if (QWidget* w = AfxWidget(m_hWnd)) {
                        w->showMinimized();
                    }
                    break;
                case SC_CLOSE:
                    SendMessage(WM_CLOSE);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_HELP:
            SendMessage(WM_COMMAND, ID_HELP);
            return 1;
        default:
            // WM_PAINT included: a plain window paints nothing of its own.
            return 0;
    }
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
