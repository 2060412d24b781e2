#pragma once

#include "core/anti_sleep_schedule.h"
#include "core/app_log.h"
#include "core/lifetime_token.h"
#include "platform/clock.h"
#include "platform/power_assertion.h"
#include "platform/synthetic_input.h"
#include "platform/system_event_monitoring.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Puts the anti-sleep schedule into effect. While the local time lies inside the scheduled
// range it holds a power assertion against idle system sleep and, when the schedule asks for
// it, one against idle display sleep; optionally it nudges the pointer by one pixel every
// minute so that programs watching for idle input see activity. It re-evaluates at each
// boundary of the range (one-shot timer) and when told that the machine woke or that the clock
// or time zone changed: timers run on a clock that stops while the machine sleeps, so those
// two calls are what keep boundaries right.
//
// Main thread only. Nothing is held after shutdown(); the assertions are also tied to this
// process, so they end with it however it ends. Taking and giving back an assertion may wait on
// a system service: it is awaited, never blocking the main thread, and an assertion is never
// asked for twice while a request for it is still out.
class AntiSleepManager final {
public:
    // The power assertions' name, shown by the system's inhibitor listings.
    static inline const QString assertionName = QStringLiteral("Tavrolin Anti-Sleep");
    static constexpr std::chrono::seconds maximumTransitionTolerance{1800};
    static constexpr std::chrono::seconds activityNudgeTolerance{5};

    struct Environment {
        std::shared_ptr<PowerAssertionProviding> systemSleepAssertions;
        std::shared_ptr<PowerAssertionProviding> displaySleepAssertions;
        // The pointer nudge (pointer motion only: no key goes out here); may be null (the nudge
        // then counts as not permitted).
        std::shared_ptr<SyntheticPointerInput> pointer;
        // Whether pointer motion can be sent at all (the XTest extension is there).
        std::function<bool()> pointerAvailable;
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Scheduler> scheduler;
        // Time that the clock's steps do not move: how often a notice is written.
        std::function<std::chrono::steady_clock::time_point()> monotonicNow = [] {
            return std::chrono::steady_clock::now();
        };
    };

    // A run of clock-change notices (a machine whose clock is stepped many times a second) is
    // written once a minute at most, with the number of notices since the last line.
    static constexpr std::chrono::seconds repeatedNoticeInterval{60};

    explicit AntiSleepManager(Environment environment);
    ~AntiSleepManager();
    AntiSleepManager(const AntiSleepManager&) = delete;
    AntiSleepManager& operator=(const AntiSleepManager&) = delete;

    // Applies a schedule (minutes clamped to 0...1439). An unchanged schedule does nothing.
    void configure(const AntiSleepSchedule& schedule);
    // The machine woke from sleep.
    void handleWake();
    // The system clock or the time zone changed.
    void handleClockChange();
    // Releases everything and forgets the schedule (back to the default one).
    void shutdown();
    // Decides for the current minute and times the next boundary.
    void evaluateAndSchedule();
    // Routes the system's wake and clock-change notices to handleWake() and
    // handleClockChange() for as long as both exist.
    void observe(SystemEventMonitoring& events);

    const AntiSleepSchedule& currentSchedule() const { return currentSchedule_; }
    std::optional<std::uint32_t> systemSleepAssertionID() const { return system_.id; }
    std::optional<std::uint32_t> displaySleepAssertionID() const { return display_.id; }
    bool hasScheduleTimer() const { return scheduleTimer_ != nullptr; }
    bool isActivityNudgeRunning() const { return activityNudgeTimer_ != nullptr; }
    std::chrono::seconds activityNudgeInterval() const { return activityNudgeInterval_; }

    // The boundary timer's slack: 10 % of the interval, at most 30 minutes.
    static std::chrono::milliseconds transitionTolerance(std::chrono::milliseconds interval);

private:
    // One kind of assertion: its provider, the id held, whether a request for one is out, and
    // the last "unavailable" reason written, so a missing service is reported once rather than
    // at every evaluation.
    struct AssertionSlot {
        const char* kind;
        std::shared_ptr<PowerAssertionProviding> provider;
        std::optional<std::uint32_t> id;
        bool creating = false;
        QString lastReportedReason;
    };

    bool isActiveNow() const;
    void applyActiveState(bool active);
    void releaseAll();
    void createAssertionsIfNeeded();
    bool wants(const AssertionSlot& slot) const;
    QCoro::Task<> createAssertion(AssertionSlot& slot);
    void releaseSystemSleepAssertion();
    void releaseDisplaySleepAssertion();
    void releaseAssertion(AssertionSlot& slot);
    void scheduleNextTransition();
    void cancelScheduleTimer();
    void startActivityNudgeTimerIfNeeded();
    void armActivityNudgeTimer();
    void stopActivityNudgeTimer();
    void nudgePointer();

    Environment env_;
    AssertionSlot system_{"system", env_.systemSleepAssertions, {}, false, {}};
    AssertionSlot display_{"display", env_.displaySleepAssertions, {}, false, {}};
    // Whether the last evaluation wants the assertions held (a late answer is released at once
    // when not).
    bool holding_ = false;
    std::unique_ptr<ScheduledCall> scheduleTimer_;
    std::unique_ptr<ScheduledCall> activityNudgeTimer_;
    AntiSleepSchedule currentSchedule_;
    Logger log_ = AppLog::app();
    std::chrono::seconds activityNudgeInterval_{60};
    bool hasLoggedActivityPermissionWarning_ = false;
    // When the last clock-change line was written, and the notices since.
    std::optional<std::chrono::steady_clock::time_point> clockNoticeWritten_;
    int clockNoticesUnwritten_ = 0;
    // Watched by requests still out: they touch the manager only while it exists.
    LifetimeToken<AntiSleepManager> lifetime_{this};
    // Receiver of the observed notices; going with the manager, it ends the connections.
    std::unique_ptr<QObject> eventReceiver_;
};

}  // namespace tavrolin
