#include "shell/app_services.h"

#include "anti_sleep/anti_sleep_manager.h"
#include "commands/focused_field_loading_target_resolver.h"
#include "core/accessibility_permission.h"
#include "core/app_metadata.h"
#include "core/user_language_preferences_service.h"
#include "core/user_preferred_languages_provider.h"
#include "core/workflow_log.h"
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
#include "platform/accessibility_bus_status.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/language_recognizer.h"
#include "selection_popup/selection_popup_seams.h"
#include "selection_popup/selection_translation_service.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/share_prompt_store.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QJsonValue>

namespace tavrolin {

namespace {

double nonNegative(double seconds) {
    return seconds < 0 ? 0.0 : seconds;
}

}  // namespace

AppServices::AppServices(Factories factories, Hooks hooks)
    : factories_(std::move(factories)), hooks_(std::move(hooks)) {
    DefaultsStore& defaults = *factories_.defaults;
    if (factories_.frontApplications) {
        WorkflowLog::setFrontApplicationProvider(factories_.frontApplications);
    }
    // The stores and managers first, in their fixed order; the settings come last so that
    // nothing built above reads them before they are loaded and sanitised.
    onboardingStore_ = factories_.makeOnboardingStateStore(defaults, 1);
    updateConfiguration_ = std::make_unique<AppUpdateConfiguration>(
        factories_.makeUpdateConfiguration(factories_.bundle, factories_.environment));
    updateStateStore_ = factories_.makeUpdateStateStore(defaults);
    sharePromptStore_ = factories_.makeSharePromptStore({20, 10, 10}, defaults);
    hotKeyManager_ = factories_.makeHotKeyManager();
    antiSleepManager_ = factories_.makeAntiSleepManager();
    activeWindowDetector_ = factories_.makeActiveWindowDetector ? factories_.makeActiveWindowDetector() : nullptr;
    focusedTextFieldAccessor_ = factories_.makeFocusedTextFieldAccessor(0.3);
    launchAtLoginController_ = factories_.makeLaunchAtLoginController();
    settingsStore_ = factories_.makeSettingsStore(defaults);
    onlineFeaturePolicy_ = factories_.makeOnlineFeaturePolicy(settingsStore_->settings().onlineFeaturesEnabled);
}

AppServices::~AppServices() = default;

// ---- built on first use

TelemetryEventReporter& AppServices::telemetryReporter() {
    if (!telemetryReporter_) {
        auto client =
            factories_.makeTelemetryClient(TelemetryConfiguration::resolved(factories_.bundle, factories_.environment),
                                           ServerSessionConfiguration::telemetry());
        TelemetryEventReporter::FrontmostAppBundleIdProvider frontmost;
        if (factories_.frontApplications) {
            frontmost = [front = factories_.frontApplications]() -> std::optional<QString> {
                const std::optional<FrontApplication> app = front->frontApplication();
                return app ? app->applicationIdentifier : std::nullopt;
            };
        }
        telemetryReporter_ = std::make_unique<TelemetryEventReporter>(
            std::move(client), *settingsStore_, *factories_.deviceIdentifier, factories_.bundle, std::move(frontmost));
    }
    return *telemetryReporter_;
}

std::shared_ptr<DiagnosticsExporter> AppServices::diagnosticsExporter() {
    if (!diagnosticsExporter_ && factories_.makeDiagnosticsExporter) {
        diagnosticsExporter_ = factories_.makeDiagnosticsExporter();
    }
    return diagnosticsExporter_;
}

std::shared_ptr<ServerBackedTranslationClient> AppServices::makeServerBackedTranslationClient(
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
        started = [self = lifetime_.weak()](AppLanguage target) {
            // Only an overlay already on screen changes; building the presenter here would
            // show nothing anyway.
            if (ScreenshotOverlayPresenter* overlay = self ? self->builtScreenshotOverlayPresenter() : nullptr) {
                overlay->showLoading(translationLoadingText(target), true);
            }
        };
    }
    return std::make_shared<ServerBackedTranslationClient>(factories_.makeDeviceTranslationClient(), std::move(server),
                                                           std::move(allowed), std::move(started));
}

std::shared_ptr<ServerBackedTranslationClient> AppServices::translationClient() {
    if (!translationClient_) {
        translationClient_ = makeServerBackedTranslationClient(true);
    }
    return translationClient_;
}

std::shared_ptr<ServerBackedTranslationClient> AppServices::overlayTranslationSetupClient() {
    if (!overlayTranslationSetupClient_) {
        overlayTranslationSetupClient_ = makeServerBackedTranslationClient(false);
    }
    return overlayTranslationSetupClient_;
}

std::shared_ptr<TranslationSetupSupport> AppServices::overlayTranslationSetupSupport() {
    if (!overlayTranslationSetupSupport_) {
        overlayTranslationSetupSupport_ = makeTranslationSetupSupport(overlayTranslationSetupClient());
    }
    return overlayTranslationSetupSupport_;
}

std::shared_ptr<MessageTranslationService> AppServices::messageTranslationService() {
    if (!messageTranslationService_) {
        messageTranslationService_ = std::make_shared<MessageTranslationService>(
            focusedTextFieldAccessor_, translationClient(), settingsStore_, preferredLanguagesProvider(),
            focusedFieldReadRetryCount, focusedFieldReadRetryDelay, isTranslationSystemSupported, languageRecognizer());
    }
    return messageTranslationService_;
}

std::shared_ptr<FlipLanguageService> AppServices::flipLanguageService() {
    if (!flipLanguageService_) {
        flipLanguageService_ = std::make_shared<FlipLanguageService>(
            focusedTextFieldAccessor_, translationClient(), settingsStore_, preferredLanguagesProvider(),
            focusedFieldReadRetryCount, focusedFieldReadRetryDelay, isTranslationSystemSupported, languageRecognizer());
    }
    return flipLanguageService_;
}

std::shared_ptr<TextPromptingService> AppServices::textPromptingService() {
    if (!textPromptingService_) {
        textPromptingService_ = std::make_shared<TextPromptingService>(
            focusedTextFieldAccessor_, textPromptClient(), focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    }
    return textPromptingService_;
}

std::shared_ptr<TextEditingService> AppServices::textEditingService() {
    if (!textEditingService_) {
        // Both languages are the second language as the settings have it now.
        const AppLanguage language = settingsStore_->settings().messageTargetLanguage;
        textEditingService_ =
            std::make_shared<TextEditingService>(focusedTextFieldAccessor_, textEditingClient(), language, language,
                                                 focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    }
    return textEditingService_;
}

std::shared_ptr<TextWritingService> AppServices::textWritingService() {
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

std::shared_ptr<OnboardingDemoService> AppServices::onboardingDemoService() {
    if (!onboardingDemoService_) {
        onboardingDemoService_ =
            std::make_shared<OnboardingDemoService>(textEditingClient(), textWritingClient(), translationClient(),
                                                    isTranslationSystemSupported, languageRecognizer());
    }
    return onboardingDemoService_;
}

ScreenshotOverlayPresenter* AppServices::screenshotOverlayPresenter() {
    if (!screenshotOverlayPresenterBuilt_) {
        screenshotOverlayPresenterBuilt_ = true;
        if (factories_.makeScreenshotOverlayPresenter) {
            screenshotOverlayPresenter_ = factories_.makeScreenshotOverlayPresenter(overlayTranslationSetupSupport(),
                                                                                    hooks_.openTranslationSetup);
            if (screenshotOverlayPresenter_) {
                screenshotOverlayPresenter_->setMinimumDisplayDuration(
                    nonNegative(settingsStore_->settings().overlayMinimumDisplayDuration));
            }
        }
    }
    return screenshotOverlayPresenter_.get();
}

std::shared_ptr<TextImproveClient> AppServices::textImproveClient() {
    if (!textImproveClient_) {
        textImproveClient_ = std::make_shared<OnlineGatedTextImproveClient>(
            factories_.makeTextImproveClient(
                TextImproveConfiguration::resolved(factories_.bundle, factories_.environment),
                ServerSessionConfiguration::textImprove()),
            onlineFeaturePolicy_);
    }
    return textImproveClient_;
}

std::shared_ptr<TextPromptClient> AppServices::textPromptClient() {
    if (!textPromptClient_) {
        textPromptClient_ = std::make_shared<OnlineGatedTextPromptClient>(
            factories_.makeTextPromptClient(
                TextPromptConfiguration::resolved(factories_.bundle, factories_.environment),
                ServerSessionConfiguration::textPrompt()),
            onlineFeaturePolicy_);
    }
    return textPromptClient_;
}

std::shared_ptr<TextEditingClient> AppServices::textEditingClient() {
    if (!textEditingClient_) {
        textEditingClient_ = std::make_shared<HybridTextEditingClient>(
            factories_.makeTextEditingClient(
                TextEditingConfiguration::resolved(factories_.bundle, factories_.environment),
                ServerSessionConfiguration::textEditing()),
            factories_.makeOfflineTextEditingClient(), onlineFeaturePolicy_);
    }
    return textEditingClient_;
}

std::shared_ptr<TextWritingClient> AppServices::textWritingClient() {
    if (!textWritingClient_) {
        textWritingClient_ = std::make_shared<OnlineGatedTextWritingClient>(
            factories_.makeTextWritingClient(
                TextWritingConfiguration::resolved(factories_.bundle, factories_.environment),
                ServerSessionConfiguration::textWriting()),
            onlineFeaturePolicy_);
    }
    return textWritingClient_;
}

std::shared_ptr<UserPreferredLanguagesProvider> AppServices::preferredLanguagesProvider() {
    if (!preferredLanguagesProvider_) {
        // A copy of the settings of this moment: later changes of the languages do not reach it.
        preferredLanguagesProvider_ = std::make_shared<UserPreferredLanguagesProvider>(settingsStore_->settings(),
                                                                                       factories_.languagePreferences);
    }
    return preferredLanguagesProvider_;
}

std::shared_ptr<const LanguageRecognizer> AppServices::languageRecognizer() {
    if (!languageRecognizerBuilt_) {
        languageRecognizerBuilt_ = true;
        if (factories_.makeLanguageRecognizer) {
            languageRecognizer_ = factories_.makeLanguageRecognizer();
        }
    }
    return languageRecognizer_;
}

std::shared_ptr<TranslationSetupSupport> AppServices::makeTranslationSetupSupport(
    std::shared_ptr<TranslationClient> client) {
    return std::make_shared<TranslationSetupSupport>(std::move(client), isTranslationSystemSupported,
                                                     factories_.translationPackageForPair);
}

ScreenshotController* AppServices::screenshotController() {
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

SelectionTranslationPopupPresenter* AppServices::selectionTranslationPopupPresenter() {
    if (!selectionTranslationPopupPresenterBuilt_) {
        selectionTranslationPopupPresenterBuilt_ = true;
        if (factories_.makeSelectionTranslationPopupPresenter) {
            selectionTranslationPopupPresenter_ = factories_.makeSelectionTranslationPopupPresenter(
                factories_.makeActiveWindowDetector ? factories_.makeActiveWindowDetector() : nullptr);
            if (selectionTranslationPopupPresenter_) {
                selectionTranslationPopupPresenter_->setMinimumDisplayDuration(
                    nonNegative(settingsStore_->settings().overlayMinimumDisplayDuration));
            }
        }
    }
    return selectionTranslationPopupPresenter_.get();
}

SelectionPopupTriggerController* AppServices::selectionPopupTriggerController() {
    if (!selectionPopupTriggerControllerBuilt_) {
        selectionPopupTriggerControllerBuilt_ = true;
        if (factories_.makeSelectionPopupTriggerController) {
            selectionPopupTriggerController_ = factories_.makeSelectionPopupTriggerController(
                *settingsStore_, preferredLanguagesProvider(), focusedTextFieldAccessor(), hooks_.translateSelection,
                hooks_.flipLanguage, hooks_.editText);
        }
    }
    return selectionPopupTriggerController_.get();
}

std::shared_ptr<AppUpdateChecker> AppServices::updateChecker() {
    if (!updateChecker_ && factories_.makeUpdateChecker) {
        std::optional<QString> build;
        const QJsonValue value = factories_.bundle.value(QStringLiteral("CFBundleVersion"));
        if (value.isString() && !value.toString().isEmpty()) {
            build = value.toString();
        }
        updateChecker_ =
            factories_.makeUpdateChecker(*updateConfiguration_, ServerSessionConfiguration::updateManifest(),
                                         onlineFeaturePolicy_, build, AppMetadata::appMarketingVersion());
    }
    return updateChecker_;
}

Scheduler& AppServices::scheduler() {
    if (!factories_.scheduler) {
        factories_.scheduler = std::make_shared<QtScheduler>();
    }
    return *factories_.scheduler;
}

AccessibilityPermission* AppServices::accessibilityPermission() {
    if (!accessibilityPermission_ && !accessibilityBusStatus_ && factories_.makeAccessibilityBusStatus) {
        accessibilityBusStatus_ = factories_.makeAccessibilityBusStatus();
        if (accessibilityBusStatus_) {
            accessibilityPermission_ = std::make_unique<AccessibilityPermission>(*accessibilityBusStatus_);
        }
    }
    return accessibilityPermission_.get();
}

FocusedFieldLoadingTargetResolver& AppServices::focusedFieldLoadingTargetResolver() {
    if (!focusedFieldLoadingTargetResolver_) {
        focusedFieldLoadingTargetResolver_ =
            std::make_unique<FocusedFieldLoadingTargetResolver>(activeWindowDetector_, factories_.mainDisplayBounds);
    }
    return *focusedFieldLoadingTargetResolver_;
}

std::shared_ptr<SelectionTranslationService> AppServices::selectionTranslationService() {
    if (!selectionTranslationService_) {
        selectionTranslationService_ = std::make_shared<SelectionTranslationService>(
            translationClient(), settingsStore_, preferredLanguagesProvider(), isTranslationSystemSupported,
            languageRecognizer());
    }
    return selectionTranslationService_;
}

}  // namespace tavrolin
