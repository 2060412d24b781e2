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
};

// QTimer-backed scheduler. Delays are clamped to what a QTimer can hold (about 24 days);
// longer schedules must re-arm when the timer fires.
class QtScheduler final : public Scheduler {
public:
    static constexpr std::chrono::milliseconds maximumDelay{std::chrono::hours(24 * 24)};
    std::unique_ptr<ScheduledCall> scheduleAfter(std::chrono::milliseconds delay,
                                                 std::function<void()> callback) override;
};

}  // namespace tavrolin
