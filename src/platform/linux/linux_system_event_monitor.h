#pragma once

#include "platform/system_event_monitoring.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;

namespace tavrolin {

// Wake: logind's PrepareForSleep(false) on the system bus (no logind, no wake notices).
// Clock set: a realtime timerfd armed with TFD_TIMER_CANCEL_ON_SET, which the kernel cancels
// whenever the wall clock jumps. Time zone: a change of the zone files (by default
// /etc/localtime and /etc/timezone) or of the zone data behind them, watched both as files
// and through their folders, since the link /etc/localtime is replaced rather than written.
class LinuxSystemEventMonitor final : public SystemEventMonitoring {
    Q_OBJECT

public:
    struct Options {
        QString systemBusAddress;  // empty: $DBUS_SYSTEM_BUS_ADDRESS, else the standard socket
        QStringList timeZonePaths = {QStringLiteral("/etc/localtime"), QStringLiteral("/etc/timezone")};
        bool watchClock = true;
    };

    explicit LinuxSystemEventMonitor(QObject* parent = nullptr);
    explicit LinuxSystemEventMonitor(Options options, QObject* parent = nullptr);
    ~LinuxSystemEventMonitor() override;

    // Whether logind's sleep signal is being listened to.
    bool watchesSleep() const { return watchesSleep_; }

private Q_SLOTS:
    void onPrepareForSleep(bool goingToSleep);

private:
    void armClockTimer();
    void onClockTimer();
    void watchTimeZoneFiles();
    void onTimeZoneFilesChanged();
    QByteArray timeZoneFingerprint() const;

    Options options_;
    QString connectionName_;
    bool watchesSleep_ = false;
    int clockTimer_ = -1;
    std::unique_ptr<QSocketNotifier> clockNotifier_;
    std::unique_ptr<QFileSystemWatcher> timeZoneWatcher_;
    QByteArray timeZoneFingerprint_;
};

}  // namespace tavrolin
