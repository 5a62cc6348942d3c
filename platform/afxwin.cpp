#include "platform/afxwin.h"

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>

#include "platform/qt_bridge.h"

// ---- resources

namespace {

const AFX_RESOURCE_TABLE* g_resources = nullptr;
CWinApp* g_app = nullptr;

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), int(text.size()));
}

}  // namespace

AFX_RESOURCE_REGISTRATION::AFX_RESOURCE_REGISTRATION(const AFX_RESOURCE_TABLE& table) {
    g_resources = &table;
}

const AFX_RESOURCE_TABLE* AfxGetResourceTable() {
    return g_resources;
}

const DLGTEMPLATE* AfxFindDialogTemplate(int id) {
    for (size_t i = 0; g_resources && i < g_resources->dialogCount; ++i) {
        if (g_resources->dialogs[i].id == id) {
            return &g_resources->dialogs[i];
        }
    }
    return nullptr;
}

const AFX_IMAGE_RESOURCE* AfxFindImage(int id) {
    for (size_t i = 0; g_resources && i < g_resources->imageCount; ++i) {
        if (g_resources->images[i].id == id) {
            return &g_resources->images[i];
        }
    }
    return nullptr;
}

std::string LoadString(UINT nID) {
    for (size_t i = 0; g_resources && i < g_resources->stringCount; ++i) {
        if (g_resources->strings[i].id == int(nID)) {
            return g_resources->strings[i].text;
        }
    }
    return {};
}

int GetSystemMetrics(int nIndex) {
    return nIndex == SM_CXICON || nIndex == SM_CYICON ? 32 : 0;
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

// ---- message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT nMessage, UINT nCode, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn != nullptr; ++e) {
            if (e->nMessage == nMessage &&
                (nMessage != WM_COMMAND || (e->nCode == nCode && e->nID == nID))) {
                return e;
            }
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, UINT nCode) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_COMMAND, nCode, nID);
    if (e == nullptr) {
        return FALSE;
    }
    e->pfn(this, MAKEWPARAM(WORD(nID), WORD(nCode)), 0);
    return TRUE;
}

// ---- menus

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const std::string& text) {
    if (nFlags & MF_SEPARATOR) {
        items_.push_back({MF_SEPARATOR, 0, {}});
    } else {
        items_.push_back({MF_STRING, nIDNewItem, text});
    }
    return TRUE;
}

// ---- windows

CWnd::~CWnd() = default;

int CWnd::GetDlgCtrlID() const {
    return m_hWnd ? m_hWnd->property(kAfxCtrlIdProperty).toInt() : 0;
}

CWnd* CWnd::GetDlgItem(int nID) const {
    auto it = m_controls.find(nID);
    return it == m_controls.end() ? nullptr : it->second.get();
}

void CWnd::GetWindowText(std::string& text) const {
    QString t;
    if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd)) {
        t = edit->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd)) {
        t = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        t = label->text();
    } else if (m_hWnd) {
        t = m_hWnd->windowTitle();
    }
    text = t.toUtf8().toStdString();
}

void CWnd::SetWindowText(const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(m_hWnd)) {
        edit->setText(Utf8(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(m_hWnd)) {
        button->setText(Utf8(text));
    } else if (auto* label = qobject_cast<QLabel*>(m_hWnd)) {
        label->setText(Utf8(text));
    } else if (m_hWnd) {
        m_hWnd->setWindowTitle(Utf8(text));
    }
}

void CWnd::SetFocus() {
    if (m_hWnd) {
        m_hWnd->setFocus(Qt::OtherFocusReason);
    }
}

void CWnd::GetClientRect(CRect* rect) const {
    *rect = CRect{};
    if (m_hWnd) {
        rect->right = m_hWnd->width();
        rect->bottom = m_hWnd->height();
    }
}

BOOL CWnd::IsIconic() const {
    return m_hWnd && m_hWnd->isMinimized();
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    HICON& slot = m_icons[bBigIcon ? ICON_BIG : ICON_SMALL];
    HICON previous = slot;
    slot = hIcon;
    if (m_hWnd) {
        // Qt keeps one icon a window, in every size it needs.
        QIcon icon;
        for (HICON h : m_icons) {
            if (h) {
                icon.addPixmap(QPixmap::fromImage(h->image));
            }
        }
        m_hWnd->setWindowIcon(icon);
    }
    return previous;
}

CMenu* CWnd::GetSystemMenu(BOOL /*bRevert*/) {
    return m_sysMenu.get();
}

void CWnd::DragAcceptFiles(BOOL bAccept) {
    if (m_hWnd) {
        m_hWnd->setAcceptDrops(bAccept);
    }
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage outer = m_current;
    m_current = {message, wParam, lParam};
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_current = outer;
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        // Commands the window does not handle go on to the application.
        if (OnCmdMsg(LOWORD(wParam), HIWORD(wParam)) ||
            (AfxGetApp() && AfxGetApp()->OnCmdMsg(LOWORD(wParam), HIWORD(wParam)))) {
            return 0;
        }
        return DefWindowProc(message, wParam, lParam);
    }
    if (const AFX_MSGMAP_ENTRY* e = FindEntry(message, 0, 0)) {
        return e->pfn(this, wParam, lParam);
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_PAINT:
            if (auto* dialog = dynamic_cast<AfxDialogWidget*>(m_hWnd)) {
                dialog->DefaultPaint();
            }
            return 0;
        case WM_ICONERASEBKGND:
            if (auto* dc = reinterpret_cast<HDC>(wParam)) {
                dc->painter.fillRect(dc->widget->rect(), dc->widget->palette().window());
            }
            return 1;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_MINIMIZE:
                    if (m_hWnd) {
                        m_hWnd->showMinimized();
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
            return 0;
    }
}

void CWnd::TrackSystemMenu(int screenX, int screenY) {
    if (!m_sysMenu || !m_hWnd) {
        return;
    }
    QMenu menu(m_hWnd);
    for (const CMenu::Item& item : m_sysMenu->Items()) {
        if (item.flags & MF_SEPARATOR) {
            menu.addSeparator();
        } else {
            menu.addAction(Utf8(item.text))->setData(QVariant::fromValue<qulonglong>(item.id));
        }
    }
    if (QAction* chosen = menu.exec(QPoint(screenX, screenY))) {
        SendMessage(WM_SYSCOMMAND, WPARAM(chosen->data().toULongLong()), 0);
    }
}

// ---- painting

CPaintDC::CPaintDC(CWnd* pWnd) : m_hDC(new AfxPaintContext(pWnd->GetSafeHwnd())) {}

CPaintDC::~CPaintDC() {
    delete m_hDC;
}

BOOL CPaintDC::DrawIcon(int x, int y, HICON hIcon) {
    if (hIcon == nullptr) {
        return FALSE;
    }
    m_hDC->painter.drawImage(QPoint(x, y), hIcon->image);
    return TRUE;
}

// ---- the application

CWinApp::CWinApp(const char* /*lpszAppName*/) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

CWinApp* AfxGetApp() {
    return g_app;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    // Loaded once and shared, as the platform shares icon resources.
    static std::map<UINT, std::unique_ptr<AfxIcon>> loaded;
    auto it = loaded.find(nIDResource);
    if (it != loaded.end()) {
        return it->second.get();
    }
    const AFX_IMAGE_RESOURCE* res = AfxFindImage(int(nIDResource));
    if (res == nullptr || res->kind != ImageKind::Icon) {
        return nullptr;
    }
    QImage image(QStringLiteral(":/") + QString::fromUtf8(res->file));
    if (image.isNull()) {
        return nullptr;
    }
    const int size = GetSystemMetrics(SM_CXICON);
    if (image.size() != QSize(size, size)) {
        image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    auto icon = std::make_unique<AfxIcon>();
    icon->image = image;
    return (loaded[nIDResource] = std::move(icon)).get();
}

void CWinApp::OnHelp() {
    const AFX_RESOURCE_TABLE* table = AfxGetResourceTable();
    if (table == nullptr || table->helpText == nullptr) {
        return;
    }
    QMessageBox box(QMessageBox::Information, QString::fromUtf8(table->helpTitle),
                    QString::fromUtf8(table->helpText), QMessageBox::Ok, AfxFrontWindow());
    box.exec();
}
