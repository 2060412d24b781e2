#pragma once

// The frame the commands that take the text of the focused field of another application share
// (Write Message, Rewrite Message, Edit Message, Flip Language and Create Prompt): a start that
// logs, makes the usage-event context and checks the guards; a loading card over the front
// window; a task that reads the field, calls the service and ends with a usage event, an alert or
// a copy window; and the clearing of the command's flag and card on every way out. Each command
// is one subclass that says what its run does.

#include "commands/app_running_state.h"
#include "commands/command_host.h"
#include "commands/focused_field_loading_target_resolver.h"
#include "core/lifetime_token.h"
#include "language/focused_text_field_accessing.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Write, Rewrite, Edit and Flip run beside a selection translation; Create Prompt does not.
bool busyWithFocusedField(const AppRunningState& state);
bool busyForCreatePrompt(const AppRunningState& state);
// A selection translation waits for every other command on the focused field.
bool busyForSelectionTranslation(const AppRunningState& state);

// How a command reaches its service, which the application builds on first use; null while it
// has none.
template <typename Service>
using ServiceGetter = std::function<std::shared_ptr<Service>()>;

// The loading card's text and whether it shows the server style.
struct LoadingText {
    QString message;
    bool usesServer = false;
};

class FocusedFieldCommand {
public:
    explicit FocusedFieldCommand(CommandHost& host) : host_(host) {}
    virtual ~FocusedFieldCommand() = default;
    FocusedFieldCommand(const FocusedFieldCommand&) = delete;
    FocusedFieldCommand& operator=(const FocusedFieldCommand&) = delete;

    // The command from a shortcut, the menu or an alert's Try Again. Returns at once.
    virtual void start(TelemetryTrigger trigger) = 0;
    // At most one alert or window for a failure of this command.
    virtual void handleError(const CaptureWorkflowError& error) = 0;

    CommandHost& host() const { return host_; }

protected:
    using Context = TelemetryEventReporter::Context;

    // How one successful service call ended.
    struct RunSuccess {
        enum class Kind {
            // The ordinary end: success event, share prompt.
            succeeded,
            // Nothing to work on (Flip Language's empty field): no event, no line, no alert.
            nothingToDo,
            // Edit Message offline found nothing to correct: success event, an informational
            // alert, no share prompt.
            noLocalEdits,
        };
        Kind kind = Kind::succeeded;
        // Replaces the start context of the success event (Flip Language: the languages used).
        std::optional<Context> successContext;
    };

    // The service call of a run: the service reads the field (unless the run has the selection
    // the buttons saw) and reports its frame, where the card goes when none is up yet.
    using Perform = std::function<QCoro::Task<RunSuccess>(std::optional<FocusedTextFieldSnapshot> initialSnapshot,
                                                          FieldFrameCallback)>;

    // One command's run, from the moment its guards passed until its task ends.
    struct Run {
        TelemetryAction action;
        TelemetryTrigger trigger;
        Context context;
        QString commandName;
        AppRunningState::Workflow workflow;
        // Null for Flip Language, which keeps no such flag and clears at every end.
        std::shared_ptr<bool> loadingShown;
        // The text of a second loading attempt, once the field's frame is known.
        std::function<LoadingText()> secondLoadingText;
        // The field as the selection buttons saw it: not read again.
        std::optional<FocusedTextFieldSnapshot> initialSnapshot;
        Perform perform;
        // Holds the command's flag from the launch until the task ends.
        AppRunningState::WorkflowRun inProgress;
    };

    // Which special alerts one command shows; every case without one ends in its failure alert.
    struct ErrorRows {
        QString commandName;               // "Write Message": "Cannot Write Message", "Write Message failed"
        bool unsupportedLanguage = false;  // "Language Not Supported Yet"
        bool translationSetup = false;     // a missing pair or an unreachable translation server
        bool textTooLong = false;          // "Text Too Long"
        bool screenRecording = false;      // Rewrite Message reads the front window
        bool onlineFeatures = true;        // the online-features alert with a retry
    };

    // The guards every command passes before its flag is set. Each answers whether the run may
    // go on.
    bool passesBusyGuard(const Context& context, bool busy);
    // Turning online features on from the alert runs the command again with `trigger`.
    bool passesOnlineGuard(const Context& context);
    // The Accessibility guard, then the run. The trust check asks the accessibility bus and is
    // awaited; another command may have started meanwhile, so the busy guard is asked again
    // before `begin` sets the flag, shows the card and starts the task.
    void beginWhenTrusted(Context context, bool (*isBusy)(const AppRunningState&), std::function<void(Context)> begin);
    // Sets the flag, shows the first loading card and starts the task, which clears the flag at
    // its end.
    void launch(Run run, const LoadingText& firstLoadingText);

    // The card over the front window, else `fieldFrame`, else the primary screen.
    std::optional<FocusedFieldLoadingTarget> presentLoading(const std::optional<QRectF>& fieldFrame,
                                                            const LoadingText& text);
    // The first loading card of a run whose flag is already set. A card that fails to show must
    // not leave the flag set with no task to clear it: the run goes on without a card (a task
    // tries once more when it knows the field's frame). Answers whether a card is up.
    bool presentFirstLoading(const std::optional<QRectF>& frame, const LoadingText& text, TelemetryAction action);
    void clearLoading();

    // The alert of `error` by the command's rows; Try Again starts the command with the trigger
    // `alert` once this run has ended.
    void showErrorAlert(const CaptureWorkflowError& error, const ErrorRows& rows,
                        const QString& shortcutDisplayName = {});

    // The command, or null once it is gone: what a task or callback that may outlive it holds.
    LifetimeToken<FocusedFieldCommand>::Weak weakSelf() const { return lifetime_.weak(); }

    CommandHost& host_;

private:
    QCoro::Task<void> runTask(LifetimeToken<FocusedFieldCommand>::Weak self, Run run);
    void finishRun(const Run& run, const std::optional<RunSuccess>& success, const std::exception_ptr& error);

    LifetimeToken<FocusedFieldCommand> lifetime_{this};
};

}  // namespace tavrolin
