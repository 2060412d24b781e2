#pragma once

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QEventLoop>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace tavrolin::test {

namespace detail {

// QCoro::waitFor loses an exception thrown by the awaited task and then waits forever, so
// the task is awaited here and its outcome carried out by hand.
template <typename T>
QCoro::Task<> awaitInto(QCoro::Task<T>& task, std::optional<T>& result, std::exception_ptr& error, bool& done,
                        QEventLoop& loop) {
    try {
        result.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

inline QCoro::Task<> awaitVoid(QCoro::Task<>& task, std::exception_ptr& error, bool& done, QEventLoop& loop) {
    try {
        co_await task;
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

}  // namespace detail

// Runs a coroutine to completion on the current thread's event loop and returns its result
// (or rethrows its exception).
template <typename T>
T await(QCoro::Task<T>&& task) {
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    if constexpr (std::is_void_v<T>) {
        auto runner = detail::awaitVoid(task, error, done, loop);
        if (!done) {
            loop.exec();
        }
        if (error) {
            std::rethrow_exception(error);
        }
    } else {
        std::optional<T> result;
        auto runner = detail::awaitInto(task, result, error, done, loop);
        if (!done) {
            loop.exec();
        }
        if (error) {
            std::rethrow_exception(error);
        }
        return std::move(*result);
    }
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
