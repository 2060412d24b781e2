#pragma once

#include "platform/accessibility_calls.h"

#include <QObject>

#include <functional>
#include <memory>

namespace tavrolin {

// The thread that makes every AT-SPI call of this process. libatspi is not thread-safe and
// dispatches its D-Bus traffic and focus events on one GLib main context: this thread runs
// that context and nothing else, so a hung application stalls only this thread, never the
// caller. While a call is overdue, further calls answer at once as unanswered instead of
// queueing behind it.
class AccessibilityThread final : public AccessibilityCalls {
public:
    using BackendFactory = std::function<std::unique_ptr<Accessibility>()>;

    // The process's accessibility thread, started on first use with the AT-SPI back end (the
    // accessibility bus switch asked within AccessibilityCalls::callBound). Create it on the
    // GUI thread; it is stopped when the application object goes away.
    static std::shared_ptr<AccessibilityThread> shared();

    // A thread whose back end `factory` builds on the thread itself; the constructor does not
    // wait for it. Only one thread may talk to AT-SPI in a process: tests that wrap the AT-SPI
    // back end use this once.
    explicit AccessibilityThread(BackendFactory factory);
    ~AccessibilityThread() override;
    AccessibilityThread(const AccessibilityThread&) = delete;
    AccessibilityThread& operator=(const AccessibilityThread&) = delete;

    QCoro::Task<bool> run(Work work, std::chrono::milliseconds bound) override;

    // Whether the thread is still busy with work that missed its bound.
    bool isStalled() const;

    struct State;  // the thread's side, shared with work in flight

private:
    std::shared_ptr<State> d_;
    QObject resumer_;  // lives on the creating thread: results come back through it
};

}  // namespace tavrolin
