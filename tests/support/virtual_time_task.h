#pragma once

#include "support/virtual_time.h"

#include <QCoreApplication>
#include <QCoroTask>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace tavrolin::test {

namespace detail {

template <typename T>
struct Outcome {
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    bool done = false;
};

template <typename T>
QCoro::Task<void> captureOutcome(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

}  // namespace detail

// Runs a coroutine whose waits go through `scheduler`: spins the event loop and moves virtual
// time on in `step`s until the coroutine ends, then returns its result or rethrows its error.
// The virtual time it took is scheduler.elapsed() afterwards. Fails after `limit` of virtual time.
template <typename T>
T runOnVirtualTime(QCoro::Task<T> task, ManualScheduler& scheduler,
                   std::chrono::milliseconds step = std::chrono::milliseconds(10),
                   std::chrono::milliseconds limit = std::chrono::minutes(10)) {
    auto outcome = std::make_shared<detail::Outcome<T>>();
    detail::captureOutcome(std::move(task), outcome);
    const auto start = scheduler.elapsed();
    for (;;) {
        QCoreApplication::processEvents();
        if (outcome->done) {
            break;
        }
        if (scheduler.elapsed() - start >= limit) {
            throw std::runtime_error("coroutine did not finish on virtual time");
        }
        scheduler.advance(step);
    }
    if (outcome->error) {
        std::rethrow_exception(outcome->error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*outcome->value);
    }
}

}  // namespace tavrolin::test
