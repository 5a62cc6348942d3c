// The common Open-file chooser.
#ifndef VELTRANE_PLATFORM_AFXDLGS_H
#define VELTRANE_PLATFORM_AFXDLGS_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/afxwin.h"

constexpr DWORD OFN_HIDEREADONLY = 0x4;
constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

// What a chooser is asked to show.
struct FileChooserRequest {
    std::string defaultExt;
    std::string fileName;  // the initial file name
    DWORD flags = 0;
    // Label and pattern pairs; a pattern may hold several, split by ';'.
    std::vector<std::pair<std::string, std::string>> filters;
    int filterIndex = 1;  // the selected pair, counted from 1
    CWnd* owner = nullptr;
};

// Runs a chooser: IDOK with the full path of the chosen file, or IDCANCEL
// on cancel or failure.
using FileChooser = std::function<INT_PTR(const FileChooserRequest&, std::string* pathName)>;

// Replaces the chooser every CFileDialog runs (tests put a fake one here);
// an empty function restores the platform's own. Returns the one before.
FileChooser AfxSetFileChooser(FileChooser chooser);

// The platform's own chooser, modal over the request's owner, else over the
// dialog running in front. Each toolkit side of the layer supplies it.
INT_PTR AfxRunPlatformFileChooser(const FileChooserRequest& request, std::string* pathName);

// Splits "label|pattern|label|pattern||" into pairs; the first empty label
// ends the list.
std::vector<std::pair<std::string, std::string>> AfxParseFilter(const char* filter);

class CFileDialog {
  public:
    // An Open chooser; bOpenFileDialog is there for the framework's
    // signature and must be TRUE, as this layer has no Save chooser.
    CFileDialog(BOOL bOpenFileDialog, const char* lpszDefExt = nullptr,
                const char* lpszFileName = nullptr, DWORD dwFlags = OFN_HIDEREADONLY,
                const char* lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;

    // Shows the chooser modally over its owner (the parent given, else the
    // dialog running in front); IDOK or IDCANCEL.
    virtual INT_PTR DoModal();
    // The full path of the chosen file after IDOK.
    std::string GetPathName() const { return m_pathName; }

  private:
    FileChooserRequest m_request;
    std::string m_pathName;
};

#endif
