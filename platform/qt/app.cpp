// The application object, the program's start and the Qt application.
#include "platform/qt/app.h"

#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "platform/qt/dialog.h"
#include "platform/qt/handles.h"
#include "platform/qt/session_bus.h"

namespace {

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return true;
        }
    }
    return false;
}

void PrintLine(std::FILE* stream, const char* AFX_PLATFORM_TEXTS::*text) {
    std::fprintf(stream, "%s\n", AfxPlatformText(text));
}

// While the window system starts, Qt's complaints are held back: when it
// cannot start at all, one line says why instead of Qt's abort.
QStringList g_heldMessages;

void StartupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        PrintLine(stderr, &AFX_PLATFORM_TEXTS::cannotOpenDisplay);
        std::_Exit(1);
    }
    g_heldMessages << message;
}

}  // namespace

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
    const char* text = AfxPlatformText(&AFX_PLATFORM_TEXTS::helpText);
    if (*text == '\0') {
        return;
    }
    QMessageBox box(QMessageBox::Information,
                    QString::fromUtf8(AfxPlatformText(&AFX_PLATFORM_TEXTS::helpTitle)),
                    QString::fromUtf8(text), QMessageBox::Ok, AfxFrontWindow());
    box.exec();
}

std::unique_ptr<QApplication> AfxWinInit(int& argc, char** argv) {
    // Qt's own dialogs only, never the desktop's (GTK's through Qt's platform
    // theme): see AfxRunPlatformFileChooser. Set before any dialog is made,
    // since Qt readies the desktop's chooser as soon as a QFileDialog is
    // constructed, and GTK's makes its folders under the home folder then.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    // Before any library of Qt's or GTK's looks for a session bus.
    AfxDisplay asked = AfxChooseSessionBus();
    QtMessageHandler previous = qInstallMessageHandler(StartupMessages);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    asked.reset();
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
    int status = 0;
    CWinApp* app =
        AfxStartFromCommandLine(std::vector<std::string>(argv + 1, argv + argc), &status);
    if (app == nullptr) {
        return status;
    }
    if (!HasDisplay()) {
        PrintLine(stderr, &AFX_PLATFORM_TEXTS::noDisplay);
        return 1;
    }
    // The command line is the window's alone, read above: Qt is given none of
    // it, lest it take a file named after one of its options for the option.
    int qtArgc = 1;
    std::unique_ptr<QApplication> qt = AfxWinInit(qtArgc, argv);
    return app->InitInstance() ? qt->exec() : 0;
}
