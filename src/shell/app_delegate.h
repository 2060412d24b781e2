#pragma once

// The application's delegate: the composition root and the one owner of its running state.
// It owns the services (AppServices: how each collaborator is built, the stores built at
// construction and every other service built on first use) and forwards its accessors to them;
// the running state the workflows share (which workflow runs, the overlay on screen) sits behind
// AppRunningState. Everything else in the shell and the workflows of the other subsystems are
// operations on this object.
//
// Where operations live (one .cpp per concern, all members of AppDelegate unless named):
//   app_delegate.cpp            construction, launch, termination, quit, anti-sleep hooks
//   app_services.cpp            AppServices: construction order and the services built on first use
//   app_delegate_factories.cpp  how each collaborator is built by default (AppServices::defaultFactories())
//   app_running_state.cpp       AppRunningState: the workflows' flags and the overlay on screen
//   app_delegate_menu.cpp       status item, main menu and the menu commands
//   app_delegate_settings.cpp   applying the settings to the running services; the alerts and
//                               openers the commands show
//   app_delegate_updates.cpp    update checks and the application's own actions (AppActions)
//   app_delegate_onboarding.cpp onboarding and the share prompt
//   app_delegate_workflows.cpp  the Translate command: the selection, else the front window
//   app_delegate_focused_text_workflows.cpp  the commands on the focused field and Translate Selection
//   app_delegate_focused_text_ui.cpp         how those commands end when they fail
//   app_delegate_dictation.cpp  the dictation scratchpad window
//   app_delegate_settings_window.cpp the settings window and the diagnostics export it starts
//   app_delegate_window_translation.cpp  the Translate-window workflow and its overlay
// A new concern adds its own app_delegate_<concern>.cpp and declares its members in the
// matching section below; a new service adds its factory and accessor to AppServices.

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
#include "shell/app_running_state.h"
#include "shell/app_services.h"
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
    using OverlayTranslationContext = tavrolin::OverlayTranslationContext;
    // How every collaborator is built (see AppServices::Factories); tests replace any of them.
    using Factories = AppServices::Factories;
    static Factories defaultFactories() { return AppServices::defaultFactories(); }

    AppDelegate();
    explicit AppDelegate(Factories factories);
    ~AppDelegate() override;

    // ---- lifecycle (app_delegate.cpp)

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    void activateFromAnotherLaunch() override;
    // The Quit command: reports it, then ends the event loop (termination follows).
    void quit(TelemetryTrigger trigger = TelemetryTrigger::menu);

    // ---- objects built by the constructor (held by the services)

    AppServices& services() const { return *services_; }
    AppSettingsStore& settingsStore() const { return services_->settingsStore(); }
    const std::shared_ptr<AppSettingsStore>& sharedSettingsStore() const { return services_->sharedSettingsStore(); }
    const std::shared_ptr<OnlineFeaturePolicy>& onlineFeaturePolicy() const { return services_->onlineFeaturePolicy(); }
    OnboardingStateStore& onboardingStore() const { return services_->onboardingStore(); }
    const AppUpdateConfiguration& updateConfiguration() const { return services_->updateConfiguration(); }
    AppUpdateStateStore& updateStateStore() const { return services_->updateStateStore(); }
    SharePromptStore& sharePromptStore() const { return services_->sharePromptStore(); }
    HotKeyManager& hotKeyManager() const { return services_->hotKeyManager(); }
    AntiSleepManager* antiSleepManager() const { return services_->antiSleepManager(); }
    const std::shared_ptr<ActiveWindowDetector>& activeWindowDetector() const {
        return services_->activeWindowDetector();
    }
    const std::shared_ptr<FocusedTextFieldAccessor>& focusedTextFieldAccessor() const {
        return services_->focusedTextFieldAccessor();
    }
    LaunchAtLoginController& launchAtLoginController() const { return services_->launchAtLoginController(); }

    // ---- lazily built services (each built once, never replaced)

    TelemetryEventReporter& telemetryReporter() { return services_->telemetryReporter(); }
    std::shared_ptr<DiagnosticsExporter> diagnosticsExporter() { return services_->diagnosticsExporter(); }
    std::shared_ptr<ServerBackedTranslationClient> translationClient() { return services_->translationClient(); }
    // The server-backed client the overlay's setup notices ask: built like translationClient()
    // but with its own session and without the server-start callback.
    std::shared_ptr<ServerBackedTranslationClient> overlayTranslationSetupClient() {
        return services_->overlayTranslationSetupClient();
    }
    std::shared_ptr<TranslationSetupSupport> overlayTranslationSetupSupport() {
        return services_->overlayTranslationSetupSupport();
    }
    ScreenshotOverlayPresenter* screenshotOverlayPresenter() { return services_->screenshotOverlayPresenter(); }
    std::shared_ptr<TextImproveClient> textImproveClient() { return services_->textImproveClient(); }
    std::shared_ptr<TextPromptClient> textPromptClient() { return services_->textPromptClient(); }
    std::shared_ptr<TextEditingClient> textEditingClient() { return services_->textEditingClient(); }
    std::shared_ptr<TextWritingClient> textWritingClient() { return services_->textWritingClient(); }
    std::shared_ptr<UserPreferredLanguagesProvider> preferredLanguagesProvider() {
        return services_->preferredLanguagesProvider();
    }
    SelectionTranslationPopupPresenter* selectionTranslationPopupPresenter() {
        return services_->selectionTranslationPopupPresenter();
    }
    SelectionPopupTriggerController* selectionPopupTriggerController() {
        return services_->selectionPopupTriggerController();
    }
    std::shared_ptr<AppUpdateChecker> updateChecker() { return services_->updateChecker(); }
    // The focused-field services, all over the one accessor, with 4 read retries 0.12 s apart.
    std::shared_ptr<MessageTranslationService> messageTranslationService() {
        return services_->messageTranslationService();
    }
    std::shared_ptr<FlipLanguageService> flipLanguageService() { return services_->flipLanguageService(); }
    std::shared_ptr<TextPromptingService> textPromptingService() { return services_->textPromptingService(); }
    std::shared_ptr<TextEditingService> textEditingService() { return services_->textEditingService(); }
    // nullptr while no reader of the front window's text is built.
    std::shared_ptr<TextWritingService> textWritingService() { return services_->textWritingService(); }
    // Captures and translates the front window; its translation service follows the second
    // language of the settings. nullptr without a text recognizer or capture controller.
    ScreenshotController* screenshotController() { return services_->screenshotController(); }
    // Runs the onboarding's demonstrations over the editing, writing and translation clients.
    std::shared_ptr<OnboardingDemoService> onboardingDemoService() { return services_->onboardingDemoService(); }

    static constexpr int focusedFieldReadRetryCount = AppServices::focusedFieldReadRetryCount;
    static constexpr double focusedFieldReadRetryDelay = AppServices::focusedFieldReadRetryDelay;

    // ---- running state the workflows share

    // Which workflow runs and the overlay on screen; only a WorkflowRun sets a workflow's flag.
    AppRunningState& runningState() { return runningState_; }
    const AppRunningState& runningState() const { return runningState_; }
    bool isMessageTranslationInProgress() const { return runningState_.isInProgress(Workflow::messageTranslation); }
    bool isTextEditingInProgress() const { return runningState_.isInProgress(Workflow::textEditing); }
    bool isTextWritingInProgress() const { return runningState_.isInProgress(Workflow::textWriting); }
    bool isSelectionTranslationInProgress() const { return runningState_.isInProgress(Workflow::selectionTranslation); }
    bool isFlipLanguageInProgress() const { return runningState_.isInProgress(Workflow::flipLanguage); }
    bool isCreatePromptInProgress() const { return runningState_.isInProgress(Workflow::createPrompt); }
    const std::optional<OverlayTranslationContext>& overlayTranslationContext() const {
        return runningState_.overlayTranslationContext();
    }
    // A finished run's trigger, until the share prompt it earned shows at the next dismissal of
    // the overlay or the popup.
    std::optional<TelemetryTrigger> pendingSharePromptTrigger;

    // ---- anti-sleep hooks (app_delegate.cpp)

    void configureAntiSleep();

    // ---- status item, main menu and commands (app_delegate_menu.cpp)

    void configureMainMenu();
    void configureStatusItem();
    QSystemTrayIcon* statusItem() const;
    QMenu* statusMenu() const;
    StatusMenu* statusMenuController() const { return statusMenuController_.get(); }
    // The commands of the status menu; each starts its workflow when its services are built.
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
    std::shared_ptr<SelectionTranslationService> selectionTranslationService() {
        return services_->selectionTranslationService();
    }
    // The pause between two looks at the selection when Translate decides what to translate.
    static constexpr std::chrono::milliseconds selectionProbeRetryDelay{120};
    static constexpr int selectionProbeAttempts = 3;
    // The delegate's one-shot timers (virtual time in tests).
    Scheduler& scheduler() { return services_->scheduler(); }
    void startMessageTranslation(TelemetryTrigger trigger);
    void startTextEditing(TelemetryTrigger trigger);
    void startTextWriting(TelemetryTrigger trigger);
    void startFlipLanguage(TelemetryTrigger trigger);
    // The selection buttons' Edit and Flip: on the selection the buttons were shown for, which
    // is not read again.
    void startTextEditing(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection);
    void startFlipLanguage(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection);
    void startCreatePrompt(TelemetryTrigger trigger);
    void presentDictationScratchpad();

    // ---- the focused-field commands (app_delegate_focused_text_workflows.cpp)

    // Whether the desktop lets this process read other applications' fields; built on first use.
    // nullptr while the build has no accessibility bus (no makeAccessibilityBusStatus).
    AccessibilityPermission* accessibilityPermission() { return services_->accessibilityPermission(); }
    // Whether other applications' fields may be read now: false without an accessibility bus or
    // when the check fails. requestIfNeeded also switches on a bus that stands off (the commands
    // that act on the field); askOnly leaves it as it is (the Translate command's first look).
    enum class AccessibilityTrustCheck { askOnly, requestIfNeeded };
    QCoro::Task<bool> accessibilityTrusted(AccessibilityTrustCheck check);
    FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver() {
        return services_->focusedFieldLoadingTargetResolver();
    }

    // ---- how they end when they fail (app_delegate_focused_text_ui.cpp): at most one alert or
    // window each.

    void handleMessageTranslationError(const CaptureWorkflowError& error);
    void handleTextWritingError(const CaptureWorkflowError& error, const QString& shortcutDisplayName);
    void handleTextEditingError(const CaptureWorkflowError& error);
    void handleFlipLanguageError(const CaptureWorkflowError& error);
    void handleCreatePromptError(const CaptureWorkflowError& error);
    // An alert's Try Again: `start` runs from the event loop, once the run that showed the
    // alert has ended (its flag would refuse a start made while the alert returns).
    void startAfterCurrentRun(std::function<void()> start);
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
    void showCaptureResult(const CaptureResult& result, TelemetryTrigger trigger,
                           const TelemetryEventReporter::Context& context);
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
    AppServices::Factories& factories() { return services_->factories(); }
    using Workflow = AppRunningState::Workflow;

    // While a settings row records a shortcut the global grabs are paused.
    void settingsShortcutRecordingChanged(bool recording);

    std::unique_ptr<AppServices> services_;
    AppRunningState runningState_;

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
    std::unique_ptr<OnboardingPresenting> onboardingPresenter_;
    std::unique_ptr<OnboardingHooks> onboardingHooks_;
    bool onboardingHooksBuilt_ = false;
    std::unique_ptr<DictationScratchpadWindowController> dictationScratchpadWindowController_;
    // Owned as a child of the delegate; dropped (later) when its window closes.
    QPointer<SettingsWindowController> settingsWindowController_;
    std::vector<QCoro::Task<void>> diagnosticsExportTasks_;
};

}  // namespace tavrolin
