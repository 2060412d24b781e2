#pragma once

#include "platform/clock.h"

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace tavrolin::test {

// A clock that only moves when told to.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC)) : now_(start) {}
    QDateTime now() const override { return now_; }
    void set(const QDateTime& time) { now_ = time; }
    void advance(std::chrono::milliseconds by) { now_ = now_.addMSecs(by.count()); }

private:
    QDateTime now_;
};

// A scheduler on virtual time: calls fire only from advance(), in due order. When built on a
// FakeClock, advance() moves the clock too, so a callback that reads the clock sees its due time.
class ManualScheduler final : public Scheduler {
public:
    explicit ManualScheduler(FakeClock* clock = nullptr) : clock_(clock) {}
    std::unique_ptr<ScheduledCall> scheduleAfter(std::chrono::milliseconds delay,
                                                 std::function<void()> callback) override;
    // Calls run exactly when due; the tolerance is only recorded for pendingCalls().
    std::unique_ptr<ScheduledCall> scheduleAfterWithTolerance(std::chrono::milliseconds delay,
                                                              std::chrono::milliseconds tolerance,
                                                              std::function<void()> callback) override;

    // Runs every call due within the next `by`, including calls scheduled by those calls.
    void advance(std::chrono::milliseconds by);
    std::chrono::milliseconds elapsed() const { return now_; }
    // Delays of the calls still pending, relative to now, soonest first.
    std::vector<std::chrono::milliseconds> pendingDelays() const;
    std::size_t pendingCount() const { return pendingDelays().size(); }
    struct PendingCall {
        std::chrono::milliseconds delay;
        std::chrono::milliseconds tolerance;
    };
    // The calls still pending, soonest first, with the tolerance they were given (0 if none).
    std::vector<PendingCall> pendingCalls() const;

private:
    struct Entry {
        std::chrono::milliseconds due;
        std::uint64_t order;
        std::function<void()> callback;
        std::shared_ptr<bool> active;
        std::chrono::milliseconds tolerance{0};
    };
    FakeClock* clock_;
    std::chrono::milliseconds now_{0};
    std::uint64_t nextOrder_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace tavrolin::test
