#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "platform/afxwin.h"
#include "platform/qt_bridge.h"

namespace {

const char* const kNoDisplay =
    "veltrane: 没有图形显示，无法打开窗口 (no display: set DISPLAY or WAYLAND_DISPLAY "
    "and run it in a graphical session)\n";
const char* const kCannotOpenDisplay =
    "veltrane: 无法打开图形显示，无法打开窗口 (cannot open the display: is the X server "
    "or Wayland compositor running and reachable?)\n";

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return true;
        }
    }
    return false;
}

// While the window system starts, Qt's complaints are held back: when it
// cannot start at all, one line says why instead of Qt's abort.
QStringList g_heldMessages;

void StartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(kCannotOpenDisplay, stderr);
        std::_Exit(1);
    }
    g_heldMessages << message;
}

}  // namespace

std::unique_ptr<QApplication> AfxWinInit(int& argc, char** argv) {
    QtMessageHandler previous = qInstallMessageHandler(StartupMessages);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const QString& m : g_heldMessages) {
        std::fprintf(stderr, "%s\n", qPrintable(m));
    }
    g_heldMessages.clear();

    // The forms ask for 宋体; a Song face of like metrics stands in.
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"),
                                                        QStringLiteral("AR PL SungtiL GB"),
                                                        QStringLiteral("Noto Serif CJK SC")});
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    QApplication::setFont(font);

    // The whole interface is Chinese (PRC), Qt's own texts included.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(app.get());
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    }
    return app;
}

int AfxWinMain(int argc, char** argv) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    if (!HasDisplay()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    std::unique_ptr<QApplication> qt = AfxWinInit(argc, argv);
    return app->InitInstance() ? qt->exec() : 0;
}
