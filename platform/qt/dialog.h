// The Qt window behind a CDialog, and the dialogs running modally.
#ifndef VELTRANE_PLATFORM_QT_DIALOG_H
#define VELTRANE_PLATFORM_QT_DIALOG_H

#include <QDialog>

#include "platform/qt/handles.h"

// Dialog units to pixels of the dialog's font: 1.5 pixels a unit, halves
// rounded away from zero, as the platform maps dialog rectangles.
constexpr int AfxDialogUnitsToPixels(int units) {
    return (units * 3 + (units >= 0 ? 1 : -1)) / 2;
}

// The window of the dialog running in front (the innermost DoModal), or null.
QWidget* AfxFrontWindow();

// The Qt window of a dialog. Keyboard and mouse reach the dialog's message
// map from here; a CDialog's m_hWnd is one of these.
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
    // Opens the system menu at the window's top-left corner, as the keyboard
    // does.
    void SystemMenuFromKeyboard();

    CDialog* dialog_;
    QPaintEvent* currentPaint_ = nullptr;
    int defaultButtonId_ = IDOK;
};

#endif
