// The main window driven as a user drives it: keys and mouse clicks on the
// real dialog, a fake file chooser in place of the real one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextLayout>
#include <QUrl>
#include <cstdlib>
#include <functional>

#include "app/encrypt_dlg.h"
#include "app/encrypt_messages.h"
#include "gui/gui_harness.h"
#include "platform/afxdlgs.h"
#include "platform/cmdline.h"
#include "platform/qt/app.h"
#include "platform/qt/controls.h"
#include "platform/qt/dialog.h"
#include "test_util.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Std(const QString& text) {
    return text.toStdString();
}

// Stands in for the Open-file chooser: records what it was asked, answers
// with a path or a cancel.
struct FakeChooser {
    FakeChooser() {
        previous = AfxSetFileChooser([this](const FileChooserRequest& r, std::string* path) {
            ++calls;
            last = r;
            if (answer.empty()) {
                return INT_PTR(IDCANCEL);
            }
            *path = answer;
            return INT_PTR(IDOK);
        });
    }
    ~FakeChooser() { AfxSetFileChooser(previous); }

    int calls = 0;
    FileChooserRequest last;
    std::string answer;
    FileChooser previous;
};

const QString kSuccessFor(const std::string& container) {
    return QString::fromUtf8(SuccessMessage(container).c_str());
}

TEST(MainWindow, StartsEmptyCentredWithFocusOnBrowse) {
    CEncryptDlg dlg;
    const INT_PTR result = RunModal(dlg, [](QWidget* form) {
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Karsholm -- Veltrane(2014版) v1.1.2"));
        EXPECT_EQ(FocusedId(form), IDOK);
        for (int id : {IDC_FILE_PATH, IDC_PASSWORD, IDC_CONFIRM, IDC_STATUS}) {
            EXPECT_TRUE(TextOf(Control(form, id)).isEmpty()) << id;
        }
        EXPECT_EQ(form->size(), QSize(504, 311));
        EXPECT_FALSE(form->windowIcon().isNull());
        const QRect area = form->screen()->availableGeometry();
        EXPECT_LE(std::abs(form->geometry().center().x() - area.center().x()), 2);
        EXPECT_LE(std::abs(form->geometry().center().y() - area.center().y()), 2);
        Press(form, Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(MainWindow, TabAndShiftTabVisitTheTabStopsInTemplateOrder) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        const int forward[] = {IDC_FILE_PATH, IDC_ENCRYPT, IDC_PASSWORD, IDC_CONFIRM, IDOK};
        for (int id : forward) {
            Press(form, Qt::Key_Tab);
            EXPECT_EQ(FocusedId(form), id);
        }
        const int backward[] = {IDC_CONFIRM, IDC_PASSWORD, IDC_ENCRYPT, IDC_FILE_PATH, IDOK};
        for (int id : backward) {
            Press(form, Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(FocusedId(form), id);
        }
    });
}

TEST(MainWindow, EnterInEveryEditFieldOpensTheChooser) {
    FakeChooser chooser;
    CEncryptDlg dlg;
    RunModal(dlg, [&chooser](QWidget* form) {
        int expectedCalls = 0;
        for (int id : {IDC_FILE_PATH, IDC_PASSWORD, IDC_CONFIRM}) {
            Control(form, id)->setFocus();
            Type(form, QStringLiteral("12"));
            chooser.answer = "/data/pay/list-" + std::to_string(id) + ".txt";
            Press(form, Qt::Key_Return);
            EXPECT_EQ(chooser.calls, ++expectedCalls) << id;
            EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)), QString::fromStdString(chooser.answer));
        }
        // The keypad's Enter too.
        Press(form, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(chooser.calls, ++expectedCalls);
        // Browse touched neither the status nor the passwords.
        EXPECT_TRUE(TextOf(Control(form, IDC_STATUS)).isEmpty());
        EXPECT_EQ(TextOf(Control(form, IDC_PASSWORD)), QStringLiteral("12"));
        Press(form, Qt::Key_Escape);
    });
    // What the chooser was asked for.
    EXPECT_EQ(chooser.last.flags, OFN_HIDEREADONLY);
    EXPECT_EQ(chooser.last.filterIndex, 1);
    EXPECT_TRUE(chooser.last.fileName.empty());
    const std::vector<std::pair<std::string, std::string>> filters = {{"文本文档 (*.txt)", "*.txt"},
                                                                      {"All Files (*.*)", "*.*"}};
    EXPECT_EQ(chooser.last.filters, filters);
}

TEST(MainWindow, CancellingTheChooserChangesNothing) {
    FakeChooser chooser;
    CEncryptDlg dlg;
    RunModal(dlg, [&chooser](QWidget* form) {
        Press(form, Qt::Key_Tab);
        Type(form, QStringLiteral("keep.txt"));
        Press(form, Qt::Key_Return);  // the fake cancels
        EXPECT_EQ(chooser.calls, 1);
        EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)), QStringLiteral("keep.txt"));
        // A click on Browse opens it as well.
        QTest::mouseClick(Control(form, IDOK), Qt::LeftButton);
        EXPECT_EQ(chooser.calls, 2);
    });
}

TEST(MainWindow, EnterOnEncryptRunsTheCommandNotTheChooser) {
    FakeChooser chooser;
    CEncryptDlg dlg;
    RunModal(dlg, [&chooser](QWidget* form) {
        Control(form, IDC_ENCRYPT)->setFocus();
        Press(form, Qt::Key_Return);
        EXPECT_EQ(chooser.calls, 0);
        EXPECT_EQ(TextOf(Control(form, IDC_STATUS)), QString::fromUtf8(kMsgNoPath));
        // Space on the button presses it too.
        Control(form, IDC_FILE_PATH)->setFocus();
        Type(form, QStringLiteral("x.txt"));
        Control(form, IDC_ENCRYPT)->setFocus();
        Press(form, Qt::Key_Space);
        EXPECT_EQ(TextOf(Control(form, IDC_STATUS)), QString::fromUtf8(kMsgNoPassword));
        EXPECT_EQ(chooser.calls, 0);
    });
}

TEST(MainWindow, EscapeCloseBoxAndAltF4EndTheToolWhateverTheFieldsHold) {
    {
        CEncryptDlg dlg;
        EXPECT_EQ(RunModal(dlg,
                           [](QWidget* form) {
                               Press(form, Qt::Key_Tab);
                               Type(form, QStringLiteral("half-typed"));
                               Press(form, Qt::Key_Escape);
                           }),
                  IDCANCEL);
    }
    {
        CEncryptDlg dlg;
        EXPECT_EQ(RunModal(dlg, [](QWidget* form) { form->close(); }), IDCANCEL);
    }
    {
        CEncryptDlg dlg;
        EXPECT_EQ(RunModal(dlg, [](QWidget* form) { Press(form, Qt::Key_F4, Qt::AltModifier); }),
                  IDCANCEL);
    }
}

// Sends the system command and reports the caption of the window it opened.
QString WindowOpenedBySysCommand(QWidget* form, UINT command) {
    QString opened;
    LookAtWindowOpenedBy(
        [form, command] {
            static_cast<AfxDialogWidget*>(form)->dialog()->SendMessage(WM_SYSCOMMAND, command, 0);
        },
        [&opened](QWidget* window) { opened = window ? window->windowTitle() : QString(); });
    return opened;
}

// The system menu as it shows, with the about item last.
const QStringList kSystemMenu = {QStringLiteral("最小化(&N)"), QStringLiteral("关闭(&C)\tAlt+F4"),
                                 QStringLiteral("-"), QStringLiteral("关于Veltrane(&A)...")};

// Opens the system menu with open, picks the about item and reports the
// about box's caption, whether it sat centred over the main window, and
// whether the main window took input again afterwards.
void ExpectTheAboutBoxFromTheSystemMenu(QWidget* form, const std::function<void()>& open) {
    QString caption;
    bool centred = false;
    const QStringList items =
        PickFromSystemMenu(open, Qt::Key_A, [&](QWidget* about) {  // the item's access key
            ASSERT_NE(about, nullptr);
            caption = about->windowTitle();
            centred =
                (about->geometry().center() - form->geometry().center()).manhattanLength() <= 4;
            // The about box's OK button has the focus; Enter presses it.
            QTest::keyClick(about->focusWidget(), Qt::Key_Return);
        });
    EXPECT_EQ(items, kSystemMenu);
    EXPECT_EQ(caption, QStringLiteral("关于Veltrane"));
    EXPECT_TRUE(centred);
    // The main window takes input again.
    Control(form, IDOK)->setFocus();
    Press(form, Qt::Key_Tab);
    EXPECT_EQ(FocusedId(form), IDC_FILE_PATH);
}

TEST(MainWindow, SystemCommands0x10To0x1FOpenTheAboutBoxOthersDoNot) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        EXPECT_EQ(WindowOpenedBySysCommand(form, 0x0010), QStringLiteral("关于Veltrane"));
        EXPECT_EQ(WindowOpenedBySysCommand(form, 0x001F), QStringLiteral("关于Veltrane"));
        EXPECT_EQ(WindowOpenedBySysCommand(form, 0x0020), QString());
        EXPECT_TRUE(form->isVisible());
    });
}

TEST(MainWindow, AltSpaceOpensTheSystemMenuWithTheAboutItem) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        ExpectTheAboutBoxFromTheSystemMenu(form,
                                           [form] { Press(form, Qt::Key_Space, Qt::AltModifier); });
    });
}

// Where a window manager keeps Alt+Space for itself, Shift+F10 reaches the
// window's own menu, whichever control has the focus; in an edit field too,
// which would otherwise offer its own edit menu.
TEST(MainWindow, ShiftF10OpensTheSystemMenuFromEveryControl) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        for (int id : {IDOK, IDC_FILE_PATH, IDC_ENCRYPT, IDC_PASSWORD, IDC_CONFIRM}) {
            SCOPED_TRACE(id);
            Control(form, id)->setFocus();
            ExpectTheAboutBoxFromTheSystemMenu(
                form, [form] { Press(form, Qt::Key_F10, Qt::ShiftModifier); });
        }
    });
}

// The desktop's platform turns the Menu key into a keyboard context-menu
// event for the focused control; the offscreen one does not, so the test
// delivers that event itself.
TEST(MainWindow, TheMenuKeyOnAButtonOpensTheSystemMenu) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        QWidget* browse = Focused(form);
        ASSERT_EQ(FocusedId(form), IDOK);
        ExpectTheAboutBoxFromTheSystemMenu(form, [browse] {
            const QPoint at = browse->rect().center();
            QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, at, browse->mapToGlobal(at));
            QApplication::sendEvent(browse, &menuKey);
        });
    });
}

TEST(MainWindow, RightClickOnTheFormOpensTheSystemMenuAndCloseEndsTheTool) {
    CEncryptDlg dlg;
    const INT_PTR result = RunModal(dlg, [](QWidget* form) {
        // On the status field, which is part of the form.
        QWidget* status = Control(form, IDC_STATUS);
        const QStringList items = PickFromSystemMenu(
            [status] {
                QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                        status->mapToGlobal(QPoint(5, 5)));
                QApplication::sendEvent(status, &click);
            },
            Qt::Key_C);  // 关闭(&C)
        EXPECT_EQ(items, kSystemMenu);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(MainWindow, F1ShowsTheUsageHelpInChinese) {
    CEncryptDlg dlg;
    QString text;
    QString button;
    RunModal(dlg, [&](QWidget* form) {
        LookAtWindowOpenedBy([form] { Press(form, Qt::Key_F1); },
                             [&](QWidget* window) {
                                 auto* box = qobject_cast<QMessageBox*>(window);
                                 ASSERT_NE(box, nullptr);
                                 text = box->text();
                                 button = box->button(QMessageBox::Ok)->text();
                             });
        EXPECT_TRUE(form->isVisible());
    });
    EXPECT_THAT(Std(text), HasSubstr("6位数字密码"));
    // How to reach the about box where Alt+Space belongs to the desktop.
    EXPECT_THAT(Std(text), HasSubstr("关于Veltrane"));
    EXPECT_THAT(Std(text), HasSubstr("右键"));
    EXPECT_THAT(Std(text), HasSubstr("菜单键"));
    EXPECT_THAT(Std(text), HasSubstr("Shift+F10"));
    EXPECT_EQ(button, QStringLiteral("确定"));  // Qt's own text, translated
}

TEST(MainWindow, TheRealChooserOpensInChineseWithTheTextFilterSelected) {
    CEncryptDlg dlg;
    QString title;
    QStringList filters;
    QString selected;
    RunModal(dlg, [&](QWidget* form) {
        LookAtWindowOpenedBy([form] { Press(form, Qt::Key_Return); },
                             [&](QWidget* window) {
                                 auto* chooser = qobject_cast<QFileDialog*>(window);
                                 ASSERT_NE(chooser, nullptr);
                                 title = chooser->windowTitle();
                                 filters = chooser->nameFilters();
                                 selected = chooser->selectedNameFilter();
                             });
        EXPECT_TRUE(TextOf(Control(form, IDC_FILE_PATH)).isEmpty());
    });
    EXPECT_EQ(title, QStringLiteral("打开"));
    ASSERT_EQ(filters.size(), 2);
    EXPECT_THAT(Std(selected), StartsWith("文本文档 (*.txt)"));
    EXPECT_THAT(Std(filters[0]), StartsWith("文本文档 (*.txt)"));
    EXPECT_THAT(Std(filters[1]), StartsWith("All Files (*.*)"));
    // "*.*" means every file, names without a dot included.
    EXPECT_THAT(Std(filters[1]), ::testing::EndsWith("(*)"));
}

// Each chooser opens in the working folder, however the one before ended.
TEST(MainWindow, TheRealChooserOpensInTheWorkingFolderEveryTime) {
    TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("elsewhere")));
    const std::string picked = dir.File("elsewhere/list.txt");
    WriteFile(picked, PseudoRandomBytes(10, 1));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder));
    CEncryptDlg dlg;
    QStringList opened;
    RunModal(dlg, [&](QWidget* form) {
        for (int run = 0; run < 2; ++run) {
            LookAtWindowOpenedBy([form] { Press(form, Qt::Key_Return); },
                                 [&](QWidget* window) {
                                     auto* chooser = qobject_cast<QFileDialog*>(window);
                                     ASSERT_NE(chooser, nullptr);
                                     opened << chooser->directory().absolutePath();
                                     chooser->selectFile(QString::fromStdString(picked));
                                     static_cast<QDialog*>(chooser)->accept();
                                 });
            EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)), QString::fromStdString(picked));
        }
        Press(form, Qt::Key_Escape);
    });
    QDir::setCurrent(before);
    EXPECT_EQ(Std(opened.join(QLatin1Char(' '))), Std(folder + QLatin1Char(' ') + folder));
}

TEST(MainWindow, FromAnEmptyWindowToAWrittenContainerByKeyboard) {
    TempDir dir;
    const std::string input = dir.File("payments 2026.txt");
    WriteFile(input, PseudoRandomBytes(9000, 7));
    CEncryptDlg dlg;
    RunModal(dlg, [&](QWidget* form) {
        Press(form, Qt::Key_Tab);  // the path field
        Type(form, QStringLiteral("  ") + QString::fromStdString(input) + QStringLiteral(" "));
        Press(form, Qt::Key_Tab);  // Encrypt
        Press(form, Qt::Key_Tab);  // password
        Type(form, QStringLiteral("123456"));
        Press(form, Qt::Key_Tab);  // confirmation
        Type(form, QStringLiteral("123457"));
        Press(form, Qt::Key_Backtab, Qt::ShiftModifier);
        Press(form, Qt::Key_Backtab, Qt::ShiftModifier);
        ASSERT_EQ(FocusedId(form), IDC_ENCRYPT);
        Press(form, Qt::Key_Return);

        // A mismatch empties both fields and puts the focus in the first.
        EXPECT_EQ(TextOf(Control(form, IDC_STATUS)), QString::fromUtf8(kMsgMismatch));
        EXPECT_TRUE(TextOf(Control(form, IDC_PASSWORD)).isEmpty());
        EXPECT_TRUE(TextOf(Control(form, IDC_CONFIRM)).isEmpty());
        EXPECT_EQ(FocusedId(form), IDC_PASSWORD);
        EXPECT_FALSE(FileExists(input + ".enn"));

        Type(form, QStringLiteral("123456"));
        // One mask character for every character typed.
        auto* password = qobject_cast<QLineEdit*>(Control(form, IDC_PASSWORD));
        EXPECT_EQ(password->displayText().size(), 6);
        EXPECT_FALSE(password->displayText().contains(QLatin1Char('1')));
        Press(form, Qt::Key_Tab);
        Type(form, QStringLiteral("123456"));
        QTest::mouseClick(Control(form, IDC_ENCRYPT), Qt::LeftButton);

        EXPECT_EQ(TextOf(Control(form, IDC_STATUS)), kSuccessFor(input + ".enn"));
        EXPECT_EQ(TextOf(Control(form, IDC_PASSWORD)), QStringLiteral("123456"));
        Press(form, Qt::Key_Escape);
    });
    ASSERT_TRUE(FileExists(input + ".enn"));
    // 32 digest + 16 password chunk + chunks of 4008, 4008 and 1008 bytes.
    EXPECT_EQ(ReadFile(input + ".enn").size(), 32u + 16 + 4008 + 4008 + 1008);
}

// The lines text takes in the status field, wrapped as the field wraps.
qreal HeightInField(QWidget* field, const QString& text) {
    QTextLayout layout(text, field->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(field->contentsRect().width());
        height += line.height();
    }
    layout.endLayout();
    return height;
}

// Encrypts the file at input through the window; the status field after it.
void EncryptThroughTheWindow(const std::string& input,
                             const std::function<void(AfxStaticText* status)>& look) {
    CEncryptDlg dlg;
    RunModal(dlg, [&](QWidget* form) {
        qobject_cast<QLineEdit*>(Control(form, IDC_FILE_PATH))
            ->setText(QString::fromStdString(input));
        qobject_cast<QLineEdit*>(Control(form, IDC_PASSWORD))->setText(QStringLiteral("246810"));
        qobject_cast<QLineEdit*>(Control(form, IDC_CONFIRM))->setText(QStringLiteral("246810"));
        QTest::mouseClick(Control(form, IDC_ENCRYPT), Qt::LeftButton);
        auto* status = dynamic_cast<AfxStaticText*>(Control(form, IDC_STATUS));
        ASSERT_NE(status, nullptr);
        look(status);
        Press(form, Qt::Key_Escape);
    });
}

TEST(StatusField, ALongPathIsShortenedInTheMiddleSoTheInstructionShows) {
    TempDir dir;
    // 165 characters and more, as a dated batch folder makes them.
    const std::string folder = dir.File("20261208-batch-payment-instructions-for-Karsholm-" +
                                        std::string("付款指令批次文件夹第二季度对账用"));
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    const std::string input =
        folder + "/20261208-batch-payment-list-for-the-second-quarter-付款清单-final.txt";
    ASSERT_GT(QString::fromStdString(input).size(), 140);
    WriteFile(input, PseudoRandomBytes(100, 3));
    EncryptThroughTheWindow(input, [&](AfxStaticText* status) {
        const QString whole = kSuccessFor(input + ".enn");
        // The field and a screen reader keep the whole message ...
        EXPECT_EQ(status->text(), whole);
        EXPECT_EQ(status->toolTip(), whole);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), whole);
        ASSERT_GT(HeightInField(status, whole), status->contentsRect().height());
        // ... and it shows one that fits, instruction included.
        const QString shown = status->ShownText();
        EXPECT_LE(HeightInField(status, shown), status->contentsRect().height());
        EXPECT_TRUE(shown.startsWith(QStringLiteral("加密成功！ 加密文件保存在\"") +
                                     QString::fromStdString(dir.File("2026"))))
            << Std(shown);
        EXPECT_TRUE(shown.endsWith(QStringLiteral("final.txt.enn\"，请将加密文件送交至我行！")))
            << Std(shown);
        EXPECT_EQ(shown.count(QChar(0x2026)), 1);
        // One run of characters from the middle of the path, and no more than needed.
        const int cut = shown.indexOf(QChar(0x2026));
        EXPECT_TRUE(whole.startsWith(shown.left(cut)) && whole.endsWith(shown.mid(cut + 1)));
        QString longer = shown;
        longer.insert(cut, whole.at(cut));
        EXPECT_GT(HeightInField(status, longer), status->contentsRect().height());
    });
}

TEST(StatusField, AMessageThatFitsShowsExactly) {
    TempDir dir;
    const std::string input = dir.File("list.txt");
    WriteFile(input, PseudoRandomBytes(100, 4));
    EncryptThroughTheWindow(input, [&](AfxStaticText* status) {
        EXPECT_EQ(status->ShownText(), kSuccessFor(input + ".enn"));
        EXPECT_TRUE(status->toolTip().isEmpty());
    });
}

TEST(MainWindow, ADroppedFileFillsThePathFieldOtherDropsDoNot) {
    CEncryptDlg dlg;
    RunModal(dlg, [](QWidget* form) {
        auto drop = [form](const QList<QUrl>& urls) {
            QMimeData data;
            data.setUrls(urls);
            QWidget* target = Control(form, IDC_FILE_PATH);  // dropped on the field itself
            const QPoint at = target->mapTo(form, QPoint(4, 4));
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(form, &enter);
            if (!enter.isAccepted()) {
                return false;
            }
            QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(form, &dropped);
            return true;
        };
        EXPECT_FALSE(drop({QUrl(QStringLiteral("https://example.com/a.txt"))}));
        EXPECT_TRUE(TextOf(Control(form, IDC_FILE_PATH)).isEmpty());
        EXPECT_TRUE(drop({QUrl::fromLocalFile(QStringLiteral("/srv/批量/list.txt")),
                          QUrl::fromLocalFile(QStringLiteral("/srv/other.txt"))}));
        EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)), QStringLiteral("/srv/批量/list.txt"));
        EXPECT_TRUE(TextOf(Control(form, IDC_STATUS)).isEmpty());
        // The edit fields leave drops to the window.
        EXPECT_FALSE(Control(form, IDC_FILE_PATH)->acceptDrops());
    });
}

TEST(MainWindow, AFileFromTheCommandLineStartsInThePathFieldWithTheFocusOnThePassword) {
    TempDir dir;
    AfxSetStartFile(dir.File("batch/../付款清单.txt"));
    CEncryptDlg dlg;
    AfxGetApp()->m_pMainWnd = &dlg;
    RunModal(dlg, [&](QWidget* form) {
        // Full and cleaned, as a file manager or Browse gives it.
        EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)),
                  QString::fromStdString(dir.File("付款清单.txt")));
        EXPECT_EQ(FocusedId(form), IDC_PASSWORD);
        EXPECT_TRUE(TextOf(Control(form, IDC_STATUS)).isEmpty());
        // The about box, another dialog, takes nothing from it.
        EXPECT_EQ(WindowOpenedBySysCommand(form, 0x0010), QStringLiteral("关于Veltrane"));
        Press(form, Qt::Key_Escape);
    });
    // The file is for the first window only.
    CEncryptDlg again;
    AfxGetApp()->m_pMainWnd = &again;
    RunModal(again, [](QWidget* form) {
        EXPECT_TRUE(TextOf(Control(form, IDC_FILE_PATH)).isEmpty());
        EXPECT_EQ(FocusedId(form), IDOK);
        Press(form, Qt::Key_Escape);
    });
    AfxGetApp()->m_pMainWnd = nullptr;
}

// The start of the program with arguments it cannot use: the application
// runs all the same, with the one file named in the field, or none of two.
TEST(MainWindow, ArgumentsNeverKeepTheWindowClosed) {
    TempDir dir;
    const std::string file = dir.File("付款清单.txt");
    const struct {
        std::vector<std::string> args;
        std::string field;
    } starts[] = {
        {{"-x"}, ""},
        {{"--frobnicate", file}, file},
        {{file, dir.File("b.txt")}, ""},
        {{""}, ""},
    };
    for (const auto& start : starts) {
        int status = -1;
        CWinApp* app = AfxStartFromCommandLine(start.args, &status);
        ASSERT_NE(app, nullptr) << start.args[0];
        EXPECT_EQ(app, AfxGetApp());
        CEncryptDlg dlg;
        app->m_pMainWnd = &dlg;
        RunModal(dlg, [&](QWidget* form) {
            EXPECT_EQ(TextOf(Control(form, IDC_FILE_PATH)), QString::fromStdString(start.field));
            Press(form, Qt::Key_Escape);
        });
        app->m_pMainWnd = nullptr;
        AfxSetStartFile("");
    }
}

TEST(MainWindow, MinimiseFromTheSystemMenuMinimisesAndTheToolStillEnds) {
    CEncryptDlg dlg;
    const INT_PTR result = RunModal(dlg, [](QWidget* form) {
        PickFromSystemMenu([form] { Press(form, Qt::Key_Space, Qt::AltModifier); },
                           Qt::Key_N);  // 最小化(&N)
        EXPECT_TRUE(form->isMinimized());
        EXPECT_TRUE(form->isVisible());
        form->close();
    });
    EXPECT_EQ(result, IDCANCEL);
}

}  // namespace
