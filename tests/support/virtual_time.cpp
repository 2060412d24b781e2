#include "support/virtual_time.h"

#include <algorithm>

namespace tavrolin::test {

namespace {

class ManualCall final : public ScheduledCall {
public:
    explicit ManualCall(std::shared_ptr<bool> active) : active_(std::move(active)) {}
    ~ManualCall() override { cancel(); }
    void cancel() override { *active_ = false; }
    bool isActive() const override { return *active_; }

private:
    std::shared_ptr<bool> active_;
};

}  // namespace

std::unique_ptr<ScheduledCall> ManualScheduler::scheduleAfter(std::chrono::milliseconds delay,
                                                              std::function<void()> callback) {
    auto active = std::make_shared<bool>(true);
    entries_.push_back(
        {now_ + std::max(delay, std::chrono::milliseconds(0)), nextOrder_++, std::move(callback), active});
    return std::make_unique<ManualCall>(active);
}

std::unique_ptr<ScheduledCall> ManualScheduler::scheduleAfterWithTolerance(std::chrono::milliseconds delay,
                                                                           std::chrono::milliseconds tolerance,
                                                                           std::function<void()> callback) {
    auto call = scheduleAfter(delay, std::move(callback));
    entries_.back().tolerance = tolerance;
    return call;
}

void ManualScheduler::advance(std::chrono::milliseconds by) {
    const auto target = now_ + by;
    for (;;) {
        std::erase_if(entries_, [](const Entry& e) { return !*e.active; });
        auto next = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == entries_.end() || next->due > target) {
            break;
        }
        Entry entry = std::move(*next);
        entries_.erase(next);
        if (clock_) {
            clock_->advance(entry.due - now_);
        }
        now_ = entry.due;
        *entry.active = false;
        entry.callback();
    }
    if (clock_) {
        clock_->advance(target - now_);
    }
    now_ = target;
}

std::vector<std::chrono::milliseconds> ManualScheduler::pendingDelays() const {
    std::vector<std::chrono::milliseconds> delays;
    for (const auto& e : entries_) {
        if (*e.active) {
            delays.push_back(e.due - now_);
        }
    }
    std::sort(delays.begin(), delays.end());
    return delays;
}

std::vector<ManualScheduler::PendingCall> ManualScheduler::pendingCalls() const {
    std::vector<const Entry*> pending;
    for (const auto& e : entries_) {
        if (*e.active) {
            pending.push_back(&e);
        }
    }
    std::sort(pending.begin(), pending.end(),
              [](const Entry* a, const Entry* b) { return a->due != b->due ? a->due < b->due : a->order < b->order; });
    std::vector<PendingCall> calls;
    for (const Entry* e : pending) {
        calls.push_back({e->due - now_, e->tolerance});
    }
    return calls;
}

}  // namespace tavrolin::test
