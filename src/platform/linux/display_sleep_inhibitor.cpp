#include "platform/linux/display_sleep_inhibitor.h"

#include "platform/desktop_backend.h"
#include "platform/linux/dbus_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
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

// A question to the bus daemon itself.
QDBusMessage busCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    return call;
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
    // Nothing is awaited here: the service drops the cookies of a connection that closes, and
    // closing the X connection resumes its screen saver. The UnInhibit calls only say so early.
    QDBusConnection connection(connectionName_);
    for (const auto& [id, mechanism] : held_) {
        if (mechanism == Mechanism::screenSaverService && connection.isConnected()) {
            QDBusMessage call =
                QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
            call << id;
            connection.send(call);
        }
    }
    held_.clear();
    x_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
}

QCoro::Task<PowerAssertionCreation> DisplaySleepInhibitor::createAssertion(QString name) {
    ServiceInhibition viaService = co_await inhibitThroughService(name);
    if (viaService.creation.status == powerAssertionSuccess) {
        held_[viaService.creation.id] = Mechanism::screenSaverService;
        co_return viaService.creation;
    }
    PowerAssertionCreation viaX = suspendXScreenSaver();
    if (viaX.status == powerAssertionSuccess) {
        held_[viaX.id] = Mechanism::xScreenSaverSuspend;
        co_return viaX;
    }
    // Report the service's failure when it exists (the X fallback was only a second try).
    if (viaService.serviceExists) {
        viaService.creation.failureReason += QStringLiteral("; ") + viaX.failureReason;
        co_return viaService.creation;
    }
    co_return viaX;
}

QCoro::Task<int> DisplaySleepInhibitor::releaseAssertion(std::uint32_t id) {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        co_return powerAssertionUnknownId;
    }
    const Mechanism mechanism = it->second;
    held_.erase(it);
    if (mechanism == Mechanism::screenSaverService) {
        co_return co_await uninhibitThroughService(id);
    }
    co_return resumeXScreenSaver();
}

std::optional<DisplaySleepInhibitor::Mechanism> DisplaySleepInhibitor::mechanismOf(std::uint32_t id) const {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        return std::nullopt;
    }
    return it->second;
}

DisplaySleepInhibitor::ServiceInhibition DisplaySleepInhibitor::unavailableService(QString reason) {
    return ServiceInhibition{{powerAssertionServiceUnavailable, 0, std::move(reason)}, false};
}

QCoro::Task<DisplaySleepInhibitor::ServiceInhibition> DisplaySleepInhibitor::inhibitThroughService(QString name) {
    if (busAddress_.isEmpty()) {
        co_return unavailableService(QStringLiteral("no session bus"));
    }
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        co_return unavailableService(QStringLiteral("session bus not reachable: ") + reason);
    }
    // Running, or startable by the bus: both asked of the bus itself, which may be slow too.
    const QDBusMessage ownerQuestion = busCall(QStringLiteral("NameHasOwner"), QVariantList{kService});
    const QDBusMessage owner = co_await dbus::callAsync(*connection, ownerQuestion, callTimeoutMilliseconds);
    bool present = owner.type() == QDBusMessage::ReplyMessage && owner.arguments().value(0).toBool();
    if (!present) {
        const QDBusMessage startableQuestion = busCall(QStringLiteral("ListActivatableNames"), QVariantList());
        const QDBusMessage startable =
            co_await dbus::callAsync(*connection, startableQuestion, callTimeoutMilliseconds);
        present = startable.type() == QDBusMessage::ReplyMessage &&
                  startable.arguments().value(0).toStringList().contains(kService);
    }
    if (!present) {
        co_return unavailableService(QStringLiteral("no screen saver service on the session bus"));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("Tavrolin") << name;
    const QDBusMessage reply = co_await dbus::callAsync(*connection, call, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const int status =
            dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
        ServiceInhibition failed;
        failed.creation = {status, 0, QStringLiteral("screen saver service: ") + dbus::describeError(reply)};
        failed.serviceExists = true;
        co_return failed;
    }
    const QVariant cookie = reply.arguments().value(0);
    if (cookie.typeId() != QMetaType::UInt) {
        ServiceInhibition invalid;
        invalid.creation = {powerAssertionInvalidReply, 0,
                            QStringLiteral("screen saver service answered without a cookie")};
        invalid.serviceExists = true;
        co_return invalid;
    }
    ServiceInhibition inhibited;
    inhibited.creation = {powerAssertionSuccess, cookie.toUInt(), {}};
    inhibited.serviceExists = true;
    co_return inhibited;
}

QCoro::Task<int> DisplaySleepInhibitor::uninhibitThroughService(std::uint32_t cookie) {
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        // The connection the cookie belonged to is gone, and the service dropped it with it.
        co_return powerAssertionServiceUnavailable;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("UnInhibit"));
    call << cookie;
    const QDBusMessage reply = co_await dbus::callAsync(*connection, call, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        co_return dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
    }
    co_return powerAssertionSuccess;
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

std::shared_ptr<PowerAssertionProviding> makeDisplaySleepAssertions() {
    return std::make_shared<DisplaySleepInhibitor>();
}

}  // namespace tavrolin
