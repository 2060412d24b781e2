#pragma once

// How a second launch asks the running instance to come forward: a local socket that the
// running instance listens on. It lives in $XDG_RUNTIME_DIR when that is set, else beside the
// lock file; both folders are private to the user.

#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace tavrolin {

// $XDG_RUNTIME_DIR/org.tavrolin.Tavrolin.activate, or <lock folder>/activate.socket.
QString instanceActivationSocketPath(const QString& runtimeDirectory, const QString& lockFile);
QString instanceActivationSocketPath();

// The running instance's side. Only the lock holder listens, so a socket file left behind by a
// killed instance is removed before listening.
//
// A second launch sends its line at once, so a connection that has not sent a whole line within
// `lineTimeout` is closed, and at most `maximumOpenConnections` are kept: a new one beyond that
// closes the oldest. Nothing another program does with the socket holds descriptors or memory
// for long.
class InstanceActivationServer final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultLineTimeout{2000};
    static constexpr int defaultMaximumOpenConnections = 8;

    explicit InstanceActivationServer(QString socketPath, QObject* parent = nullptr,
                                      std::chrono::milliseconds lineTimeout = defaultLineTimeout,
                                      int maximumOpenConnections = defaultMaximumOpenConnections);
    ~InstanceActivationServer() override;

    bool listen();
    QString socketPath() const { return socketPath_; }
    // Connections accepted and not yet closed.
    int openConnections() const { return static_cast<int>(open_.size()); }

Q_SIGNALS:
    void activationRequested();

private:
    void accept();
    void drop(QLocalSocket* socket);

    QString socketPath_;
    std::chrono::milliseconds lineTimeout_;
    int maximumOpenConnections_;
    std::unique_ptr<QLocalServer> server_;
    std::deque<QLocalSocket*> open_;  // oldest first
};

// The second launch's side: sends the request and answers whether a running instance took it.
bool requestInstanceActivation(const QString& socketPath,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(1500));

}  // namespace tavrolin
