#include "dictation/serial_queue.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

namespace tavrolin {

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    // Keyed by (due time, submission number): equal times keep their order.
    std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> pending;
    std::uint64_t submissions = 0;
    bool stopping = false;
};

SerialQueue::SerialQueue() : state_(std::make_shared<State>()) {
    worker_ = std::thread([state = state_] {
        std::unique_lock lock(state->mutex);
        while (true) {
            if (state->stopping) {
                break;
            }
            if (state->pending.empty()) {
                state->wake.wait(lock);
                continue;
            }
            const auto first = state->pending.begin();
            if (first->first.first > Clock::now()) {
                state->wake.wait_until(lock, first->first.first);
                continue;
            }
            std::function<void()> work = std::move(first->second);
            state->pending.erase(first);
            lock.unlock();
            work();
            // The work's captures go here too: the last owner of whatever owns this queue may be
            // among them, so the queue may be gone after this line (the state is not).
            work = nullptr;
            lock.lock();
        }
        // Dropped work is destroyed on the worker, outside the lock: its captures may own
        // threads to join.
        auto dropped = std::move(state->pending);
        state->pending.clear();
        lock.unlock();
        dropped.clear();
    });
}

SerialQueue::~SerialQueue() {
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();
    } else if (worker_.joinable()) {
        worker_.join();
    }
}

void SerialQueue::async(std::function<void()> work) {
    asyncAfter(std::chrono::milliseconds(0), std::move(work));
}

void SerialQueue::asyncAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->stopping) {
            return;
        }
        state_->pending.emplace(std::make_pair(Clock::now() + delay, state_->submissions++), std::move(work));
    }
    state_->wake.notify_all();
}

bool SerialQueue::isWorkerThread() const {
    return worker_.get_id() == std::this_thread::get_id();
}

}  // namespace tavrolin
