// The session bus the window's libraries may use.
#ifndef VELTRANE_PLATFORM_QT_SESSION_BUS_H
#define VELTRANE_PLATFORM_QT_SESSION_BUS_H

#include <memory>

struct xcb_connection_t;
struct AfxDisplayClose {
    void operator()(xcb_connection_t* x) const;
};
using AfxDisplay = std::unique_ptr<xcb_connection_t, AfxDisplayClose>;

// Called before Qt starts. Leaves a session bus the environment names, or
// the user bus in XDG_RUNTIME_DIR, as it is: the window is accessible on it.
// Otherwise sets DBUS_SESSION_BUS_ADDRESS to the bus that dbus-launch
// autolaunched on the X display, if any, or else to an address that reaches
// no bus, so that no library autolaunches one that outlives the window.
// Returns the connection it asked the display on, to be closed only once Qt
// has its own: an X server that its last client leaves resets itself, and
// turns away whoever connects meanwhile.
AfxDisplay AfxChooseSessionBus();

#endif
