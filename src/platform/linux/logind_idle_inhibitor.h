#pragma once

#include "platform/power_assertion.h"

#include <QDBusUnixFileDescriptor>
#include <QString>

#include <map>

namespace tavrolin {

// Keeps the system from idle sleep with a logind "idle" inhibitor lock in "block" mode, taken
// over the system bus. The lock is a file descriptor that logind hands out: it holds while we
// keep the descriptor open and ends when we close it or the process ends. The id of an
// assertion is the descriptor's number.
class LogindIdleInhibitor final : public PowerAssertionProviding {
public:
    static constexpr int callTimeoutMilliseconds = 2000;

    // An empty address means defaultSystemBusAddress(), read when the inhibitor is made.
    explicit LogindIdleInhibitor(QString systemBusAddress = {});
    ~LogindIdleInhibitor() override;
    LogindIdleInhibitor(const LogindIdleInhibitor&) = delete;
    LogindIdleInhibitor& operator=(const LogindIdleInhibitor&) = delete;

    // $DBUS_SYSTEM_BUS_ADDRESS when set, else the standard system bus socket.
    static QString defaultSystemBusAddress();

    QCoro::Task<PowerAssertionCreation> createAssertion(QString name) override;
    QCoro::Task<int> releaseAssertion(std::uint32_t id) override;

private:
    QString busAddress_;
    QString connectionName_;
    std::map<std::uint32_t, QDBusUnixFileDescriptor> held_;
};

}  // namespace tavrolin
