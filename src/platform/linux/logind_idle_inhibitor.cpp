#include "platform/linux/logind_idle_inhibitor.h"

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

PowerAssertionCreation LogindIdleInhibitor::createAssertion(const QString& name) {
    QString reason;
    const auto connection = dbus::connect(busAddress_, connectionName_, &reason);
    if (!connection) {
        return {powerAssertionServiceUnavailable, 0, QStringLiteral("system bus not reachable: ") + reason};
    }
    if (!(connection->connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        return {powerAssertionServiceUnavailable, 0,
                QStringLiteral("the system bus connection cannot pass file descriptors")};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("idle") << QStringLiteral("Tavrolin") << name << QStringLiteral("block");
    const QDBusMessage reply = connection->call(call, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const int status = dbus::isServiceMissing(reply) ? powerAssertionServiceUnavailable : powerAssertionRequestFailed;
        return {status, 0, QStringLiteral("logind: ") + dbus::describeError(reply)};
    }
    const QVariant argument = reply.arguments().value(0);
    if (!argument.canConvert<QDBusUnixFileDescriptor>()) {
        return {powerAssertionInvalidReply, 0, QStringLiteral("logind answered without a file descriptor")};
    }
    QDBusUnixFileDescriptor descriptor = qvariant_cast<QDBusUnixFileDescriptor>(argument);
    if (!descriptor.isValid()) {
        return {powerAssertionInvalidReply, 0, QStringLiteral("logind answered with an invalid file descriptor")};
    }
    const auto id = static_cast<std::uint32_t>(descriptor.fileDescriptor());
    held_[id] = std::move(descriptor);
    return {powerAssertionSuccess, id, {}};
}

int LogindIdleInhibitor::releaseAssertion(std::uint32_t id) {
    const auto it = held_.find(id);
    if (it == held_.end()) {
        return powerAssertionUnknownId;
    }
    held_.erase(it);  // the last copy of the descriptor closes it
    return powerAssertionSuccess;
}

}  // namespace tavrolin
