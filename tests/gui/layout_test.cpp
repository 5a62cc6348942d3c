// The forms as laid out: ids, kinds, rectangles and pictures of every
// control, the font, what assistive technology reads, Qt's texts in Chinese.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "app/about_dlg.h"
#include "app/encrypt_command.h"
#include "app/encrypt_dlg.h"
#include "app/version.h"
#include "gui/gui_harness.h"
#include "platform/qt/qt_app.h"
#include "platform/qt/qt_dialog.h"

namespace {

enum Kind { kButton, kEdit, kPassword, kText, kPicture };

struct Expected {
    int id;
    Kind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
    int imageWidth, imageHeight;
};

// The main window's controls in template order.
const Expected kMainControls[] = {
    {IDOK, kButton, "浏  览", 276, 54, 50, 14, 0, 0},
    {IDC_FILE_PATH, kEdit, "", 126, 55, 143, 14, 0, 0},
    {IDC_ENCRYPT, kButton, "加  密", 126, 138, 50, 14, 0, 0},
    {IDC_STATUS, kText, "", 84, 157, 245, 24, 0, 0},
    {IDC_STATIC, kText, "文件路径：", 84, 56, 41, 8, 0, 0},
    {IDC_STATIC, kText, "输入密码：", 84, 84, 41, 8, 0, 0},
    {IDC_PASSWORD, kPassword, "", 126, 82, 79, 14, 0, 0},
    {IDC_STATIC, kText, "确认密码：", 84, 112, 41, 8, 0, 0},
    {IDC_CONFIRM, kPassword, "", 126, 110, 80, 14, 0, 0},
    {IDC_STATIC, kPicture, nullptr, 213, 182, 115, 18, 172, 27},
    {IDC_STATIC, kPicture, nullptr, 89, 14, 233, 27, 350, 40},
    {IDC_STATIC, kPicture, nullptr, 7, 7, 70, 194, 105, 291},
};

const Expected kAboutControls[] = {
    {IDC_STATIC, kPicture, nullptr, 7, 13, 20, 20, 32, 32},
    {IDC_STATIC, kText, "Veltrane(2014版) v" VELTRANE_VERSION, 43, 14, 170, 8, 0, 0},
    {IDC_STATIC, kText, nullptr, 43, 26, 119, 8, 0, 0},  // the legal notice
    {IDOK, kButton, "确定", 178, 34, 50, 14, 0, 0},
};

Kind KindOf(QWidget* w) {
    if (qobject_cast<QPushButton*>(w)) {
        return kButton;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->echoMode() == QLineEdit::Password ? kPassword : kEdit;
    }
    auto* label = qobject_cast<QLabel*>(w);
    return label && !label->pixmap().isNull() ? kPicture : kText;
}

int Px(int units) {
    return (units * 3 + 1) / 2;
}  // 1.5 pixels a unit, halves up

void CheckControls(QWidget* form, const Expected* expected, size_t count) {
    const QList<QWidget*> controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(size_t(controls.size()), count);
    for (size_t i = 0; i < count; ++i) {
        const Expected& e = expected[i];
        QWidget* w = controls[int(i)];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(w->property(kAfxCtrlIdProperty).toInt(), e.id);
        EXPECT_EQ(KindOf(w), e.kind);
        if (e.text) {
            EXPECT_EQ(TextOf(w), QString::fromUtf8(e.text));
        }
        EXPECT_EQ(w->pos(), QPoint(Px(e.x), Px(e.y)));
        if (e.kind == kPicture) {
            // Shown at its own pixel size, which is the control's size in units times 1.5.
            EXPECT_EQ(w->size(), QSize(e.imageWidth, e.imageHeight));
            EXPECT_EQ(qobject_cast<QLabel*>(w)->pixmap().size(),
                      QSize(e.imageWidth, e.imageHeight));
        } else {
            EXPECT_EQ(w->size(), QSize(Px(e.cx), Px(e.cy)));
        }
    }
}

TEST(Layout, MainWindowControlsHaveTheirIdsKindsAndRectangles) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        CheckControls(form, kMainControls, std::size(kMainControls));
        EXPECT_EQ(form->size(), QSize(Px(336), Px(207)));
        // Fixed size; a minimise box and no maximise box.
        EXPECT_EQ(form->minimumSize(), form->maximumSize());
        EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
        // Only the Browse button is the default one.
        EXPECT_TRUE(qobject_cast<QPushButton*>(Control(form, IDOK))->isDefault());
        EXPECT_FALSE(qobject_cast<QPushButton*>(Control(form, IDC_ENCRYPT))->isDefault());
        // The edit fields take text of any length.
        auto* path = qobject_cast<QLineEdit*>(Control(form, IDC_FILE_PATH));
        const QString longPath = QString(QLatin1Char('d')).repeated(40000);
        path->setText(longPath);
        EXPECT_EQ(path->text(), longPath);
        Press(form, Qt::Key_Escape);
    });
}

TEST(Layout, AboutBoxControlsHaveTheirIdsKindsAndRectangles) {
    CAboutDlg dlg;
    const INT_PTR result = RunModal(dlg, [](QWidget* form) {
        EXPECT_EQ(form->windowTitle(), QStringLiteral("关于Veltrane"));
        EXPECT_EQ(form->size(), QSize(Px(235), Px(55)));
        EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        CheckControls(form, kAboutControls, std::size(kAboutControls));
        EXPECT_EQ(FocusedId(form), IDOK);
        Press(form, Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
}

TEST(Layout, TheFormsUseASongFaceForSongTi) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        const QFontInfo info(Control(form, IDC_STATUS)->font());
        EXPECT_EQ(info.family(), QStringLiteral("AR PL UMing CN"));
        EXPECT_EQ(info.pixelSize(), 12);  // 9 points at 96 dots per inch
        Press(form, Qt::Key_Escape);
    });
}

TEST(Layout, AMissingTemplateMakesDoModalFail) {
    CDialog dlg(9999);
    EXPECT_EQ(dlg.DoModal(), -1);
}

TEST(Accessibility, ControlsAreNamedByTheirTextsAndLabels) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        auto name = [form](int id) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(Control(form, id));
            return a ? a->text(QAccessible::Name) : QStringLiteral("<none>");
        };
        EXPECT_EQ(name(IDOK), QStringLiteral("浏  览"));
        EXPECT_EQ(name(IDC_ENCRYPT), QStringLiteral("加  密"));
        EXPECT_EQ(name(IDC_FILE_PATH), QStringLiteral("文件路径："));
        EXPECT_EQ(name(IDC_PASSWORD), QStringLiteral("输入密码："));
        EXPECT_EQ(name(IDC_CONFIRM), QStringLiteral("确认密码："));
        // A screen reader reads the status field's message.
        Control(form, IDC_ENCRYPT)->setFocus();
        Press(form, Qt::Key_Return);
        EXPECT_EQ(name(IDC_STATUS), QString::fromUtf8(kMsgNoPath));
        // The password's value is not exposed.
        Control(form, IDC_PASSWORD)->setFocus();
        Type(form, QStringLiteral("654321"));
        QAccessibleInterface* pw =
            QAccessible::queryAccessibleInterface(Control(form, IDC_PASSWORD));
        EXPECT_FALSE(pw->text(QAccessible::Value).contains(QStringLiteral("654321")));
        Press(form, Qt::Key_Escape);
    });
}

TEST(Translations, TheEditFieldsContextMenuIsInChinese) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        auto* edit = qobject_cast<QLineEdit*>(Control(form, IDC_FILE_PATH));
        std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
        QStringList texts;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) {
                texts << a->text();
            }
        }
        ASSERT_FALSE(texts.isEmpty());
        EXPECT_TRUE(texts.first().startsWith(QStringLiteral("撤消(&U)")));
        EXPECT_TRUE(texts.filter(QStringLiteral("粘贴(&P)")).size() == 1)
            << texts.join('|').toStdString();
        Press(form, Qt::Key_Escape);
    });
}

TEST(IconOrigin, CentresTheIconTruncatingTowardZero) {
    const CPoint a = IconOrigin(CRect{0, 0, 100, 50}, 32, 32);
    EXPECT_EQ(a.x, 34);
    EXPECT_EQ(a.y, 9);
    const CPoint b = IconOrigin(CRect{0, 0, 0, 0}, 32, 32);
    EXPECT_EQ(b.x, -15);
    EXPECT_EQ(b.y, -15);
    const CPoint c = IconOrigin(CRect{10, 20, 42, 52}, 32, 32);  // exactly the icon's size
    EXPECT_EQ(c.x, 0);
    EXPECT_EQ(c.y, 0);
}

}  // namespace
