// The platform layer's Qt side: what its sources share, and what tests and
// tools that drive real windows need to reach the Qt widgets behind them.
// Never included by the program's own classes.
#ifndef VELTRANE_PLATFORM_QT_BRIDGE_H
#define VELTRANE_PLATFORM_QT_BRIDGE_H

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <memory>
#include <string>
#include <vector>

#include "platform/afxwin.h"

struct AfxIcon {
    QImage image;  // at the large icon size
};

struct AfxPaintContext {
    explicit AfxPaintContext(QWidget* widget) : widget(widget), painter(widget) {}
    QWidget* widget;
    QPainter painter;
};

struct AfxDropFiles {
    std::vector<std::string> paths;
};

// The name of the property that holds a control's id on its widget.
constexpr const char* kAfxCtrlIdProperty = "afxCtrlId";

// Dialog units to pixels of the dialog's font: 1.5 pixels a unit, halves
// rounded away from zero, as the platform maps dialog rectangles.
constexpr int AfxDialogUnitsToPixels(int units) {
    return (units * 3 + (units >= 0 ? 1 : -1)) / 2;
}

// Makes the Qt application for the window classes: Chinese translations of
// Qt's own texts, the template font's stand-in face, Chinese locale.
std::unique_ptr<QApplication> AfxWinInit(int& argc, char** argv);

// The window of the dialog running in front (the innermost DoModal), or null.
QWidget* AfxFrontWindow();

// The Qt window of a dialog. Keyboard and mouse reach the dialog's message
// map from here; AfxDialogWidget is what a CDialog's m_hWnd points to.
class AfxDialogWidget : public QDialog {
  public:
    AfxDialogWidget(CDialog* dialog, QWidget* owner);
    CDialog* dialog() const { return dialog_; }
    // The default painting of the paint being handled.
    void DefaultPaint();
    // The push button that Enter presses when the focus is on no button.
    void SetDefaultButtonId(int id) { defaultButtonId_ = id; }
    void EndModal(int result) { QDialog::done(result); }

    // What Qt itself asks of a dialog goes through the message map too.
    void accept() override;
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // The keys the dialog takes before its controls do; true if handled.
    bool DialogKey(QKeyEvent* event);

    CDialog* dialog_;
    QPaintEvent* currentPaint_ = nullptr;
    int defaultButtonId_ = IDOK;
};

// A static text control: left-aligned from the top, wrapping long text onto
// further lines, between words where it can and anywhere where it must.
class AfxStaticText : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

#endif
