// The forms as laid out: every control of a template where the template puts
// it, in dialog units at 1.5 pixels a unit, with its kind, text and picture;
// the font, what assistive technology reads, Qt's texts in Chinese.
#include <gmock/gmock.h>
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
#include "app/encrypt_dlg.h"
#include "app/encrypt_messages.h"
#include "app/version.h"
#include "gui/gui_harness.h"
#include "platform/qt/app.h"
#include "platform/qt/dialog.h"

namespace {

enum Kind { kButton, kEdit, kPassword, kText, kPicture };

// What the window shows.
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

// What the template asks for.
Kind KindOf(const DLGITEMTEMPLATE& item) {
    switch (item.controlClass) {
        case ControlClass::Button:
            return kButton;
        case ControlClass::Edit:
            return item.style & ES_PASSWORD ? kPassword : kEdit;
        case ControlClass::Static:
            break;
    }
    const DWORD type = item.style & SS_TYPEMASK;
    return type == SS_BITMAP || type == SS_ICON ? kPicture : kText;
}

int Px(int units) {
    return AfxDialogUnitsToPixels(units);
}

// The window against its template, control by control in template order.
void ExpectLaidOutAsItsTemplate(QWidget* form, int templateId) {
    const DLGTEMPLATE* tmpl = AfxFindDialogTemplate(templateId);
    ASSERT_NE(tmpl, nullptr);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(tmpl->caption));
    EXPECT_EQ(form->size(), QSize(Px(tmpl->cx), Px(tmpl->cy)));
    // Fixed size, no maximise box.
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(bool(form->windowFlags() & Qt::WindowMinimizeButtonHint),
              bool(tmpl->style & WS_MINIMIZEBOX));

    const QList<QWidget*> controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(size_t(controls.size()), tmpl->itemCount);
    for (size_t i = 0; i < tmpl->itemCount; ++i) {
        const DLGITEMTEMPLATE& item = tmpl->items[i];
        QWidget* w = controls[int(i)];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(w->property(kAfxCtrlIdProperty).toInt(), item.id);
        EXPECT_EQ(KindOf(w), KindOf(item));
        EXPECT_EQ(w->pos(), QPoint(Px(item.x), Px(item.y)));
        if (KindOf(item) != kPicture) {
            EXPECT_EQ(TextOf(w), QString::fromUtf8(item.text));
            EXPECT_EQ(w->size(), QSize(Px(item.cx), Px(item.cy)));
            continue;
        }
        // A picture shows at its own pixel size from the control's corner.
        const QSize image = qobject_cast<QLabel*>(w)->pixmap().size();
        EXPECT_EQ(w->size(), image);
        if ((item.style & SS_TYPEMASK) == SS_ICON) {
            EXPECT_EQ(image, QSize(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)));
        } else {
            // A bitmap is drawn to its control's size in units times 1.5,
            // give or take the half pixel.
            EXPECT_LE(std::abs(2 * image.width() - 3 * item.cx), 1) << image.width();
            EXPECT_LE(std::abs(2 * image.height() - 3 * item.cy), 1) << image.height();
        }
    }
}

TEST(Layout, DialogUnitsAreOneAndAHalfPixelsHalvesRoundedAwayFromZero) {
    EXPECT_EQ(AfxDialogUnitsToPixels(0), 0);
    EXPECT_EQ(AfxDialogUnitsToPixels(1), 2);
    EXPECT_EQ(AfxDialogUnitsToPixels(2), 3);
    EXPECT_EQ(AfxDialogUnitsToPixels(7), 11);
    EXPECT_EQ(AfxDialogUnitsToPixels(14), 21);
    EXPECT_EQ(AfxDialogUnitsToPixels(336), 504);
    EXPECT_EQ(AfxDialogUnitsToPixels(207), 311);
    EXPECT_EQ(AfxDialogUnitsToPixels(-1), -2);
    EXPECT_EQ(AfxDialogUnitsToPixels(-3), -5);
}

TEST(Layout, TheMainWindowIsLaidOutAsItsTemplate) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        ExpectLaidOutAsItsTemplate(form, IDD_ENCRYPT_DIALOG);
        Press(form, Qt::Key_Escape);
    });
}

TEST(Layout, TheAboutBoxIsLaidOutAsItsTemplate) {
    CAboutDlg dlg;
    const INT_PTR result = RunModal(dlg, [](QWidget* form) {
        ExpectLaidOutAsItsTemplate(form, IDD_ABOUTBOX);
        EXPECT_EQ(FocusedId(form), IDOK);
        Press(form, Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
}

// What the Encrypt command and the user rely on, whatever the coordinates.
TEST(Layout, TheMainWindowHasTheFieldsAndButtonsTheCommandUses) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        EXPECT_EQ(KindOf(Control(form, IDC_FILE_PATH)), kEdit);
        EXPECT_EQ(KindOf(Control(form, IDC_PASSWORD)), kPassword);
        EXPECT_EQ(KindOf(Control(form, IDC_CONFIRM)), kPassword);
        EXPECT_EQ(KindOf(Control(form, IDC_STATUS)), kText);
        EXPECT_EQ(TextOf(Control(form, IDOK)), QStringLiteral("浏  览"));
        EXPECT_EQ(TextOf(Control(form, IDC_ENCRYPT)), QStringLiteral("加  密"));
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

// The caption and the about box's product line are the form's own texts,
// whatever the package's version; both are read from the running window.
TEST(Layout, TheCaptionAndTheAboutBoxShowTheFormsTextsNotThePackageVersion) {
    CEncryptDlg dlg;
    QString caption;
    QString aboutCaption;
    QStringList aboutTexts;
    RunModal(dlg, [&](QWidget* form) {
        caption = form->windowTitle();
        PickFromSystemMenu(
            [form] { Press(form, Qt::Key_Space, Qt::AltModifier); }, Qt::Key_A,
            [&](QWidget* about) {
                ASSERT_NE(about, nullptr);
                aboutCaption = about->windowTitle();
                for (auto* label : about->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
                    aboutTexts << label->text();
                }
                QTest::keyClick(about->focusWidget(), Qt::Key_Return);
            });
        Press(form, Qt::Key_Escape);
    });
    EXPECT_EQ(caption.toStdString(), "Karsholm -- Veltrane(2014版) v1.1.2");
    EXPECT_EQ(aboutCaption.toStdString(), "关于Veltrane");
    EXPECT_TRUE(aboutTexts.contains(QStringLiteral("Veltrane(2014版) v1.1.2")))
        << aboutTexts.join('|').toStdString();
    // The package's version is not in the window, where it differs.
    if (std::string(VELTRANE_VERSION) != "1.1.2") {
        EXPECT_FALSE(caption.contains(QStringLiteral(VELTRANE_VERSION)));
        EXPECT_FALSE(aboutTexts.join('|').contains(QStringLiteral(VELTRANE_VERSION)));
    }
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
        EXPECT_THAT(texts.first().toStdString(), ::testing::StartsWith("撤消(&U)"));
        EXPECT_EQ(texts.filter(QStringLiteral("粘贴(&P)")).size(), 1)
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
