#include "platform/linux/dbus_accessibility_bus_status.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace tavrolin {

namespace {

const QString busService = QStringLiteral("org.a11y.Bus");
const QString busPath = QStringLiteral("/org/a11y/bus");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString enabledProperty = QStringLiteral("IsEnabled");

}  // namespace

DBusAccessibilityBusStatus::DBusAccessibilityBusStatus(int timeoutMs) : timeoutMs_(timeoutMs) {}

DBusAccessibilityBusStatus::DBusAccessibilityBusStatus(QDBusConnection connection, int timeoutMs)
    : timeoutMs_(timeoutMs), connection_(std::move(connection)) {}

QDBusConnection DBusAccessibilityBusStatus::bus() const {
    return connection_ ? *connection_ : QDBusConnection::sessionBus();
}

std::optional<bool> DBusAccessibilityBusStatus::isEnabled() {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface, QStringLiteral("Get"));
    call << statusInterface << enabledProperty;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool) {
        return std::nullopt;
    }
    return value.toBool();
}

bool DBusAccessibilityBusStatus::setEnabled(bool enabled) {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface, QStringLiteral("Set"));
    call << statusInterface << enabledProperty << QVariant::fromValue(QDBusVariant(enabled));
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return false;
    }
    return isEnabled() == enabled;
}

}  // namespace tavrolin
