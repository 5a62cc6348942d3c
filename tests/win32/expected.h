// What the window is expected to show, taken from the program's own resource
// table and Encrypt command, so that the driver holds no copy of a text. This
// half includes the layer's headers; the driver includes <windows.h>; the
// two never meet in one translation unit. Texts are UTF-8.
#ifndef VELTRANE_TESTS_WIN32_EXPECTED_H
#define VELTRANE_TESTS_WIN32_EXPECTED_H

#include <string>
#include <utility>
#include <vector>

struct ExpectedTexts {
    std::string mainCaption;
    std::string aboutCaption;
    std::string aboutItem;  // the system menu's about item
    std::string helpTitle;
    std::string helpText;
    std::string version;
    std::string noPath, noPassword, noConfirm, passwordLength, confirmLength, mismatch, notDigits,
        inputMissing, cannotCreate;
};

ExpectedTexts LoadExpectedTexts();

// The container's path for a path typed in the field, and the status text
// after it was written.
std::string ExpectedContainerPath(const std::string& typedPath);
std::string ExpectedSuccess(const std::string& typedPath);

// The file chooser's first filter label, and whether the chooser is asked to
// hide the read-only box.
std::string ExpectedFirstFilterLabel();

// A control's rectangle in dialog units, from the main window's template.
struct ExpectedRect {
    int x, y, cx, cy;
};
ExpectedRect ExpectedUnitsOf(int id);
// Those of the main window's pictures, in template order.
std::vector<ExpectedRect> ExpectedPictureUnits();

// Where the window draws its icon while minimised, for a client area and an
// icon size.
std::pair<int, int> ExpectedIconOrigin(int clientWidth, int clientHeight, int cxIcon, int cyIcon);

#endif
