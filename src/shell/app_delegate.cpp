#include "shell/app_delegate.h"

#include "anti_sleep/anti_sleep_manager.h"
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
#include "language/text_editing_service.h"
#include "language/text_prompting_service.h"
#include "language/text_writing_service.h"
#include "language/translation_setup_support.h"
#include "language/online_gated_clients.h"
#include "language/server_backed_translation_client.h"
#include "onboarding/onboarding_demo_service.h"
#include "platform/system_event_monitoring.h"
#include "shell/focused_field_loading_target_resolver.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/onboarding_hooks.h"
#include "shell/onboarding_state_store.h"
#include "selection_popup/selection_popup_seams.h"
#include "shell/share_prompt_store.h"
#include "shell/status_menu.h"
#include "shell/main_menu.h"
#include "shell/app_alerts.h"
#include "shell/app_actions.h"
#include "shell/settings_coordinator.h"
#include "shell/share_prompt_coordinator.h"
#include "shell/system_settings_opener.h"
#include "shell/alert_presenting.h"
#include "core/accessibility_permission.h"
#include "platform/front_window_activation.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>
#include <QMenu>
#include <QSystemTrayIcon>

namespace tavrolin {

namespace {

double nonNegative(double seconds) { return seconds < 0 ? 0.0 : seconds; }

}  // namespace

std::unique_ptr<ApplicationDelegate> makeApplicationDelegate() { return std::make_unique<AppDelegate>(); }

AppDelegate::AppDelegate() : AppDelegate(defaultFactories()) {}

AppDelegate::AppDelegate(Factories factories) : factories_(std::move(factories)) {
    DefaultsStore& defaults = *factories_.defaults;
    // The stores and managers first, in their fixed order; the settings come last so that
    // nothing built above reads them before they are loaded and sanitised.
    onboardingStore_ = factories_.makeOnboardingStateStore(defaults, 1);
    updateConfiguration_ = std::make_unique<AppUpdateConfiguration>(
        factories_.makeUpdateConfiguration(factories_.bundle, factories_.environment));
    updateStateStore_ = factories_.makeUpdateStateStore(defaults);
    sharePromptStore_ = factories_.makeSharePromptStore({20, 10, 10}, defaults);
    hotKeyManager_ = factories_.makeHotKeyManager();
    hotKeyManager_->setRegistrationLostHandler([self = QPointer<AppDelegate>(this)](const CaptureWorkflowError& error) {
        if (self) {
            self->alerts().showAlert(QStringLiteral("Could not register shortcuts"), makeMessage(error));
        }
    });
    antiSleepManager_ = factories_.makeAntiSleepManager();
    activeWindowDetector_ = factories_.makeActiveWindowDetector ? factories_.makeActiveWindowDetector() : nullptr;
    focusedTextFieldAccessor_ = factories_.makeFocusedTextFieldAccessor(0.3);
    launchAtLoginController_ = factories_.makeLaunchAtLoginController();
    settingsStore_ = factories_.makeSettingsStore(defaults);
    onlineFeaturePolicy_ = factories_.makeOnlineFeaturePolicy(settingsStore_->settings().onlineFeaturesEnabled);
}

AppDelegate::~AppDelegate() = default;

// ---- lazily built services

TelemetryEventReporter& AppDelegate::telemetryReporter() {
    if (!telemetryReporter_) {
        auto client = factories_.makeTelemetryClient(TelemetryConfiguration::resolved(factories_.bundle, factories_.environment),
                                                     ServerSessionConfiguration::telemetry());
        telemetryReporter_ = std::make_unique<TelemetryEventReporter>(std::move(client), *settingsStore_,
                                                                      *factories_.deviceIdentifier, factories_.bundle);
    }
    return *telemetryReporter_;
}

std::shared_ptr<DiagnosticsExporter> AppDelegate::diagnosticsExporter() {
    if (!diagnosticsExporter_ && factories_.makeDiagnosticsExporter) {
        diagnosticsExporter_ = factories_.makeDiagnosticsExporter();
    }
    return diagnosticsExporter_;
}

std::shared_ptr<ServerBackedTranslationClient> AppDelegate::makeServerBackedTranslationClient(
    bool withServerStartCallback) {
    auto server = factories_.makeServerTranslationClient(
        ServerTranslationConfiguration::resolved(factories_.bundle, factories_.environment),
        ServerSessionConfiguration::translation());
    // Read at every decision, from whichever thread decides.
    ServerBackedTranslationClient::PermissionCallback allowed = [policy = onlineFeaturePolicy_] {
        return policy->isOnlineFeaturesEnabled();
    };
    ServerBackedTranslationClient::StartCallback started;
    if (withServerStartCallback) {
        started = [self = QPointer<AppDelegate>(this)](AppLanguage target) {
            if (!self) {
                return;
            }
            // Only an overlay already on screen changes; building the presenter here would
            // show nothing anyway.
            if (self->screenshotOverlayPresenter_) {
                self->screenshotOverlayPresenter_->showLoading(translationLoadingText(target), true);
            }
        };
    }
    return std::make_shared<ServerBackedTranslationClient>(factories_.makeDeviceTranslationClient(), std::move(server),
                                                           std::move(allowed), std::move(started));
}

std::shared_ptr<ServerBackedTranslationClient> AppDelegate::translationClient() {
    if (!translationClient_) {
        translationClient_ = makeServerBackedTranslationClient(true);
    }
    return translationClient_;
}

std::shared_ptr<ServerBackedTranslationClient> AppDelegate::overlayTranslationSetupClient() {
    if (!overlayTranslationSetupClient_) {
        overlayTranslationSetupClient_ = makeServerBackedTranslationClient(false);
    }
    return overlayTranslationSetupClient_;
}

std::shared_ptr<TranslationSetupSupport> AppDelegate::overlayTranslationSetupSupport() {
    if (!overlayTranslationSetupSupport_) {
        overlayTranslationSetupSupport_ = std::make_shared<TranslationSetupSupport>(overlayTranslationSetupClient());
    }
    return overlayTranslationSetupSupport_;
}

std::shared_ptr<MessageTranslationService> AppDelegate::messageTranslationService() {
    if (!messageTranslationService_) {
        messageTranslationService_ = std::make_shared<MessageTranslationService>(
            focusedTextFieldAccessor_, translationClient(), settingsStore_, preferredLanguagesProvider(),
            focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    }
    return messageTranslationService_;
}

std::shared_ptr<FlipLanguageService> AppDelegate::flipLanguageService() {
    if (!flipLanguageService_) {
        flipLanguageService_ = std::make_shared<FlipLanguageService>(
            focusedTextFieldAccessor_, translationClient(), settingsStore_, preferredLanguagesProvider(),
            focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    }
    return flipLanguageService_;
}

std::shared_ptr<TextPromptingService> AppDelegate::textPromptingService() {
    if (!textPromptingService_) {
        textPromptingService_ = std::make_shared<TextPromptingService>(
            focusedTextFieldAccessor_, textPromptClient(), focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    }
    return textPromptingService_;
}

std::shared_ptr<TextEditingService> AppDelegate::textEditingService() {
    if (!textEditingService_) {
        // Both languages are the second language as the settings have it now.
        const AppLanguage language = settingsStore_->settings().messageTargetLanguage;
        textEditingService_ = std::make_shared<TextEditingService>(focusedTextFieldAccessor_, textEditingClient(), language,
                                                                   language, focusedFieldReadRetryCount,
                                                                   focusedFieldReadRetryDelay);
    }
    return textEditingService_;
}

std::shared_ptr<TextWritingService> AppDelegate::textWritingService() {
    if (!textWritingService_ && factories_.makeActiveWindowTextProvider) {
        auto windowText = factories_.makeActiveWindowTextProvider(activeWindowDetector_);
        if (windowText) {
            textWritingService_ = std::make_shared<TextWritingService>(
                focusedTextFieldAccessor_, std::move(windowText), textWritingClient(), focusedFieldReadRetryCount,
                focusedFieldReadRetryDelay, settingsStore_->settings().messageTargetLanguage);
        }
    }
    return textWritingService_;
}

std::shared_ptr<OnboardingDemoService> AppDelegate::onboardingDemoService() {
    if (!onboardingDemoService_) {
        onboardingDemoService_ =
            std::make_shared<OnboardingDemoService>(textEditingClient(), textWritingClient(), translationClient());
    }
    return onboardingDemoService_;
}

ScreenshotOverlayPresenter* AppDelegate::screenshotOverlayPresenter() {
    if (!screenshotOverlayPresenterBuilt_) {
        screenshotOverlayPresenterBuilt_ = true;
        if (factories_.makeScreenshotOverlayPresenter) {
            // No desktop has a page for translation languages: the opener explains the install.
            const QPointer<AppDelegate> self(this);
            screenshotOverlayPresenter_ = factories_.makeScreenshotOverlayPresenter(overlayTranslationSetupSupport(), [self] {
                if (self) {
                    self->systemSettingsOpener().open(SystemSettingsPane::translationLanguages);
                }
            });
            if (screenshotOverlayPresenter_) {
                screenshotOverlayPresenter_->setMinimumDisplayDuration(
                    nonNegative(settingsStore_->settings().overlayMinimumDisplayDuration));
            }
        }
    }
    return screenshotOverlayPresenter_.get();
}

std::shared_ptr<TextImproveClient> AppDelegate::textImproveClient() {
    if (!textImproveClient_) {
        textImproveClient_ = std::make_shared<OnlineGatedTextImproveClient>(
            factories_.makeTextImproveClient(TextImproveConfiguration::resolved(factories_.bundle, factories_.environment),
                                             ServerSessionConfiguration::textImprove()),
            onlineFeaturePolicy_);
    }
    return textImproveClient_;
}

std::shared_ptr<TextPromptClient> AppDelegate::textPromptClient() {
    if (!textPromptClient_) {
        textPromptClient_ = std::make_shared<OnlineGatedTextPromptClient>(
            factories_.makeTextPromptClient(TextPromptConfiguration::resolved(factories_.bundle, factories_.environment),
                                            ServerSessionConfiguration::textPrompt()),
            onlineFeaturePolicy_);
    }
    return textPromptClient_;
}

std::shared_ptr<TextEditingClient> AppDelegate::textEditingClient() {
    if (!textEditingClient_) {
        textEditingClient_ = std::make_shared<HybridTextEditingClient>(
            factories_.makeTextEditingClient(TextEditingConfiguration::resolved(factories_.bundle, factories_.environment),
                                             ServerSessionConfiguration::textEditing()),
            factories_.makeOfflineTextEditingClient(), onlineFeaturePolicy_);
    }
    return textEditingClient_;
}

std::shared_ptr<TextWritingClient> AppDelegate::textWritingClient() {
    if (!textWritingClient_) {
        textWritingClient_ = std::make_shared<OnlineGatedTextWritingClient>(
            factories_.makeTextWritingClient(TextWritingConfiguration::resolved(factories_.bundle, factories_.environment),
                                             ServerSessionConfiguration::textWriting()),
            onlineFeaturePolicy_);
    }
    return textWritingClient_;
}

std::shared_ptr<UserPreferredLanguagesProvider> AppDelegate::preferredLanguagesProvider() {
    if (!preferredLanguagesProvider_) {
        // A copy of the settings of this moment: later changes of the languages do not reach it.
        preferredLanguagesProvider_ = std::make_shared<UserPreferredLanguagesProvider>(settingsStore_->settings());
    }
    return preferredLanguagesProvider_;
}

ScreenshotController* AppDelegate::screenshotController() {
    if (!screenshotControllerBuilt_) {
        screenshotControllerBuilt_ = true;
        if (factories_.makeTextRecognizer && factories_.makeScreenshotController) {
            ScreenshotTranslationService service = ScreenshotTranslationService::configured(
                factories_.makeTextRecognizer(preferredLanguagesProvider()), translationClient(),
                preferredLanguagesProvider(), settingsStore_->settings().messageTargetLanguage);
            // A detector of its own, not the one the focused-text workflows share.
            CaptureTargetResolver resolver(factories_.makeActiveWindowDetector ? factories_.makeActiveWindowDetector()
                                                                              : nullptr);
            screenshotController_ =
                factories_.makeScreenshotController(std::move(resolver), std::move(service), settingsStore_);
        }
    }
    return screenshotController_.get();
}

SelectionTranslationPopupPresenter* AppDelegate::selectionTranslationPopupPresenter() {
    if (!selectionTranslationPopupPresenterBuilt_) {
        selectionTranslationPopupPresenterBuilt_ = true;
        if (factories_.makeSelectionTranslationPopupPresenter) {
            selectionTranslationPopupPresenter_ =
                factories_.makeSelectionTranslationPopupPresenter(
                    factories_.makeActiveWindowDetector ? factories_.makeActiveWindowDetector() : nullptr);
            if (selectionTranslationPopupPresenter_) {
                selectionTranslationPopupPresenter_->setMinimumDisplayDuration(
                    nonNegative(settingsStore_->settings().overlayMinimumDisplayDuration));
            }
        }
    }
    return selectionTranslationPopupPresenter_.get();
}

SelectionPopupTriggerController* AppDelegate::selectionPopupTriggerController() {
    if (!selectionPopupTriggerControllerBuilt_) {
        selectionPopupTriggerControllerBuilt_ = true;
        if (factories_.makeSelectionPopupTriggerController) {
            // The buttons hold the delegate weakly and do nothing once it is gone.
            const QPointer<AppDelegate> self(this);
            selectionPopupTriggerController_ = factories_.makeSelectionPopupTriggerController(
                *settingsStore_, preferredLanguagesProvider(), focusedTextFieldAccessor(),
                [self] {
                    if (self) {
                        self->startSelectionTranslation(TelemetryTrigger::selectionPopup);
                    }
                },
                [self] {
                    if (self) {
                        self->startFlipLanguage(TelemetryTrigger::selectionPopup);
                    }
                },
                [self] {
                    if (self) {
                        self->startTextEditing(TelemetryTrigger::selectionPopup);
                    }
                });
        }
    }
    return selectionPopupTriggerController_.get();
}

std::shared_ptr<AppUpdateChecker> AppDelegate::updateChecker() {
    if (!updateChecker_ && factories_.makeUpdateChecker) {
        std::optional<QString> build;
        const QJsonValue value = factories_.bundle.value(QStringLiteral("CFBundleVersion"));
        if (value.isString() && !value.toString().isEmpty()) {
            build = value.toString();
        }
        updateChecker_ = factories_.makeUpdateChecker(*updateConfiguration_, ServerSessionConfiguration::updateManifest(),
                                                      onlineFeaturePolicy_, build, AppMetadata::appMarketingVersion());
    }
    return updateChecker_;
}

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
            self->overlayTranslationContext.reset();
            self->showPendingSharePrompt();
        });
    }
    if (SelectionTranslationPopupPresenter* popup = selectionTranslationPopupPresenter()) {
        popup->setOnDismiss([self] {
            if (self) {
                self->showPendingSharePrompt();
            }
        });
    }

    configureMainMenu();
    configureStatusItem();
    configureSettings();

    if (settingsStore_->settings().onlineFeaturesEnabled) {
        startUpdateCheck(UpdateCheckMode::automatic);
    }

    configureAntiSleep();

    if (OnboardingHooks* onboarding = onboardingHooks()) {
        onboarding->presentAtLaunchIfNeeded();
    }

    if (settingsStore_->settings().selectionPopupEnabled) {
        if (SelectionPopupTriggerController* trigger = selectionPopupTriggerController()) {
            trigger->start();
        }
    }
}

void AppDelegate::applicationWillTerminate() {
    if (antiSleepManager_) {
        antiSleepManager_->shutdown();
    }
    hotKeyManager_->unregister();
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
    if (antiSleepManager_) {
        antiSleepManager_->configure(settingsStore_->settings().antiSleepSchedule);
    }
    if (!systemEventMonitor_ && factories_.makeSystemEventMonitor) {
        systemEventMonitor_ = factories_.makeSystemEventMonitor();
        if (systemEventMonitor_) {
            connect(systemEventMonitor_.get(), &SystemEventMonitoring::didWake, this,
                    &AppDelegate::handleWakeNotification);
            connect(systemEventMonitor_.get(), &SystemEventMonitoring::clockDidChange, this,
                    &AppDelegate::handleClockChangeNotification);
        }
    }
}

void AppDelegate::handleWakeNotification() {
    if (antiSleepManager_) {
        antiSleepManager_->handleWake();
    }
}

void AppDelegate::handleClockChangeNotification() {
    if (antiSleepManager_) {
        antiSleepManager_->handleClockChange();
    }
}

}  // namespace tavrolin
