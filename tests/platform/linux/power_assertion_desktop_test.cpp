// The Linux power assertions against a fake logind and a fake screen saver service on private
// buses, and against the X server's own screen saver.
#include "platform/linux/display_sleep_inhibitor.h"
#include "platform/linux/logind_idle_inhibitor.h"
#include "support/async.h"
#include "support/fakes/fake_power_services.h"
#include "support/scoped_environment.h"
#include "support/session/private_bus.h"
#include "support/session/x_screen_saver_probe.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <gtest/gtest.h>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

const QString kName = QStringLiteral("Tavrolin Anti-Sleep");
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

bool isOpen(std::uint32_t fd) {
    return ::fcntl(static_cast<int>(fd), F_GETFD) != -1;
}

// Holds the X screen saver at a one-second timeout for a test and puts the user's settings back.
class QuickScreenSaver {
public:
    QuickScreenSaver() : saved_(probe.settings()) {
        probe.setSettings({1, 0, saved_.preferBlanking, saved_.allowExposures});
        probe.reset();
    }
    ~QuickScreenSaver() {
        probe.setSettings(saved_);
        probe.reset();
    }
    // Whether the saver comes on within `within` (it should, one second after the last input).
    bool comesOn(std::chrono::milliseconds within) {
        return test::waitUntil([&] { return probe.state() == test::XScreenSaverProbe::State::on; }, within);
    }
    test::XScreenSaverProbe probe;

private:
    test::XScreenSaverProbe::Settings saved_;
};

}  // namespace

TEST(LogindIdleInhibitorDesktop, HoldsAnIdleBlockLockUntilReleased) {
    test::PrivateBus systemBus;
    ASSERT_FALSE(systemBus.address().isEmpty());
    auto* logind = new test::FakeLogind;
    test::FakeServiceHost host(systemBus.address(), kLogind, kLogindPath, logind);
    ASSERT_TRUE(host.isServing());
    // The real back end finds the system bus through the environment.
    test::ScopedEnvironmentVariable env("DBUS_SYSTEM_BUS_ADDRESS", systemBus.address().toUtf8());
    LogindIdleInhibitor inhibitor;

    const PowerAssertionCreation first = test::await(inhibitor.createAssertion(kName));
    ASSERT_EQ(first.status, powerAssertionSuccess) << first.failureReason.toStdString();
    EXPECT_TRUE(isOpen(first.id));  // the id is the descriptor we hold
    const auto locks = logind->activeLocks();
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_EQ(locks[0].what, "idle");
    EXPECT_EQ(locks[0].who, "Tavrolin");
    EXPECT_EQ(locks[0].why, kName);
    EXPECT_EQ(locks[0].mode, "block");

    const PowerAssertionCreation second = test::await(inhibitor.createAssertion(kName));
    ASSERT_EQ(second.status, powerAssertionSuccess);
    EXPECT_NE(second.id, first.id);
    EXPECT_EQ(logind->activeLocks().size(), 2u);

    // Releasing closes our descriptor, which is what ends a logind lock.
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(first.id)), powerAssertionSuccess);
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().size() == 1; }));
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(first.id)), powerAssertionUnknownId);
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(second.id)), powerAssertionSuccess);
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().empty(); }));

    // Whatever is still held when the inhibitor goes is given back.
    {
        LogindIdleInhibitor shortLived(systemBus.address());
        ASSERT_EQ(test::await(shortLived.createAssertion(kName)).status, powerAssertionSuccess);
        EXPECT_EQ(logind->activeLocks().size(), 1u);
    }
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().empty(); }));
}

TEST(LogindIdleInhibitorDesktop, MissingBusOrServiceFailsAndALaterTrySucceeds) {
    {
        LogindIdleInhibitor noBus(QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus"));
        const PowerAssertionCreation created = test::await(noBus.createAssertion(kName));
        EXPECT_EQ(created.status, powerAssertionServiceUnavailable);
        EXPECT_FALSE(created.failureReason.isEmpty());
        EXPECT_EQ(test::await(noBus.releaseAssertion(3)), powerAssertionUnknownId);
    }
    test::PrivateBus systemBus;
    ASSERT_FALSE(systemBus.address().isEmpty());
    LogindIdleInhibitor inhibitor(systemBus.address());
    const PowerAssertionCreation missing = test::await(inhibitor.createAssertion(kName));
    EXPECT_EQ(missing.status, powerAssertionServiceUnavailable);
    EXPECT_TRUE(missing.failureReason.contains("logind")) << missing.failureReason.toStdString();

    auto* logind = new test::FakeLogind;
    test::FakeServiceHost host(systemBus.address(), kLogind, kLogindPath, logind);
    ASSERT_TRUE(host.isServing());
    const PowerAssertionCreation retried = test::await(inhibitor.createAssertion(kName));
    EXPECT_EQ(retried.status, powerAssertionSuccess) << retried.failureReason.toStdString();
    EXPECT_EQ(logind->activeLocks().size(), 1u);
}

TEST(DisplaySleepInhibitorDesktop, UsesTheScreenSaverServiceWhereItRuns) {
    test::PrivateBus sessionBus;
    ASSERT_FALSE(sessionBus.address().isEmpty());
    auto* saver = new test::FakeScreenSaver;
    test::FakeServiceHost host(sessionBus.address(), kScreenSaver, kScreenSaverPath, saver);
    ASSERT_TRUE(host.isServing());

    DisplaySleepInhibitor inhibitor(sessionBus.address());
    const PowerAssertionCreation created = test::await(inhibitor.createAssertion(kName));
    ASSERT_EQ(created.status, powerAssertionSuccess) << created.failureReason.toStdString();
    EXPECT_EQ(inhibitor.mechanismOf(created.id), DisplaySleepInhibitor::Mechanism::screenSaverService);
    const auto active = saver->active();
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(active.begin()->first, created.id);  // the id is the service's cookie
    EXPECT_EQ(active.begin()->second.application, "Tavrolin");
    EXPECT_EQ(active.begin()->second.reason, kName);

    EXPECT_EQ(test::await(inhibitor.releaseAssertion(created.id)), powerAssertionSuccess);
    EXPECT_TRUE(saver->active().empty());
    EXPECT_FALSE(inhibitor.mechanismOf(created.id));
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(created.id)), powerAssertionUnknownId);

    // Whatever is still held when the inhibitor goes is given back (without waiting for the
    // service to confirm it).
    {
        DisplaySleepInhibitor shortLived(sessionBus.address());
        ASSERT_EQ(test::await(shortLived.createAssertion(kName)).status, powerAssertionSuccess);
        EXPECT_EQ(saver->active().size(), 1u);
    }
    EXPECT_TRUE(test::waitUntil([&] { return saver->active().empty(); }));
}

TEST(DisplaySleepInhibitorDesktop, WithoutTheServiceSuspendsTheXScreenSaver) {
    QuickScreenSaver x;
    ASSERT_TRUE(x.probe.isValid());
    // The saver works on this display: it comes on after a second without input.
    ASSERT_TRUE(x.comesOn(4s));
    x.probe.reset();

    test::PrivateBus sessionBus;  // a session bus where no screen saver service runs
    DisplaySleepInhibitor inhibitor(sessionBus.address());
    const PowerAssertionCreation first = test::await(inhibitor.createAssertion(kName));
    ASSERT_EQ(first.status, powerAssertionSuccess) << first.failureReason.toStdString();
    EXPECT_EQ(first.id, 1u);  // a counter
    EXPECT_EQ(inhibitor.mechanismOf(first.id), DisplaySleepInhibitor::Mechanism::xScreenSaverSuspend);
    const PowerAssertionCreation second = test::await(inhibitor.createAssertion(kName));
    ASSERT_EQ(second.status, powerAssertionSuccess);
    EXPECT_EQ(second.id, 2u);

    EXPECT_FALSE(x.comesOn(2500ms));
    // One of two suspensions given back: still suspended.
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(first.id)), powerAssertionSuccess);
    EXPECT_FALSE(x.comesOn(1500ms));
    EXPECT_EQ(test::await(inhibitor.releaseAssertion(second.id)), powerAssertionSuccess);
    EXPECT_TRUE(x.comesOn(4s));
}

TEST(DisplaySleepInhibitorDesktop, NoSessionBusStillFallsBackToX) {
    QuickScreenSaver x;
    ASSERT_TRUE(x.probe.isValid());
    {
        DisplaySleepInhibitor inhibitor(QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus"));
        const PowerAssertionCreation created = test::await(inhibitor.createAssertion(kName));
        ASSERT_EQ(created.status, powerAssertionSuccess) << created.failureReason.toStdString();
        EXPECT_FALSE(x.comesOn(2500ms));
    }
    // Destroyed while holding: the X connection closes and the saver runs again.
    EXPECT_TRUE(x.comesOn(4s));
}
