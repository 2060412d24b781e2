// Wake and time-zone notices of the Linux monitor, against a fake logind on a private bus and
// zone files in a temporary folder. (Setting the real clock needs privileges and would disturb
// everything else on the machine, so the timerfd path is not driven here.)
#include "platform/linux/linux_system_event_monitor.h"
#include "support/async.h"
#include "support/fakes/fake_power_services.h"
#include "support/session/private_bus.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Lets queued notices arrive, then answers how many the spy has seen.
int settledCount(QSignalSpy& spy) {
    test::waitUntil([] { return false; }, 300ms);
    return int(spy.count());
}

}  // namespace

TEST(LinuxSystemEventMonitorDesktop, WakeIsTheEndOfLogindsSleep) {
    test::PrivateBus systemBus;
    ASSERT_FALSE(systemBus.address().isEmpty());
    test::FakeServiceHost logind(systemBus.address(), "org.freedesktop.login1", "/org/freedesktop/login1",
                                 new test::FakeLogind);
    ASSERT_TRUE(logind.isServing());

    LinuxSystemEventMonitor monitor({systemBus.address(), {}, false});
    ASSERT_TRUE(monitor.watchesSleep());
    QSignalSpy woke(&monitor, &SystemEventMonitoring::didWake);
    QSignalSpy clock(&monitor, &SystemEventMonitoring::clockDidChange);

    const QString path = "/org/freedesktop/login1";
    const QString interface = "org.freedesktop.login1.Manager";
    ASSERT_TRUE(logind.emitSignal(path, interface, "PrepareForSleep", {true}));
    EXPECT_EQ(settledCount(woke), 0);
    ASSERT_TRUE(logind.emitSignal(path, interface, "PrepareForSleep", {false}));
    EXPECT_TRUE(test::waitUntil([&] { return woke.count() == 1; }));
    // Another object's signal of the same name is not logind's.
    ASSERT_TRUE(logind.emitSignal("/org/example/other", interface, "PrepareForSleep", {false}));
    EXPECT_EQ(settledCount(woke), 1);
    EXPECT_EQ(clock.count(), 0);
}

TEST(LinuxSystemEventMonitorDesktop, WithoutASystemBusThereAreNoWakeNotices) {
    LinuxSystemEventMonitor monitor({QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus"), {}, false});
    EXPECT_FALSE(monitor.watchesSleep());
}

TEST(LinuxSystemEventMonitorDesktop, TimeZoneChangeIsAClockChange) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString zoneA = dir.filePath("Europe_Berlin");
    const QString zoneB = dir.filePath("America_New_York");
    ASSERT_TRUE(writeFile(zoneA, "TZif zone A"));
    ASSERT_TRUE(writeFile(zoneB, "TZif zone B"));
    const QString localtime = dir.filePath("localtime");
    const QString timezone = dir.filePath("timezone");
    ASSERT_TRUE(QFile::link(zoneA, localtime));
    ASSERT_TRUE(writeFile(timezone, "Europe/Berlin\n"));

    LinuxSystemEventMonitor monitor(
        {QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus"), {localtime, timezone}, false});
    QSignalSpy changed(&monitor, &SystemEventMonitoring::clockDidChange);

    // Something else in the folder changes: not a zone change.
    ASSERT_TRUE(writeFile(dir.filePath("unrelated"), "x"));
    EXPECT_EQ(settledCount(changed), 0);

    // The link is replaced, as zone tools do it.
    ASSERT_TRUE(QFile::remove(localtime));
    ASSERT_TRUE(QFile::link(zoneB, localtime));
    EXPECT_TRUE(test::waitUntil([&] { return changed.count() >= 1; }));
    const int afterLink = settledCount(changed);

    ASSERT_TRUE(writeFile(timezone, "America/New_York\n"));
    EXPECT_TRUE(test::waitUntil([&] { return changed.count() > afterLink; }));
}
