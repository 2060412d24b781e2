// How each collaborator of the running application is built (AppServices::defaultFactories()).
// The desktop's facilities come from the back end the program is linked with
// (platform/desktop_backend.h).
#include "anti_sleep/anti_sleep_manager.h"
#include "core/device_identifier.h"
#include "core/standard_defaults.h"
#include "core/user_language_preferences_service.h"
#include "core/user_preferred_languages_provider.h"
#include "diagnostics/diagnostics_command_runner.h"
#include "diagnostics/diagnostics_exporter.h"
#include "dictation/dictation_permission_manager.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/local_text_editing_client.h"
#include "language/system_text_spell_checker.h"
#include "language/system_translation_client.h"
#include "language/url_session_server_translation_client.h"
#include "language/url_session_text_editing_client.h"
#include "language/url_session_text_improve_client.h"
#include "language/url_session_text_prompt_client.h"
#include "language/url_session_text_writing_client.h"
#include "onboarding/onboarding_state_store.h"
#include "onboarding/onboarding_window_controller.h"
#include "platform/desktop_backend.h"
#include "selection_popup/desktop_selection_translation_popup_presenter.h"
#include "selection_popup/selection_popup_trigger_controller.h"
#include "server/url_session_telemetry_client.h"
#include "shell/alert_presenting.h"
#include "shell/app_services.h"
#include "shell/desktop_focused_text_platform.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/share_prompt_store.h"
#include "shell/system_settings_opener.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "updates/online_gated_app_update_manifest_client.h"
#include "updates/url_session_app_update_manifest_client.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/active_window_text_service.h"
#include "window_translation/desktop_screenshot_overlay_presenter.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/text_recognition_service.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace tavrolin {

namespace {

// The accessor and the desktop facilities it reads through, kept alive together.
struct AccessorWithPlatform {
    DesktopFocusedTextPlatform platform;
    FocusedTextFieldAccessor accessor;
    explicit AccessorWithPlatform(double clipboardRestoreDelay)
        : accessor(platform.makeAccessor(clipboardRestoreDelay)) {}
};

// The desktop's own facilities for anti-sleep: its sleep and display-sleep assertions,
// the pointer's synthetic motion (connected on first use), the system clock and Qt timers.
AntiSleepManager::Environment systemAntiSleepEnvironment() {
    AntiSleepManager::Environment env;
    env.systemSleepAssertions = makeSystemSleepAssertions();
    env.displaySleepAssertions = makeDisplaySleepAssertions();
    DeferredSyntheticPointer pointer = makeSystemDeferredSyntheticPointer();
    env.pointer = std::move(pointer.pointer);
    env.pointerAvailable = std::move(pointer.isAvailable);
    env.clock = std::make_shared<SystemClock>();
    env.scheduler = std::make_shared<QtScheduler>();
    return env;
}

// One recognizer for the process, made when first asked for.
std::function<std::shared_ptr<const LanguageRecognizer>()> sharedLanguageRecognizer() {
    return [made = std::make_shared<std::shared_ptr<const LanguageRecognizer>>()] {
        if (!*made) {
            *made = makeSystemLanguageRecognizer();
        }
        return *made;
    };
}

std::shared_ptr<ServerRequestTransport> session(ServerSessionConfiguration configuration) {
    return std::make_shared<ServerRequestTransport>(configuration);
}

}  // namespace

AppServices::Factories AppServices::defaultFactories() {
    Factories f;
    f.defaults = &standardDefaults();
    f.deviceIdentifier = &DeviceIdentifier::shared();
    f.bundle = InfoDictionary::main();
    f.environment = currentEnvironment();
    f.frontApplications = defaultFrontApplicationProvider();
    f.languagePreferences =
        std::make_shared<UserLanguagePreferencesService>(systemKeyboardLayoutReader(), currentSystemLanguages);
    f.keyboardLayoutReader = systemKeyboardLayoutReader();
    f.translationPackageForPair = [](AppLanguage source, AppLanguage target) {
        return systemTranslationPackageForPair(rawValue(source), rawValue(target));
    };
    f.syncWithDisplayServer = [] { syncWithDisplayServer(); };

    f.makeOnboardingStateStore = [](DefaultsStore& defaults, int version) {
        return std::make_unique<OnboardingStateStore>(defaults, version);
    };
    f.makeUpdateConfiguration = [](const InfoDictionary& bundle, const Environment& environment) {
        return AppUpdateConfiguration::resolved(bundle, environment);
    };
    f.makeUpdateStateStore = [](DefaultsStore& defaults) { return std::make_unique<AppUpdateStateStore>(defaults); };
    f.makeSharePromptStore = [](std::vector<int> schedule, DefaultsStore& defaults) {
        return std::make_unique<SharePromptStore>(std::move(schedule), defaults);
    };
    f.makeHotKeyManager = [] {
        return std::make_unique<HotKeyManager>(std::shared_ptr<GlobalKeyGrabbing>(makeSystemGlobalKeyGrabber()));
    };
    f.makeUserKeyActivity = [] { return makeSystemUserKeyActivity(); };
    f.makeAntiSleepManager = [] { return std::make_unique<AntiSleepManager>(systemAntiSleepEnvironment()); };
    f.makeActiveWindowDetector = [] {
        return std::make_shared<ActiveWindowDetector>(defaultFrontApplicationProvider(), systemWindowList(),
                                                      static_cast<std::int32_t>(QCoreApplication::applicationPid()));
    };
    f.makeFocusedTextFieldAccessor = [](double clipboardRestoreDelay) {
        auto both = std::make_shared<AccessorWithPlatform>(clipboardRestoreDelay);
        return std::shared_ptr<FocusedTextFieldAccessor>(both, &both->accessor);
    };
    f.makeLaunchAtLoginController = [] { return std::make_unique<LaunchAtLoginController>(); };
    f.makeSettingsStore = [languages = f.languagePreferences](DefaultsStore& defaults) {
        return std::make_unique<AppSettingsStore>(defaults, languages);
    };
    f.makeOnlineFeaturePolicy = [](bool enabled) { return std::make_shared<OnlineFeaturePolicy>(enabled); };

    f.makeTelemetryClient = [](TelemetryConfiguration configuration, ServerSessionConfiguration sessionConfiguration) {
        return std::make_shared<URLSessionTelemetryClient>(std::move(configuration), session(sessionConfiguration));
    };
    const auto languageRecognizer = sharedLanguageRecognizer();
    f.makeLanguageRecognizer = languageRecognizer;
    f.makeDeviceTranslationClient = [] {
        return std::make_shared<SystemTranslationClient>(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    };
    f.makeServerTranslationClient = [](ServerTranslationConfiguration configuration, ServerSessionConfiguration s) {
        return std::make_shared<URLSessionServerTranslationClient>(std::move(configuration), session(s));
    };
    f.makeTextImproveClient = [](TextImproveConfiguration configuration, ServerSessionConfiguration s) {
        return std::make_shared<URLSessionTextImproveClient>(std::move(configuration), session(s));
    };
    f.makeTextPromptClient = [](TextPromptConfiguration configuration, ServerSessionConfiguration s) {
        return std::make_shared<URLSessionTextPromptClient>(std::move(configuration), session(s));
    };
    f.makeTextEditingClient = [](TextEditingConfiguration configuration, ServerSessionConfiguration s) {
        return std::make_shared<URLSessionTextEditingClient>(std::move(configuration), session(s));
    };
    f.makeOfflineTextEditingClient = [] {
        return std::make_shared<LocalTextEditingClient>(
            std::make_shared<SystemTextSpellChecker>(loadSystemSpellingDictionary));
    };
    f.makeTextWritingClient = [](TextWritingConfiguration configuration, ServerSessionConfiguration s) {
        return std::make_shared<URLSessionTextWritingClient>(std::move(configuration), session(s));
    };
    f.makeUpdateChecker = [](const AppUpdateConfiguration& configuration, ServerSessionConfiguration s,
                             std::shared_ptr<const OnlineFeaturePolicy> policy, std::optional<QString> build,
                             QString version) {
        auto manifest = std::make_shared<URLSessionAppUpdateManifestClient>(configuration, session(s));
        return std::make_shared<AppUpdateChecker>(
            std::make_shared<OnlineGatedAppUpdateManifestClient>(std::move(manifest), std::move(policy)),
            std::move(build), std::move(version));
    };
    f.makeDiagnosticsExporter = [] {
        return std::make_shared<DiagnosticsExporter>(
            std::make_shared<ProcessDiagnosticsCommandRunner>(),
            DiagnosticsExporter::Options::system(makeSystemZipArchiveWriter()));
    };
    f.makeSelectionTranslationPopupPresenter = [](std::shared_ptr<ActiveWindowDetector> detector) {
        return std::make_unique<DesktopSelectionTranslationPopupPresenter>(
            std::move(detector), SelectionTranslationPopupFrameResolver{},
            DesktopSelectionTranslationPopupPresenter::systemDependencies(
                makeSystemGlobalMouseMonitoring(), makeSystemKeyboardGrab(), markAsOverlayWindow));
    };
    f.makeSelectionPopupTriggerController = [defaults = f.defaults, languageRecognizer](
                                                const AppSettingsStore& settings,
                                                std::shared_ptr<UserPreferredLanguagesProvider> preferred,
                                                std::shared_ptr<FocusedTextFieldAccessor> accessor,
                                                DesktopSelectionPopupTriggerController::SelectionAction onTranslate,
                                                DesktopSelectionPopupTriggerController::SelectionAction onFlip,
                                                DesktopSelectionPopupTriggerController::SelectionAction onEdit)
        -> std::unique_ptr<SelectionPopupTriggerController> {
        if (!accessor) {
            return nullptr;
        }
        const FocusedTextFieldAccessor::Platform& platform = accessor->platform();
        DesktopSelectionPopupTriggerController::Dependencies dependencies =
            DesktopSelectionPopupTriggerController::systemDependencies(
                platform.accessibility, platform.frontApplications, accessor->focusResolver(),
                makeSystemGlobalInputMonitoring(), markAsOverlayWindow, languageRecognizer(), accessor);
        dependencies.primarySelection = platform.primarySelection;
        dependencies.watchOwnKeys = [gate = &accessor->inputGate()](std::function<void()> onSent) {
            return gate->watchSentChords(std::move(onSent));
        };
        return std::make_unique<DesktopSelectionPopupTriggerController>(settings, std::move(preferred), *defaults,
                                                                        std::move(dependencies), std::move(onTranslate),
                                                                        std::move(onFlip), std::move(onEdit));
    };
    f.makeScreenshotOverlayPresenter = [](std::shared_ptr<TranslationSetupSupport> setupSupport,
                                          std::function<void()> openTranslationSetup) {
        return std::make_unique<DesktopScreenshotOverlayPresenter>(
            std::move(setupSupport), std::move(openTranslationSetup),
            DesktopScreenshotOverlayPresenter::systemDependencies(
                {markAsOverlayWindow, makeSystemGlobalMouseMonitoring(), makeSystemKeyboardGrab(),
                 defaultFrontApplicationProvider(), systemWindowList(),
                 [] { return makeSystemFrontWindowActivation(); }, systemCompositingManagerDetector()}));
    };
    f.makeTextRecognizer = [](std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages) {
        return std::make_shared<TextRecognitionService>(
            makeSystemTextRecognitionEngine(),
            std::shared_ptr<const LanguageRecognizer>(makeSystemLanguageRecognizer()), std::move(preferredLanguages));
    };
    f.makeScreenshotController = [](CaptureTargetResolver resolver, ScreenshotTranslationService service,
                                    std::shared_ptr<const AppSettingsProviding> settings) {
        return std::make_unique<ScreenshotController>(std::move(resolver), ScreenCaptureService(systemScreenCapture()),
                                                      std::move(service), std::move(settings),
                                                      systemScreenCapturePermission());
    };
    f.makeSystemEventMonitor = [] { return makeSystemEventMonitor(); };
    f.makeActiveWindowTextProvider =
        [defaults = f.defaults, languages = f.languagePreferences](
            std::shared_ptr<ActiveWindowDetector> detector) -> std::shared_ptr<ActiveWindowTextProviding> {
        if (!detector) {
            return nullptr;
        }
        // The languages favoured when the window's script is recognised: those of the settings
        // as they are when the reader is first needed.
        auto preferred = std::make_shared<UserPreferredLanguagesProvider>(
            AppSettingsStore(*defaults, languages).settings(), languages);
        auto recognizer = std::make_shared<TextRecognitionService>(
            makeSystemTextRecognitionEngine(),
            std::shared_ptr<const LanguageRecognizer>(makeSystemLanguageRecognizer()), std::move(preferred));
        return std::make_shared<ActiveWindowTextService>(CaptureTargetResolver(std::move(detector)),
                                                         std::make_shared<ScreenCaptureService>(systemScreenCapture()),
                                                         std::move(recognizer), systemScreenCapturePermission());
    };
    // The speech models and the microphone are looked for when the scratchpad first asks for a
    // recognizer, not at start.
    f.makeSpeechRecognitionService =
        [system = std::make_shared<SpeechRecognitionServiceFactory>()](const QString& localeIdentifier) {
            if (!*system) {
                *system = speechRecognitionServiceFactory(
                    {makeSystemSpeechModels(), [] { return makeSystemAudioInputSource(); }});
            }
            return (*system)(localeIdentifier);
        };
    f.makeDictationPermissionManager = [] {
        return std::make_shared<DictationPermissionManager>(makeSystemDictationAuthorization());
    };
    f.makeClipboard = [] { return std::shared_ptr<Clipboard>(makeSystemClipboard({})); };

    f.clock = std::make_shared<SystemClock>();
    f.scheduler = std::make_shared<QtScheduler>();
    f.makeAlertPresenter = [] { return std::make_unique<MessageBoxAlertPresenter>(); };
    f.makeProgramLauncher = [] { return std::make_shared<DetachedProcessLauncher>(); };
    f.makeFrontWindowActivation = [] { return makeSystemFrontWindowActivation(); };
    f.openURL = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    f.makeAccessibilityBusStatus = [] { return makeSystemAccessibilityBusStatus(); };
    f.makeOnboardingPresenter = [](const OnboardingWindowServices& services) {
        return std::make_unique<OnboardingWindowPresenter>(services);
    };
    return f;
}

}  // namespace tavrolin
