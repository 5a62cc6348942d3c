// What the layer's handles are on Qt: a window is a QWidget, an icon an
// image at the large icon size, a drop a list of paths. Every Qt source of
// the layer starts from here.
#ifndef VELTRANE_PLATFORM_QT_HANDLES_H
#define VELTRANE_PLATFORM_QT_HANDLES_H

#include <QImage>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/afxwin.h"

// HWND and the widget it stands for; HWND is opaque outside the Qt side.
inline QWidget* AfxWidget(HWND hWnd) {
    return static_cast<QWidget*>(static_cast<void*>(hWnd));
}
inline HWND AfxHwnd(QWidget* widget) {
    return static_cast<HWND>(static_cast<void*>(widget));
}

struct AfxIcon {
    QImage image;  // at the large icon size
};

struct AfxDropFiles {
    std::vector<std::string> paths;
};

// The name of the property that holds a control's id on its widget.
constexpr const char* kAfxCtrlIdProperty = "afxCtrlId";

// The layer's texts are UTF-8 byte strings.
inline QString AfxQString(const std::string& text) {
    return QString::fromUtf8(text.data(), int(text.size()));
}
inline std::string AfxUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

#endif
