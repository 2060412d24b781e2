#include "shell/instance_activation.h"

#include "core/app_log.h"
#include "shell/single_instance_lock.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>

namespace tavrolin {

namespace {

const QByteArray kActivateMessage = "activate\n";

}  // namespace

QString instanceActivationSocketPath(const QString& runtimeDirectory, const QString& lockFile) {
    if (!runtimeDirectory.isEmpty() && QFileInfo(runtimeDirectory).isAbsolute()) {
        return runtimeDirectory + QStringLiteral("/org.tavrolin.Tavrolin.activate");
    }
    return QFileInfo(lockFile).absolutePath() + QStringLiteral("/activate.socket");
}

QString instanceActivationSocketPath() {
    return instanceActivationSocketPath(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                        SingleInstanceLockLocation::current().lockFile);
}

InstanceActivationServer::InstanceActivationServer(QString socketPath, QObject* parent,
                                                   std::chrono::milliseconds lineTimeout, int maximumOpenConnections)
    : QObject(parent),
      socketPath_(std::move(socketPath)),
      lineTimeout_(lineTimeout),
      maximumOpenConnections_(std::max(1, maximumOpenConnections)),
      server_(std::make_unique<QLocalServer>()) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &InstanceActivationServer::accept);
}

InstanceActivationServer::~InstanceActivationServer() {
    // The sockets are children of the server, which goes with this object; none may call back
    // into it on the way.
    for (QLocalSocket* socket : open_) {
        socket->disconnect(this);
    }
}

bool InstanceActivationServer::listen() {
    QLocalServer::removeServer(socketPath_);
    if (!server_->listen(socketPath_)) {
        AppLog::app().error(
            QStringLiteral("activation socket unavailable path=%1 error=%2").arg(socketPath_, server_->errorString()));
        return false;
    }
    return true;
}

void InstanceActivationServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        if (static_cast<int>(open_.size()) >= maximumOpenConnections_) {
            drop(open_.front());
        }
        open_.push_back(socket);
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, [this, socket] { drop(socket); });
        deadline->start(lineTimeout_);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // One short line; anything else is dropped with the connection.
            if (!socket->canReadLine() && socket->bytesAvailable() < kActivateMessage.size()) {
                return;
            }
            const QByteArray line = socket->readLine(kActivateMessage.size() + 1);
            if (line == kActivateMessage) {
                Q_EMIT activationRequested();
            }
            drop(socket);
        });
    }
}

void InstanceActivationServer::drop(QLocalSocket* socket) {
    const auto found = std::find(open_.begin(), open_.end(), socket);
    if (found == open_.end()) {
        return;
    }
    open_.erase(found);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

bool requestInstanceActivation(const QString& socketPath, std::chrono::milliseconds timeout) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    const int milliseconds = static_cast<int>(timeout.count());
    if (!socket.waitForConnected(milliseconds)) {
        return false;
    }
    socket.write(kActivateMessage);
    const bool sent = socket.waitForBytesWritten(milliseconds);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(milliseconds);
    }
    return sent;
}

}  // namespace tavrolin
