#include "platform/linux/x11_overlay_window.h"

#include "platform/desktop_backend.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

}  // namespace

void markAsOverlayWindow(quint64 window) {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = app ? app->connection() : nullptr;
    if (!connection || window == 0) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window);
    // Before mapping, the window manager reads these properties as the initial state; Qt adds its
    // own states to the list when it maps the window and keeps ours.
    std::vector<xcb_atom_t> states;
    for (const char* name :
         {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE"}) {
        if (const xcb_atom_t atom = internAtom(connection, name); atom != XCB_ATOM_NONE) {
            states.push_back(atom);
        }
    }
    const xcb_atom_t stateAtom = internAtom(connection, "_NET_WM_STATE");
    if (stateAtom != XCB_ATOM_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, stateAtom, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(states.size()), states.data());
    }
    const xcb_atom_t desktopAtom = internAtom(connection, "_NET_WM_DESKTOP");
    if (desktopAtom != XCB_ATOM_NONE) {
        const uint32_t allDesktops = 0xFFFFFFFF;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktopAtom, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    }
    xcb_flush(connection);
}

}  // namespace tavrolin::x11

namespace tavrolin::x11 {

void syncQtConnection() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = app ? app->connection() : nullptr;
    if (!connection) {
        return;
    }
    // The server answers this itself, after every earlier request of the connection.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

}  // namespace tavrolin::x11

namespace tavrolin::x11 {

bool compositingManagerRunning() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = app ? app->connection() : nullptr;
    Display* display = app ? app->display() : nullptr;
    if (!connection || !display) {
        return false;
    }
    // A compositing manager owns the selection _NET_WM_CM_S<screen> for as long as it runs.
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    const xcb_atom_t selection = internAtom(connection, name.c_str());
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

}  // namespace tavrolin::x11

namespace tavrolin {

void markAsOverlayWindow(quint64 window) {
    x11::markAsOverlayWindow(window);
}

namespace {

class X11CompositingManagerDetector final : public CompositingManagerDetecting {
public:
    bool isCompositingManagerRunning() override { return x11::compositingManagerRunning(); }
};

}  // namespace

std::shared_ptr<CompositingManagerDetecting> systemCompositingManagerDetector() {
    static const auto detector = std::make_shared<X11CompositingManagerDetector>();
    return detector;
}

void syncWithDisplayServer() {
    x11::syncQtConnection();
}

}  // namespace tavrolin
