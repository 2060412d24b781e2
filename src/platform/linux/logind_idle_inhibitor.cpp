#include "platform/linux/logind_idle_inhibitor.h"

#include "platform/desktop_backend.h"
#include "platform/linux/dbus_bus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

namespace tavrolin {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

LogindIdleInhibitor::LogindIdleInhibitor(QString systemBusAddress)
    : busAddress_(systemBusAddress.isEmpty() ? defaultSystemBusAddress() : std::move(systemBusAddress)),
      connectionName_(dbus::uniqueConnectionName(QStringLiteral("logind-inhibitor"))) {}

LogindIdleInhibitor::~LogindIdleInhibitor() {
    held_.clear();  // closes every descriptor, which ends the locks
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString LogindIdleInhibitor::defaultSystemBusAddress() {
    const QString fromEnvironment = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return fromEnvironment.isEmpty() ? QStringLiteral("unix:path=/var/run/dbus/system_bus_socket") : fromEnvironment;
}

QCoro::Task<PowerAssertionCreation> LogindIdleInhibitor::createAssertion(QString name) {
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        co_return PowerAssertionCreation{powerAssertionServiceUnavailable, 0,
                                         QStringLiteral("system bus not reachable: ") + reason};
    }
    if (!(connection->connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        co_return PowerAssertionCreation{powerAssertionServiceUnavailable, 0,
                                         QStringLiteral("the system bus connection cannot pass file descriptors")};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Tavrolin") << name << QStringLiteral("block");
    const QDBusMessage reply = co_await dbus::callAsync(*connection, call, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const int status =
            dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
        co_return PowerAssertionCreation{status, 0, QStringLiteral("logind: ") + dbus::describeError(reply)};
    }
    const QVariant argument = reply.arguments().value(0);
    if (!argument.canConvert<QDBusUnixFileDescriptor>()) {
        co_return PowerAssertionCreation{powerAssertionInvalidReply, 0,
                                         QStringLiteral("logind answered without a file descriptor")};
    }
    QDBusUnixFileDescriptor descriptor = qvariant_cast<QDBusUnixFileDescriptor>(argument);
    if (!descriptor.isValid()) {
        co_return PowerAssertionCreation{powerAssertionInvalidReply, 0,
                                         QStringLiteral("logind answered with an invalid file descriptor")};
    }
    const auto id = static_cast<std::uint32_t>(descriptor.fileDescriptor());
    held_[id] = std::move(descriptor);
    co_return PowerAssertionCreation{powerAssertionSuccess, id, {}};
}

QCoro::Task<int> LogindIdleInhibitor::releaseAssertion(std::uint32_t id) {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        co_return powerAssertionUnknownId;
    }
    held_.erase(it);  // the last copy of the descriptor closes it
    co_return powerAssertionSuccess;
}

std::shared_ptr<PowerAssertionProviding> makeSystemSleepAssertions() {
    return std::make_shared<LogindIdleInhibitor>();
}

}  // namespace tavrolin
