// Which session bus the window's libraries use, chosen before Qt starts.
//
// Without DBUS_SESSION_BUS_ADDRESS and without a user bus in
// XDG_RUNTIME_DIR, libdbus (Qt's accessibility bridge, QtDBus, GTK's
// accessibility bridge) and GLib's GDBus (GTK, dconf) fall back to the
// address "autolaunch:": on X11 they run dbus-launch, which finds the bus
// that an earlier autolaunch left on this display or else starts a
// dbus-daemon of its own, writes ~/.dbus/session-bus/ and stays behind the
// window with it. Any other address stops them from launching anything
// (dbus-launch(1), AUTOMATIC LAUNCHING); so the layer names the bus
// dbus-launch would have found, or an address that reaches none.
#include "platform/qt/session_bus.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

// An address of a transport neither library has: connecting fails at once,
// and nothing is launched.
const char kNoBus[] = "disabled:";

// The machine's id as libdbus reads it, which names an autolaunched bus.
std::string MachineId() {
    for (const char* file : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        std::ifstream in(file);
        std::string id;
        if (in >> id) {
            return id;
        }
    }
    return {};
}

// The user bus that both libraries take from XDG_RUNTIME_DIR when the
// variable is unset: a socket of this user's named "bus".
bool HasUserBus() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    return runtime != nullptr && *runtime != '\0' &&
           lstat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
           st.st_uid == getuid();
}

// xcb's replies are the caller's to free.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <class Reply>
using XcbReply = std::unique_ptr<Reply, FreeReply>;

xcb_atom_t ExistingAtom(xcb_connection_t* x, const std::string& name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 1, uint16_t(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The address of the bus that dbus-launch autolaunched for this user on the
// X display x, as dbus-launch publishes it: a string property of the window
// that owns the selection named after the user and the machine. Empty when
// there is none. Asks only: it creates no atom on the server.
std::string AutolaunchedBusOn(xcb_connection_t* x) {
    const passwd* user = getpwuid(getuid());
    const std::string machine = MachineId();
    if (user == nullptr || machine.empty()) {
        return {};
    }
    const xcb_atom_t selection = ExistingAtom(
        x, "_DBUS_SESSION_BUS_SELECTION_" + std::string(user->pw_name) + "_" + machine);
    const xcb_atom_t property = ExistingAtom(x, "_DBUS_SESSION_BUS_ADDRESS");
    if (selection == XCB_ATOM_NONE || property == XCB_ATOM_NONE) {
        return {};
    }
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(x, xcb_get_selection_owner(x, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE) {
        return {};
    }
    const XcbReply<xcb_get_property_reply_t> value(xcb_get_property_reply(
        x, xcb_get_property(x, 0, owner->owner, property, XCB_ATOM_STRING, 0, 1024), nullptr));
    if (!value || value->format != 8 || value->bytes_after != 0) {
        return {};
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(value.get())),
                       size_t(xcb_get_property_value_length(value.get())));
}

}  // namespace

void AfxDisplayClose::operator()(xcb_connection_t* x) const {
    xcb_disconnect(x);
}

AfxDisplay AfxChooseSessionBus() {
    const char* set = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if ((set != nullptr && *set != '\0') || HasUserBus()) {
        return nullptr;
    }
    AfxDisplay x(xcb_connect(nullptr, nullptr));
    const std::string found =
        xcb_connection_has_error(x.get()) ? std::string() : AutolaunchedBusOn(x.get());
    setenv("DBUS_SESSION_BUS_ADDRESS", found.empty() ? kNoBus : found.c_str(), 1);
    return x;
}
