#pragma once

#include <QProcess>
#include <QString>

namespace tavrolin::test {

// A dbus-daemon of its own for one test: its address, and the daemon stopped (by its own
// process) when the object goes.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    QString address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

}  // namespace tavrolin::test
