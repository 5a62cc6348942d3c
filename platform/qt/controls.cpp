// The controls of a dialog template on Qt: push buttons, edit fields, text
// statics and pictures.
#include "platform/qt/controls.h"

#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTextLayout>
#include <QTextOption>
#include <climits>

#include "platform/fit_text.h"

namespace {

// Static text without SS_NOPREFIX: "&x" underlines x on Windows and "&&"
// shows one ampersand. The marker is dropped here; the forms give no static
// an access key.
QString WithoutPrefix(const QString& text) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        out += text[i];
    }
    return out;
}

// The picture of an SS_BITMAP or SS_ICON static, null when it has none.
QImage PictureOf(const DLGITEMTEMPLATE& item) {
    const AFX_IMAGE_RESOURCE* res = AfxFindImage(item.imageId);
    if (res == nullptr) {
        return {};
    }
    if ((item.style & SS_TYPEMASK) == SS_ICON) {
        HICON icon = AfxGetApp() ? AfxGetApp()->LoadIcon(item.imageId) : nullptr;
        return icon ? icon->image : QImage();
    }
    return QImage(QStringLiteral(":/") + QString::fromUtf8(res->file));
}

QTextOption StaticTextOption() {
    QTextOption option(Qt::AlignLeft | Qt::AlignTop);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

}  // namespace

void AfxStaticText::SetWholeText(const QString& text) {
    setText(text);
    const QString shown = ShownText();
    setToolTip(shown == text ? QString() : text);
}

QString AfxStaticText::ShownText() const {
    return AfxQString(AfxFitQuotedText(AfxUtf8(text()), [this](const std::string& candidate) {
        return Fits(AfxQString(candidate));
    }));
}

bool AfxStaticText::Fits(const QString& text) const {
    QTextLayout layout(text, font());
    layout.setTextOption(StaticTextOption());
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(contentsRect().width());
        height += line.height();
    }
    layout.endLayout();
    return height <= contentsRect().height();
}

void AfxStaticText::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(QRectF(contentsRect()), ShownText(), StaticTextOption());
}

QWidget* AfxCreateControl(const DLGITEMTEMPLATE& item, const QRect& pixels, QWidget* form,
                          const std::function<void()>& clicked) {
    const QString text = QString::fromUtf8(item.text ? item.text : "");
    QWidget* control = nullptr;
    switch (item.controlClass) {
        case ControlClass::Button: {
            auto* button = new QPushButton(text, form);
            button->setAutoDefault(false);
            button->setDefault(item.style & BS_DEFPUSHBUTTON);
            QObject::connect(button, &QPushButton::clicked, form, clicked);
            control = button;
            break;
        }
        case ControlClass::Edit: {
            auto* edit = new QLineEdit(text, form);
            edit->setMaxLength(INT_MAX);  // no limit but memory
            edit->setFrame(item.style & WS_BORDER);
            if (item.style & ES_PASSWORD) {
                edit->setEchoMode(QLineEdit::Password);
            }
            // Files dropped on a field go to the dialog, not into the text.
            edit->setAcceptDrops(false);
            control = edit;
            break;
        }
        case ControlClass::Static: {
            const DWORD type = item.style & SS_TYPEMASK;
            if (type == SS_BITMAP || type == SS_ICON) {
                auto* picture = new QLabel(form);
                if (const AFX_IMAGE_RESOURCE* res = AfxFindImage(item.imageId)) {
                    picture->setAccessibleName(QString::fromUtf8(res->description));
                }
                picture->setPixmap(QPixmap::fromImage(PictureOf(item)));
                control = picture;
            } else {
                control =
                    new AfxStaticText(item.style & SS_NOPREFIX ? text : WithoutPrefix(text), form);
            }
            break;
        }
    }
    control->setGeometry(pixels);
    if (auto* picture = qobject_cast<QLabel*>(control); picture && !picture->pixmap().isNull()) {
        // A picture is shown at its own size from the control's corner.
        picture->resize(picture->pixmap().size());
    }
    if (item.controlClass != ControlClass::Static) {
        control->setFocusPolicy(item.style & WS_TABSTOP ? Qt::StrongFocus : Qt::ClickFocus);
    }
    control->setProperty(kAfxCtrlIdProperty, item.id);
    return control;
}

void AfxNameEditsByTheirLabels(QWidget* form) {
    const auto labels = form->findChildren<AfxStaticText*>(Qt::FindDirectChildrenOnly);
    for (QLineEdit* edit : form->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
        AfxStaticText* best = nullptr;
        for (AfxStaticText* label : labels) {
            const QRect l = label->geometry();
            const QRect e = edit->geometry();
            const bool sameRow = l.top() <= e.bottom() && e.top() <= l.bottom();
            if (sameRow && l.right() < e.left() &&
                (best == nullptr || l.right() > best->geometry().right())) {
                best = label;
            }
        }
        if (best) {
            best->setBuddy(edit);
            edit->setAccessibleName(best->text());
        }
    }
}
