#pragma once

// The application's delegate: the composition root. It owns the services (AppServices: how each
// collaborator is built, the stores built at construction and every other service built on first
// use), the commands of src/commands with itself as their host, and which of them runs
// (AppRunningState). Everything else in the shell is an operation on this object.
//
// Where operations live (one .cpp per concern, all members of AppDelegate unless named):
//   app_delegate.cpp            construction (the commands' wiring), launch, termination, quit,
//                               anti-sleep hooks
//   app_services.cpp            AppServices: construction order and the services built on first use
//   app_delegate_factories.cpp  how each collaborator is built by default (AppServices::defaultFactories())
//   app_delegate_commands.cpp   the commands' host and their starts
//   app_delegate_workflows.cpp  the Translate command's start from the tray menu
//   app_delegate_menu.cpp       status item, main menu and the menu commands
//   app_delegate_settings.cpp   applying the settings to the running services; the alerts and
//                               openers
//   app_delegate_updates.cpp    update checks and the application's own actions (AppActions)
//   app_delegate_onboarding.cpp onboarding and the share prompt
//   app_delegate_dictation.cpp  the dictation scratchpad window
//   app_delegate_settings_window.cpp the settings window and the diagnostics export it starts
// A new command adds its files in src/commands and one line of wiring in the constructor; a new
// service adds its factory and accessor to AppServices.

#include "commands/app_alerts.h"
#include "commands/app_running_state.h"
#include "commands/command_host.h"
#include "commands/window_translation_command.h"
#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "core/hot_key_action.h"
#include "core/telemetry_action.h"
#include "core/telemetry_event_reporter.h"
#include "language/focused_text_field_accessing.h"
#include "shell/app_services.h"
#include "shell/application_delegate.h"
#include "shell/update_hooks.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace tavrolin {

class AlertsAfterTyping;
class AppActions;
class FrontWindowActivating;
class MainMenu;
class OnboardingHooks;
class OnboardingPresenting;
struct OnboardingWindowServices;
class Scheduler;
class ScheduledCall;
class SettingsCoordinator;
class SettingsWindowController;
class SharePromptCoordinator;
class StatusMenu;
class SystemSettingsOpener;
class FocusedFieldLoadingTargetResolver;
class DictationScratchpadWindowController;
class ScreenshotOverlayPresenter;
class SystemEventMonitoring;

class CreatePromptCommand;
class FlipLanguageCommand;
class MessageTranslationCommand;
class SelectionTranslationCommand;
class SmartTranslationCommand;
class TextEditingCommand;
class TextWritingCommand;

class AppDelegate final : public QObject, public ApplicationDelegate, public CommandHost {
    Q_OBJECT

public:
    // ---- nested types

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
    AppSettingsStore& settingsStore() const override { return services_->settingsStore(); }

    // ---- lazily built services (each built once, never replaced)

    TelemetryEventReporter& telemetryReporter() override { return services_->telemetryReporter(); }
    ScreenshotOverlayPresenter* screenshotOverlayPresenter() override {
        return services_->screenshotOverlayPresenter();
    }

    // ---- running state the workflows share

    // Which workflow runs and the overlay on screen; only a WorkflowRun sets a workflow's flag.
    AppRunningState& runningState() override { return runningState_; }
    const AppRunningState& runningState() const { return runningState_; }
    bool isMessageTranslationInProgress() const { return runningState_.isInProgress(Workflow::messageTranslation); }
    bool isTextEditingInProgress() const { return runningState_.isInProgress(Workflow::textEditing); }
    bool isTextWritingInProgress() const { return runningState_.isInProgress(Workflow::textWriting); }
    bool isSelectionTranslationInProgress() const { return runningState_.isInProgress(Workflow::selectionTranslation); }
    bool isFlipLanguageInProgress() const { return runningState_.isInProgress(Workflow::flipLanguage); }
    bool isCreatePromptInProgress() const { return runningState_.isInProgress(Workflow::createPrompt); }
    const std::optional<OverlayTranslationContext>& overlayTranslationContext() const {
        return commands_.windowTranslation->overlay().context();
    }
    // A finished run's trigger, until the share prompt it earned shows at the next dismissal of
    // the overlay or the popup (the share prompt coordinator keeps it).
    std::optional<TelemetryTrigger> pendingSharePromptTrigger() const { return pendingSharePromptTrigger_; }
    bool recordSuccess(TelemetryTrigger trigger) override;

    // The runs of the commands on the focused field, with this delegate as their host.
    struct Commands {
        std::unique_ptr<MessageTranslationCommand> messageTranslation;
        std::unique_ptr<TextWritingCommand> textWriting;
        std::unique_ptr<TextEditingCommand> textEditing;
        std::unique_ptr<FlipLanguageCommand> flipLanguage;
        std::unique_ptr<CreatePromptCommand> createPrompt;
        std::unique_ptr<SelectionTranslationCommand> selectionTranslation;
        std::unique_ptr<WindowTranslationCommand> windowTranslation;
        std::unique_ptr<SmartTranslationCommand> smartTranslation;
    };
    Commands& commands() { return commands_; }

    // ---- anti-sleep hooks (app_delegate.cpp)

    void configureAntiSleep();

    // ---- status item, main menu and commands (app_delegate_menu.cpp)

    void configureMainMenu();
    void configureStatusItem();
    QSystemTrayIcon* statusItem() const;
    QMenu* statusMenu() const;
    StatusMenu* statusMenuController() const { return statusMenuController_.get(); }
    // The status menu's items besides the seven commands (which go through runCommand()).
    void openSettings();
    void showTutorial();
    void checkForUpdates();
    void shareApp();
    void writeToDeveloper();
    // Every entry of the seven commands: while the onboarding is open the command goes to it,
    // otherwise its workflow starts with `trigger`.
    void runCommand(HotKeyAction action, TelemetryTrigger trigger);

    // ---- the commands' starts (app_delegate_commands.cpp; the runs are in src/commands): each
    // checks its own guards, reports its own outcome and returns at once.

    // The Translate command (app_delegate_workflows.cpp: from the tray menu it first waits for
    // the menu to leave the screen).
    void startSmartTranslation(TelemetryTrigger trigger);
    // Translates the selection into the result popup. The Translate command passes the
    // selection it has already read; without one the selection is read here.
    void startSelectionTranslation(TelemetryTrigger trigger,
                                   std::optional<FocusedTextFieldSnapshot> initialSnapshot = std::nullopt);
    // The delegate's one-shot timers (virtual time in tests).
    Scheduler& scheduler() override { return services_->scheduler(); }
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

    // ---- the commands' host (app_delegate_commands.cpp)

    using AccessibilityTrustCheck = tavrolin::AccessibilityTrustCheck;
    QCoro::Task<AccessibilityPermissionStatus> accessibilityAccess(AccessibilityTrustCheck check) override;
    FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver() override {
        return services_->focusedFieldLoadingTargetResolver();
    }

    // Try Again's run starts once a window of another program is in front again (the alert
    // held the focus); after tryAgainFocusBound on whatever is in front.
    void startAfterCurrentRun(std::function<void()> start) override;
    static constexpr std::chrono::milliseconds tryAgainFocusBound{500};
    void presentFocusedTextCopyFallback(const QString& text, bool fieldChangedMeanwhile,
                                        const std::optional<QString>& reason = std::nullopt) override;

    // ---- dictation scratchpad (app_delegate_dictation.cpp)

    // Shows `text` in the scratchpad for copying: where a workflow could not put its result
    // into the focused field. `leaveKeyboard`: the window comes to the front without taking the
    // keyboard from the program the user types in.
    void presentDictationScratchpadCopyOnly(const QString& text, bool leaveKeyboard = false,
                                            const std::optional<QString>& reason = std::nullopt);
    // Built on the first presentation and kept for the life of the process; null before.
    DictationScratchpadWindowController* dictationScratchpadWindowController() const {
        return dictationScratchpadWindowController_.get();
    }

    // ---- window translation (its run: src/commands/window_translation_command.h)

    void startCapture(const QString& shortcutDisplayName, TelemetryTrigger trigger);
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
    AppAlerts& alerts() override;
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
    std::optional<TelemetryTrigger> pendingSharePromptTrigger_;
    Commands commands_;

    std::unique_ptr<ScheduledCall> menuCaptureStart_;
    std::unique_ptr<ScheduledCall> tryAgainStart_;
    std::unique_ptr<SystemEventMonitoring> systemEventMonitor_;
    std::unique_ptr<StatusMenu> statusMenuController_;
    std::unique_ptr<MainMenu> mainMenu_;
    std::unique_ptr<AlertPresenting> alertPresenter_;
    std::unique_ptr<SystemSettingsOpener> systemSettingsOpener_;
    std::shared_ptr<FrontWindowActivating> frontWindowActivation_;
    std::unique_ptr<AppAlerts> alerts_;
    std::unique_ptr<AlertsAfterTyping> shortcutAlerts_;
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
