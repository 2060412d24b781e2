#include "platform/desktop_backend.h"
#include "platform/keyboard_grabbing.h"

#include <QGuiApplication>
#include <QTimer>

#include <cstdlib>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

// Grabs of this process that hold the keyboard now.
int activeGrabs = 0;

class X11KeyboardGrab final : public KeyboardGrabbing {
public:
    X11KeyboardGrab() {
        auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        connection_ = app ? app->connection() : nullptr;
        retry_.setInterval(10);
        QObject::connect(&retry_, &QTimer::timeout, [this] { attempt(); });
    }
    ~X11KeyboardGrab() override { release(); }

    bool grab(quint64 window) override {
        if (!connection_ || window == 0) {
            return false;
        }
        window_ = static_cast<xcb_window_t>(window);
        attempts_ = 0;
        setGrabbed(false);
        attempt();
        return true;
    }

    void release() override {
        retry_.stop();
        if (connection_ && grabbed_) {
            xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
            xcb_flush(connection_);
        }
        setGrabbed(false);
        window_ = 0;
    }

    bool isGrabbing() const override { return grabbed_; }

private:
    void setGrabbed(bool grabbed) {
        if (grabbed != grabbed_) {
            activeGrabs += grabbed ? 1 : -1;
        }
        grabbed_ = grabbed;
    }

    void attempt() {
        if (window_ == 0) {
            retry_.stop();
            return;
        }
        // The server answers a grab itself, without asking another client, so waiting here is short.
        xcb_grab_keyboard_reply_t* reply = xcb_grab_keyboard_reply(
            connection_,
            xcb_grab_keyboard(connection_, 0, window_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        const int status = reply ? reply->status : -1;
        std::free(reply);
        if (status == XCB_GRAB_STATUS_SUCCESS) {
            setGrabbed(true);
            retry_.stop();
            return;
        }
        // A window the window manager has not mapped yet, or a grab another client still holds
        // (a menu closing): try again for up to a second.
        if (++attempts_ < 100) {
            if (!retry_.isActive()) {
                retry_.start();
            }
        } else {
            retry_.stop();
        }
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    bool grabbed_ = false;
    int attempts_ = 0;
    QTimer retry_;
};

}  // namespace

std::unique_ptr<KeyboardGrabbing> makeSystemKeyboardGrab() {
    return std::make_unique<X11KeyboardGrab>();
}

bool anyOwnKeyboardGrabActive() {
    return activeGrabs > 0;
}

}  // namespace tavrolin
