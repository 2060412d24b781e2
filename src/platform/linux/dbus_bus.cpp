#include "platform/linux/dbus_bus.h"

#include <QCoroDBusPendingCall>
#include <QDBusError>
#include <QDBusPendingCall>

#include <atomic>

namespace tavrolin::dbus {

QString uniqueConnectionName(const QString& purpose) {
    static std::atomic<int> counter{0};
    return QStringLiteral("tavrolin-%1-%2").arg(purpose).arg(++counter);
}

std::optional<QDBusConnection> connect(const QString& address, const QString& connectionName, QString* reason) {
    QDBusConnection existing(connectionName);
    if (existing.isConnected()) {
        return existing;
    }
    // A dropped connection stays registered under its name: forget it before connecting anew.
    QDBusConnection::disconnectFromBus(connectionName);
    QDBusConnection fresh = QDBusConnection::connectToBus(address, connectionName);
    if (!fresh.isConnected()) {
        if (reason) {
            *reason = fresh.lastError().message().isEmpty() ? address : fresh.lastError().message();
        }
        QDBusConnection::disconnectFromBus(connectionName);
        return std::nullopt;
    }
    return fresh;
}

QCoro::Task<QDBusMessage> callAsync(QDBusConnection connection, QDBusMessage call, int timeoutMilliseconds) {
    QDBusPendingCall pending = connection.asyncCall(call, timeoutMilliseconds);
    co_await pending;
    co_return pending.reply();
}

bool isServiceMissing(const QDBusMessage& errorReply) {
    const QString name = errorReply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
           name == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

QString describeError(const QDBusMessage& errorReply) {
    return errorReply.errorName() + QStringLiteral(": ") + errorReply.errorMessage();
}

}  // namespace tavrolin::dbus
