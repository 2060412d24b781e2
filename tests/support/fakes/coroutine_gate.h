#pragma once

// A gate for test doubles that answer asynchronously: while `holds` is set, every coroutine
// that awaits pass() waits until release(), as calls to a slow server would.
#include <coroutine>
#include <vector>

namespace tavrolin::test {

class CoroutineGate {
public:
    ~CoroutineGate() { release(); }

    bool holds = false;

    int heldCount() const { return static_cast<int>(held_.size()); }
    // Lets every waiting coroutine go on, in the order they arrived; later ones pass at once.
    void release() {
        holds = false;
        const auto held = std::move(held_);
        held_.clear();
        for (const auto handle : held) {
            handle.resume();
        }
    }

    struct Awaiter {
        CoroutineGate* gate;
        bool await_ready() const noexcept { return !gate->holds; }
        void await_suspend(std::coroutine_handle<> handle) { gate->held_.push_back(handle); }
        void await_resume() const noexcept {}
    };
    Awaiter pass() { return Awaiter{this}; }

private:
    std::vector<std::coroutine_handle<>> held_;
};

}  // namespace tavrolin::test
