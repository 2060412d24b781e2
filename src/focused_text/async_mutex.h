#pragma once

#include <QTimer>

#include <coroutine>
#include <deque>
#include <utility>

namespace tavrolin {

// Mutual exclusion between coroutines on one thread: `auto held = co_await mutex.lock();`
// holds the mutex until `held` goes out of scope. Waiters get it in arrival order; a waiter
// resumes from the event loop, never inside the releasing coroutine.
class AsyncMutex {
public:
    class Hold {
    public:
        explicit Hold(AsyncMutex* mutex) : mutex_(mutex) {}
        Hold(Hold&& other) noexcept : mutex_(std::exchange(other.mutex_, nullptr)) {}
        Hold& operator=(Hold&&) = delete;
        Hold(const Hold&) = delete;
        ~Hold() {
            if (mutex_) {
                mutex_->unlock();
            }
        }

    private:
        AsyncMutex* mutex_;
    };

    class Acquire {
    public:
        explicit Acquire(AsyncMutex& mutex) : mutex_(mutex) {}
        bool await_ready() const noexcept {
            if (!mutex_.locked_) {
                mutex_.locked_ = true;
                return true;
            }
            return false;
        }
        void await_suspend(std::coroutine_handle<> waiting) { mutex_.waiters_.push_back(waiting); }
        Hold await_resume() const noexcept { return Hold(&mutex_); }

    private:
        AsyncMutex& mutex_;
    };

    AsyncMutex() = default;
    AsyncMutex(const AsyncMutex&) = delete;
    AsyncMutex& operator=(const AsyncMutex&) = delete;

    Acquire lock() { return Acquire(*this); }
    bool isLocked() const { return locked_; }

private:
    void unlock() {
        if (waiters_.empty()) {
            locked_ = false;
            return;
        }
        // Ownership passes straight to the next waiter: the mutex stays locked.
        const std::coroutine_handle<> next = waiters_.front();
        waiters_.pop_front();
        QTimer::singleShot(0, [next] { next.resume(); });
    }

    bool locked_ = false;
    std::deque<std::coroutine_handle<>> waiters_;
};

}  // namespace tavrolin
