#include "shell/share_prompt_coordinator.h"

namespace tavrolin {

SharePromptCoordinator::SharePromptCoordinator(SharePromptStore& store, std::optional<TelemetryTrigger>& pendingTrigger,
                                               MakePresenter makePresenter, ShareAlertPresenter::ReportEvent report)
    : store_(store), makePresenter_(std::move(makePresenter)), report_(std::move(report)), pending_(pendingTrigger) {}

bool SharePromptCoordinator::recordSuccess(TelemetryTrigger trigger) {
    const bool due = store_.recordSuccess();
    if (due) {
        pending_ = trigger;
    }
    return due;
}

void SharePromptCoordinator::resultPanelClosed() {
    // A question already up: the due prompt stays pending rather than being dropped.
    if (!pending_ || presenting_) {
        return;
    }
    const TelemetryTrigger trigger = *pending_;
    pending_.reset();
    presentSharePrompt(trigger);
}

void SharePromptCoordinator::presentSharePrompt(TelemetryTrigger trigger) {
    // The question is modal; a panel closing while it is up must not stack a second one.
    if (store_.isDisabledForever() || presenting_) {
        return;
    }
    presenting_ = true;
    ShareAlertPresenter presenter = makePresenter_();
    presenter.presentPrompt(
        report_, trigger, [] {}, [this] { store_.advanceSchedule(); }, [this] { store_.disableForever(); });
    presenting_ = false;
}

void SharePromptCoordinator::shareApp() {
    if (presenting_) {
        return;
    }
    presenting_ = true;
    ShareAlertPresenter presenter = makePresenter_();
    presenter.presentPrompt(
        report_, TelemetryTrigger::menu, [] {}, [] {}, [this] { store_.disableForever(); });
    presenting_ = false;
}

}  // namespace tavrolin
