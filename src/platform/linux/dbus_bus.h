#pragma once

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include <optional>

namespace tavrolin::dbus {

// A connection name no other part of the process uses.
QString uniqueConnectionName(const QString& purpose);

// The named private connection to the bus at `address`, connecting (again) when it is not
// connected; absent with the reason when the bus cannot be reached.
std::optional<QDBusConnection> connect(const QString& address, const QString& connectionName, QString* reason);

// Sends `call` and awaits its answer without blocking the thread; a service that has not
// answered within `timeoutMilliseconds` gives the bus's NoReply error.
QCoro::Task<QDBusMessage> callAsync(QDBusConnection connection, QDBusMessage call, int timeoutMilliseconds);

// Whether an error reply says that nobody provides the called service.
bool isServiceMissing(const QDBusMessage& errorReply);

// "<error name>: <message>" of an error reply.
QString describeError(const QDBusMessage& errorReply);

}  // namespace tavrolin::dbus
