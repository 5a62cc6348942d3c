// The real file chooser on a real display (an X server), under a fresh home
// folder: what it shows, and that it leaves nothing behind. Run with Qt's
// own platform theme and under QT_QPA_PLATFORMTHEME=gtk3, the desktop's,
// which the package recommends; each with no session bus (--bus=none), with
// a session bus of its own (--bus=session), and with the bus an earlier
// program autolaunched on the display (--bus=autolaunched).
//
// main makes the home folder and the bus before Qt starts, runs the cases,
// and once Qt has ended checks that no process of the window's is left, then
// stops the bus and checks that the home folder is still empty.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/encrypt_dlg.h"
#include "app/resource.h"
#include "gui/gui_harness.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::string g_home;
// The id of the session bus the run was given; empty for none.
std::string g_busId;

// The folder the chooser opens in, outside the home folder, and the file
// chosen there; its name and the folder's are what no file may hold.
const char kFolderName[] = "付款目录";
const char kChosenName[] = "选中的付款清单.txt";

std::string Std(const QString& text) {
    return text.toStdString();
}

bool GtkIsLoaded() {
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return all.find("libgtk-3.so") != std::string::npos;
}

// The case is about the theme it was started with: under gtk3 the theme is
// truly there, so that the desktop's chooser was the one to avoid.
TEST(Chooser, RunsUnderTheThemeItWasStartedWith) {
    const char* theme = std::getenv("QT_QPA_PLATFORMTHEME");
    EXPECT_EQ(QApplication::platformName(), QStringLiteral("xcb"));
    if (theme != nullptr && std::strcmp(theme, "gtk3") == 0) {
        EXPECT_TRUE(GtkIsLoaded()) << "the gtk3 platform theme did not load";
    } else {
        EXPECT_FALSE(GtkIsLoaded());
    }
}

// The window's libraries reach the session bus that exists, on which
// accessibility lives, and no other.
TEST(Chooser, ReachesTheSessionBusThatExistsAndNoOther) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (g_busId.empty()) {
        EXPECT_FALSE(bus.isConnected());
        return;
    }
    ASSERT_TRUE(bus.isConnected()) << Std(bus.lastError().message());
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    ASSERT_EQ(reply.arguments().size(), 1) << Std(reply.errorMessage());
    EXPECT_EQ(Std(reply.arguments().first().toString()), g_busId);
}

// The chooser's view of the folder's files: its list or its details,
// whichever shows.
QAbstractItemView* FilesShown(QWidget* chooser) {
    for (const char* name : {"listView", "treeView"}) {
        auto* view = chooser->findChild<QAbstractItemView*>(QString::fromLatin1(name));
        if (view != nullptr && view->isVisible()) {
            return view;
        }
    }
    return nullptr;
}

// What the chooser shows when it opens: Qt's own, titled Open, the filter
// texts whole with the text filter first and selected, and no file chosen,
// even once the folder's files are listed.
void LookAtTheOpenedChooser(QWidget* window, const std::string& folder, const std::string& when) {
    auto* chooser = qobject_cast<QFileDialog*>(window);
    ASSERT_NE(chooser, nullptr) << when << ": no Qt chooser in front";
    EXPECT_TRUE(chooser->isVisible()) << when;
    EXPECT_EQ(Std(chooser->windowTitle()), "打开") << when;
    EXPECT_EQ(Std(chooser->directory().absolutePath()), folder) << when;
    auto* types = chooser->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr) << when;
    ASSERT_EQ(types->count(), 2) << when;
    EXPECT_EQ(Std(types->itemText(0)), "文本文档 (*.txt)") << when;
    EXPECT_EQ(Std(types->itemText(1)), "All Files (*.*)") << when;
    EXPECT_EQ(types->currentIndex(), 0) << when;
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QAbstractItemView* list = FilesShown(chooser);
    ASSERT_NE(name, nullptr) << when;
    ASSERT_NE(list, nullptr) << when;
    auto* model = qobject_cast<QFileSystemModel*>(list->model());
    ASSERT_NE(model, nullptr) << when;
    // The folder's two text files listed, and still none of them chosen.
    EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount(list->rootIndex()) == 2; }))
        << when << ": the folder's files are not listed";
    EXPECT_EQ(Std(name->text()), "") << when;
    EXPECT_TRUE(list->selectionModel()->selectedIndexes().isEmpty()) << when;
}

// Clicks the file in the chooser's list, then presses Enter in its name field.
void ChooseWithAClick(QWidget* window, const std::string& path) {
    auto* name = window->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QAbstractItemView* list = FilesShown(window);
    ASSERT_NE(name, nullptr);
    ASSERT_NE(list, nullptr);
    auto* model = qobject_cast<QFileSystemModel*>(list->model());
    ASSERT_NE(model, nullptr);
    const QModelIndex file = model->index(QString::fromStdString(path));
    ASSERT_TRUE(file.isValid());
    list->scrollTo(file);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualRect(file).center());
    EXPECT_EQ(Std(name->text()), fs::path(path).filename().string());
    QTest::keyClick(name, Qt::Key_Return);
}

TEST(Chooser, BrowseChooseAFileThenEscapeLeavesTheFieldWithItsPath) {
    TempDir dir;
    const std::string folder = dir.File(kFolderName);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    // Another file sorts before the chosen one: a chooser that picks the
    // first file of the folder by itself would pick it.
    WriteFile(folder + "/000-first.txt", PseudoRandomBytes(10, 1));
    WriteFile(folder + "/" + kChosenName, PseudoRandomBytes(10, 2));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(folder)));

    CEncryptDlg dlg;
    RunModal(dlg, [&](QWidget* form) {
        LookAtWindowOpenedBy([form] { QTest::mouseClick(Control(form, IDOK), Qt::LeftButton); },
                             [&](QWidget* window) {
                                 LookAtTheOpenedChooser(window, folder, "the first Browse");
                                 ChooseWithAClick(window, folder + "/" + kChosenName);
                                 EXPECT_FALSE(window->isVisible()) << "Enter left it open";
                             });
        EXPECT_EQ(Std(TextOf(Control(form, IDC_FILE_PATH))), folder + "/" + kChosenName);
        // A second chooser keeps nothing of the first; Escape leaves the
        // field as it was.
        LookAtWindowOpenedBy([form] { Press(form, Qt::Key_Return); },
                             [&](QWidget* window) {
                                 LookAtTheOpenedChooser(window, folder, "the second Browse");
                                 QTest::keyClick(window->focusWidget(), Qt::Key_Escape);
                                 EXPECT_FALSE(window->isVisible()) << "Escape left it open";
                             });
        EXPECT_EQ(Std(TextOf(Control(form, IDC_FILE_PATH))), folder + "/" + kChosenName);
        Press(form, Qt::Key_Escape);
    });
    QDir::setCurrent(before);
}

// Every file under the home folder, and each that names the chosen file or
// its folder; after a run with nothing saved there are none.
int CheckTheHomeFolderIsEmpty() {
    int found = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(g_home, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string note;
        if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            if (text.find(kFolderName) != std::string::npos ||
                text.find(kChosenName) != std::string::npos) {
                note = " (names the chosen file or its folder)";
            }
        }
        std::printf("left under the home folder: %s%s\n", it->path().c_str(), note.c_str());
        ++found;
    }
    if (error) {
        std::printf("cannot list the home folder %s: %s\n", g_home.c_str(),
                    error.message().c_str());
        return 1;
    }
    return found;
}

// What a shell command prints on standard output, trimmed; empty unless it
// ended with status 0.
std::string Output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string out;
    char buffer[256];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    const int status = pclose(pipe);
    out.erase(out.find_last_not_of(" \n") + 1);
    out.erase(0, out.find_first_not_of(' '));
    return status == 0 ? out : std::string();
}

// Gives the run the session bus it asks for: one of its own, started here,
// or one that libdbus autolaunches here on the display for another home
// folder, as an earlier program would. Returns the bus's id, empty for none
// or when its programs are missing.
std::string StartBus(const std::string& kind, const std::string& otherHome) {
    if (kind == "session") {
        const std::string address = Output("dbus-daemon --session --fork --print-address=1");
        if (address.empty()) {
            return {};
        }
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    return Output("HOME=" + otherHome +
                  " dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus "
                  "/org/freedesktop/DBus org.freedesktop.DBus.GetId");
}

// A process whose parent is this one: orphans of its descendants come to it.
struct Child {
    pid_t group;
    pid_t session;
    std::string args;
};

// This process's children by pid; those that ended are reaped first.
std::map<pid_t, Child> Children() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::map<pid_t, Child> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) {
            continue;
        }
        // After the command's name in parentheses: state, parent, group, session.
        char state = 0;
        pid_t parent = 0;
        Child child{};
        std::istringstream(line.substr(line.rfind(')') + 1)) >> state >> parent >> child.group >>
            child.session;
        if (parent == getpid()) {
            std::ifstream cmdline(entry.path() / "cmdline");
            std::getline(cmdline, child.args);
            std::replace(child.args.begin(), child.args.end(), '\0', ' ');
            children[pid_t(std::stoi(entry.path().filename()))] = child;
        }
    }
    return children;
}

// Ends what is left: each child that was not there before Qt started and
// is in no session of the bus's (whose services come here too once
// activated) is named as left running by the window; then the bus stops,
// its process group with it, and every process left here is waited for.
// What watches the bus from this process group (dbus-launch) is ended
// outright: asked to, it waits three seconds to make sure of the bus.
// Returns how many the window left.
int EndWhatIsLeft(const std::map<pid_t, Child>& bus) {
    std::set<pid_t> busSessions;
    for (const auto& [pid, child] : bus) {
        busSessions.insert(child.session);
        if (child.group == getpgid(0)) {
            kill(pid, SIGKILL);
        } else {
            killpg(child.group, SIGTERM);
        }
    }
    busSessions.erase(getsid(0));
    int left = 0;
    for (const auto& [pid, child] : Children()) {
        if (bus.count(pid) == 0 && busSessions.count(child.session) == 0) {
            std::printf("left running: %d %s\n", int(pid), child.args.c_str());
            kill(pid, SIGTERM);
            ++left;
        }
    }
    while (wait(nullptr) > 0 || errno == EINTR) {
    }
    return left;
}

}  // namespace

int main(int argc, char** argv) {
    // Whatever the window's libraries start and leave behind comes to this
    // process when its parent goes.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // A fresh home folder, and the places under it that Qt and GTK write to
    // taken from it alone.
    char home[] = "/tmp/veltrane-home-XXXXXX";
    if (mkdtemp(home) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_home = home;
    setenv("HOME", home, 1);
    // As in a desktop session, the runtime folder is not under the home
    // folder (without one GLib takes its cache folder).
    TempDir runtime;
    fs::permissions(runtime.path(), fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"}) {
        unsetenv(name);
    }
    ::testing::InitGoogleTest(&argc, argv);
    const std::string bus = argc > 1 ? std::string(argv[1]) : "--bus=none";
    TempDir otherHome;
    g_busId = bus == "--bus=none" ? "" : StartBus(bus.substr(6), otherHome.path());
    const std::map<pid_t, Child> busProcesses = Children();
    const bool skipped = bus != "--bus=none" && g_busId.empty();
    // Qt starts and ends in here.
    const int status = skipped ? 77 : RUN_ALL_TESTS();
    const int running = EndWhatIsLeft(busProcesses);
    const int left = CheckTheHomeFolderIsEmpty();
    std::error_code ignored;
    fs::remove_all(g_home, ignored);
    if (skipped) {
        std::printf("%s: no bus to be had (dbus-daemon or dbus-launch missing)\n", bus.c_str());
        return 77;
    }
    return status != 0 || running != 0 || left != 0 ? 1 : 0;
}
