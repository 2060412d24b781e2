// The manager on virtual time with the real back ends: fake logind and screen saver services
// on private buses, and the real XTest pointer.
#include "anti_sleep/anti_sleep_manager.h"
#include "platform/linux/display_sleep_inhibitor.h"
#include "platform/linux/logind_idle_inhibitor.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "support/async.h"
#include "support/fakes/fake_power_services.h"
#include "support/fakes/memory_log_sink.h"
#include "support/scoped_time_zone.h"
#include "support/session/private_bus.h"
#include "support/session/x_screen_saver_probe.h"
#include "support/virtual_time.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>
#include <thread>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

AntiSleepSchedule daytime(bool nudge) {
    AntiSleepSchedule s;
    s.enabled = true;
    s.keepLocalActivityAwake = nudge;
    return s;  // 09:00 to 18:00, display kept awake
}

// The real XTest input, noting where the X server has the pointer after every move.
class ObservedInput final : public SyntheticPointerInput {
public:
    std::optional<QPoint> pointerPosition() override { return real.pointerPosition(); }
    bool movePointerTo(QPoint to) override {
        const bool sent = real.movePointerTo(to);
        seen.push_back(QCursor::pos());  // asked of the server over Qt's own connection
        return sent;
    }
    XTestSyntheticInput real;
    std::vector<QPoint> seen;
};

class MotionCounter final : public QWidget {
public:
    MotionCounter() { setMouseTracking(true); }
    int moves = 0;

protected:
    void mouseMoveEvent(QMouseEvent*) override { ++moves; }
};

// A fake logind on a system bus and a fake screen saver on a session bus, both private, with
// the clock at noon; `answering` false makes both services take calls and never reply.
struct FakeDesktopServices {
    explicit FakeDesktopServices(bool answering) {
        logind->answers = answering;
        saver->answers = answering;
    }
    bool serving() const {
        return !systemBus.address().isEmpty() && !sessionBus.address().isEmpty() && logindHost.isServing() &&
               saverHost.isServing();
    }

    test::ScopedTimeZone zone{"UTC0"};
    test::ScopedLogCapture logs;
    test::PrivateBus systemBus;
    test::PrivateBus sessionBus;
    test::FakeLogind* logind = new test::FakeLogind;
    test::FakeScreenSaver* saver = new test::FakeScreenSaver;
    test::FakeServiceHost logindHost{systemBus.address(), "org.freedesktop.login1", "/org/freedesktop/login1", logind};
    test::FakeServiceHost saverHost{sessionBus.address(), "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                    saver};
    std::shared_ptr<test::FakeClock> clock =
        std::make_shared<test::FakeClock>(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC));
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>(clock.get());
};

}  // namespace

TEST(AntiSleepManagerDesktop, TakesAndGivesBackTheDesktopLocks) {
    FakeDesktopServices services(true);
    ASSERT_TRUE(services.serving());
    auto& [zone, logs, systemBus, sessionBus, logind, saver, logindHost, saverHost, clock, scheduler] = services;
    AntiSleepManager manager({std::make_shared<LogindIdleInhibitor>(systemBus.address()),
                              std::make_shared<DisplaySleepInhibitor>(sessionBus.address()),
                              nullptr,
                              {},
                              clock,
                              scheduler});
    manager.configure(daytime(false));
    // The services answer through the event loop: the boundary timer is set before they do.
    ASSERT_TRUE(test::waitUntil(
        [&] { return manager.systemSleepAssertionID().has_value() && manager.displaySleepAssertionID().has_value(); }));
    EXPECT_EQ(logind->activeLocks().size(), 1u);
    ASSERT_EQ(saver->active().size(), 1u);
    QStringList lines = logs.messages(LogCategory::app);
    lines.sort();
    EXPECT_EQ(lines,
              (QStringList{
                  QStringLiteral("anti-sleep display assertion created id=%1").arg(saver->active().begin()->first),
                  "anti-sleep next transition in 21600 seconds",
                  QStringLiteral("anti-sleep system assertion created id=%1").arg(*manager.systemSleepAssertionID())}));

    scheduler->advance(6h);  // 18:00: both given back
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().empty(); }));
    EXPECT_TRUE(test::waitUntil([&] { return saver->active().empty(); }));

    scheduler->advance(15h);  // 09:00: taken again
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().size() == 1u && saver->active().size() == 1u; }));
    manager.shutdown();
    EXPECT_TRUE(test::waitUntil([&] { return logind->activeLocks().empty(); }));
    EXPECT_TRUE(test::waitUntil([&] { return saver->active().empty(); }));
}

TEST(AntiSleepManagerDesktop, NudgeMovesTheXPointerAndReturnsIt) {
    test::ScopedTimeZone zone("UTC0");
    test::ScopedLogCapture logs;
    auto input = std::make_shared<ObservedInput>();
    ASSERT_TRUE(input->real.isAvailable());
    ASSERT_TRUE(input->real.movePointerTo(QPoint(300, 200)));

    MotionCounter window;
    window.setGeometry(200, 100, 200, 200);  // under the pointer
    window.show();
    ASSERT_TRUE(test::waitUntil([&] { return window.isVisible() && window.windowHandle()->isExposed(); }));
    test::waitUntil([] { return false; }, 200ms);  // let the window settle
    window.moves = 0;

    test::XScreenSaverProbe probe;
    ASSERT_TRUE(probe.isValid());
    std::this_thread::sleep_for(300ms);
    ASSERT_GE(probe.idleMilliseconds(), 250u);

    auto clock = std::make_shared<test::FakeClock>(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC));
    auto scheduler = std::make_shared<test::ManualScheduler>(clock.get());
    // No bus in reach: the assertions fail, which must not keep the nudge from running.
    const QString nowhere = QStringLiteral("unix:path=/nonexistent/tavrolin-test-bus");
    AntiSleepManager manager({std::make_shared<LogindIdleInhibitor>(nowhere),
                              std::make_shared<DisplaySleepInhibitor>(nowhere), input,
                              [input] { return input->real.isAvailable(); }, clock, scheduler});
    manager.configure(daytime(true));
    EXPECT_EQ(input->seen, (std::vector<QPoint>{{299, 200}, {300, 200}}));
    EXPECT_EQ(QCursor::pos(), QPoint(300, 200));
    EXPECT_LT(probe.idleMilliseconds(), 250u);  // the server counts it as activity
    EXPECT_TRUE(test::waitUntil([&] { return window.moves >= 1; }));

    scheduler->advance(60s);
    EXPECT_EQ(input->seen.size(), 4u);
    EXPECT_EQ(QCursor::pos(), QPoint(300, 200));
    EXPECT_TRUE(logs.messages(LogCategory::app).contains("anti-sleep local activity nudger started interval=60"));
    manager.shutdown();
    window.close();
}

// The longest pause between two ticks of a 10 ms timer on the main thread, over its lifetime.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = std::max(longest_, since_.restart()); });
        since_.start();
        timer_.start();
    }
    qint64 longestPauseMilliseconds() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

TEST(AntiSleepManagerDesktop, ServicesThatNeverAnswerNeitherFreezeTheMainThreadNorStopTheRetries) {
    FakeDesktopServices services(false);
    ASSERT_TRUE(services.serving());
    auto& [zone, logs, systemBus, sessionBus, logind, saver, logindHost, saverHost, clock, scheduler] = services;
    auto display = std::make_shared<DisplaySleepInhibitor>(sessionBus.address());
    AntiSleepManager manager(
        {std::make_shared<LogindIdleInhibitor>(systemBus.address()), display, nullptr, {}, clock, scheduler});
    Heartbeat heartbeat;
    manager.configure(daytime(false));
    EXPECT_EQ(logs.messages(LogCategory::app), QStringList{"anti-sleep next transition in 21600 seconds"});

    // Each call gives up after two seconds: logind's is a failure, the screen saver's gives way
    // to the X server's own screen saver.
    const QString failed =
        QStringLiteral("anti-sleep system assertion failed result=%1").arg(powerAssertionRequestFailed);
    ASSERT_TRUE(test::waitUntil([&] { return logs.messages(LogCategory::app).contains(failed); }, 4s));
    ASSERT_TRUE(test::waitUntil([&] { return manager.displaySleepAssertionID().has_value(); }, 4s));
    EXPECT_EQ(display->mechanismOf(*manager.displaySleepAssertionID()),
              DisplaySleepInhibitor::Mechanism::xScreenSaverSuspend);
    EXPECT_FALSE(manager.systemSleepAssertionID());
    EXPECT_EQ(logind->calls.load(), 1);

    // The next evaluation asks logind again, and waits again without blocking.
    manager.handleWake();
    ASSERT_TRUE(test::waitUntil([&] { return logind->calls.load() == 2; }, 2s));
    ASSERT_TRUE(test::waitUntil([&] { return logs.messages(LogCategory::app).count(failed) == 2; }, 4s));
    manager.shutdown();
    // A call waited for on the main thread would stall it for the call's whole timeout; a busy
    // machine delays a 10 ms timer by a few scheduler slices (up to 74 ms seen on two loaded
    // cores), which is no freeze.
    EXPECT_LT(heartbeat.longestPauseMilliseconds(), LogindIdleInhibitor::callTimeoutMilliseconds / 4);
}
