// The platform's Open-file chooser on Qt.
#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include "platform/afxdlgs.h"
#include "platform/qt/dialog.h"

namespace {

// A pattern list "*.txt;*.csv" as Qt's "*.txt *.csv". "*.*" is every file
// on Windows; Qt's "*.*" would miss names without a dot.
QString QtPatterns(const std::string& patterns) {
    QStringList out;
    for (const QString& p : AfxQString(patterns).split(QLatin1Char(';'))) {
        const QString t = p.trimmed();
        if (!t.isEmpty()) {
            out << (t == QLatin1String("*.*") ? QStringLiteral("*") : t);
        }
    }
    return out.join(QLatin1Char(' '));
}

}  // namespace

INT_PTR AfxRunPlatformFileChooser(const FileChooserRequest& request, std::string* pathName) {
    // Qt's own chooser always (AfxWinInit asks Qt for no desktop dialogs):
    // the desktop's, GTK's through Qt's platform theme, cuts each filter's
    // label at its first bracket, opens with no title and with the first file
    // chosen, and records the chosen file among the user's recent files and
    // its own settings under the home folder, none of which can be asked of
    // it from here.
    // Qt's own keeps its state (folders visited, sizes) in QSettings
    // "QtProject", read when it is made and written when it ends: here that
    // is a private folder of this one chooser, gone with it, so that nothing
    // is kept from one chooser to the next nor saved for the user.
    QTemporaryDir state;
    if (!state.isValid()) {
        return IDCANCEL;
    }
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, state.path());
    }
    QFileDialog chooser(request.owner ? AfxWidget(request.owner->GetSafeHwnd()) : AfxFrontWindow());
    // Every chooser starts in the working folder.
    chooser.setDirectory(QDir::currentPath());
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(request.flags & OFN_FILEMUSTEXIST ? QFileDialog::ExistingFile
                                                          : QFileDialog::AnyFile);
    // Qt shows a filter's label followed by its patterns in brackets; the
    // labels here carry their own, so Qt's are hidden.
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const auto& [label, patterns] : request.filters) {
        filters << AfxQString(label) + QStringLiteral(" (") + QtPatterns(patterns) +
                       QLatin1Char(')');
    }
    if (!filters.isEmpty()) {
        chooser.setNameFilters(filters);
        chooser.selectNameFilter(filters.value(request.filterIndex - 1, filters.first()));
    }
    if (!request.defaultExt.empty()) {
        chooser.setDefaultSuffix(AfxQString(request.defaultExt));
    }
    if (!request.fileName.empty()) {
        chooser.selectFile(AfxQString(request.fileName));
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return IDCANCEL;
    }
    *pathName = AfxUtf8(QDir::toNativeSeparators(chooser.selectedFiles().first()));
    return IDOK;
}
