#include "focused_text/focus_resolver.h"

#include "platform/scheduler_sleep.h"

#include <QCoreApplication>

namespace tavrolin {

namespace {

bool sameWindow(const FrontApplication& a, const FrontApplication& b) {
    return a.processId == b.processId && a.windowId == b.windowId;
}

// Looks every `step` until `ready` holds or `left` has run out, then starts.
class LookUntilReady final : public ScheduledCall {
public:
    LookUntilReady(Scheduler& scheduler, std::function<bool()> ready, std::function<void()> start,
                   std::chrono::milliseconds step)
        : scheduler_(scheduler), ready_(std::move(ready)), start_(std::move(start)), step_(step) {}

    void lookAfterStep(std::chrono::milliseconds left) {
        next_ = scheduler_.scheduleAfter(step_, [this, left] {
            if (!ready_() && left > step_) {
                lookAfterStep(left - step_);
                return;
            }
            // Last: the start may end this look's owner.
            std::function<void()> start = std::move(start_);
            start_ = nullptr;
            start();
        });
    }
    void cancel() override {
        next_.reset();
        start_ = nullptr;
    }
    bool isActive() const override { return start_ != nullptr; }

private:
    Scheduler& scheduler_;
    std::function<bool()> ready_;
    std::function<void()> start_;
    std::chrono::milliseconds step_;
    std::unique_ptr<ScheduledCall> next_;
};

}  // namespace

bool isTextFieldRole(const std::optional<AccessibleRole>& role) {
    return role == AccessibleRole::textField || role == AccessibleRole::textArea || role == AccessibleRole::comboBox ||
           role == AccessibleRole::searchField;
}

FocusResolver::FocusResolver(Environment environment) : environment_(environment) {}

namespace {

std::optional<FrontApplication> withKnownProcess(std::optional<FrontApplication> front) {
    if (!front || front->processId <= 0) {
        return std::nullopt;
    }
    return front;
}

}  // namespace

std::optional<FrontApplication> FocusResolver::frontWindow() const {
    return withKnownProcess(environment_.frontApplications.frontApplication());
}

QCoro::Task<std::optional<FrontApplication>> FocusResolver::frontWindowOffThread() const {
    std::optional<FrontApplication> front = co_await environment_.frontApplications.frontApplicationOffThread();
    co_return withKnownProcess(std::move(front));
}

bool FocusResolver::isInFront(const std::optional<FrontApplication>& window) const {
    const std::optional<FrontApplication> front = frontWindow();
    return window && front && sameWindow(*window, *front);
}

std::unique_ptr<ScheduledCall> FocusResolver::startOnceAnotherProgramIsInFront(std::function<void()> start,
                                                                               std::chrono::milliseconds bound) {
    const auto anotherProgram = [this] {
        const std::optional<FrontApplication> front = frontWindow();
        return front && front->processId != QCoreApplication::applicationPid();
    };
    if (anotherProgram() || bound <= std::chrono::milliseconds(0)) {
        start();
        return nullptr;
    }
    auto look =
        std::make_unique<LookUntilReady>(environment_.scheduler, anotherProgram, std::move(start), focusSettleStep);
    look->lookAfterStep(bound);
    return look;
}

QCoro::Task<AccessibleElementHandle> FocusResolver::lastFocusedElement(std::optional<FrontApplication> front) {
    if (!front || front->processId <= 0) {
        co_return AccessibleElementHandle{};
    }
    const qint64 pid = front->processId;
    const AccessibleElementHandle found = co_await focusFromEvents(pid);
    co_return found&& isInFront(front) ? found : AccessibleElementHandle{};
}

QCoro::Task<AccessibleElementHandle> FocusResolver::focusedElement(std::optional<FrontApplication> front) {
    if (!front || front->processId <= 0) {
        co_return AccessibleElementHandle{};
    }
    const qint64 pid = front->processId;
    AccessibleElementHandle found = co_await lastFocusedElement(front);
    if (!found && !isInFront(front)) {
        co_return AccessibleElementHandle{};
    }
    if (!found) {
        // No focus event named an element of this program (its tree may have appeared after its
        // focus moved): its own focus.
        const auto ownFocus = [pid](Accessibility& ax) { return ax.focusedElementOfApplication(pid); };
        found = co_await ask(environment_.accessibility, ownFocus);
    }
    if (found && !isInFront(front)) {
        co_return AccessibleElementHandle{};
    }
    co_return found;
}

QCoro::Task<AccessibleElementHandle> FocusResolver::focusedElementWaitingForTree(
    std::optional<FrontApplication> front) {
    AccessibleElementHandle found = co_await focusedElement(front);
    if (found || !front || front->processId <= 0) {
        co_return found;
    }
    const qint64 pid = front->processId;
    co_await requestTreeOnce(pid, AccessibilityCalls::callBound);
    AccessibilityCalls& calls = environment_.accessibility;
    const int stepsPerPoll = int(focusPollInterval / focusSettleStep);
    for (int poll = 0; poll < focusPollCount; ++poll) {
        for (int step = 0; step < stepsPerPoll; ++step) {
            co_await sleepFor(environment_.scheduler, focusSettleStep);
            if (!isInFront(front)) {
                co_return AccessibleElementHandle{};
            }
            found = co_await focusFromEvents(pid);
            if (found) {
                co_return isInFront(front) ? found : AccessibleElementHandle{};
            }
        }
        const auto ownFocus = [pid](Accessibility& ax) { return ax.focusedElementOfApplication(pid); };
        found = co_await ask(calls, ownFocus);
        if (found) {
            co_return isInFront(front) ? found : AccessibleElementHandle{};
        }
    }
    co_return co_await focusedElementOfActiveWindow(front);
}

QCoro::Task<AccessibleElementHandle> FocusResolver::focusedElementOfActiveWindow(
    std::optional<FrontApplication> front) {
    if (!front || front->processId <= 0) {
        co_return AccessibleElementHandle{};
    }
    const qint64 pid = front->processId;
    const auto windowFocus = [pid](Accessibility& ax) { return ax.focusedElementOfActiveWindow(pid); };
    const AccessibleElementHandle found = co_await ask(environment_.accessibility, windowFocus);
    co_return found&& isInFront(front) ? found : AccessibleElementHandle{};
}

QCoro::Task<std::optional<AccessibleRole>> FocusResolver::role(AccessibleElementHandle element) {
    const auto query = [element](Accessibility& ax) { return ax.role(element); };
    co_return co_await ask(environment_.accessibility, query);
}

QCoro::Task<std::optional<QString>> FocusResolver::toolkitName(AccessibleElementHandle element) {
    const auto query = [element](Accessibility& ax) { return ax.toolkitName(element); };
    co_return co_await ask(environment_.accessibility, query);
}

QCoro::Task<bool> FocusResolver::hasText(AccessibleElementHandle element) {
    AccessibilityCalls& calls = environment_.accessibility;
    const std::optional<AccessibleRole> elementRole = co_await role(element);
    if (isTextFieldRole(elementRole)) {
        co_return true;
    }
    const auto value = [element](Accessibility& ax) { return ax.value(element); };
    const std::optional<QString> text = co_await ask(calls, value);
    if (text) {
        co_return true;
    }
    const auto selected = [element](Accessibility& ax) { return ax.selectedText(element); };
    const std::optional<QString> selection = co_await ask(calls, selected);
    co_return selection.has_value();
}

QCoro::Task<AccessibleElementHandle> FocusResolver::focusedElementWithText(std::optional<FrontApplication> front) {
    // Firefox, for one, answers the end of our shortcut's keyboard grab by reporting its content
    // panel focused and, some 20 ms later, its field again.
    const int steps = int(focusSettleBound / focusSettleStep);
    for (int step = 0; step < steps; ++step) {
        co_await sleepFor(environment_.scheduler, focusSettleStep);
        const AccessibleElementHandle focused = co_await focusedElement(front);
        if (!focused) {
            continue;
        }
        const bool withText = co_await hasText(focused);
        if (withText) {
            co_return focused;
        }
    }
    co_return AccessibleElementHandle{};
}

QCoro::Task<AccessibleElementHandle> FocusResolver::focusFromEvents(qint64 pid) {
    AccessibilityCalls& calls = environment_.accessibility;
    const auto systemFocus = [](Accessibility& ax) { return ax.systemFocusedElement(); };
    const AccessibleElementHandle found = co_await ask(calls, systemFocus);
    if (!found) {
        co_return AccessibleElementHandle{};
    }
    const auto owner = [found](Accessibility& ax) { return ax.processIdOf(found); };
    const std::optional<qint64> ownerPid = co_await ask(calls, owner);
    co_return ownerPid == pid ? found : AccessibleElementHandle{};
}

QCoro::Task<bool> FocusResolver::requestTreeOnce(qint64 processId, std::chrono::milliseconds bound) {
    if (processId <= 0 || !treesRequested_.insert(processId).second) {
        co_return false;
    }
    AccessibilityCalls::Work request = [processId](Accessibility& ax) { ax.requestAccessibilityTree(processId); };
    const bool done = co_await environment_.accessibility.run(std::move(request), bound);
    if (!done) {
        // A request that missed its turn never ran: the next look asks again.
        treesRequested_.erase(processId);
    }
    co_return true;
}

}  // namespace tavrolin
