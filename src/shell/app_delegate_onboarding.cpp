// The onboarding and the share prompt.
#include "commands/app_alerts.h"
#include "core/accessibility_permission.h"
#include "language/translation_setup_support.h"
#include "onboarding/onboarding_demo_service.h"
#include "onboarding/onboarding_window_controller.h"
#include "shell/app_delegate.h"
#include "shell/onboarding_hooks.h"
#include "shell/share_alert_presenter.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/share_prompt_store.h"
#include "shell/status_menu.h"
#include "shell/system_settings_opener.h"

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
            services_->sharePromptStore(), pendingSharePromptTrigger_, std::move(makePresenter),
            [self](TelemetryAction action, TelemetryTrigger trigger) {
                if (self) {
                    self->reportCommand(action, trigger);
                }
            });
    }
    return *sharePromptCoordinator_;
}

void AppDelegate::showPendingSharePrompt() {
    if (pendingSharePromptTrigger_) {
        sharePromptCoordinator().resultPanelClosed();
    }
}

void AppDelegate::presentSharePrompt(TelemetryTrigger trigger) {
    sharePromptCoordinator().presentSharePrompt(trigger);
}

OnboardingWindowServices AppDelegate::onboardingWindowServices() {
    OnboardingWindowServices services;
    services.demoRunner = services_->onboardingDemoService();
    if (factories().makeDeviceTranslationClient) {
        // The device's engine only: the language page's check never asks the server.
        services.localTranslationSetupSupport =
            services_->makeTranslationSetupSupport(factories().makeDeviceTranslationClient());
    }
    const QPointer<AppDelegate> self(this);
    services.openTranslationSetup = [self] {
        if (self) {
            self->systemSettingsOpener().open(SystemSettingsPane::translationLanguages);
        }
    };
    return services;
}

OnboardingHooks* AppDelegate::onboardingHooks() {
    if (!onboardingHooksBuilt_) {
        onboardingHooksBuilt_ = true;
        onboardingPresenter_ = factories().makeOnboardingPresenter
                                   ? factories().makeOnboardingPresenter(onboardingWindowServices())
                                   : nullptr;
        if (onboardingPresenter_) {
            if (!factories().scheduler) {
                factories().scheduler = std::make_shared<QtScheduler>();
            }
            if (!services_->accessibilityPermission()) {
                // No permission step can be shown without the accessibility bus.
                return nullptr;
            }
            const QPointer<AppDelegate> self(this);
            onboardingHooks_ = std::make_unique<OnboardingHooks>(OnboardingHooks::Dependencies{
                *factories().defaults,
                *onboardingPresenter_,
                *services_->accessibilityPermission(),
                *factories().scheduler,
                [self](TelemetryAction action, TelemetryTrigger trigger) {
                    if (self) {
                        self->reportCommand(action, trigger);
                    }
                },
                [store = services_->sharedSettingsStore()] { return store->settings(); },
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
                [self] {
                    if (self) {
                        self->alerts().openScreenRecordingSettings(TelemetryTrigger::onboarding);
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
