#pragma once

#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tavrolin::test {

// logind's inhibitor call, as far as idle inhibitors go: every Inhibit hands out the write end
// of a pipe and keeps the read end; a lock is active until every copy of the write end is
// closed (the read end then reports a hang-up), exactly the lifetime rule of the real thing.
// With `answers` off it takes every call and never replies, like a hung service.
class FakeLogind final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    struct Lock {
        QString what, who, why, mode;
    };
    ~FakeLogind() override;
    // The locks whose descriptor is still open somewhere.
    std::vector<Lock> activeLocks();

    std::atomic<bool> answers{true};
    std::atomic<int> calls{0};

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode);

private:
    struct Entry {
        Lock lock;
        int readEnd;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
};

// org.freedesktop.ScreenSaver's Inhibit and UnInhibit; with `answers` off, a hung service.
class FakeScreenSaver final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    struct Inhibition {
        QString application, reason;
    };
    std::map<uint, Inhibition> active();

    std::atomic<bool> answers{true};
    std::atomic<int> calls{0};

public Q_SLOTS:
    uint Inhibit(const QString& application, const QString& reason);
    void UnInhibit(uint cookie);

private:
    std::mutex mutex_;
    std::map<uint, Inhibition> active_;
    uint nextCookie_ = 4000;
};

// Serves a fake on a bus from a thread of its own, so that the code under test can make
// blocking calls to it from the main thread.
class FakeServiceHost {
public:
    // Registers `object` as `service` at `path` on the bus at `address`; ownership passes here.
    FakeServiceHost(const QString& address, const QString& service, const QString& path, QObject* object);
    ~FakeServiceHost();
    FakeServiceHost(const FakeServiceHost&) = delete;
    FakeServiceHost& operator=(const FakeServiceHost&) = delete;

    bool isServing() const { return serving_; }
    // Sends a signal from the service's connection.
    bool emitSignal(const QString& path, const QString& interface, const QString& name, const QVariantList& arguments);

private:
    QThread thread_;
    QString connectionName_;
    QObject* object_;
    bool serving_ = false;
};

}  // namespace tavrolin::test
