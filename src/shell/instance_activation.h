#pragma once

// How a second launch asks the running instance to come forward: a local socket that the
// running instance listens on. It lives in $XDG_RUNTIME_DIR when that is set, else beside the
// lock file; both folders are private to the user.

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;

namespace tavrolin {

// $XDG_RUNTIME_DIR/org.tavrolin.Tavrolin.activate, or <lock folder>/activate.socket.
QString instanceActivationSocketPath(const QString& runtimeDirectory, const QString& lockFile);
QString instanceActivationSocketPath();

// The running instance's side. Only the lock holder listens, so a socket file left behind by a
// killed instance is removed before listening.
class InstanceActivationServer final : public QObject {
    Q_OBJECT
public:
    explicit InstanceActivationServer(QString socketPath, QObject* parent = nullptr);
    ~InstanceActivationServer() override;

    bool listen();
    QString socketPath() const { return socketPath_; }

Q_SIGNALS:
    void activationRequested();

private:
    void accept();
    QString socketPath_;
    std::unique_ptr<QLocalServer> server_;
};

// The second launch's side: sends the request and answers whether a running instance took it.
bool requestInstanceActivation(const QString& socketPath,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(1500));

}  // namespace tavrolin
