#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QCoroTask>

#include <chrono>
#include <functional>

namespace tavrolin::test {

// Runs a coroutine to completion on the current thread's event loop and returns its result
// (or rethrows its exception).
template <typename T>
T await(QCoro::Task<T>&& task) {
    return QCoro::waitFor(std::move(task));
}

// Spins the event loop until the condition holds or the time runs out; answers the condition.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace tavrolin::test
