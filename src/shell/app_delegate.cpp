#include "shell/app_delegate.h"

#include "anti_sleep/anti_sleep_manager.h"
#include "commands/app_alerts.h"
#include "commands/create_prompt_command.h"
#include "commands/flip_language_command.h"
#include "commands/focused_field_loading_target_resolver.h"
#include "commands/message_translation_command.h"
#include "commands/selection_translation_command.h"
#include "commands/smart_translation_command.h"
#include "commands/text_editing_command.h"
#include "commands/text_writing_command.h"
#include "core/accessibility_permission.h"
#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/user_preferred_languages_provider.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/active_window_text_providing.h"
#include "language/flip_language_service.h"
#include "language/hybrid_text_editing_client.h"
#include "language/message_translation_service.h"
#include "language/online_gated_clients.h"
#include "language/server_backed_translation_client.h"
#include "language/text_editing_service.h"
#include "language/text_prompting_service.h"
#include "language/text_writing_service.h"
#include "language/translation_setup_support.h"
#include "onboarding/onboarding_demo_service.h"
#include "onboarding/onboarding_state_store.h"
#include "platform/front_window_activation.h"
#include "platform/system_event_monitoring.h"
#include "selection_popup/selection_popup_seams.h"
#include "shell/alert_presenting.h"
#include "shell/alerts_after_typing.h"
#include "shell/app_actions.h"
#include "shell/error_messages.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/main_menu.h"
#include "shell/onboarding_hooks.h"
#include "shell/settings_coordinator.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/share_prompt_store.h"
#include "shell/status_menu.h"
#include "shell/system_settings_opener.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tavrolin {

std::unique_ptr<ApplicationDelegate> makeApplicationDelegate() {
    return std::make_unique<AppDelegate>();
}

AppDelegate::AppDelegate() : AppDelegate(defaultFactories()) {}

AppDelegate::AppDelegate(Factories factories) {
    // What the services call back for holds the delegate weakly and does nothing once it is gone.
    const QPointer<AppDelegate> self(this);
    AppServices::Hooks hooks;
    // No desktop has a page for translation languages: the opener explains the install.
    hooks.openTranslationSetup = [self] {
        if (self) {
            self->systemSettingsOpener().open(SystemSettingsPane::translationLanguages);
        }
    };
    // The buttons act on what they were offered for: a fresh read (a copy with keys, say) could
    // take something else, or reach another program.
    hooks.translateSelection = [self](FocusedTextFieldSnapshot selection) {
        if (self) {
            self->startSelectionTranslation(TelemetryTrigger::selectionPopup, std::move(selection));
        }
    };
    hooks.flipLanguage = [self](FocusedTextFieldSnapshot selection) {
        if (self) {
            self->startFlipLanguage(TelemetryTrigger::selectionPopup, std::move(selection));
        }
    };
    hooks.editText = [self](FocusedTextFieldSnapshot selection) {
        if (self) {
            self->startTextEditing(TelemetryTrigger::selectionPopup, std::move(selection));
        }
    };
    services_ = std::make_unique<AppServices>(std::move(factories), std::move(hooks));
    AppServices& s = *services_;
    commands_.messageTranslation =
        std::make_unique<MessageTranslationCommand>(*this, [&s] { return s.messageTranslationService(); });
    commands_.textWriting = std::make_unique<TextWritingCommand>(*this, [&s] { return s.textWritingService(); });
    commands_.textEditing = std::make_unique<TextEditingCommand>(*this, [&s] { return s.textEditingService(); });
    commands_.flipLanguage = std::make_unique<FlipLanguageCommand>(*this, [&s] { return s.flipLanguageService(); });
    commands_.createPrompt = std::make_unique<CreatePromptCommand>(*this, [&s] { return s.textPromptingService(); });
    commands_.selectionTranslation = std::make_unique<SelectionTranslationCommand>(
        *this, [&s]() -> std::shared_ptr<FocusedTextFieldAccessing> { return s.focusedTextFieldAccessor(); },
        [&s] { return s.selectionTranslationService(); }, [&s] { return s.selectionTranslationPopupPresenter(); });
    commands_.windowTranslation =
        std::make_unique<WindowTranslationCommand>(*this, [&s] { return s.screenshotController(); });
    commands_.smartTranslation = std::make_unique<SmartTranslationCommand>(
        *this, [&s] { return s.focusedTextFieldAccessor(); }, *commands_.selectionTranslation,
        *commands_.windowTranslation);
    shortcutAlerts_ = std::make_unique<AlertsAfterTyping>(
        [self](const QString& title, const QString& message) {
            if (self) {
                self->alerts().showAlert(title, message);
            }
        },
        services_->factories().makeUserKeyActivity);
    // A shortcut set aside comes back by itself: telling of it must not cost the user a letter.
    services_->hotKeyManager().setRegistrationLostHandler([self](const CaptureWorkflowError& error) {
        if (self) {
            self->shortcutAlerts_->post(QStringLiteral("Could not register shortcuts"), makeMessage(error));
        }
    });
}

AppDelegate::~AppDelegate() = default;

// ---- launch and termination

void AppDelegate::applicationDidFinishLaunching() {
    AppLog::app().info([] { return QStringLiteral("launch version=%1").arg(AppMetadata::appVersion()); });

    TelemetryEventReporter& reporter = telemetryReporter();
    reporter.reportAppInstallIfNeeded();
    reporter.reportAppLaunch();

    const QPointer<AppDelegate> self(this);
    if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
        overlay->setOnDismiss([self] {
            if (!self) {
                return;
            }
            self->commands_.windowTranslation->overlay().setContext(std::nullopt);
            self->showPendingSharePrompt();
        });
    }
    if (SelectionTranslationPopupPresenter* popup = services_->selectionTranslationPopupPresenter()) {
        popup->setOnDismiss([self] {
            if (self) {
                self->showPendingSharePrompt();
            }
        });
    }

    configureMainMenu();
    configureStatusItem();
    configureSettings();

    if (settingsStore().settings().onlineFeaturesEnabled) {
        startUpdateCheck(UpdateCheckMode::automatic);
    }

    configureAntiSleep();

    if (OnboardingHooks* onboarding = onboardingHooks()) {
        onboarding->presentAtLaunchIfNeeded();
    }

    if (settingsStore().settings().selectionPopupEnabled) {
        if (SelectionPopupTriggerController* trigger = services_->selectionPopupTriggerController()) {
            trigger->start();
        }
    }
}

void AppDelegate::applicationWillTerminate() {
    if (services_->antiSleepManager()) {
        services_->antiSleepManager()->shutdown();
    }
    services_->hotKeyManager().unregister();
    if (QSystemTrayIcon* item = statusItem()) {
        item->hide();
    }
}

void AppDelegate::quit(TelemetryTrigger trigger) {
    // The report is handed off and never waited for: quitting does not depend on the network.
    TelemetryEventReporter& reporter = telemetryReporter();
    reporter.send(reporter.makeContext(TelemetryAction::quit, trigger));
    QCoreApplication::quit();
}

void AppDelegate::activateFromAnotherLaunch() {
    // A tray application has no window of its own to raise; the open windows (settings,
    // onboarding, scratchpad) come forward.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() != Qt::Popup && window->windowType() != Qt::ToolTip) {
            window->raise();
            window->activateWindow();
        }
    }
}

// ---- anti-sleep

void AppDelegate::configureAntiSleep() {
    if (services_->antiSleepManager()) {
        services_->antiSleepManager()->configure(settingsStore().settings().antiSleepSchedule);
    }
    if (!systemEventMonitor_ && factories().makeSystemEventMonitor) {
        systemEventMonitor_ = factories().makeSystemEventMonitor();
        if (systemEventMonitor_ && services_->antiSleepManager()) {
            services_->antiSleepManager()->observe(*systemEventMonitor_);
        }
    }
}

}  // namespace tavrolin
