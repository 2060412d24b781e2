#include "platform/linux/dbus_accessibility_bus_status.h"

#include "platform/desktop_backend.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>

namespace tavrolin {

namespace {

const QString busService = QStringLiteral("org.a11y.Bus");
const QString busPath = QStringLiteral("/org/a11y/bus");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString statusInterface = QStringLiteral("org.a11y.Status");
const QString enabledProperty = QStringLiteral("IsEnabled");

QDBusMessage getCall() {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface, QStringLiteral("Get"));
    call << statusInterface << enabledProperty;
    return call;
}

QDBusMessage setCall(bool enabled) {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, propertiesInterface, QStringLiteral("Set"));
    call << statusInterface << enabledProperty << QVariant::fromValue(QDBusVariant(enabled));
    return call;
}

AccessibilitySwitch switchFrom(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // Qt's own time-out and the bus daemon's: the call may have been answered later.
        const QDBusError::ErrorType error = QDBusError(reply).type();
        return error == QDBusError::NoReply || error == QDBusError::Timeout || error == QDBusError::TimedOut
                   ? AccessibilitySwitch::noAnswer
                   : AccessibilitySwitch::unreachable;
    }
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return AccessibilitySwitch::unreachable;
    }
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool) {
        return AccessibilitySwitch::unreachable;
    }
    return value.toBool() ? AccessibilitySwitch::on : AccessibilitySwitch::off;
}

std::optional<bool> enabledFrom(AccessibilitySwitch answer) {
    if (answer == AccessibilitySwitch::on || answer == AccessibilitySwitch::off) {
        return answer == AccessibilitySwitch::on;
    }
    return std::nullopt;
}

}  // namespace

DBusAccessibilityBusStatus::DBusAccessibilityBusStatus(int timeoutMs) : timeoutMs_(timeoutMs) {}

DBusAccessibilityBusStatus::DBusAccessibilityBusStatus(QDBusConnection connection, int timeoutMs)
    : timeoutMs_(timeoutMs), connection_(std::move(connection)) {}

QDBusConnection DBusAccessibilityBusStatus::bus() const {
    return connection_ ? *connection_ : QDBusConnection::sessionBus();
}

QCoro::Task<AccessibilitySwitch> DBusAccessibilityBusStatus::readSwitch() {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        co_return AccessibilitySwitch::unreachable;
    }
    const QDBusMessage call = getCall();
    QDBusPendingCall pending = bus.asyncCall(call, timeoutMs_);
    const QDBusMessage reply = co_await pending;
    co_return switchFrom(reply);
}

QCoro::Task<bool> DBusAccessibilityBusStatus::setEnabled(bool enabled) {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        co_return false;
    }
    const QDBusMessage call = setCall(enabled);
    QDBusPendingCall pending = bus.asyncCall(call, timeoutMs_);
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        co_return false;
    }
    const AccessibilitySwitch now = co_await readSwitch();
    co_return now == (enabled ? AccessibilitySwitch::on : AccessibilitySwitch::off);
}

AccessibilitySwitch DBusAccessibilityBusStatus::readSwitchBlocking() {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        return AccessibilitySwitch::unreachable;
    }
    return switchFrom(bus.call(getCall(), QDBus::Block, timeoutMs_));
}

std::optional<bool> DBusAccessibilityBusStatus::isEnabledBlocking() {
    return enabledFrom(readSwitchBlocking());
}

bool DBusAccessibilityBusStatus::setEnabledBlocking(bool enabled) {
    QDBusConnection bus = this->bus();
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusMessage reply = bus.call(setCall(enabled), QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return false;
    }
    return isEnabledBlocking() == enabled;
}

std::unique_ptr<AccessibilityBusStatus> makeSystemAccessibilityBusStatus() {
    return std::make_unique<DBusAccessibilityBusStatus>();
}

}  // namespace tavrolin
