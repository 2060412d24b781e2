// Applying the settings to the running services, the save path and the alerts.
#include "anti_sleep/anti_sleep_manager.h"
#include "commands/app_alerts.h"
#include "core/accessibility_permission.h"
#include "core/app_log.h"
#include "language/text_editing_service.h"
#include "language/text_writing_service.h"
#include "platform/front_window_activation.h"
#include "selection_popup/selection_popup_seams.h"
#include "shell/alert_presenting.h"
#include "shell/app_delegate.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/settings_coordinator.h"
#include "shell/status_menu.h"
#include "shell/system_settings_opener.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

namespace tavrolin {

namespace {

// The accessibility alert's and the onboarding's "Open Settings": the accessibility switch is
// turned on first; the desktop's own settings open only when it could not be.
QCoro::Task<void> switchAccessibilityOnOrOpenSettings(QPointer<AppDelegate> self) {
    AccessibilityPermissionStatus status = AccessibilityPermissionStatus::notTrusted;
    try {
        status = co_await self->services().accessibilityPermission()->requestIfNeeded();
    } catch (...) {
        status = AccessibilityPermissionStatus::notTrusted;
    }
    if (self && status != AccessibilityPermissionStatus::trusted) {
        self->systemSettingsOpener().open(SystemSettingsPane::accessibility);
    }
}

}  // namespace

void AppDelegate::reportCommand(TelemetryAction action, TelemetryTrigger trigger) {
    TelemetryEventReporter& reporter = telemetryReporter();
    reporter.send(reporter.makeContext(action, trigger));
}

AlertPresenting& AppDelegate::alertPresenter() {
    if (!alertPresenter_) {
        alertPresenter_ = factories().makeAlertPresenter ? factories().makeAlertPresenter() : nullptr;
        if (!alertPresenter_) {
            alertPresenter_ = std::make_unique<MessageBoxAlertPresenter>();
        }
    }
    return *alertPresenter_;
}

SystemSettingsOpener& AppDelegate::systemSettingsOpener() {
    if (!systemSettingsOpener_) {
        std::shared_ptr<ProgramLaunching> launcher =
            factories().makeProgramLauncher ? factories().makeProgramLauncher() : nullptr;
        if (!launcher) {
            launcher = std::make_shared<DetachedProcessLauncher>();
        }
        systemSettingsOpener_ = std::make_unique<SystemSettingsOpener>(
            std::move(launcher), alertPresenter(),
            factories().environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")));
    }
    return *systemSettingsOpener_;
}

std::shared_ptr<FrontWindowActivating> AppDelegate::frontWindowActivation() {
    if (!frontWindowActivation_ && factories().makeFrontWindowActivation) {
        frontWindowActivation_ = factories().makeFrontWindowActivation();
    }
    return frontWindowActivation_;
}

AppAlerts& AppDelegate::alerts() {
    if (!alerts_) {
        frontWindowActivation();
        const QPointer<AppDelegate> self(this);
        AppAlerts::Dependencies d;
        d.presenter = &alertPresenter();
        d.openPane = [self](SystemSettingsPane pane) {
            if (!self) {
                return;
            }
            if (pane == SystemSettingsPane::accessibility && self->services().accessibilityPermission()) {
                // The switch Tavrolin can turn on itself comes first; the desktop's settings
                // only when that did not do it.
                [[maybe_unused]] auto started = switchAccessibilityOnOrOpenSettings(self);
                return;
            }
            self->systemSettingsOpener().open(pane);
        };
        d.reportCommand = [self](TelemetryAction action, TelemetryTrigger trigger) {
            if (self) {
                self->reportCommand(action, trigger);
            }
        };
        d.currentSettings = [store = services_->sharedSettingsStore()] { return store->settings(); };
        d.saveSettings = [self](const AppSettings& settings, TelemetryTrigger trigger) -> std::optional<QString> {
            if (!self) {
                return std::nullopt;
            }
            return self->saveSettings(settings, trigger);
        };
        d.rememberFrontApplication = [activation = frontWindowActivation_]() -> std::function<void()> {
            if (!activation) {
                return [] {};
            }
            const std::optional<quint32> window = activation->activeWindow();
            return [activation, window] {
                if (window) {
                    activation->activate(*window);
                }
            };
        };
        alerts_ = std::make_unique<AppAlerts>(std::move(d));
    }
    return *alerts_;
}

SettingsCoordinator& AppDelegate::settingsCoordinator() {
    if (!settingsCoordinator_) {
        const QPointer<AppDelegate> self(this);
        SettingsCoordinator::Dependencies d;
        d.store = &settingsStore();
        d.alerts = &alerts();
        d.registerHotKeys = [self](const AppSettings& settings) {
            if (!self) {
                return;
            }
            registerHotKeys(self->services().hotKeyManager(), settings,
                            [self](HotKeyAction action) -> HotKeyManager::Handler {
                                return [self, action] {
                                    if (self) {
                                        self->runCommand(action, TelemetryTrigger::hotkey);
                                    }
                                };
                            });
        };
        d.registerHotKeysSettingAside = [self](const AppSettings& settings) {
            if (self) {
                registerHotKeys(
                    self->services().hotKeyManager(), settings,
                    [self](HotKeyAction action) -> HotKeyManager::Handler {
                        return [self, action] {
                            if (self) {
                                self->runCommand(action, TelemetryTrigger::hotkey);
                            }
                        };
                    },
                    WhenKeyTaken::setAside);
            }
        };
        d.syncLaunchAtLogin = [self](bool isEnabled) {
            return self ? self->services().launchAtLoginController().sync(isEnabled) : false;
        };
        d.report = [self](const SettingsUsageEvent& event) {
            if (!self) {
                return;
            }
            TelemetryEventReporter& reporter = self->telemetryReporter();
            TelemetryEventReporter::Context context =
                reporter.makeContext(event.action, event.trigger, std::nullopt, event.targetLanguage, event.snapshot);
            if (event.startedAt.isValid()) {
                context.startedAt = event.startedAt;
            }
            reporter.send(context, event.success, event.errorCode, event.includeDuration);
        };
        d.push = [self](const AppSettings& settings, SettingsPushScope scope) {
            if (self) {
                self->pushSettings(settings, scope == SettingsPushScope::full);
            }
        };
        d.refreshStatusItem = [self](const AppSettings& settings) {
            if (self && self->statusMenuController_) {
                self->statusMenuController_->refresh(settings);
            }
        };
        d.openLoginItemsSettings = [self] {
            if (self) {
                self->systemSettingsOpener().open(SystemSettingsPane::loginItems);
            }
        };
        if (factories().clock) {
            d.now = [clock = factories().clock] { return clock->now(); };
        }
        settingsCoordinator_ = std::make_unique<SettingsCoordinator>(std::move(d));
    }
    return *settingsCoordinator_;
}

void AppDelegate::configureSettings() {
    settingsCoordinator().configureSettings();
}

std::optional<QString> AppDelegate::saveSettings(const AppSettings& settings, TelemetryTrigger trigger) {
    return settingsCoordinator().saveSettings(settings, trigger);
}

void AppDelegate::pushSettings(const AppSettings& settings, bool fullScope) {
    const double minimumDisplay =
        settings.overlayMinimumDisplayDuration < 0 ? 0.0 : settings.overlayMinimumDisplayDuration;
    if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
        overlay->setMinimumDisplayDuration(minimumDisplay);
    }
    if (SelectionTranslationPopupPresenter* popup = services_->selectionTranslationPopupPresenter()) {
        popup->setMinimumDisplayDuration(minimumDisplay);
    }
    SelectionPopupTriggerController* trigger = services_->selectionPopupTriggerController();
    if (trigger) {
        trigger->setAutoDismissDelay(settings.selectionPopupAutoDismissDelay);
    }
    if (ScreenshotController* controller = services_->builtScreenshotController()) {
        // The next window translation falls back to the new second language.
        controller->screenshotTranslationService().secondaryLanguage = settings.messageTargetLanguage;
    }
    services_->onlineFeaturePolicy()->setOnlineFeaturesEnabled(settings.onlineFeaturesEnabled);
    if (!fullScope) {
        return;
    }
    // The services that keep the second language of their own.
    if (const std::shared_ptr<TextEditingService> editing = services_->textEditingService()) {
        editing->sourceLanguage = settings.messageTargetLanguage;
        editing->targetLanguage = settings.messageTargetLanguage;
    }
    if (const std::shared_ptr<TextWritingService> writing = services_->textWritingService()) {
        writing->targetLanguage = settings.messageTargetLanguage;
    }
    if (settings.onlineFeaturesEnabled) {
        // Every save: the hooks decide whether a check is due now or later.
        updateHooks().startUpdateCheck(UpdateCheckMode::automatic);
    } else {
        // A check already running ends quietly and no timer stays armed.
        updateHooks().cancelUpdateChecks();
    }
    if (trigger) {
        if (settings.selectionPopupEnabled) {
            trigger->start();
        } else {
            trigger->stop();
        }
    }
    if (services_->antiSleepManager()) {
        services_->antiSleepManager()->configure(settings.antiSleepSchedule);
    }
}

}  // namespace tavrolin
