#include "platform/linux/accessibility_thread.h"

#include "platform/desktop_backend.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "platform/linux/x11_front_window_content.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <atomic>
#include <coroutine>
#include <glib.h>
#include <thread>

namespace tavrolin {

namespace {

using Clock = std::chrono::steady_clock;

// One piece of work between the caller and the thread.
struct Call {
    AccessibilityCalls::Work work;
    std::chrono::milliseconds bound{0};
    std::atomic<bool> abandoned{false};  // the caller stopped waiting: do not start it
    bool resumed = false;                // caller's thread only
    bool inTime = false;                 // caller's thread only
    std::coroutine_handle<> waiter;
};

}  // namespace

struct AccessibilityThread::State {
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
    std::unique_ptr<Accessibility> backend;
    // When the work now running started and how long it may take; zero bound: idle.
    std::atomic<Clock::rep> runningSince{0};
    std::atomic<std::chrono::milliseconds::rep> runningBound{0};

    ~State() {
        if (loop) {
            g_main_loop_unref(loop);
        }
        if (context) {
            g_main_context_unref(context);
        }
    }
};

namespace {

struct Dispatch {
    std::shared_ptr<AccessibilityThread::State> state;
    std::shared_ptr<Call> call;
    QObject* resumer;  // outlives the thread: the owner joins it before letting go
};

void resume(const std::shared_ptr<Call>& call, bool inTime) {
    if (call->resumed) {
        return;
    }
    call->resumed = true;
    call->inTime = inTime;
    if (!inTime) {
        call->abandoned = true;
    }
    call->waiter.resume();
}

}  // namespace

std::shared_ptr<AccessibilityThread> AccessibilityThread::shared() {
    static std::weak_ptr<AccessibilityThread> current;
    static std::shared_ptr<AccessibilityThread> keeper;
    if (std::shared_ptr<AccessibilityThread> existing = current.lock()) {
        return existing;
    }
    auto created = std::make_shared<AccessibilityThread>([] {
        // The bus switch is asked on the thread too, within the same bound.
        auto backend = std::make_unique<AtspiAccessibility>(
            std::make_shared<DBusAccessibilityBusStatus>(static_cast<int>(callBound.count())));
        backend->setFrontWindowContentReader(&x11::frontWindowContent);
        return backend;
    });
    current = created;
    keeper = created;
    // AT-SPI may be set up only once per process: the thread lives until the application ends.
    qAddPostRoutine([] { keeper.reset(); });
    return created;
}

AccessibilityThread::AccessibilityThread(BackendFactory factory) : d_(std::make_shared<State>()) {
    d_->context = g_main_context_new();
    d_->loop = g_main_loop_new(d_->context, FALSE);
    // The back end connects to the accessibility bus on the thread, and the creator does not
    // wait for it (the bus answers from another process): work given meanwhile queues on the
    // thread's context and runs once the back end is there.
    d_->thread = std::thread([state = d_.get(), factory = std::move(factory)] {
        g_main_context_push_thread_default(state->context);
        // Building it counts as a call: while it is overdue, calls answer at once as unanswered.
        state->runningSince = Clock::now().time_since_epoch().count();
        state->runningBound = AccessibilityCalls::callBound.count();
        state->backend = factory();
        state->runningBound = 0;
        g_main_loop_run(state->loop);
        state->backend.reset();
        // Releases queued from elsewhere (objects dropped by callers) still run here, and so do
        // the last answers, time-outs and disconnections of calls still out (one call's bound
        // and a little more), so that nothing is left half done.
        const auto drainUntil = Clock::now() + AccessibilityCalls::callBound + std::chrono::milliseconds(100);
        while (Clock::now() < drainUntil) {
            if (!g_main_context_iteration(state->context, FALSE)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        g_main_context_pop_thread_default(state->context);
    });
}

AccessibilityThread::~AccessibilityThread() {
    g_main_loop_quit(d_->loop);
    // A loop that has not started yet (the back end is still being built) would miss that quit:
    // the same quit also waits on the context, ahead of any queued work.
    g_main_context_invoke_full(
        d_->context, G_PRIORITY_HIGH,
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        d_->loop, nullptr);
    // Wakes the loop even when it is blocked in a call: it returns within that call's bound.
    g_main_context_wakeup(d_->context);
    if (d_->thread.joinable()) {
        d_->thread.join();
    }
}

bool AccessibilityThread::isStalled() const {
    const auto bound = d_->runningBound.load();
    if (bound == 0) {
        return false;
    }
    const auto since = Clock::time_point(Clock::duration(d_->runningSince.load()));
    return Clock::now() - since > std::chrono::milliseconds(bound);
}

QCoro::Task<bool> AccessibilityThread::run(Work work, std::chrono::milliseconds bound) {
    if (isStalled()) {
        co_return false;
    }
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    call->bound = bound;

    struct Awaiter {
        AccessibilityThread* self;
        std::shared_ptr<Call> call;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiter) {
            call->waiter = waiter;
            QTimer::singleShot(call->bound, &self->resumer_, [call = call] { resume(call, false); });
            auto* dispatch = new Dispatch{self->d_, call, &self->resumer_};
            g_main_context_invoke_full(
                self->d_->context, G_PRIORITY_DEFAULT,
                [](gpointer data) -> gboolean {
                    auto* d = static_cast<Dispatch*>(data);
                    State& state = *d->state;
                    if (!d->call->abandoned.load() && state.backend) {
                        state.runningSince = Clock::now().time_since_epoch().count();
                        state.runningBound = std::max<std::chrono::milliseconds::rep>(d->call->bound.count(), 1);
                        d->call->work(*state.backend);
                        state.runningBound = 0;
                    }
                    // Whatever the work captured (objects of the back end) is let go here.
                    d->call->work = nullptr;
                    QMetaObject::invokeMethod(
                        d->resumer, [call = d->call] { resume(call, true); }, Qt::QueuedConnection);
                    return G_SOURCE_REMOVE;
                },
                dispatch, [](gpointer data) { delete static_cast<Dispatch*>(data); });
        }
        bool await_resume() const noexcept { return call->inTime; }
    };
    // Named: a temporary awaiter inside the co_await expression could be destroyed twice.
    Awaiter awaiter{this, call};
    const bool inTime = co_await awaiter;
    co_return inTime;
}

std::shared_ptr<AccessibilityCalls> systemAccessibilityCalls() {
    return AccessibilityThread::shared();
}

}  // namespace tavrolin
