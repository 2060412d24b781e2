#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace tavrolin {

// One worker thread that runs submitted work in order, and delayed work once its time has come
// (ordered by due time, then by submission). Destroying the queue drops work not yet started
// and joins the worker; when the queue is destroyed by work running on the worker itself, the
// worker is left to finish that work and end on its own.
class SerialQueue final {
public:
    using Clock = std::chrono::steady_clock;

    SerialQueue();
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);
    void asyncAfter(std::chrono::milliseconds delay, std::function<void()> work);
    bool isWorkerThread() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread worker_;
};

}  // namespace tavrolin
