#include "platform/linux/linux_system_event_monitor.h"

#include "platform/desktop_backend.h"
#include "platform/linux/dbus_bus.h"
#include "platform/linux/logind_idle_inhibitor.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSet>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tavrolin {

LinuxSystemEventMonitor::LinuxSystemEventMonitor(QObject* parent) : LinuxSystemEventMonitor(Options{}, parent) {}

LinuxSystemEventMonitor::LinuxSystemEventMonitor(Options options, QObject* parent)
    : SystemEventMonitoring(parent),
      options_(std::move(options)),
      connectionName_(dbus::uniqueConnectionName(QStringLiteral("sleep-monitor"))) {
    const QString address = options_.systemBusAddress.isEmpty() ? LogindIdleInhibitor::defaultSystemBusAddress()
                                                                : options_.systemBusAddress;
    if (auto bus = dbus::connect(address, connectionName_, nullptr)) {
        watchesSleep_ =
            bus->connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                         QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                         SLOT(onPrepareForSleep(bool)));
    }

    if (options_.watchClock) {
        clockTimer_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (clockTimer_ >= 0) {
            clockNotifier_ = std::make_unique<QSocketNotifier>(clockTimer_, QSocketNotifier::Read);
            connect(clockNotifier_.get(), &QSocketNotifier::activated, this, [this] { onClockTimer(); });
            armClockTimer();
        }
    }

    timeZoneFingerprint_ = timeZoneFingerprint();
    timeZoneWatcher_ = std::make_unique<QFileSystemWatcher>();
    QSet<QString> folders;
    for (const QString& path : options_.timeZonePaths) {
        folders.insert(QFileInfo(path).absolutePath());
    }
    for (const QString& folder : folders) {
        timeZoneWatcher_->addPath(folder);
    }
    watchTimeZoneFiles();
    connect(timeZoneWatcher_.get(), &QFileSystemWatcher::directoryChanged, this, [this] { onTimeZoneFilesChanged(); });
    connect(timeZoneWatcher_.get(), &QFileSystemWatcher::fileChanged, this, [this] { onTimeZoneFilesChanged(); });
}

LinuxSystemEventMonitor::~LinuxSystemEventMonitor() {
    clockNotifier_.reset();
    if (clockTimer_ >= 0) {
        ::close(clockTimer_);
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

void LinuxSystemEventMonitor::onPrepareForSleep(bool goingToSleep) {
    if (!goingToSleep) {
        Q_EMIT didWake();
    }
}

void LinuxSystemEventMonitor::armClockTimer() {
    // A far-off absolute expiry: the timer only ever ends by being cancelled by a clock jump.
    itimerspec farFuture{};
    farFuture.it_value.tv_sec = std::time(nullptr) + 10L * 365 * 24 * 3600;
    timerfd_settime(clockTimer_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &farFuture, nullptr);
}

void LinuxSystemEventMonitor::onClockTimer() {
    std::uint64_t expirations = 0;
    const ssize_t got = ::read(clockTimer_, &expirations, sizeof expirations);
    if (got < 0 && errno == ECANCELED) {
        armClockTimer();
        Q_EMIT clockDidChange();
    } else if (got == sizeof expirations) {
        armClockTimer();
    }
}

void LinuxSystemEventMonitor::watchTimeZoneFiles() {
    // A replaced or removed file drops out of the watch: add whatever exists (again).
    const QStringList watched = timeZoneWatcher_->files();
    for (const QString& path : options_.timeZonePaths) {
        if (!watched.contains(path) && QFileInfo::exists(path)) {
            timeZoneWatcher_->addPath(path);
        }
    }
}

void LinuxSystemEventMonitor::onTimeZoneFilesChanged() {
    watchTimeZoneFiles();
    const QByteArray now = timeZoneFingerprint();
    if (now != timeZoneFingerprint_) {
        timeZoneFingerprint_ = now;
        Q_EMIT clockDidChange();
    }
}

// What the zone files say: where each link points, and the contents behind it.
QByteArray LinuxSystemEventMonitor::timeZoneFingerprint() const {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& path : options_.timeZonePaths) {
        const QFileInfo info(path);
        hash.addData(path.toUtf8());
        if (info.isSymLink()) {
            hash.addData(info.symLinkTarget().toUtf8());
        }
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            hash.addData(file.read(1 << 20));
        }
        hash.addData(QByteArrayView("\0", 1));
    }
    return hash.result();
}

std::unique_ptr<SystemEventMonitoring> makeSystemEventMonitor() {
    return std::make_unique<LinuxSystemEventMonitor>();
}

}  // namespace tavrolin
