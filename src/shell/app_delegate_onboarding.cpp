// The onboarding and the share prompt.
#include "shell/app_delegate.h"

#include "core/accessibility_permission.h"
#include "shell/app_alerts.h"
#include "shell/onboarding_hooks.h"
#include "shell/share_alert_presenter.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/share_prompt_store.h"
#include "shell/status_menu.h"

namespace tavrolin {

SharePromptCoordinator& AppDelegate::sharePromptCoordinator() {
    if (!sharePromptCoordinator_) {
        const QPointer<AppDelegate> self(this);
        auto makePresenter = [self]() {
            // Made for one prompt: the anchor follows the tray icon wherever it is then.
            ShareAlertPresenter::AnchorProvider anchor = [self]() -> std::optional<QPoint> {
                return ShareAlertPresenter::trayIconAnchor(self ? self->statusItem() : nullptr);
            };
            return ShareAlertPresenter(std::move(anchor), ShareAlertPresenter::askThrough(self->alertPresenter()));
        };
        sharePromptCoordinator_ = std::make_unique<SharePromptCoordinator>(
            *sharePromptStore_, pendingSharePromptTrigger, std::move(makePresenter), [self](TelemetryAction action, TelemetryTrigger trigger) {
                if (self) {
                    self->reportCommand(action, trigger);
                }
            });
    }
    return *sharePromptCoordinator_;
}

void AppDelegate::showPendingSharePrompt() {
    if (pendingSharePromptTrigger) {
        sharePromptCoordinator().resultPanelClosed();
    }
}

void AppDelegate::presentSharePrompt(TelemetryTrigger trigger) { sharePromptCoordinator().presentSharePrompt(trigger); }

OnboardingHooks* AppDelegate::onboardingHooks() {
    if (!onboardingHooksBuilt_) {
        onboardingHooksBuilt_ = true;
        onboardingPresenter_ = factories_.makeOnboardingPresenter ? factories_.makeOnboardingPresenter() : nullptr;
        if (onboardingPresenter_) {
            if (!factories_.scheduler) {
                factories_.scheduler = std::make_shared<QtScheduler>();
            }
            const QPointer<AppDelegate> self(this);
            onboardingHooks_ = std::make_unique<OnboardingHooks>(OnboardingHooks::Dependencies{
                *factories_.defaults,
                *onboardingPresenter_,
                accessibilityPermission(),
                *factories_.scheduler,
                [self](TelemetryAction action, TelemetryTrigger trigger) {
                    if (self) {
                        self->reportCommand(action, trigger);
                    }
                },
                [store = settingsStore_] { return store->settings(); },
                [self](const AppSettings& settings) -> std::optional<QString> {
                    if (!self) {
                        return std::nullopt;
                    }
                    return self->saveSettings(settings, TelemetryTrigger::onboarding);
                },
                [self] {
                    if (self) {
                        self->alerts().openAccessibilitySettings(TelemetryTrigger::onboarding);
                    }
                },
                [self] {
                    if (self) {
                        self->presentDictationScratchpad();
                    }
                },
            });
        }
    }
    return onboardingHooks_.get();
}

void AppDelegate::presentOnboarding(OnboardingPages pages, bool markCompletedOnClose, TelemetryTrigger trigger) {
    if (OnboardingHooks* onboarding = onboardingHooks()) {
        onboarding->presentOnboarding(
            pages == OnboardingPages::all ? OnboardingPageSet::fullTutorial : OnboardingPageSet::firstRun,
            markCompletedOnClose, trigger);
    }
}

}  // namespace tavrolin
