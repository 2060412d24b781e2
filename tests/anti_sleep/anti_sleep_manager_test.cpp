#include "anti_sleep/anti_sleep_manager.h"

#include "support/async.h"
#include "support/fakes/fake_power_assertions.h"
#include "support/fakes/memory_log_sink.h"
#include "support/scoped_time_zone.h"
#include "support/virtual_time.h"

#include <gtest/gtest.h>
#include <vector>

using namespace tavrolin;
using namespace std::chrono_literals;
using test::FakePowerAssertions;

namespace {

// Pointer input in memory: where the pointer is, and every move asked for.
class RecordingInput final : public SyntheticPointerInput {
public:
    std::optional<QPoint> pointerPosition() override { return position; }
    bool movePointerTo(QPoint to) override {
        moves.push_back(to);
        position = to;
        return true;
    }
    std::optional<QPoint> position = QPoint(300, 200);
    std::vector<QPoint> moves;
};

AntiSleepSchedule schedule(int start, int end, bool display = true, bool nudge = false, bool enabled = true) {
    AntiSleepSchedule s;
    s.enabled = enabled;
    s.startMinuteOfDay = start;
    s.endMinuteOfDay = end;
    s.preventDisplaySleep = display;
    s.keepLocalActivityAwake = nudge;
    return s;
}

QDateTime utc(int day, int hour, int minute = 0) {
    return QDateTime(QDate(2026, 1, day), QTime(hour, minute), Qt::UTC);
}

class AntiSleepManagerTest : public ::testing::Test {
protected:
    test::ScopedTimeZone zone{"UTC0"};
    test::ScopedLogCapture logs;
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>(utc(15, 12));
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>(clock.get());
    std::shared_ptr<FakePowerAssertions> system = std::make_shared<FakePowerAssertions>(7);
    std::shared_ptr<FakePowerAssertions> display = std::make_shared<FakePowerAssertions>(100);
    std::shared_ptr<RecordingInput> input = std::make_shared<RecordingInput>();
    bool xtestAvailable = true;
    std::chrono::steady_clock::time_point monotonic;
    std::unique_ptr<AntiSleepManager> manager = std::make_unique<AntiSleepManager>(AntiSleepManager::Environment{
        system, display, input, [this] { return xtestAvailable; }, clock, scheduler, [this] { return monotonic; }});

    QStringList lines() const { return logs.messages(LogCategory::app); }
    QStringList takeLines() {
        const QStringList out = lines();
        logs.sink().clear();
        return out;
    }
    std::vector<test::ManualScheduler::PendingCall> pending() const { return scheduler->pendingCalls(); }
};

}  // namespace

TEST_F(AntiSleepManagerTest, InsideTheRangeTakesBothAssertionsAndTimesTheEnd) {
    manager->configure(schedule(540, 1080));
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);
    EXPECT_EQ(manager->displaySleepAssertionID(), 100u);
    EXPECT_EQ(system->createdNames, QStringList{"Tavrolin Anti-Sleep"});
    EXPECT_EQ(display->createdNames, QStringList{"Tavrolin Anti-Sleep"});
    EXPECT_EQ(lines(),
              (QStringList{"anti-sleep system assertion created id=7", "anti-sleep display assertion created id=100",
                           "anti-sleep next transition in 21600 seconds"}));
    const auto calls = pending();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].delay, 6h);         // 18:00:00
    EXPECT_EQ(calls[0].tolerance, 1800s);  // 10 % would be 2160 s
    EXPECT_TRUE(input->moves.empty());
}

TEST_F(AntiSleepManagerTest, ConfiguringTheSameScheduleAgainDoesNothing) {
    // A fresh manager holds the default schedule already.
    manager->configure(AntiSleepSchedule{});
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);

    manager->configure(schedule(540, 1080));
    takeLines();
    manager->configure(schedule(540, 1080));
    EXPECT_TRUE(lines().isEmpty());
    EXPECT_EQ(system->createdNames.size(), 1);
    EXPECT_EQ(scheduler->pendingCount(), 1u);
    // Out-of-range minutes clamp to what is stored, so they count as the same schedule too.
    manager->configure(schedule(-10, 2000));
    EXPECT_EQ(manager->currentSchedule().startMinuteOfDay, 0);
    EXPECT_EQ(manager->currentSchedule().endMinuteOfDay, 1439);
    takeLines();
    manager->configure(schedule(-500, 1440));
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(AntiSleepManagerTest, ToleranceIsATenthOfTheIntervalUpToHalfAnHour) {
    clock->set(utc(15, 17, 30));
    manager->configure(schedule(540, 1080));
    ASSERT_EQ(pending().size(), 1u);
    EXPECT_EQ(pending()[0].delay, 30min);
    EXPECT_EQ(pending()[0].tolerance, 180s);
    EXPECT_EQ(AntiSleepManager::transitionTolerance(10s), 1s);
    EXPECT_EQ(AntiSleepManager::transitionTolerance(48h), 1800s);
}

TEST_F(AntiSleepManagerTest, OutsideTheRangeHoldsNothingAndTimesTheNextStart) {
    clock->set(utc(15, 20));
    manager->configure(schedule(540, 1080));
    EXPECT_TRUE(system->createdNames.isEmpty());
    EXPECT_TRUE(display->createdNames.isEmpty());
    EXPECT_EQ(lines(), QStringList{"anti-sleep next transition in 46800 seconds"});
    ASSERT_EQ(pending().size(), 1u);
    EXPECT_EQ(pending()[0].delay, 13h);  // 09:00 tomorrow
    EXPECT_EQ(pending()[0].tolerance, 1800s);
}

TEST_F(AntiSleepManagerTest, DisplayAssertionOnlyWhenAskedFor) {
    manager->configure(schedule(540, 1080, /*display=*/false));
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);
    EXPECT_FALSE(manager->displaySleepAssertionID());
    EXPECT_TRUE(display->createdNames.isEmpty());

    // Turning it on and off again while inside: only the display assertion comes and goes.
    manager->configure(schedule(540, 1080, true));
    EXPECT_EQ(manager->displaySleepAssertionID(), 100u);
    takeLines();
    manager->configure(schedule(540, 1080, false));
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);
    EXPECT_FALSE(manager->displaySleepAssertionID());
    EXPECT_EQ(display->released, std::vector<std::uint32_t>{100});
    EXPECT_TRUE(system->released.empty());
    EXPECT_EQ(lines(), (QStringList{"anti-sleep display assertion released id=100",
                                    "anti-sleep next transition in 21600 seconds"}));
}

TEST_F(AntiSleepManagerTest, BoundariesReleaseAndTakeAgain) {
    manager->configure(schedule(540, 1080));
    takeLines();
    scheduler->advance(6h);  // 18:00:00
    EXPECT_TRUE(system->held.empty());
    EXPECT_TRUE(display->held.empty());
    EXPECT_FALSE(manager->systemSleepAssertionID());
    EXPECT_EQ(lines(),
              (QStringList{"anti-sleep system assertion released id=7", "anti-sleep display assertion released id=100",
                           "anti-sleep next transition in 54000 seconds"}));
    takeLines();
    scheduler->advance(15h);  // 09:00:00 the next day
    EXPECT_EQ(manager->systemSleepAssertionID(), 8u);
    EXPECT_EQ(manager->displaySleepAssertionID(), 101u);
    EXPECT_EQ(lines(),
              (QStringList{"anti-sleep system assertion created id=8", "anti-sleep display assertion created id=101",
                           "anti-sleep next transition in 32400 seconds"}));
    EXPECT_EQ(scheduler->pendingCount(), 1u);
}

TEST_F(AntiSleepManagerTest, OvernightRangeIsActiveAcrossMidnight) {
    struct Case {
        QDateTime now;
        bool active;
        std::chrono::milliseconds next;
    } cases[] = {
        {utc(15, 2), true, 4h},     // until 06:00
        {utc(15, 12), false, 10h},  // until 22:00
        {utc(15, 22), true, 8h},    // until 06:00 tomorrow
        {utc(15, 5, 59), true, 1min}, {utc(15, 6), false, 16h},
    };
    for (const Case& c : cases) {
        AntiSleepManager::Environment env{system, display, input, [] { return true; }, clock, scheduler};
        clock->set(c.now);
        AntiSleepManager fresh(env);
        fresh.configure(schedule(1320, 360));
        EXPECT_EQ(fresh.systemSleepAssertionID().has_value(), c.active) << c.now.toString().toStdString();
        ASSERT_EQ(scheduler->pendingCount(), 1u);
        EXPECT_EQ(scheduler->pendingDelays()[0], c.next) << c.now.toString().toStdString();
    }
}

TEST_F(AntiSleepManagerTest, WholeDayHoldsWithoutABoundaryTimer) {
    manager->configure(schedule(600, 600));
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);
    EXPECT_EQ(manager->displaySleepAssertionID(), 100u);
    EXPECT_FALSE(manager->hasScheduleTimer());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    scheduler->advance(72h);
    EXPECT_EQ(system->createdNames.size(), 1);
    EXPECT_TRUE(system->released.empty());
}

TEST_F(AntiSleepManagerTest, FailedCreationIsRetriedAtTheNextEvaluationAndItsCauseToldOnce) {
    system->createStatus = powerAssertionServiceUnavailable;
    system->failureReason = "system bus not reachable";
    manager->configure(schedule(540, 1080, true, true));
    EXPECT_FALSE(manager->systemSleepAssertionID());
    EXPECT_EQ(manager->displaySleepAssertionID(), 100u);  // the other one is not held back
    EXPECT_TRUE(manager->isActivityNudgeRunning());
    EXPECT_EQ(takeLines(), (QStringList{"anti-sleep system assertion failed result=1",
                                        "anti-sleep system assertion unavailable reason=system bus not reachable",
                                        "anti-sleep display assertion created id=100",
                                        "anti-sleep local activity nudger started interval=60",
                                        "anti-sleep next transition in 21600 seconds"}));

    manager->handleWake();
    EXPECT_EQ(takeLines(),
              (QStringList{"anti-sleep wake notification received", "anti-sleep system assertion failed result=1",
                           "anti-sleep next transition in 21600 seconds"}));
    EXPECT_EQ(display->createdNames.size(), 1);  // held: never created twice

    system->createStatus = powerAssertionSuccess;
    manager->handleClockChange();
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);
    EXPECT_EQ(takeLines(),
              (QStringList{"anti-sleep clock change notification received", "anti-sleep system assertion created id=7",
                           "anti-sleep next transition in 21600 seconds"}));
}

TEST_F(AntiSleepManagerTest, LogLevelsFollowSuccessAndFailure) {
    display->createStatus = powerAssertionRequestFailed;
    system->releaseStatus = powerAssertionUnknownId;
    manager->configure(schedule(540, 1080));
    manager->configure(schedule(540, 1080, true, false, false));
    std::vector<std::pair<LogLevel, QString>> seen;
    for (const auto& r : logs.records()) {
        seen.emplace_back(r.level, r.message);
    }
    const std::vector<std::pair<LogLevel, QString>> expected{
        {LogLevel::info, "anti-sleep system assertion created id=7"},
        {LogLevel::error, "anti-sleep display assertion failed result=2"},
        {LogLevel::info, "anti-sleep next transition in 21600 seconds"},
        {LogLevel::error, "anti-sleep system assertion release failed id=7 result=4"},
    };
    EXPECT_EQ(seen, expected);
    // The id is forgotten even though the release failed.
    EXPECT_FALSE(manager->systemSleepAssertionID());
    EXPECT_FALSE(manager->hasScheduleTimer());
}

TEST_F(AntiSleepManagerTest, WakeAndClockChangeReevaluateFromTheClock) {
    manager->configure(schedule(540, 1080));
    takeLines();
    // The machine slept through 18:00: the timer could not fire, the wake sets things right.
    clock->set(utc(15, 20));
    manager->handleWake();
    EXPECT_TRUE(system->held.empty());
    EXPECT_EQ(
        takeLines(),
        (QStringList{"anti-sleep wake notification received", "anti-sleep system assertion released id=7",
                     "anti-sleep display assertion released id=100", "anti-sleep next transition in 46800 seconds"}));
    ASSERT_EQ(scheduler->pendingCount(), 1u);
    EXPECT_EQ(scheduler->pendingDelays()[0], 13h);

    // 20:00 UTC is 15:00 in New York: moving there puts the moment back inside the range.
    zone.set("EST5EDT,M3.2.0,M11.1.0");
    manager->handleClockChange();
    EXPECT_EQ(manager->systemSleepAssertionID(), 8u);
    EXPECT_EQ(
        takeLines(),
        (QStringList{"anti-sleep clock change notification received", "anti-sleep system assertion created id=8",
                     "anti-sleep display assertion created id=101", "anti-sleep next transition in 10800 seconds"}));
    ASSERT_EQ(scheduler->pendingCount(), 1u);
}

TEST_F(AntiSleepManagerTest, AClockSteppedTenTimesASecondIsWrittenOnceAMinuteWithItsCount) {
    // A virtual machine's clock stepped back and forth ten times a second for a minute.
    for (int step = 1; step <= 601; ++step) {
        monotonic += 100ms;
        clock->set(utc(15, 12).addMSecs(step % 2 == 0 ? 0 : 700));
        manager->handleClockChange();
    }
    EXPECT_EQ(takeLines(), (QStringList{"anti-sleep clock change notification received",
                                        "anti-sleep clock change notification received count=600"}));
    // Each notice is still acted on.
    manager->configure(schedule(540, 1080));
    takeLines();
    clock->set(utc(15, 20));
    manager->handleClockChange();
    EXPECT_FALSE(manager->systemSleepAssertionID());
}

TEST_F(AntiSleepManagerTest, SystemNoticesReachTheManagerWhileItLives) {
    SystemEventMonitoring events;
    manager->observe(events);
    // While disabled a notice is only logged.
    Q_EMIT events.didWake();
    Q_EMIT events.clockDidChange();
    EXPECT_EQ(takeLines(),
              (QStringList{"anti-sleep wake notification received", "anti-sleep clock change notification received"}));
    EXPECT_TRUE(system->createdNames.isEmpty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);

    manager.reset();
    takeLines();
    Q_EMIT events.didWake();
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(AntiSleepManagerTest, DisablingAndShutdownReleaseEverything) {
    manager->configure(schedule(540, 1080, true, true));
    manager->configure(schedule(540, 1080, true, true, false));
    EXPECT_TRUE(system->held.empty());
    EXPECT_TRUE(display->held.empty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    EXPECT_FALSE(manager->isActivityNudgeRunning());

    manager->configure(schedule(540, 1080, true, true));
    ASSERT_EQ(scheduler->pendingCount(), 2u);
    takeLines();
    manager->shutdown();
    EXPECT_TRUE(system->held.empty());
    EXPECT_TRUE(display->held.empty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
    EXPECT_FALSE(manager->hasScheduleTimer());
    EXPECT_FALSE(manager->isActivityNudgeRunning());
    EXPECT_EQ(manager->currentSchedule(), AntiSleepSchedule{});
    EXPECT_EQ(lines(), (QStringList{"anti-sleep system assertion released id=8",
                                    "anti-sleep display assertion released id=101"}));

    // The same schedule applies afresh after a shutdown.
    manager->configure(schedule(540, 1080, true, true));
    EXPECT_EQ(system->held.size(), 1u);
    // And destroying the manager lets go of it too.
    manager.reset();
    EXPECT_TRUE(system->held.empty());
    EXPECT_TRUE(display->held.empty());
    EXPECT_EQ(scheduler->pendingCount(), 0u);
}

TEST_F(AntiSleepManagerTest, NudgeMovesOnePixelAsideAndBackEveryMinute) {
    manager->configure(schedule(540, 1080));
    takeLines();
    manager->configure(schedule(540, 1080, true, true));
    EXPECT_EQ(input->moves, (std::vector<QPoint>{{299, 200}, {300, 200}}));
    EXPECT_EQ(lines(), (QStringList{"anti-sleep local activity nudger started interval=60",
                                    "anti-sleep next transition in 21600 seconds"}));
    const auto calls = pending();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].delay, 60s);
    EXPECT_EQ(calls[0].tolerance, 5s);

    scheduler->advance(60s);
    EXPECT_EQ(input->moves.size(), 4u);
    scheduler->advance(120s);
    EXPECT_EQ(input->moves.size(), 8u);
    EXPECT_EQ(input->position, QPoint(300, 200));

    manager->configure(schedule(540, 1080, true, false));
    scheduler->advance(10min);
    EXPECT_EQ(input->moves.size(), 8u);
    EXPECT_FALSE(manager->isActivityNudgeRunning());
    EXPECT_EQ(manager->systemSleepAssertionID(), 7u);  // untouched by the nudge switch
}

TEST_F(AntiSleepManagerTest, NudgeGoesRightAtTheLeftEdge) {
    struct Case {
        std::optional<QPoint> at;
        std::vector<QPoint> moves;
    } cases[] = {
        {QPoint(0, 40), {{1, 40}, {0, 40}}},
        {QPoint(1, 40), {{2, 40}, {1, 40}}},
        {QPoint(2, 40), {{1, 40}, {2, 40}}},
        {std::nullopt, {{1, 0}, {0, 0}}},  // position unknown: treated as the origin
    };
    for (const Case& c : cases) {
        auto pointer = std::make_shared<RecordingInput>();
        pointer->position = c.at;
        AntiSleepManager nudger({system, display, pointer, [] { return true; }, clock, scheduler});
        nudger.configure(schedule(540, 1080, false, true));
        EXPECT_EQ(pointer->moves, c.moves);
    }
}

TEST_F(AntiSleepManagerTest, WithoutSyntheticInputTheWarningComesOncePerRun) {
    xtestAvailable = false;
    manager->configure(schedule(540, 1080, true, true));
    scheduler->advance(10min);
    const QString warning = "anti-sleep local activity nudger requires Accessibility permission";
    EXPECT_EQ(lines().count(warning), 1);
    EXPECT_TRUE(input->moves.empty());
    EXPECT_TRUE(manager->isActivityNudgeRunning());

    // Granted later: the running timer starts nudging.
    xtestAvailable = true;
    scheduler->advance(60s);
    EXPECT_EQ(input->moves.size(), 2u);

    // Lost again, then the range ends and starts again: a new run may warn once more.
    xtestAvailable = false;
    scheduler->advance(24h);
    EXPECT_EQ(lines().count(warning), 2);
    const auto records = logs.records();
    for (const auto& r : records) {
        if (r.message == warning) {
            EXPECT_EQ(r.level, LogLevel::error);
        }
    }
}

TEST_F(AntiSleepManagerTest, SlowAnswersAreAwaitedNeverAskedTwiceAndLateOnesGivenBack) {
    system->holdCreations = true;
    display->holdCreations = true;
    manager->configure(schedule(540, 1080, true, true));
    // Nothing waits for the services: the evaluation goes on to the nudge and the timer.
    EXPECT_FALSE(manager->systemSleepAssertionID());
    EXPECT_TRUE(manager->isActivityNudgeRunning());
    EXPECT_EQ(takeLines(), (QStringList{"anti-sleep local activity nudger started interval=60",
                                        "anti-sleep next transition in 21600 seconds"}));
    // Evaluations while the requests are out ask for nothing more.
    manager->handleWake();
    EXPECT_EQ(system->createdNames.size(), 1);
    EXPECT_EQ(display->createdNames.size(), 1);
    takeLines();

    system->answerHeldCreations();
    display->answerHeldCreations();
    ASSERT_TRUE(
        test::waitUntil([&] { return manager->systemSleepAssertionID() && manager->displaySleepAssertionID(); }));
    EXPECT_EQ(*manager->systemSleepAssertionID(), 7u);
    EXPECT_EQ(takeLines(),
              (QStringList{"anti-sleep system assertion created id=7", "anti-sleep display assertion created id=100"}));

    // The range ends while a new request is out: its late answer is given back at once.
    manager->configure(schedule(540, 1080, false, true));  // display no longer wanted
    EXPECT_EQ(display->released, (std::vector<std::uint32_t>{100}));
    scheduler->advance(6h);  // 18:00
    EXPECT_EQ(system->released, (std::vector<std::uint32_t>{7}));
    scheduler->advance(15h);  // 09:00: asked again, and the range is left before the answer
    EXPECT_EQ(system->heldCreations(), 1u);
    manager->handleClockChange();
    clock->set(utc(17, 20));
    manager->handleClockChange();
    takeLines();
    system->answerHeldCreations();
    ASSERT_TRUE(test::waitUntil([&] { return system->released.size() == 2; }));
    EXPECT_FALSE(manager->systemSleepAssertionID());
    EXPECT_TRUE(system->held.empty());
    EXPECT_EQ(takeLines(),
              (QStringList{"anti-sleep system assertion created id=8", "anti-sleep system assertion released id=8"}));
}

TEST_F(AntiSleepManagerTest, AnAnswerArrivingAfterTheManagerIsGoneIsGivenBack) {
    system->holdCreations = true;
    manager->configure(schedule(540, 1080, false, false));
    ASSERT_EQ(system->heldCreations(), 1u);
    manager.reset();
    system->answerHeldCreations();
    ASSERT_TRUE(test::waitUntil([&] { return !system->released.empty(); }));
    EXPECT_TRUE(system->held.empty());
}
