#pragma once

#include "platform/accessibility.h"

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

namespace tavrolin {

// The one way to reach other applications' accessibility objects from the GUI thread. The
// queries of Accessibility block while the other application answers; they all run here, one
// after another in the order they were given, on a thread that does nothing else, and the
// caller awaits each one with a bound, so a hung application can never freeze the caller.
class AccessibilityCalls {
public:
    using Work = std::function<void(Accessibility&)>;

    // How long one accessibility query may take before it counts as unanswered.
    static constexpr std::chrono::milliseconds callBound{500};

    virtual ~AccessibilityCalls() = default;

    // Runs `work` after everything given before it and resumes the caller on its own thread.
    // Answers true when the work finished within `bound`; false when it did not (work that has
    // not started by then never runs, work already running finishes unobserved). Must be
    // awaited from the thread that created this object.
    virtual QCoro::Task<bool> run(Work work, std::chrono::milliseconds bound) = 0;
};

// Asks one query within AccessibilityCalls::callBound; `fallback` when no answer came in time.
// The query runs on the accessibility thread: it must capture by value. Pass it as a named
// variable: a lambda built inside a co_await expression is a temporary that the compiler may
// destroy twice.
template <typename Query, typename Result = std::invoke_result_t<Query, Accessibility&>>
QCoro::Task<Result> ask(AccessibilityCalls& calls, Query query, Result fallback = Result{},
                        std::chrono::milliseconds bound = AccessibilityCalls::callBound) {
    // Shared: a query that misses its bound may still finish after the caller moved on.
    auto answer = std::make_shared<std::optional<Result>>();
    AccessibilityCalls::Work work = [answer, query = std::move(query)](Accessibility& accessibility) {
        answer->emplace(query(accessibility));
    };
    const bool inTime = co_await calls.run(std::move(work), bound);
    if (!inTime || !answer->has_value()) {
        co_return fallback;
    }
    co_return std::move(**answer);
}

}  // namespace tavrolin
