#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace tavrolin::test {

// A dbus-daemon of its own for one test: its address, and the daemon stopped (by its own
// process) when the object goes.
class PrivateBus {
public:
    // Without session services the bus activates nothing (no accessibility bus launcher, no
    // portals): only what the test itself registers is there.
    enum class Services { session, none };
    explicit PrivateBus(Services services = Services::session);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    QString address() const { return address_; }

private:
    QTemporaryDir configDir_;
    QProcess daemon_;
    QString address_;
};

}  // namespace tavrolin::test
