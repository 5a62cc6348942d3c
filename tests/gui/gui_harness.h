// Drives real dialogs on Qt's offscreen platform: one Qt application for the
// whole test program, modal runs with a script, and the widgets behind ids.
#ifndef VELTRANE_TESTS_GUI_GUI_HARNESS_H
#define VELTRANE_TESTS_GUI_GUI_HARNESS_H

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>

#include "platform/afxwin.h"

// DoModal's result when a script left its dialog running.
constexpr INT_PTR kLeftRunning = 4242;

// Runs dlg modally and calls script with its window once it is up and
// active. Returns what DoModal returned.
INT_PTR RunModal(CDialog& dlg, const std::function<void(QWidget* form)>& script);

// Calls action with the modal window or popup menu that opens next, from
// inside its own event loop; with null if none opened by the time the
// current loop runs again.
void WhenNextWindowOpens(const std::function<void(QWidget* window)>& action);

// Calls open, which should open a modal window or popup menu, then look with
// that window (null if none opened) from inside its event loop; a window
// look leaves open is closed with Escape.
void LookAtWindowOpenedBy(const std::function<void()>& open,
                          const std::function<void(QWidget* window)>& look);

// Calls open, which should open the system menu, and picks the item with the
// access key. Returns the menu's items as shown ("-" for a separator), or
// nothing if no menu opened. then, if given, is called with the window that
// the chosen item opens, as WhenNextWindowOpens does.
QStringList PickFromSystemMenu(const std::function<void()>& open, Qt::Key accessKey,
                               const std::function<void(QWidget* window)>& then = nullptr);

// The control with the id in a dialog's window (the first one for IDC_STATIC).
QWidget* Control(QWidget* form, int id);
// The control that has the keyboard focus in the window.
QWidget* Focused(QWidget* form);
int FocusedId(QWidget* form);

// Keys as the user presses them, to the control with the focus.
void Press(QWidget* form, int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
void Type(QWidget* form, const QString& text);

QString TextOf(QWidget* control);

#endif
