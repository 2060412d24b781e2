#pragma once

#include "shell/share_alert_presenter.h"
#include "shell/share_prompt_store.h"

#include <functional>
#include <optional>

namespace tavrolin {

// The application's side of the share prompt: a workflow whose success fell due leaves its
// trigger in the pending trigger; the prompt is shown when the window overlay or the selection
// popup next closes, never on top of the result that earned it. The status menu's "Share
// Tavrolin…" asks the same question at once and touches no counter. Main thread only.
class SharePromptCoordinator final {
public:
    using MakePresenter = std::function<ShareAlertPresenter()>;

    // `pendingTrigger` is the owner's (the application delegate's): workflows write it, this
    // object reads and clears it; it must outlive this object.
    SharePromptCoordinator(SharePromptStore& store, std::optional<TelemetryTrigger>& pendingTrigger,
                           MakePresenter makePresenter, ShareAlertPresenter::ReportEvent report);

    // For workflows: counts the success and, when a prompt falls due, keeps `trigger` pending
    // (a later due success overwrites it). Answers what the store answered.
    bool recordSuccess(TelemetryTrigger trigger);
    std::optional<TelemetryTrigger> pendingTrigger() const { return pending_; }

    // Installed as the dismissal callback of the overlay and of the selection popup. While a
    // question is up the pending prompt waits for the next close.
    void resultPanelClosed();

    // The automatic prompt (nothing when the user chose never to be asked).
    void presentSharePrompt(TelemetryTrigger trigger);
    // The menu command: always asks; only "Don’t Ask Again" changes anything.
    void shareApp();

private:
    SharePromptStore& store_;
    MakePresenter makePresenter_;
    ShareAlertPresenter::ReportEvent report_;
    std::optional<TelemetryTrigger>& pending_;
    bool presenting_ = false;
};

}  // namespace tavrolin
