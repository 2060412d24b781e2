#include "support/fakes/fake_power_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMetaObject>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace tavrolin::test {

FakeLogind::~FakeLogind() {
    for (const Entry& e : entries_) {
        ::close(e.readEnd);
    }
}

QDBusUnixFileDescriptor FakeLogind::Inhibit(const QString& what, const QString& who, const QString& why,
                                            const QString& mode) {
    ++calls;
    if (!answers) {
        setDelayedReply(true);  // and never reply
        return {};
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    QDBusUnixFileDescriptor handedOut(fds[1]);  // keeps a copy of its own until the reply is sent
    ::close(fds[1]);
    std::lock_guard lock(mutex_);
    entries_.push_back({{what, who, why, mode}, fds[0]});
    return handedOut;
}

std::vector<FakeLogind::Lock> FakeLogind::activeLocks() {
    std::lock_guard lock(mutex_);
    std::vector<Lock> out;
    for (const Entry& e : entries_) {
        pollfd p{e.readEnd, POLLIN, 0};
        const bool hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
        if (!hungUp) {
            out.push_back(e.lock);
        }
    }
    return out;
}

uint FakeScreenSaver::Inhibit(const QString& application, const QString& reason) {
    ++calls;
    if (!answers) {
        setDelayedReply(true);
        return 0;
    }
    std::lock_guard lock(mutex_);
    const uint cookie = nextCookie_++;
    active_[cookie] = {application, reason};
    return cookie;
}

void FakeScreenSaver::UnInhibit(uint cookie) {
    ++calls;
    if (!answers) {
        setDelayedReply(true);
        return;
    }
    std::lock_guard lock(mutex_);
    active_.erase(cookie);
}

std::map<uint, FakeScreenSaver::Inhibition> FakeScreenSaver::active() {
    std::lock_guard lock(mutex_);
    return active_;
}

FakeServiceHost::FakeServiceHost(const QString& address, const QString& service, const QString& path, QObject* object)
    : object_(object) {
    static std::atomic<int> counter{0};
    connectionName_ = QStringLiteral("tavrolin-test-fake-service-%1").arg(++counter);
    thread_.start();
    object_->moveToThread(&thread_);
    QDBusConnection connection = QDBusConnection::connectToBus(address, connectionName_);
    serving_ = connection.isConnected() && connection.registerObject(path, object_, QDBusConnection::ExportAllSlots) &&
               connection.registerService(service);
}

bool FakeServiceHost::emitSignal(const QString& path, const QString& interface, const QString& name,
                                 const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    return QDBusConnection(connectionName_).send(signal);
}

FakeServiceHost::~FakeServiceHost() {
    QDBusConnection::disconnectFromBus(connectionName_);
    // Delete the object in its own thread, then stop the thread.
    QMetaObject::invokeMethod(
        object_, [object = object_] { delete object; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

}  // namespace tavrolin::test
