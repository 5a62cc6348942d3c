// The device context of one paint on Qt.
#ifndef VELTRANE_PLATFORM_QT_PAINT_H
#define VELTRANE_PLATFORM_QT_PAINT_H

#include <QPainter>

#include "platform/qt/handles.h"

struct AfxPaintContext {
    explicit AfxPaintContext(QWidget* widget) : widget(widget), painter(widget) {}
    QWidget* widget;
    QPainter painter;
};

// WM_ICONERASEBKGND's default: fills the whole window with its background.
void AfxEraseIconBackground(HDC hDC);

#endif
