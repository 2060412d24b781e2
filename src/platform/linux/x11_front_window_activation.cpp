#include "platform/desktop_backend.h"
#include "platform/front_window_activation.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

class X11FrontWindowActivation final : public FrontWindowActivating {
public:
    X11FrontWindowActivation() {
        int screenNumber = 0;
        connection_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection_)) {
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber && it.rem > 1; ++i) {
            xcb_screen_next(&it);
        }
        root_ = it.rem > 0 ? it.data->root : 0;
        activeWindowAtom_ = atom("_NET_ACTIVE_WINDOW");
        supportingCheckAtom_ = atom("_NET_SUPPORTING_WM_CHECK");
    }
    ~X11FrontWindowActivation() override {
        if (connection_) {
            xcb_disconnect(connection_);
        }
    }

    std::optional<quint32> activeWindow() override {
        std::lock_guard lock(mutex_);
        if (!usable()) {
            return std::nullopt;
        }
        // A value left by a window manager that has gone is stale: trust it only while one runs.
        const auto check = windowProperty(root_, supportingCheckAtom_);
        if (!check || *check == 0 || windowProperty(*check, supportingCheckAtom_) != check) {
            return std::nullopt;
        }
        const auto active = windowProperty(root_, activeWindowAtom_);
        if (!active || *active == 0) {
            return std::nullopt;
        }
        return active;
    }

    bool activate(quint32 window) override {
        std::lock_guard lock(mutex_);
        if (!usable() || window == 0) {
            return false;
        }
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = activeWindowAtom_;
        event.data.data32[0] = 2;  // source: a pager, which window managers obey without focus-stealing checks
        event.data.data32[1] = XCB_CURRENT_TIME;
        const auto cookie = xcb_send_event_checked(
            connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char*>(&event));
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        const bool sent = error == nullptr;
        std::free(error);
        return sent;
    }

private:
    bool usable() const {
        return connection_ && !xcb_connection_has_error(connection_) && root_ != 0 && activeWindowAtom_;
    }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, quint16(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }

    std::optional<quint32> windowProperty(xcb_window_t window, xcb_atom_t property) {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr);
        std::optional<quint32> value;
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4) {
            value = *static_cast<quint32*>(xcb_get_property_value(reply));
        }
        std::free(reply);
        return value;
    }

    std::mutex mutex_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t activeWindowAtom_ = XCB_ATOM_NONE;
    xcb_atom_t supportingCheckAtom_ = XCB_ATOM_NONE;
};

}  // namespace

std::shared_ptr<FrontWindowActivating> makeSystemFrontWindowActivation() {
    return std::make_shared<X11FrontWindowActivation>();
}

}  // namespace tavrolin
