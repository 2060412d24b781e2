#pragma once

// The services the application runs on, and how each is built. The constructor builds the
// stores and managers in a fixed order; every other service is built on first use through its
// accessor, once, and never replaced. AppDelegate owns one and forwards to it; the workflows
// reach the services through the delegate.

#include "core/app_settings_store.h"
#include "core/lifetime_token.h"
#include "core/online_feature_policy.h"
#include "core/telemetry_event_reporter.h"
#include "dictation/speech_recognition_service.h"
#include "language/focused_text_field_accessing.h"
#include "language/translation_setup_support.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"
#include "updates/app_update_configuration.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/screenshot_translation_service.h"

#include <QRectF>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

class AccessibilityBusStatus;
class AccessibilityPermission;
class ActiveWindowDetector;
class ActiveWindowTextProviding;
class AlertPresenting;
class AntiSleepManager;
class AppUpdateChecker;
class AppUpdateStateStore;
class Clipboard;
class Clock;
class DeviceIdentifier;
class DiagnosticsExporter;
class DictationPermissionManager;
class FlipLanguageService;
class FocusedFieldLoadingTargetResolver;
class FocusedTextFieldAccessor;
class FrontApplicationProviding;
class FrontWindowActivating;
class HotKeyManager;
class KeyboardLayoutReading;
class LanguageRecognizer;
class LaunchAtLoginController;
class MessageTranslationService;
class OnboardingDemoService;
class OnboardingPresenting;
struct OnboardingWindowServices;
class OnboardingStateStore;
class ProgramLaunching;
class Scheduler;
class ScreenshotController;
class ScreenshotOverlayPresenter;
class SelectionPopupTriggerController;
class SelectionTranslationPopupPresenter;
class SelectionTranslationService;
class ServerBackedTranslationClient;
class ServerTranslationClient;
class SharePromptStore;
class SystemEventMonitoring;
class TextEditingClient;
class TextEditingService;
class TextImproveClient;
class TextPromptClient;
class TextPromptingService;
class UserKeyActivity;
class TextRecognizing;
class TextWritingClient;
class TextWritingService;
class TranslationClient;
class UserLanguagePreferencesService;
class UserPreferredLanguagesProvider;

class AppServices final {
public:
    // How every collaborator is built. defaultFactories() builds the real ones; tests replace
    // any of them to watch the order and the arguments. A factory left empty leaves its
    // service out (a test that does not need it): its accessor answers nullptr and the operations
    // that need it do nothing.
    struct Factories {
        // The storage, identity and environment every collaborator is built over.
        DefaultsStore* defaults = nullptr;
        DeviceIdentifier* deviceIdentifier = nullptr;
        InfoDictionary bundle;
        Environment environment;
        // What the services take from the desktop directly: the front application (the usage
        // events' and the log's "frontmost"), the session's languages with its keyboard (the
        // favoured languages), the keyboard's layouts (the shortcut recorder), the packages of the
        // translation engine (the setup notices) and the wait for the display server (before the
        // tray menu's command reads the screen). Each may be empty: nothing is read there.
        std::shared_ptr<FrontApplicationProviding> frontApplications;
        std::shared_ptr<const UserLanguagePreferencesService> languagePreferences;
        std::shared_ptr<KeyboardLayoutReading> keyboardLayoutReader;
        TranslationPackageLookup translationPackageForPair;
        std::function<void()> syncWithDisplayServer;

        // Built by the constructor, in this order.
        std::function<std::unique_ptr<OnboardingStateStore>(DefaultsStore&, int currentVersion)>
            makeOnboardingStateStore;
        std::function<AppUpdateConfiguration(const InfoDictionary&, const Environment&)> makeUpdateConfiguration;
        std::function<std::unique_ptr<AppUpdateStateStore>(DefaultsStore&)> makeUpdateStateStore;
        std::function<std::unique_ptr<SharePromptStore>(std::vector<int> schedule, DefaultsStore&)>
            makeSharePromptStore;
        std::function<std::unique_ptr<HotKeyManager>()> makeHotKeyManager;
        // A watch of the user's presses, made while an alert of the application's own waits for
        // the user to stop typing; empty or null: such alerts do not wait.
        std::function<std::shared_ptr<UserKeyActivity>()> makeUserKeyActivity;
        std::function<std::unique_ptr<AntiSleepManager>()> makeAntiSleepManager;
        std::function<std::shared_ptr<ActiveWindowDetector>()> makeActiveWindowDetector;
        std::function<std::shared_ptr<FocusedTextFieldAccessor>(double clipboardRestoreDelay)>
            makeFocusedTextFieldAccessor;
        std::function<std::unique_ptr<LaunchAtLoginController>()> makeLaunchAtLoginController;
        std::function<std::unique_ptr<AppSettingsStore>(DefaultsStore&)> makeSettingsStore;
        std::function<std::shared_ptr<OnlineFeaturePolicy>(bool onlineFeaturesEnabled)> makeOnlineFeaturePolicy;

        // Built on first use.
        std::function<std::shared_ptr<TelemetryClient>(TelemetryConfiguration, ServerSessionConfiguration)>
            makeTelemetryClient;
        // The recognizer the translating services tell a text's language with (beyond its
        // script); empty: the script alone.
        std::function<std::shared_ptr<const LanguageRecognizer>()> makeLanguageRecognizer;
        std::function<std::shared_ptr<TranslationClient>()> makeDeviceTranslationClient;
        std::function<std::shared_ptr<ServerTranslationClient>(ServerTranslationConfiguration,
                                                               ServerSessionConfiguration)>
            makeServerTranslationClient;
        std::function<std::shared_ptr<TextImproveClient>(TextImproveConfiguration, ServerSessionConfiguration)>
            makeTextImproveClient;
        std::function<std::shared_ptr<TextPromptClient>(TextPromptConfiguration, ServerSessionConfiguration)>
            makeTextPromptClient;
        std::function<std::shared_ptr<TextEditingClient>(TextEditingConfiguration, ServerSessionConfiguration)>
            makeTextEditingClient;
        std::function<std::shared_ptr<TextEditingClient>()> makeOfflineTextEditingClient;
        std::function<std::shared_ptr<TextWritingClient>(TextWritingConfiguration, ServerSessionConfiguration)>
            makeTextWritingClient;
        std::function<std::shared_ptr<AppUpdateChecker>(const AppUpdateConfiguration&, ServerSessionConfiguration,
                                                        std::shared_ptr<const OnlineFeaturePolicy>,
                                                        std::optional<QString> currentBuild, QString currentVersion)>
            makeUpdateChecker;
        std::function<std::shared_ptr<DiagnosticsExporter>()> makeDiagnosticsExporter;
        // The overlay, built over the translation client its setup notices ask and what their
        // button opens.
        std::function<std::unique_ptr<ScreenshotOverlayPresenter>(std::shared_ptr<TranslationSetupSupport>,
                                                                  std::function<void()> openTranslationSetup)>
            makeScreenshotOverlayPresenter;
        // The reader of the front window's text for the writing service.
        std::function<std::shared_ptr<ActiveWindowTextProviding>(std::shared_ptr<ActiveWindowDetector>)>
            makeActiveWindowTextProvider;
        std::function<std::unique_ptr<SelectionTranslationPopupPresenter>(std::shared_ptr<ActiveWindowDetector>)>
            makeSelectionTranslationPopupPresenter;
        // The selection trigger reads through the focused-field accessor's accessibility and
        // front-application lookup (no second AT-SPI client); null when there is none.
        // Each button gets the selection its row was shown for.
        std::function<std::unique_ptr<SelectionPopupTriggerController>(
            const AppSettingsStore&, std::shared_ptr<UserPreferredLanguagesProvider>,
            std::shared_ptr<FocusedTextFieldAccessor>, std::function<void(FocusedTextFieldSnapshot)> onTranslate,
            std::function<void(FocusedTextFieldSnapshot)> onFlip, std::function<void(FocusedTextFieldSnapshot)> onEdit)>
            makeSelectionPopupTriggerController;
        // Window translation: the text recognizer (over the favoured languages) and the capture
        // controller over a configured translation service.
        std::function<std::shared_ptr<const TextRecognizing>(std::shared_ptr<const UserPreferredLanguagesProviding>)>
            makeTextRecognizer;
        std::function<std::unique_ptr<ScreenshotController>(CaptureTargetResolver, ScreenshotTranslationService,
                                                            std::shared_ptr<const AppSettingsProviding>)>
            makeScreenshotController;
        // Notices of wake, clock changes and time-zone changes.
        std::function<std::unique_ptr<SystemEventMonitoring>()> makeSystemEventMonitor;
        // The dictation scratchpad: a speech service per recognition locale, the dictation
        // permissions and the clipboard it copies to. While the speech or the permissions factory
        // is empty the application has no scratchpad and its commands do nothing.
        SpeechRecognitionServiceFactory makeSpeechRecognitionService;
        std::function<std::shared_ptr<DictationPermissionManager>()> makeDictationPermissionManager;
        std::function<std::shared_ptr<Clipboard>()> makeClipboard;

        // The shell's own collaborators, built on first use.
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Scheduler> scheduler;
        std::function<std::unique_ptr<AlertPresenting>()> makeAlertPresenter;
        std::function<std::shared_ptr<ProgramLaunching>()> makeProgramLauncher;
        std::function<std::shared_ptr<FrontWindowActivating>()> makeFrontWindowActivation;
        std::function<bool(const QUrl&)> openURL;
        std::function<std::unique_ptr<AccessibilityBusStatus>()> makeAccessibilityBusStatus;
        // The primary screen's rectangle, where a loading card goes when neither the front
        // window nor the field is known; empty takes the application's primary screen.
        std::function<QRectF()> mainDisplayBounds;
        // The onboarding window, built over the demonstrations, the device-only language check and
        // the opener of the translation-languages step; while it is empty the application has no
        // onboarding and every command runs its workflow directly.
        std::function<std::unique_ptr<OnboardingPresenting>(const OnboardingWindowServices&)> makeOnboardingPresenter;
    };

    static Factories defaultFactories();

    // What the services call back into the application for: the overlay's setup button and the
    // selection buttons' three commands, on the selection the buttons were shown for. Each may
    // be empty.
    struct Hooks {
        std::function<void()> openTranslationSetup;
        std::function<void(FocusedTextFieldSnapshot)> translateSelection;
        std::function<void(FocusedTextFieldSnapshot)> flipLanguage;
        std::function<void(FocusedTextFieldSnapshot)> editText;
    };

    AppServices(Factories factories, Hooks hooks);
    ~AppServices();
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;

    Factories& factories() { return factories_; }
    const Factories& factories() const { return factories_; }

    // ---- built by the constructor

    AppSettingsStore& settingsStore() const { return *settingsStore_; }
    const std::shared_ptr<AppSettingsStore>& sharedSettingsStore() const { return settingsStore_; }
    const std::shared_ptr<OnlineFeaturePolicy>& onlineFeaturePolicy() const { return onlineFeaturePolicy_; }
    OnboardingStateStore& onboardingStore() const { return *onboardingStore_; }
    const AppUpdateConfiguration& updateConfiguration() const { return *updateConfiguration_; }
    AppUpdateStateStore& updateStateStore() const { return *updateStateStore_; }
    SharePromptStore& sharePromptStore() const { return *sharePromptStore_; }
    HotKeyManager& hotKeyManager() const { return *hotKeyManager_; }
    AntiSleepManager* antiSleepManager() const { return antiSleepManager_.get(); }
    const std::shared_ptr<ActiveWindowDetector>& activeWindowDetector() const { return activeWindowDetector_; }
    const std::shared_ptr<FocusedTextFieldAccessor>& focusedTextFieldAccessor() const {
        return focusedTextFieldAccessor_;
    }
    LaunchAtLoginController& launchAtLoginController() const { return *launchAtLoginController_; }

    // ---- built on first use

    TelemetryEventReporter& telemetryReporter();
    std::shared_ptr<DiagnosticsExporter> diagnosticsExporter();
    std::shared_ptr<ServerBackedTranslationClient> translationClient();
    // The server-backed client the overlay's setup notices ask: built like translationClient()
    // but with its own session and without the server-start callback.
    std::shared_ptr<ServerBackedTranslationClient> overlayTranslationSetupClient();
    std::shared_ptr<TranslationSetupSupport> overlayTranslationSetupSupport();
    ScreenshotOverlayPresenter* screenshotOverlayPresenter();
    std::shared_ptr<TextImproveClient> textImproveClient();
    std::shared_ptr<TextPromptClient> textPromptClient();
    std::shared_ptr<TextEditingClient> textEditingClient();
    std::shared_ptr<TextWritingClient> textWritingClient();
    std::shared_ptr<UserPreferredLanguagesProvider> preferredLanguagesProvider();
    std::shared_ptr<const LanguageRecognizer> languageRecognizer();
    // Setup notices over the given client, naming the packages of this desktop's engine.
    std::shared_ptr<TranslationSetupSupport> makeTranslationSetupSupport(std::shared_ptr<TranslationClient> client);
    SelectionTranslationPopupPresenter* selectionTranslationPopupPresenter();
    SelectionPopupTriggerController* selectionPopupTriggerController();
    std::shared_ptr<AppUpdateChecker> updateChecker();
    // The focused-field services, all over the one accessor, with 4 read retries 0.12 s apart.
    std::shared_ptr<MessageTranslationService> messageTranslationService();
    std::shared_ptr<FlipLanguageService> flipLanguageService();
    std::shared_ptr<TextPromptingService> textPromptingService();
    std::shared_ptr<TextEditingService> textEditingService();
    // nullptr while no reader of the front window's text is built.
    std::shared_ptr<TextWritingService> textWritingService();
    // Captures and translates the front window; its translation service follows the second
    // language of the settings. nullptr without a text recognizer or capture controller.
    ScreenshotController* screenshotController();
    // Runs the onboarding's demonstrations over the editing, writing and translation clients.
    std::shared_ptr<OnboardingDemoService> onboardingDemoService();
    // Translates selections paragraph by paragraph into the native language.
    std::shared_ptr<SelectionTranslationService> selectionTranslationService();
    Scheduler& scheduler();
    // Whether the desktop lets this process read other applications' fields. nullptr while the
    // build has no accessibility bus (no makeAccessibilityBusStatus).
    AccessibilityPermission* accessibilityPermission();
    FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver();
    // The screenshot overlay when it has been built; never builds it.
    ScreenshotOverlayPresenter* builtScreenshotOverlayPresenter() const { return screenshotOverlayPresenter_.get(); }
    // The capture controller when it has been built; never builds it.
    ScreenshotController* builtScreenshotController() const { return screenshotController_.get(); }

    static constexpr int focusedFieldReadRetryCount = 4;
    static constexpr double focusedFieldReadRetryDelay = 0.12;

private:
    std::shared_ptr<ServerBackedTranslationClient> makeServerBackedTranslationClient(bool withServerStartCallback);

    Factories factories_;
    Hooks hooks_;

    // Declaration order is construction order (see the constructor).
    std::unique_ptr<OnboardingStateStore> onboardingStore_;
    std::unique_ptr<AppUpdateConfiguration> updateConfiguration_;
    std::unique_ptr<AppUpdateStateStore> updateStateStore_;
    std::unique_ptr<SharePromptStore> sharePromptStore_;
    std::unique_ptr<HotKeyManager> hotKeyManager_;
    std::unique_ptr<AntiSleepManager> antiSleepManager_;
    std::shared_ptr<ActiveWindowDetector> activeWindowDetector_;
    std::shared_ptr<FocusedTextFieldAccessor> focusedTextFieldAccessor_;
    std::unique_ptr<LaunchAtLoginController> launchAtLoginController_;
    std::shared_ptr<AppSettingsStore> settingsStore_;
    std::shared_ptr<OnlineFeaturePolicy> onlineFeaturePolicy_;

    std::unique_ptr<TelemetryEventReporter> telemetryReporter_;
    std::shared_ptr<DiagnosticsExporter> diagnosticsExporter_;
    std::shared_ptr<ServerBackedTranslationClient> translationClient_;
    std::shared_ptr<ServerBackedTranslationClient> overlayTranslationSetupClient_;
    std::unique_ptr<ScreenshotOverlayPresenter> screenshotOverlayPresenter_;
    bool screenshotOverlayPresenterBuilt_ = false;
    std::shared_ptr<TextImproveClient> textImproveClient_;
    std::shared_ptr<TextPromptClient> textPromptClient_;
    std::shared_ptr<TextEditingClient> textEditingClient_;
    std::shared_ptr<TextWritingClient> textWritingClient_;
    std::shared_ptr<UserPreferredLanguagesProvider> preferredLanguagesProvider_;
    std::shared_ptr<const LanguageRecognizer> languageRecognizer_;
    bool languageRecognizerBuilt_ = false;
    std::shared_ptr<SelectionTranslationService> selectionTranslationService_;
    std::unique_ptr<SelectionTranslationPopupPresenter> selectionTranslationPopupPresenter_;
    bool selectionTranslationPopupPresenterBuilt_ = false;
    std::unique_ptr<SelectionPopupTriggerController> selectionPopupTriggerController_;
    bool selectionPopupTriggerControllerBuilt_ = false;
    std::shared_ptr<AppUpdateChecker> updateChecker_;
    std::shared_ptr<TranslationSetupSupport> overlayTranslationSetupSupport_;
    std::shared_ptr<MessageTranslationService> messageTranslationService_;
    std::shared_ptr<FlipLanguageService> flipLanguageService_;
    std::shared_ptr<TextPromptingService> textPromptingService_;
    std::shared_ptr<TextEditingService> textEditingService_;
    std::shared_ptr<TextWritingService> textWritingService_;
    std::unique_ptr<ScreenshotController> screenshotController_;
    bool screenshotControllerBuilt_ = false;
    std::shared_ptr<OnboardingDemoService> onboardingDemoService_;
    std::unique_ptr<AccessibilityBusStatus> accessibilityBusStatus_;
    std::unique_ptr<AccessibilityPermission> accessibilityPermission_;
    std::unique_ptr<FocusedFieldLoadingTargetResolver> focusedFieldLoadingTargetResolver_;
    LifetimeToken<AppServices> lifetime_{this};
};

}  // namespace tavrolin
