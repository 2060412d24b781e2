#pragma once

#include "core/anti_sleep_schedule.h"
#include "core/app_log.h"
#include "platform/clock.h"
#include "platform/power_assertion.h"
#include "platform/synthetic_input.h"
#include "platform/system_event_monitoring.h"

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
// process, so they end with it however it ends.
class AntiSleepManager final {
public:
    // The power assertions' name, shown by the system's inhibitor listings.
    static inline const QString assertionName = QStringLiteral("Tavrolin Anti-Sleep");
    static constexpr std::chrono::seconds maximumTransitionTolerance{1800};
    static constexpr std::chrono::seconds activityNudgeTolerance{5};

    struct Environment {
        std::shared_ptr<PowerAssertionProviding> systemSleepAssertions;
        std::shared_ptr<PowerAssertionProviding> displaySleepAssertions;
        // The pointer nudge; may be null (the nudge then counts as not permitted).
        std::shared_ptr<SyntheticInput> input;
        // Whether synthetic input can be sent at all (the XTest extension is there).
        std::function<bool()> inputAvailable;
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Scheduler> scheduler;
    };

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
    std::optional<std::uint32_t> systemSleepAssertionID() const { return systemSleepAssertionID_; }
    std::optional<std::uint32_t> displaySleepAssertionID() const { return displaySleepAssertionID_; }
    bool hasScheduleTimer() const { return scheduleTimer_ != nullptr; }
    bool isActivityNudgeRunning() const { return activityNudgeTimer_ != nullptr; }
    std::chrono::seconds activityNudgeInterval() const { return activityNudgeInterval_; }

    // The boundary timer's slack: 10 % of the interval, at most 30 minutes.
    static std::chrono::milliseconds transitionTolerance(std::chrono::milliseconds interval);

private:
    bool isActiveNow() const;
    void applyActiveState(bool active);
    void releaseAll();
    void createAssertionsIfNeeded();
    std::optional<std::uint32_t> createAssertion(PowerAssertionProviding& provider, const char* kind,
                                                 QString& lastReportedReason);
    void releaseSystemSleepAssertion();
    void releaseDisplaySleepAssertion();
    void releaseAssertion(PowerAssertionProviding& provider, const char* kind, std::optional<std::uint32_t>& id);
    void scheduleNextTransition();
    void cancelScheduleTimer();
    void startActivityNudgeTimerIfNeeded();
    void armActivityNudgeTimer();
    void stopActivityNudgeTimer();
    void nudgePointer();

    Environment env_;
    std::optional<std::uint32_t> systemSleepAssertionID_;
    std::optional<std::uint32_t> displaySleepAssertionID_;
    std::unique_ptr<ScheduledCall> scheduleTimer_;
    std::unique_ptr<ScheduledCall> activityNudgeTimer_;
    AntiSleepSchedule currentSchedule_;
    Logger log_ = AppLog::app();
    std::chrono::seconds activityNudgeInterval_{60};
    bool hasLoggedActivityPermissionWarning_ = false;
    // The last "unavailable" reason written per assertion kind, so a missing service is
    // reported once rather than at every evaluation.
    QString lastSystemFailureReason_;
    QString lastDisplayFailureReason_;
    // Receiver of the observed notices; going with the manager, it ends the connections.
    std::unique_ptr<QObject> eventReceiver_;
};

}  // namespace tavrolin
