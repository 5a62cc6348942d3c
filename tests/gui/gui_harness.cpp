#include "gui/gui_harness.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/qt/app.h"
#include "platform/qt/dialog.h"

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static char name[] = "gui_test";
        static char* argv[] = {name, nullptr};
        static int argc = 1;
        app_ = AfxWinInit(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

INT_PTR RunModal(CDialog& dlg, const std::function<void(QWidget*)>& script) {
    QWidget* outer = AfxFrontWindow();
    QTimer::singleShot(0, [outer, &script] {
        QWidget* form = AfxFrontWindow();
        if (form == nullptr || form == outer) {
            ADD_FAILURE() << "the dialog did not open";
            return;
        }
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form));
        script(form);
        if (AfxFrontWindow() == form && form->isVisible()) {
            static_cast<AfxDialogWidget*>(form)->dialog()->EndDialog(int(kLeftRunning));
        }
    });
    return dlg.DoModal();
}

void WhenNextWindowOpens(const std::function<void(QWidget*)>& action) {
    QWidget* current = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                         : QApplication::activeModalWidget();
    QTimer::singleShot(0, [current, action] {
        QWidget* now = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                         : QApplication::activeModalWidget();
        if (now && now != current) {
            now->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(now));
            action(now);
        } else {
            action(nullptr);
        }
    });
}

void LookAtWindowOpenedBy(const std::function<void()>& open,
                          const std::function<void(QWidget*)>& look) {
    WhenNextWindowOpens([&look](QWidget* window) {
        QPointer<QWidget> guard(window);
        look(window);
        if (guard && guard->isVisible()) {
            QTest::keyClick(guard->focusWidget() ? guard->focusWidget() : guard.data(),
                            Qt::Key_Escape);
        }
    });
    open();
    QApplication::processEvents();
}

QStringList PickFromSystemMenu(const std::function<void()>& open, Qt::Key accessKey,
                               const std::function<void(QWidget*)>& then) {
    QStringList items;
    LookAtWindowOpenedBy(open, [&](QWidget* window) {
        auto* menu = qobject_cast<QMenu*>(window);
        if (menu == nullptr) {
            return;
        }
        for (QAction* a : menu->actions()) {
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        if (then) {
            WhenNextWindowOpens(then);
        }
        QTest::keyClick(menu, accessKey);
    });
    return items;
}

QWidget* Control(QWidget* form, int id) {
    for (QWidget* child : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->property(kAfxCtrlIdProperty).toInt() == id) {
            return child;
        }
    }
    return nullptr;
}

QWidget* Focused(QWidget* form) {
    return form->focusWidget();
}

int FocusedId(QWidget* form) {
    QWidget* w = Focused(form);
    return w ? w->property(kAfxCtrlIdProperty).toInt() : 0;
}

void Press(QWidget* form, int key, Qt::KeyboardModifiers mods) {
    QWidget* target = Focused(form) ? Focused(form) : form;
    QTest::keyClick(target, Qt::Key(key), mods);
}

void Type(QWidget* form, const QString& text) {
    QTest::keyClicks(Focused(form), text);
}

QString TextOf(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    return control ? control->windowTitle() : QString();
}
