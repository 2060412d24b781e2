#pragma once

#include "platform/clock.h"

#include <chrono>
#include <coroutine>
#include <memory>

namespace tavrolin {

// A pause inside a coroutine, timed by a Scheduler: `co_await sleepFor(scheduler, 200ms)`.
// The event loop keeps running meanwhile; on a virtual-time scheduler the pause ends when the
// test advances the time. A delay of zero or less does not suspend at all.
class SchedulerSleep {
public:
    SchedulerSleep(Scheduler& scheduler, std::chrono::milliseconds delay) : scheduler_(scheduler), delay_(delay) {}

    bool await_ready() const noexcept { return delay_.count() <= 0; }
    void await_suspend(std::coroutine_handle<> waiting) {
        call_ = scheduler_.scheduleAfter(delay_, [waiting] { waiting.resume(); });
    }
    void await_resume() const noexcept {}

private:
    Scheduler& scheduler_;
    std::chrono::milliseconds delay_;
    std::unique_ptr<ScheduledCall> call_;
};

inline SchedulerSleep sleepFor(Scheduler& scheduler, std::chrono::milliseconds delay) {
    return SchedulerSleep(scheduler, delay);
}

}  // namespace tavrolin
