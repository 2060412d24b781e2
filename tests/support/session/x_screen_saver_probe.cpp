#include "support/session/x_screen_saver_probe.h"

// X11 last and alone: its macros clash with other headers.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace tavrolin::test {

struct XScreenSaverProbe::Connection {
    Display* display = nullptr;
    bool hasExtension = false;
    ~Connection() {
        if (display) {
            XCloseDisplay(display);
        }
    }
};

XScreenSaverProbe::XScreenSaverProbe() : connection_(std::make_unique<Connection>()) {
    connection_->display = XOpenDisplay(nullptr);
    int eventBase = 0;
    int errorBase = 0;
    connection_->hasExtension =
        connection_->display && XScreenSaverQueryExtension(connection_->display, &eventBase, &errorBase);
}

XScreenSaverProbe::~XScreenSaverProbe() = default;

bool XScreenSaverProbe::isValid() const {
    return connection_->display && connection_->hasExtension;
}

XScreenSaverProbe::State XScreenSaverProbe::state() {
    if (!isValid()) {
        return State::unknown;
    }
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    State result = State::unknown;
    if (info && XScreenSaverQueryInfo(connection_->display, DefaultRootWindow(connection_->display), info)) {
        switch (info->state) {
        case ScreenSaverOff:
            result = State::off;
            break;
        case ScreenSaverOn:
            result = State::on;
            break;
        case ScreenSaverDisabled:
            result = State::disabled;
            break;
        default:
            break;
        }
    }
    XFree(info);
    return result;
}

unsigned long XScreenSaverProbe::idleMilliseconds() {
    if (!isValid()) {
        return 0;
    }
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    unsigned long idle = 0;
    if (info && XScreenSaverQueryInfo(connection_->display, DefaultRootWindow(connection_->display), info)) {
        idle = info->idle;
    }
    XFree(info);
    return idle;
}

XScreenSaverProbe::Settings XScreenSaverProbe::settings() {
    Settings s;
    if (connection_->display) {
        XGetScreenSaver(connection_->display, &s.timeout, &s.interval, &s.preferBlanking, &s.allowExposures);
    }
    return s;
}

void XScreenSaverProbe::setSettings(const Settings& s) {
    if (connection_->display) {
        XSetScreenSaver(connection_->display, s.timeout, s.interval, s.preferBlanking, s.allowExposures);
        XSync(connection_->display, False);
    }
}

void XScreenSaverProbe::reset() {
    if (connection_->display) {
        XForceScreenSaver(connection_->display, ScreenSaverReset);
        XSync(connection_->display, False);
    }
}

}  // namespace tavrolin::test
