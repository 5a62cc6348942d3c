// The platform's Open-file chooser on Qt.
#include <QDir>
#include <QFileDialog>
#include <QStringList>

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
    QFileDialog chooser(request.owner ? AfxWidget(request.owner->GetSafeHwnd()) : AfxFrontWindow());
    // The desktop's own chooser where Qt's platform theme offers one (GTK's,
    // KDE's, or the desktop portal's inside a sandbox); Qt's own, translated
    // by the program's Qt catalogue, where there is none.
    // Every chooser starts in the working folder, not where the last one
    // ended: Qt's own remembers that folder, even from one run to the next.
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
