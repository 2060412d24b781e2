#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

namespace tavrolin {

// Wall-clock time. Long schedules (update checks, anti-sleep, share prompt) read the time
// through this so tests can run them on virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A handle to one scheduled call; cancelling an already fired or cancelled call does nothing.
class ScheduledCall {
public:
    virtual ~ScheduledCall() = default;
    virtual void cancel() = 0;
    virtual bool isActive() const = 0;
};

// One-shot timers. The callback runs on the thread that owns the scheduler (the main thread
// for the Qt implementation). Destroying the returned handle cancels the call.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual std::unique_ptr<ScheduledCall> scheduleAfter(std::chrono::milliseconds delay,
                                                         std::function<void()> callback) = 0;
    // As scheduleAfter, but the call may run up to `tolerance` late, so that the system can
    // bundle wake-ups. A scheduler that cannot use the slack runs the call on time.
    virtual std::unique_ptr<ScheduledCall> scheduleAfterWithTolerance(std::chrono::milliseconds delay,
                                                                      std::chrono::milliseconds tolerance,
                                                                      std::function<void()> callback) {
        (void)tolerance;
        return scheduleAfter(delay, std::move(callback));
    }
};

// QTimer-backed scheduler. Delays are clamped to what a QTimer can hold (about 24 days);
// longer schedules must re-arm when the timer fires.
class QtScheduler final : public Scheduler {
public:
    static constexpr std::chrono::milliseconds maximumDelay{std::chrono::hours(24 * 24)};
    std::unique_ptr<ScheduledCall> scheduleAfter(std::chrono::milliseconds delay,
                                                 std::function<void()> callback) override;
    // A coarse timer (Qt lets it slip by up to 5 % of the delay) when the tolerance allows that
    // much, else a precise one.
    std::unique_ptr<ScheduledCall> scheduleAfterWithTolerance(std::chrono::milliseconds delay,
                                                              std::chrono::milliseconds tolerance,
                                                              std::function<void()> callback) override;
};

}  // namespace tavrolin
