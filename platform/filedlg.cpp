#include <QDir>
#include <QFileDialog>
#include <QStringList>

#include "platform/afxdlgs.h"
#include "platform/qt_bridge.h"

namespace {

FileChooser& CurrentChooser() {
    static FileChooser chooser;
    return chooser;
}

// A pattern list "*.txt;*.csv" as Qt's "*.txt *.csv". "*.*" is every file
// on Windows; Qt's "*.*" would miss names without a dot.
QString QtPatterns(const std::string& patterns) {
    QStringList out;
    for (const QString& p : QString::fromUtf8(patterns.c_str()).split(QLatin1Char(';'))) {
        const QString t = p.trimmed();
        if (!t.isEmpty()) {
            out << (t == QLatin1String("*.*") ? QStringLiteral("*") : t);
        }
    }
    return out.join(QLatin1Char(' '));
}

INT_PTR QtChooser(const FileChooserRequest& request, std::string* pathName) {
    QFileDialog chooser(request.owner ? request.owner->GetSafeHwnd() : AfxFrontWindow());
    // Qt's own chooser, so that its texts are the translated ones everywhere.
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(request.openFileDialog ? QFileDialog::AcceptOpen
                                                 : QFileDialog::AcceptSave);
    chooser.setFileMode(request.flags & OFN_FILEMUSTEXIST ? QFileDialog::ExistingFile
                                                          : QFileDialog::AnyFile);
    // Qt shows a filter's label followed by its patterns in brackets; the
    // labels here carry their own, so Qt's are hidden.
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const auto& [label, patterns] : request.filters) {
        filters << QString::fromUtf8(label.c_str()) + QStringLiteral(" (") + QtPatterns(patterns) +
                       QLatin1Char(')');
    }
    if (!filters.isEmpty()) {
        chooser.setNameFilters(filters);
        chooser.selectNameFilter(filters.value(request.filterIndex - 1, filters.first()));
    }
    if (!request.defaultExt.empty()) {
        chooser.setDefaultSuffix(QString::fromUtf8(request.defaultExt.c_str()));
    }
    if (!request.fileName.empty()) {
        chooser.selectFile(QString::fromUtf8(request.fileName.c_str()));
    }
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return IDCANCEL;
    }
    *pathName = QDir::toNativeSeparators(chooser.selectedFiles().first()).toUtf8().toStdString();
    return IDOK;
}

}  // namespace

FileChooser AfxSetFileChooser(FileChooser chooser) {
    FileChooser previous = std::move(CurrentChooser());
    CurrentChooser() = std::move(chooser);
    return previous;
}

std::vector<std::pair<std::string, std::string>> AfxParseFilter(const char* filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (filter == nullptr) {
        return pairs;
    }
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = filter; *p; ++p) {
        if (*p == '|') {
            parts.push_back(part);
            part.clear();
        } else {
            part += *p;
        }
    }
    parts.push_back(part);
    for (size_t i = 0; i + 1 < parts.size() && !parts[i].empty(); i += 2) {
        pairs.emplace_back(parts[i], parts[i + 1]);
    }
    return pairs;
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt, const char* lpszFileName,
                         DWORD dwFlags, const char* lpszFilter, CWnd* pParentWnd) {
    m_request.openFileDialog = bOpenFileDialog;
    m_request.defaultExt = lpszDefExt ? lpszDefExt : "";
    m_request.fileName = lpszFileName ? lpszFileName : "";
    m_request.flags = dwFlags;
    m_request.filters = AfxParseFilter(lpszFilter);
    m_request.owner = pParentWnd;
}

INT_PTR CFileDialog::DoModal() {
    std::string path;
    const FileChooser& chooser = CurrentChooser();
    const INT_PTR result = chooser ? chooser(m_request, &path) : QtChooser(m_request, &path);
    if (result != IDOK || path.empty()) {
        return IDCANCEL;
    }
    m_pathName = path;
    return IDOK;
}
