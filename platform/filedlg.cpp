// CFileDialog: the request it makes, and which chooser runs it.
#include "platform/afxdlgs.h"

namespace {

FileChooser& ReplacementChooser() {
    static FileChooser chooser;
    return chooser;
}

}  // namespace

FileChooser AfxSetFileChooser(FileChooser chooser) {
    FileChooser previous = std::move(ReplacementChooser());
    ReplacementChooser() = std::move(chooser);
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

CFileDialog::CFileDialog(BOOL /*bOpenFileDialog*/, const char* lpszDefExt, const char* lpszFileName,
                         DWORD dwFlags, const char* lpszFilter, CWnd* pParentWnd) {
    m_request.defaultExt = lpszDefExt ? lpszDefExt : "";
    m_request.fileName = lpszFileName ? lpszFileName : "";
    m_request.flags = dwFlags;
    m_request.filters = AfxParseFilter(lpszFilter);
    m_request.owner = pParentWnd;
}

INT_PTR CFileDialog::DoModal() {
    std::string path;
    const FileChooser& replacement = ReplacementChooser();
    const INT_PTR result =
        replacement ? replacement(m_request, &path) : AfxRunPlatformFileChooser(m_request, &path);
    if (result != IDOK || path.empty()) {
        return IDCANCEL;
    }
    m_pathName = path;
    return IDOK;
}
