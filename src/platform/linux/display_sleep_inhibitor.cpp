#include "platform/linux/display_sleep_inhibitor.h"

#include "platform/linux/dbus_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QStringList>
#include <QVariant>

// X11 last: its macros clash with Qt's headers.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace tavrolin {

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

// Protocol errors of our own requests must not end the process (Xlib's default handler exits).
int lastXError = 0;
int recordXError(Display*, XErrorEvent* event) {
    lastXError = event->error_code;
    return 0;
}

// Runs the requests, waits for the server to have handled them and answers whether none of
// them failed.
template <typename Requests>
bool withXErrorsTrapped(Display* display, Requests&& requests) {
    lastXError = 0;
    auto* previous = XSetErrorHandler(recordXError);
    requests();
    XSync(display, False);
    XSetErrorHandler(previous);
    return lastXError == 0;
}

}  // namespace

struct DisplaySleepInhibitor::XSuspension {
    Display* display = nullptr;
    int depth = 0;  // suspensions held on this connection; the server counts them per client

    ~XSuspension() {
        if (display) {
            XCloseDisplay(display);  // the server resumes whatever this connection suspended
        }
    }
};

DisplaySleepInhibitor::DisplaySleepInhibitor(QString sessionBusAddress)
    : busAddress_(sessionBusAddress.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")
                                              : std::move(sessionBusAddress)),
      connectionName_(dbus::uniqueConnectionName(QStringLiteral("screensaver-inhibitor"))) {}

DisplaySleepInhibitor::~DisplaySleepInhibitor() {
    for (const auto& [id, mechanism] : std::map(held_)) {
        releaseAssertion(id);
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

PowerAssertionCreation DisplaySleepInhibitor::createAssertion(const QString& name) {
    bool serviceExists = false;
    PowerAssertionCreation viaService = inhibitThroughService(name, &serviceExists);
    if (viaService.status == powerAssertionSuccess) {
        held_[viaService.id] = Mechanism::screenSaverService;
        return viaService;
    }
    PowerAssertionCreation viaX = suspendXScreenSaver();
    if (viaX.status == powerAssertionSuccess) {
        held_[viaX.id] = Mechanism::xScreenSaverSuspend;
        return viaX;
    }
    // Report the service's failure when it exists (the X fallback was only a second try).
    if (serviceExists) {
        viaService.failureReason += QStringLiteral("; ") + viaX.failureReason;
        return viaService;
    }
    return viaX;
}

int DisplaySleepInhibitor::releaseAssertion(std::uint32_t id) {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        return powerAssertionUnknownId;
    }
    const Mechanism mechanism = it->second;
    held_.erase(it);
    return mechanism == Mechanism::screenSaverService ? uninhibitThroughService(id) : resumeXScreenSaver();
}

std::optional<DisplaySleepInhibitor::Mechanism> DisplaySleepInhibitor::mechanismOf(std::uint32_t id) const {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        return std::nullopt;
    }
    return it->second;
}

PowerAssertionCreation DisplaySleepInhibitor::inhibitThroughService(const QString& name, bool* serviceExists) {
    *serviceExists = false;
    if (busAddress_.isEmpty()) {
        return {powerAssertionServiceUnavailable, 0, QStringLiteral("no session bus")};
    }
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        return {powerAssertionServiceUnavailable, 0, QStringLiteral("session bus not reachable: ") + reason};
    }
    QDBusConnectionInterface* bus = connection->interface();
    const bool running = bus && bus->isServiceRegistered(kService).value();
    const bool activatable = bus && !running && bus->activatableServiceNames().value().contains(kService);
    if (!running && !activatable) {
        return {powerAssertionServiceUnavailable, 0, QStringLiteral("no screen saver service on the session bus")};
    }
    *serviceExists = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("Tavrolin") << name;
    const QDBusMessage reply = connection->call(call, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const int status = dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
        return {status, 0, QStringLiteral("screen saver service: ") + dbus::describeError(reply)};
    }
    const QVariant cookie = reply.arguments().value(0);
    if (cookie.typeId() != QMetaType::UInt) {
        return {powerAssertionInvalidReply, 0, QStringLiteral("screen saver service answered without a cookie")};
    }
    return {powerAssertionSuccess, cookie.toUInt(), {}};
}

int DisplaySleepInhibitor::uninhibitThroughService(std::uint32_t cookie) {
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        // The connection the cookie belonged to is gone, and the service dropped it with it.
        return powerAssertionServiceUnavailable;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << cookie;
    const QDBusMessage reply = connection->call(call, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
    }
    return powerAssertionSuccess;
}

PowerAssertionCreation DisplaySleepInhibitor::suspendXScreenSaver() {
    if (!x_) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) {
            return {powerAssertionServiceUnavailable, 0, QStringLiteral("cannot open the X display")};
        }
        int eventBase = 0;
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        // Suspending needs version 1.1 of the extension.
        if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase) ||
            !XScreenSaverQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 1)) {
            XCloseDisplay(display);
            return {powerAssertionServiceUnavailable, 0,
                    QStringLiteral("the X server cannot suspend its screen saver (no MIT-SCREEN-SAVER 1.1)")};
        }
        x_ = std::make_unique<XSuspension>();
        x_->display = display;
    }
    if (!withXErrorsTrapped(x_->display, [this] { XScreenSaverSuspend(x_->display, True); })) {
        const int code = lastXError;
        if (x_->depth == 0) {
            x_.reset();
        }
        return {powerAssertionRequestFailed, 0, QStringLiteral("XScreenSaverSuspend failed with X error %1").arg(code)};
    }
    ++x_->depth;
    if (++xCounter_ == 0) {
        ++xCounter_;
    }
    return {powerAssertionSuccess, xCounter_, {}};
}

int DisplaySleepInhibitor::resumeXScreenSaver() {
    if (!x_) {
        return powerAssertionUnknownId;
    }
    const bool resumed = withXErrorsTrapped(x_->display, [this] { XScreenSaverSuspend(x_->display, False); });
    if (--x_->depth <= 0) {
        x_.reset();  // closing the connection resumes in any case
        return powerAssertionSuccess;
    }
    return resumed ? powerAssertionSuccess : powerAssertionRequestFailed;
}

}  // namespace tavrolin
