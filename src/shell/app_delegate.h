#pragma once

// The application's delegate: the one owner of its running state and the composition root.
// It builds a few objects when constructed (in a fixed order) and every other service lazily,
// on first use, through its accessors; everything else in the shell and the workflows of the
// other subsystems are operations on this object.
//
// Where operations live (one .cpp per concern, all members of AppDelegate):
//   app_delegate.cpp            construction, accessors, launch, termination, quit, anti-sleep hooks
//   app_delegate_factories.cpp  how each collaborator is built by default (defaultFactories())
//   app_delegate_menu.cpp       status item, main menu and the menu commands
//   app_delegate_settings.cpp   applying the settings to the running services
//   app_delegate_updates.cpp    update checks
//   app_delegate_onboarding.cpp onboarding and the share prompt
//   app_delegate_focused_text_workflows.cpp  the five commands on the focused field
//   app_delegate_focused_text_ui.cpp         how those commands end when they fail
//   app_delegate_dictation.cpp  the dictation scratchpad window
//   app_delegate_settings_window.cpp the settings window and the diagnostics export it starts
//   app_delegate_window_translation.cpp  the Translate-window workflow and its overlay
// A new concern adds its own app_delegate_<concern>.cpp and declares its members in the
// matching section below.

#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "core/hot_key_action.h"
#include "core/online_feature_policy.h"
#include "core/telemetry_action.h"
#include "core/telemetry_event_reporter.h"
#include "dictation/speech_recognition_service.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"
#include "language/focused_text_field_accessing.h"
#include "shell/application_delegate.h"
#include "shell/update_hooks.h"
#include "updates/app_update_configuration.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/screenshot_translation_service.h"
#include "window_translation/translation_preview_state.h"

#include <QCoroTask>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace tavrolin {

class CaptureWorkflowError;
class AccessibilityBusStatus;
class AccessibilityPermission;
class ActiveWindowDetector;
class AlertPresenting;
class AppActions;
class AppAlerts;
class Clock;
class FrontWindowActivating;
class MainMenu;
class OnboardingDemoService;
class OnboardingHooks;
class OnboardingPresenting;
struct OnboardingWindowServices;
class ProgramLaunching;
class Scheduler;
class ScheduledCall;
class SettingsCoordinator;
class SettingsWindowController;
class SharePromptCoordinator;
class StatusMenu;
class SystemSettingsOpener;
class ActiveWindowTextProviding;
class FlipLanguageService;
class MessageTranslationService;
class TextEditingService;
class TextPromptingService;
class TextWritingService;
struct TranslationSetupSupport;
struct CaptureResult;
class AntiSleepManager;
class AppUpdateChecker;
class AppUpdateStateStore;
class FocusedFieldLoadingTargetResolver;
class Clipboard;
class DictationPermissionManager;
class DictationScratchpadWindowController;
class DeviceIdentifier;
class DiagnosticsExporter;
class FocusedTextFieldAccessor;
class HotKeyManager;
class HybridTextEditingClient;
class LaunchAtLoginController;
class OnboardingStateStore;
class OnlineGatedTextImproveClient;
class OnlineGatedTextPromptClient;
class OnlineGatedTextWritingClient;
class ScreenshotController;
class ScreenshotOverlayPresenter;
class TextRecognizing;
class SelectionPopupTriggerController;
class SelectionTranslationPopupPresenter;
class SelectionTranslationService;
class ServerBackedTranslationClient;
class ServerTranslationClient;
class SharePromptStore;
class SystemEventMonitoring;
class TextEditingClient;
class TextImproveClient;
class TextPromptClient;
class TextWritingClient;
class TranslationClient;
class UserPreferredLanguagesProvider;

class AppDelegate final : public QObject, public ApplicationDelegate {
    Q_OBJECT

public:
    // ---- nested types

    // The window-translation overlay on screen.
    struct OverlayTranslationContext {
        QUuid sessionID;
        QImage originalImage;
        QImage currentImage;
        QRectF windowBounds;
        std::optional<qint32> ownerPID;
        TranslationPreviewState translationState;
        std::optional<QUuid> retranslationRequestID;

        // Whether a re-translation result still belongs to what is on screen.
        bool matchesRetranslationRequest(const QUuid& sessionID, const QUuid& requestID) const {
            return this->sessionID == sessionID && retranslationRequestID && *retranslationRequestID == requestID;
        }
    };

    // How every collaborator is built. defaultFactories() builds the real ones; tests replace
    // any of them to watch the order and the arguments. A factory left empty means the
    // subsystem is not part of this build yet: its accessor answers nullptr and the operations
    // that need it do nothing.
    struct Factories {
        // The storage, identity and environment every collaborator is built over.
        DefaultsStore* defaults = nullptr;
        DeviceIdentifier* deviceIdentifier = nullptr;
        InfoDictionary bundle;
        Environment environment;

        // Built by the constructor, in this order.
        std::function<std::unique_ptr<OnboardingStateStore>(DefaultsStore&, int currentVersion)> makeOnboardingStateStore;
        std::function<AppUpdateConfiguration(const InfoDictionary&, const Environment&)> makeUpdateConfiguration;
        std::function<std::unique_ptr<AppUpdateStateStore>(DefaultsStore&)> makeUpdateStateStore;
        std::function<std::unique_ptr<SharePromptStore>(std::vector<int> schedule, DefaultsStore&)> makeSharePromptStore;
        std::function<std::unique_ptr<HotKeyManager>()> makeHotKeyManager;
        std::function<std::unique_ptr<AntiSleepManager>()> makeAntiSleepManager;
        std::function<std::shared_ptr<ActiveWindowDetector>()> makeActiveWindowDetector;
        std::function<std::shared_ptr<FocusedTextFieldAccessor>(double clipboardRestoreDelay)> makeFocusedTextFieldAccessor;
        std::function<std::unique_ptr<LaunchAtLoginController>()> makeLaunchAtLoginController;
        std::function<std::unique_ptr<AppSettingsStore>(DefaultsStore&)> makeSettingsStore;
        std::function<std::shared_ptr<OnlineFeaturePolicy>(bool onlineFeaturesEnabled)> makeOnlineFeaturePolicy;

        // Built on first use.
        std::function<std::shared_ptr<TelemetryClient>(TelemetryConfiguration, ServerSessionConfiguration)> makeTelemetryClient;
        std::function<std::shared_ptr<TranslationClient>()> makeDeviceTranslationClient;
        std::function<std::shared_ptr<ServerTranslationClient>(ServerTranslationConfiguration, ServerSessionConfiguration)>
            makeServerTranslationClient;
        std::function<std::shared_ptr<TextImproveClient>(TextImproveConfiguration, ServerSessionConfiguration)> makeTextImproveClient;
        std::function<std::shared_ptr<TextPromptClient>(TextPromptConfiguration, ServerSessionConfiguration)> makeTextPromptClient;
        std::function<std::shared_ptr<TextEditingClient>(TextEditingConfiguration, ServerSessionConfiguration)> makeTextEditingClient;
        std::function<std::shared_ptr<TextEditingClient>()> makeOfflineTextEditingClient;
        std::function<std::shared_ptr<TextWritingClient>(TextWritingConfiguration, ServerSessionConfiguration)> makeTextWritingClient;
        std::function<std::shared_ptr<AppUpdateChecker>(const AppUpdateConfiguration&, ServerSessionConfiguration,
                                                        std::shared_ptr<const OnlineFeaturePolicy>,
                                                        std::optional<QString> currentBuild, QString currentVersion)>
            makeUpdateChecker;
        std::function<std::shared_ptr<DiagnosticsExporter>()> makeDiagnosticsExporter;
        // The translation client the overlay's setup notices ask, and what their button opens
        // (subsystem 4 builds the presenter).
        std::function<std::unique_ptr<ScreenshotOverlayPresenter>(std::shared_ptr<TranslationSetupSupport>,
                                                                  std::function<void()> openTranslationSetup)>
            makeScreenshotOverlayPresenter;
        // The text of the front window for the writing service (subsystem 4 reads it).
        std::function<std::shared_ptr<ActiveWindowTextProviding>(std::shared_ptr<ActiveWindowDetector>)>
            makeActiveWindowTextProvider;
        std::function<std::unique_ptr<SelectionTranslationPopupPresenter>(std::shared_ptr<ActiveWindowDetector>)>
            makeSelectionTranslationPopupPresenter;
        // The selection trigger reads through the focused-field accessor's accessibility and
        // front-application lookup (no second AT-SPI client); null when there is none.
        std::function<std::unique_ptr<SelectionPopupTriggerController>(
            const AppSettingsStore&, std::shared_ptr<UserPreferredLanguagesProvider>,
            std::shared_ptr<FocusedTextFieldAccessor>, std::function<void()> onTranslate, std::function<void()> onFlip,
            std::function<void()> onEdit)>
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
        // permissions and the clipboard it copies to. While the speech factory is empty the
        // application has no scratchpad and its commands do nothing.
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

    AppDelegate();
    explicit AppDelegate(Factories factories);
    ~AppDelegate() override;

    // ---- lifecycle (app_delegate.cpp)

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void activateFromAnotherLaunch() override;
    // The Quit command: reports it, then ends the event loop (termination follows).
    void quit(TelemetryTrigger trigger = TelemetryTrigger::menu);

    // ---- objects built by the constructor

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
    const std::shared_ptr<FocusedTextFieldAccessor>& focusedTextFieldAccessor() const { return focusedTextFieldAccessor_; }
    LaunchAtLoginController& launchAtLoginController() const { return *launchAtLoginController_; }

    // ---- lazily built services (each built once, never replaced)

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
    // language of the settings. nullptr while window translation is not built.
    ScreenshotController* screenshotController();
    // Runs the onboarding's demonstrations over the editing, writing and translation clients.
    std::shared_ptr<OnboardingDemoService> onboardingDemoService();

    static constexpr int focusedFieldReadRetryCount = 4;
    static constexpr double focusedFieldReadRetryDelay = 0.12;

    // ---- running state the workflows share

    std::optional<TelemetryTrigger> pendingSharePromptTrigger;
    std::optional<OverlayTranslationContext> overlayTranslationContext;
    // How many translated images presentOverlay has put on screen: tells whether a newer one
    // came while an alert of an older overlay was open.
    std::uint64_t overlaysPresented = 0;
    bool isMessageTranslationInProgress = false;
    bool isTextEditingInProgress = false;
    bool isTextWritingInProgress = false;
    bool isSelectionTranslationInProgress = false;
    bool isFlipLanguageInProgress = false;
    bool isCreatePromptInProgress = false;

    // ---- anti-sleep hooks (app_delegate.cpp)

    void configureAntiSleep();
    void handleWakeNotification();
    void handleClockChangeNotification();

    // ---- status item, main menu and commands (app_delegate_menu.cpp)

    void configureMainMenu();
    void configureStatusItem();
    QSystemTrayIcon* statusItem() const;
    QMenu* statusMenu() const;
    StatusMenu* statusMenuController() const { return statusMenuController_.get(); }
    // The commands of the status menu; each starts its workflow when its subsystem is built.
    void captureAndTranslateActiveWindow();
    void translateMessage();
    void editText();
    void writeText();
    void flipLanguage();
    void openDictationScratchpad();
    void createPrompt();
    void openSettings();
    void showTutorial();
    void checkForUpdates();
    void shareApp();
    void writeToDeveloper();
    // Every entry of the seven commands: while the onboarding is open the command goes to it,
    // otherwise its workflow starts with `trigger`.
    void runCommand(HotKeyAction action, TelemetryTrigger trigger);

    // ---- workflows (app_delegate_workflows.cpp): each checks its own guards, reports its own
    // outcome and returns at once.

    void startSmartTranslation(TelemetryTrigger trigger);
    // Translates the selection into the result popup. The Translate command passes the
    // selection it has already read; without one the selection is read here.
    void startSelectionTranslation(TelemetryTrigger trigger,
                                   std::optional<FocusedTextFieldSnapshot> initialSnapshot = std::nullopt);
    void handleSelectionTranslationError(const CaptureWorkflowError& error);
    // Translates selections paragraph by paragraph into the native language.
    std::shared_ptr<SelectionTranslationService> selectionTranslationService();
    // The pause between two looks at the selection when Translate decides what to translate.
    static constexpr std::chrono::milliseconds selectionProbeRetryDelay{120};
    static constexpr int selectionProbeAttempts = 3;
    // The delegate's one-shot timers (virtual time in tests).
    Scheduler& scheduler();
    void startMessageTranslation(TelemetryTrigger trigger);
    void startTextEditing(TelemetryTrigger trigger);
    void startTextWriting(TelemetryTrigger trigger);
    void startFlipLanguage(TelemetryTrigger trigger);
    void startCreatePrompt(TelemetryTrigger trigger);
    void presentDictationScratchpad();

    // ---- the focused-field commands (app_delegate_focused_text_workflows.cpp)

    // Whether the desktop lets this process read other applications' fields; built on first use.
    // nullptr while the build has no accessibility bus (no makeAccessibilityBusStatus).
    AccessibilityPermission* accessibilityPermission();
    FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver();

    // ---- how they end when they fail (app_delegate_focused_text_ui.cpp): at most one alert or
    // window each.

    void handleMessageTranslationError(const CaptureWorkflowError& error);
    void handleTextWritingError(const CaptureWorkflowError& error, const QString& shortcutDisplayName);
    void handleTextEditingError(const CaptureWorkflowError& error);
    void handleFlipLanguageError(const CaptureWorkflowError& error);
    void handleCreatePromptError(const CaptureWorkflowError& error);
    // A finished text the field did not take, offered for copying; a blank one shows nothing.
    void presentFocusedTextCopyFallback(const QString& text);

    // ---- dictation scratchpad (app_delegate_dictation.cpp)

    // Shows `text` in the scratchpad for copying: where a workflow could not put its result
    // into the focused field.
    void presentDictationScratchpadCopyOnly(const QString& text);
    // Built on the first presentation and kept for the life of the process; null before.
    DictationScratchpadWindowController* dictationScratchpadWindowController() const {
        return dictationScratchpadWindowController_.get();
    }

    // ---- window translation (app_delegate_window_translation.cpp)

    // Captures the front window, translates it and shows the overlay over it; a failure ends in
    // a usage event and, by the error, an alert. The shortcut's name goes into the screen-capture
    // alert. Returns at once.
    void startCapture(const QString& shortcutDisplayName, TelemetryTrigger trigger);
    // Shows the context's image over its window. False when its bounds lie on no display and
    // nothing was shown.
    bool presentOverlay(const OverlayTranslationContext& context);
    // Translates the overlay's captured window again with another pair (the picker's Apply),
    // showing the loading card in the overlay meanwhile. Only the newest request for the overlay
    // still on screen is applied; a failure puts the previous image back.
    void retranslateOverlay(TranslationLanguagePair pair);
    // The alert of a failed re-translation; retry runs it again.
    void handleOverlayTranslationError(const CaptureWorkflowError& error, std::function<void()> retry);
    // How long a capture from the tray menu waits for the uncovered window to repaint.
    static constexpr std::chrono::milliseconds menuCaptureSettleDelay{120};

    // ---- settings (app_delegate_settings.cpp)

    // Pushes the current settings to the running services at launch.
    void configureSettings();
    // The one save path of every settings screen: answers the text to show when nothing could
    // be saved, else none.
    std::optional<QString> saveSettings(const AppSettings& settings, TelemetryTrigger trigger);

    // The shell services behind the commands, each built on first use.
    AlertPresenting& alertPresenter();
    SystemSettingsOpener& systemSettingsOpener();
    AppAlerts& alerts();
    SettingsCoordinator& settingsCoordinator();
    UpdateHooks& updateHooks();
    AppActions& appActions();
    SharePromptCoordinator& sharePromptCoordinator();
    // nullptr while the application has no onboarding window.
    OnboardingHooks* onboardingHooks();
    // What the onboarding window is built over.
    OnboardingWindowServices onboardingWindowServices();

    // ---- settings window (app_delegate_settings_window.cpp)

    // Reports the command, then shows the settings window: a new one over the stored settings,
    // or the open one as it is.
    void presentSettings(TelemetryTrigger trigger);
    SettingsWindowController* settingsWindowController() const;
    // Asks where to save the diagnostics archive and writes it; returns at once.
    void exportDiagnostics();

    // ---- updates (app_delegate_updates.cpp)

    void startUpdateCheck(UpdateCheckMode mode);

    // ---- onboarding and share prompt (app_delegate_onboarding.cpp)

    enum class OnboardingPages { shortIntroduction, all };
    void presentOnboarding(OnboardingPages pages, bool markCompletedOnClose, TelemetryTrigger trigger);
    void presentSharePrompt(TelemetryTrigger trigger);

private:
    QCoro::Task<void> runCapture(QString shortcutDisplayName, TelemetryTrigger trigger,
                                 TelemetryEventReporter::Context context, TranslationLanguagePair pair);
    void showCaptureResult(const CaptureResult& result, TelemetryTrigger trigger, const TelemetryEventReporter::Context& context);
    QCoro::Task<void> runRetranslation(TranslationLanguagePair pair, QUuid sessionID, QUuid requestID,
                                       OverlayTranslationContext fallback, TelemetryEventReporter::Context context);
    void handleCaptureFailure(std::exception_ptr error, const QString& shortcutDisplayName, TelemetryTrigger trigger,
                              const TelemetryEventReporter::Context& context);
    // Consumes a pending share prompt (the dismissal hooks of the overlay and the popup).
    void showPendingSharePrompt();
    // The window manager's activation requests, built on first use; null without a display.
    std::shared_ptr<FrontWindowActivating> frontWindowActivation();
    DictationScratchpadWindowController* ensureDictationScratchpadWindowController();
    void pushSettings(const AppSettings& settings, bool fullScope);
    void reportCommand(TelemetryAction action, TelemetryTrigger trigger);
    std::shared_ptr<ServerBackedTranslationClient> makeServerBackedTranslationClient(bool withServerStartCallback);

    // While a settings row records a shortcut the global grabs are paused.
    void settingsShortcutRecordingChanged(bool recording);

    Factories factories_;

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

    std::unique_ptr<ScheduledCall> menuCaptureStart_;
    std::unique_ptr<SystemEventMonitoring> systemEventMonitor_;
    std::unique_ptr<StatusMenu> statusMenuController_;
    std::unique_ptr<MainMenu> mainMenu_;
    std::unique_ptr<AlertPresenting> alertPresenter_;
    std::unique_ptr<SystemSettingsOpener> systemSettingsOpener_;
    std::shared_ptr<FrontWindowActivating> frontWindowActivation_;
    std::unique_ptr<AppAlerts> alerts_;
    std::unique_ptr<SettingsCoordinator> settingsCoordinator_;
    std::unique_ptr<UpdateHooks> updateHooks_;
    std::unique_ptr<AppActions> appActions_;
    std::unique_ptr<SharePromptCoordinator> sharePromptCoordinator_;
    std::unique_ptr<AccessibilityBusStatus> accessibilityBusStatus_;
    std::unique_ptr<AccessibilityPermission> accessibilityPermission_;
    std::unique_ptr<FocusedFieldLoadingTargetResolver> focusedFieldLoadingTargetResolver_;
    std::unique_ptr<OnboardingPresenting> onboardingPresenter_;
    std::unique_ptr<OnboardingHooks> onboardingHooks_;
    bool onboardingHooksBuilt_ = false;
    std::unique_ptr<DictationScratchpadWindowController> dictationScratchpadWindowController_;
    // Owned as a child of the delegate; dropped (later) when its window closes.
    QPointer<SettingsWindowController> settingsWindowController_;
    std::vector<QCoro::Task<void>> diagnosticsExportTasks_;
};

}  // namespace tavrolin
