// CDialog on Qt: the window built from a template, its keyboard and mouse,
// and the modal run.
#include "platform/qt/dialog.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "platform/cmdline.h"
#include "platform/qt/controls.h"

namespace {

// The dialogs running modally, innermost last.
std::vector<CDialog*> g_modalDialogs;

QRect PixelRect(int x, int y, int cx, int cy) {
    return QRect(AfxDialogUnitsToPixels(x), AfxDialogUnitsToPixels(y), AfxDialogUnitsToPixels(cx),
                 AfxDialogUnitsToPixels(cy));
}

}  // namespace

QWidget* AfxFrontWindow() {
    return g_modalDialogs.empty() ? nullptr : AfxWidget(g_modalDialogs.back()->GetSafeHwnd());
}

// ---- the dialog's Qt window

AfxDialogWidget::AfxDialogWidget(CDialog* dialog, QWidget* owner)
    : QDialog(owner), dialog_(dialog) {}

void AfxDialogWidget::DefaultPaint() {
    if (currentPaint_) {
        QDialog::paintEvent(currentPaint_);
    }
}

void AfxDialogWidget::accept() {
    dialog_->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED));
}

void AfxDialogWidget::reject() {
    dialog_->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
}

void AfxDialogWidget::SystemMenuFromKeyboard() {
    const QPoint at = mapToGlobal(QPoint(0, 0));
    dialog_->TrackSystemMenu(at.x(), at.y());
}

bool AfxDialogWidget::DialogKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (mods == Qt::NoModifier && key == Qt::Key_Escape) {
        dialog_->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        return true;
    }
    if (mods == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        // The focused push button, else the default button.
        int id = defaultButtonId_;
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            id = button->property(kAfxCtrlIdProperty).toInt();
        }
        dialog_->SendMessage(WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED));
        return true;
    }
    // A window manager takes Alt+Space for its own menu; Shift+F10, the
    // keyboard's context-menu key, reaches the window's menu there too.
    if ((mods == Qt::AltModifier && key == Qt::Key_Space) ||
        (mods == Qt::ShiftModifier && key == Qt::Key_F10)) {
        SystemMenuFromKeyboard();
        return true;
    }
    if (mods == Qt::AltModifier && key == Qt::Key_F4) {
        dialog_->SendMessage(WM_SYSCOMMAND, SC_CLOSE);
        return true;
    }
    if (mods == Qt::NoModifier && key == Qt::Key_F1) {
        dialog_->SendMessage(WM_HELP);
        return true;
    }
    return false;
}

bool AfxDialogWidget::eventFilter(QObject* watched, QEvent* event) {
    // The dialog sees the keys before its controls, so that Enter and Escape
    // in an edit field act on the dialog.
    if (event->type() == QEvent::KeyPress && DialogKey(static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AfxDialogWidget::keyPressEvent(QKeyEvent* event) {
    if (!DialogKey(event)) {
        QWidget::keyPressEvent(event);
    }
}

void AfxDialogWidget::paintEvent(QPaintEvent* event) {
    QPaintEvent* outer = currentPaint_;
    currentPaint_ = event;
    dialog_->SendMessage(WM_PAINT);
    currentPaint_ = outer;
}

void AfxDialogWidget::closeEvent(QCloseEvent* event) {
    // The close box and the window manager's close ask; the dialog decides.
    event->ignore();
    dialog_->SendMessage(WM_SYSCOMMAND, SC_CLOSE);
}

void AfxDialogWidget::contextMenuEvent(QContextMenuEvent* event) {
    // A right click on the form, or the Menu key where no control took it.
    dialog_->TrackSystemMenu(event->globalPos().x(), event->globalPos().y());
}

void AfxDialogWidget::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // What stands for the window while it is minimised.
        if (auto icon = reinterpret_cast<HICON>(dialog_->SendMessage(WM_QUERYDRAGICON))) {
            if (windowIcon().isNull()) {
                setWindowIcon(QIcon(QPixmap::fromImage(icon->image)));
            }
        }
    }
}

void AfxDialogWidget::dragEnterEvent(QDragEnterEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void AfxDialogWidget::dropEvent(QDropEvent* event) {
    AfxDropFiles drop;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            drop.paths.push_back(AfxUtf8(QDir::toNativeSeparators(url.toLocalFile())));
        }
    }
    if (!drop.paths.empty()) {
        event->acceptProposedAction();
        dialog_->SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(&drop));
    }
}

// ---- CDialog

void CDialog::EndDialog(int nResult) {
    m_ending = true;
    m_nResult = nResult;
    if (auto* widget = dynamic_cast<AfxDialogWidget*>(AfxWidget(m_hWnd))) {
        widget->EndModal(nResult);
    }
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        // A dialog closes as Cancel does.
        SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        return 0;
    }
    if (message == WM_PAINT) {
        if (auto* widget = dynamic_cast<AfxDialogWidget*>(AfxWidget(m_hWnd))) {
            widget->DefaultPaint();
        }
        return 0;
    }
    return CWnd::DefWindowProc(message, wParam, lParam);
}

BOOL CDialog::CreateFromTemplate(const DLGTEMPLATE& tmpl) {
    QWidget* owner = m_pParentWnd ? AfxWidget(m_pParentWnd->GetSafeHwnd()) : AfxFrontWindow();
    auto* form = new AfxDialogWidget(this, owner);
    m_hWnd = AfxHwnd(form);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tmpl.style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (tmpl.style & WS_MINIMIZEBOX) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    form->setWindowFlags(flags);
    form->setWindowTitle(QString::fromUtf8(tmpl.caption));
    QFont font(QString::fromUtf8(tmpl.fontFace));
    font.setPixelSize((tmpl.pointSize * 96 + 36) / 72);  // points at 96 dots per inch
    form->setFont(font);
    form->setFixedSize(AfxDialogUnitsToPixels(tmpl.cx), AfxDialogUnitsToPixels(tmpl.cy));

    if (tmpl.style & WS_SYSMENU) {
        // The items the platform puts in every system menu.
        m_sysMenu = std::make_unique<CMenu>();
        if (tmpl.style & WS_MINIMIZEBOX) {
            m_sysMenu->AppendMenu(MF_STRING, SC_MINIMIZE,
                                  AfxPlatformText(&AFX_PLATFORM_TEXTS::minimizeItem));
        }
        m_sysMenu->AppendMenu(MF_STRING, SC_CLOSE, AfxPlatformText(&AFX_PLATFORM_TEXTS::closeItem));
    }

    for (size_t i = 0; i < tmpl.itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl.items[i];
        const int id = item.id;
        QWidget* control = AfxCreateControl(
            item, PixelRect(item.x, item.y, item.cx, item.cy), form,
            [this, id] { SendMessage(WM_COMMAND, MAKEWPARAM(WORD(id), BN_CLICKED)); });
        if (item.controlClass == ControlClass::Button && (item.style & BS_DEFPUSHBUTTON)) {
            form->SetDefaultButtonId(id);
        }
        control->installEventFilter(form);
        m_controls.emplace(id, std::make_unique<CWnd>(AfxHwnd(control)));
    }
    AfxNameEditsByTheirLabels(form);
    return TRUE;
}

INT_PTR CDialog::DoModal() {
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(int(m_nIDTemplate));
    if (tmpl == nullptr) {
        return -1;
    }
    m_ending = false;
    m_nResult = IDCANCEL;
    CreateFromTemplate(*tmpl);
    auto* form = static_cast<AfxDialogWidget*>(AfxWidget(m_hWnd));
    QWidget* owner = form->parentWidget();
    g_modalDialogs.push_back(this);

    const QPoint placed = form->pos();
    if (OnInitDialog()) {
        // The focus goes to the first control with a tab stop.
        for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->focusPolicy() == Qt::StrongFocus) {
                child->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    AfxOpenStartFile(this);
    if (form->pos() == placed) {
        // Centred over the owner, else on the screen, inside the work area.
        QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect();
        QRect r(QPoint(0, 0), form->size());
        r.moveCenter(owner ? owner->geometry().center() : area.center());
        if (area.isValid()) {
            r.moveRight(qMin(r.right(), area.right()));
            r.moveBottom(qMin(r.bottom(), area.bottom()));
            r.moveLeft(qMax(r.left(), area.left()));
            r.moveTop(qMax(r.top(), area.top()));
        }
        form->move(r.topLeft());
    }
    if (!m_ending) {
        form->exec();
    }

    g_modalDialogs.pop_back();
    m_controls.clear();
    m_sysMenu.reset();
    m_hWnd = nullptr;
    delete form;
    return m_nResult;
}
