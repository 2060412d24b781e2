// The five commands that take the text of the focused field of another application, run one
// language service on it and put the result back: Write Message, Rewrite Message, Edit
// Message, Flip Language and Create Prompt. They share one frame: a start that logs, makes the
// usage-event context and checks the guards; a loading card over the front window; a task
// that reads the field, calls the service and ends with a usage event, an alert or a copy
// window; and the clearing of the command's flag and card on every way out.
#include "shell/app_delegate.h"

#include "core/accessibility_permission.h"
#include "core/user_preferred_languages_provider.h"
#include "core/app_log.h"
#include "core/workflow_log.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/flip_language_service.h"
#include "language/focused_text_replacement_fallback.h"
#include "language/message_translation_service.h"
#include "language/server_backed_translation_client.h"
#include "language/text_editing_service.h"
#include "language/text_prompting_service.h"
#include "language/text_writing_service.h"
#include "selection_popup/selection_translation_service.h"
#include "selection_popup/selection_popup_seams.h"
#include "shell/app_alerts.h"
#include "shell/focused_field_loading_target_resolver.h"
#include "shell/share_prompt_coordinator.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QCoroTask>
#include <QCoroTimer>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <stdexcept>

namespace tavrolin {

namespace {

using Context = TelemetryEventReporter::Context;
using Case = CaptureWorkflowError::Case;

const QString busyReason = QStringLiteral("workflow_already_in_progress");
const QString untrustedReason = QStringLiteral("accessibility_permission_denied");
const QString offlineReason = QStringLiteral("online_features_disabled");

// The loading card's text and whether it shows the server style.
struct LoadingText {
    QString message;
    bool usesServer = false;
};

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

// One command's run, from the moment its guards passed until its task ends.
struct FocusedTextRun {
    TelemetryAction action;
    TelemetryTrigger trigger;
    Context context;
    QString commandName;
    AppRunningState::Workflow workflow;
    // Null for Flip Language, which keeps no such flag and clears at every end.
    std::shared_ptr<bool> loadingShown;
    // The text of a second loading attempt, once the field's frame is known.
    std::function<LoadingText()> secondLoadingText;
    std::shared_ptr<FocusedTextFieldAccessing> accessor;
    // The field as the selection buttons saw it: not read again.
    std::optional<FocusedTextFieldSnapshot> initialSnapshot;
    int retryCount = 0;
    double retryDelay = 0;
    std::function<QCoro::Task<RunSuccess>(FocusedTextFieldSnapshot)> perform;
    std::function<void(AppDelegate&, const CaptureWorkflowError&)> handleError;
    // Holds the command's flag from the launch until the task ends.
    AppRunningState::WorkflowRun inProgress;
};

std::optional<FocusedFieldLoadingTarget> presentLoading(AppDelegate& delegate, const std::optional<QRectF>& fieldFrame,
                                                        const LoadingText& text) {
    const auto target = delegate.focusedFieldLoadingTargetResolver().resolve(fieldFrame);
    if (!target) {
        return std::nullopt;
    }
    ScreenshotOverlayPresenter* overlay = delegate.screenshotOverlayPresenter();
    if (!overlay) {
        return std::nullopt;
    }
    overlay->presentLoading(target->bounds, target->ownerPID, text.message, text.usesServer);
    return target;
}

void clearLoading(AppDelegate& delegate) {
    if (ScreenshotOverlayPresenter* overlay = delegate.screenshotOverlayPresenter()) {
        overlay->clear(true);
    }
}

// Puts back a text that a whole-field read had to cut out of the field, when the run did not
// replace it: a run that ends in an alert or a window must not leave the field empty.
QCoro::Task<void> restoreCutText(std::shared_ptr<FocusedTextFieldAccessor> accessor) {
    if (accessor) {
        try {
            co_await accessor->restoreCutTextIfUnreplaced();
        } catch (...) {
            // The text then stays on the clipboard, where the user can still paste it.
        }
    }
}

// How a run ends: its usage event first, then the alert or window it leaves the user with.
void finishRun(AppDelegate& delegate, const FocusedTextRun& run, const std::optional<RunSuccess>& success,
               const std::exception_ptr& error) {
    TelemetryEventReporter& reporter = delegate.telemetryReporter();

    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const FocusedTextReplacementFallback& fallback) {
            clearLoading(delegate);
            reporter.send(run.context, false, CaptureWorkflowErrorCode::code(fallback.underlyingError), true);
            delegate.presentFocusedTextCopyFallback(fallback.text);
        } catch (const CaptureWorkflowError& failure) {
            clearLoading(delegate);
            reporter.send(run.context, false, CaptureWorkflowErrorCode::code(failure), true);
            run.handleError(delegate, failure);
        } catch (...) {
            clearLoading(delegate);
            const QString code = QString::fromLatin1(CaptureWorkflowErrorCode::unknownError);
            WorkflowLog::failed(run.action, run.trigger, code, error);
            reporter.send(run.context, false, code, true);
            delegate.alerts().showAlert(run.commandName + QStringLiteral(" failed"), makeMessage(error));
        }
    } else {
        switch (success->kind) {
        case RunSuccess::Kind::nothingToDo:
            break;
        case RunSuccess::Kind::succeeded:
            reporter.send(success->successContext.value_or(run.context), true, std::nullopt, true);
            if (delegate.sharePromptCoordinator().recordSuccess(run.trigger)) {
                delegate.pendingSharePromptTrigger = run.trigger;
            }
            break;
        case RunSuccess::Kind::noLocalEdits:
            reporter.send(run.context, true, std::nullopt, true);
            clearLoading(delegate);
            if (run.loadingShown) {
                *run.loadingShown = false;
            }
            delegate.alerts().showInformationalAlert(
                QStringLiteral("No Local Edits Found"),
                QStringLiteral("Tavrolin did not find safe local corrections for this text."));
            break;
        }
    }
}

// The task of one run. It holds the services it uses; the delegate only weakly, so a run
// outliving the application ends quietly. No exception leaves it.
QCoro::Task<void> runFocusedTextTask(QPointer<AppDelegate> self, FocusedTextRun run) {
    // One turn of the event loop, so the loading card is drawn before the field is touched.
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self) {
        co_return;
    }
    const std::shared_ptr<FocusedTextFieldAccessor> cutRestorer = self->focusedTextFieldAccessor();

    std::optional<RunSuccess> success;
    std::exception_ptr error;
    try {
        if (!run.accessor) {
            throw std::logic_error("no focused-field service");
        }
        FocusedTextFieldSnapshot snapshot;
        if (run.initialSnapshot) {
            snapshot = std::move(*run.initialSnapshot);
        } else {
            snapshot = co_await run.accessor->prepareFocusedFieldWithRetry(run.retryCount, run.retryDelay);
        }
        if (!self) {
            co_return;
        }
        if (run.loadingShown && !*run.loadingShown) {
            *run.loadingShown = presentLoading(*self, snapshot.screenFrame, run.secondLoadingText()).has_value();
        }
        success = co_await run.perform(std::move(snapshot));
    } catch (...) {
        error = std::current_exception();
    }
    co_await restoreCutText(cutRestorer);
    if (!self) {
        co_return;
    }
    try {
        finishRun(*self, run, success, error);
    } catch (const std::exception& failure) {
        // An alert that failed to show must not leave the command busy for good.
        AppLog::app().error(QStringLiteral("workflow end failed action=%1 message=%2")
                                .arg(rawValue(run.action), QString::fromUtf8(failure.what())));
    } catch (...) {
        AppLog::app().error(QStringLiteral("workflow end failed action=%1").arg(rawValue(run.action)));
    }
    if (!self) {
        co_return;
    }
    run.inProgress.end();
    // Flip Language keeps no record of its card and clears at every end.
    if (!run.loadingShown || *run.loadingShown) {
        clearLoading(*self);
    }
}

// The guards every command passes before its flag is set. Answers whether the run may go on.
bool passesBusyGuard(AppDelegate& delegate, const Context& context, bool busy) {
    if (!busy) {
        return true;
    }
    WorkflowLog::ignored(context.action, context.trigger, busyReason);
    delegate.telemetryReporter().send(context, false, busyReason, true);
    return false;
}

bool passesOnlineGuard(AppDelegate& delegate, const Context& context, void (AppDelegate::*start)(TelemetryTrigger)) {
    if (delegate.settingsStore().settings().onlineFeaturesEnabled) {
        return true;
    }
    WorkflowLog::ignored(context.action, context.trigger, offlineReason);
    delegate.telemetryReporter().send(context, false, offlineReason, true);
    // Turning online features on from the alert runs the command again as it was started.
    const QPointer<AppDelegate> self(&delegate);
    delegate.alerts().showOnlineFeaturesDisabledAlert([self, start, trigger = context.trigger] {
        if (self) {
            (self.data()->*start)(trigger);
        }
    });
    return false;
}

// Write, Rewrite, Edit and Flip run beside a selection translation; Create Prompt does not.
bool busyWithFocusedField(const AppDelegate& d) {
    return d.isMessageTranslationInProgress() || d.isTextEditingInProgress() || d.isTextWritingInProgress() ||
           d.isFlipLanguageInProgress() || d.isCreatePromptInProgress();
}

bool busyForCreatePrompt(const AppDelegate& d) {
    return d.isCreatePromptInProgress() || d.isSelectionTranslationInProgress() || d.isMessageTranslationInProgress() ||
           d.isTextEditingInProgress() || d.isTextWritingInProgress() || d.isFlipLanguageInProgress();
}

// A selection translation waits for every other command on the focused field.
bool busyForSelectionTranslation(const AppDelegate& d) {
    return d.isSelectionTranslationInProgress() || busyWithFocusedField(d);
}

// The Accessibility guard, then the run. The trust check asks the accessibility bus and is
// awaited; another command may have started meanwhile, so the busy guard is asked again before
// the flag is set. `begin` sets the flag, shows the card and starts the task.
QCoro::Task<void> beginWhenTrusted(QPointer<AppDelegate> self, Context context, bool (*isBusy)(const AppDelegate&),
                                   std::function<void(AppDelegate&, Context)> begin) {
    // A switch that stands off is switched on here: programs then publish their fields (Firefox
    // and Qt at once, without a restart).
    const bool trusted = co_await self->accessibilityTrusted(AppDelegate::AccessibilityTrustCheck::requestIfNeeded);
    if (!self) {
        co_return;
    }
    AppDelegate& delegate = *self;
    if (!trusted) {
        WorkflowLog::ignored(context.action, context.trigger, untrustedReason);
        delegate.telemetryReporter().send(context, false, untrustedReason, true);
        delegate.alerts().showAccessibilitySetupAlert();
        co_return;
    }
    if (!passesBusyGuard(delegate, context, isBusy(delegate))) {
        co_return;
    }
    begin(delegate, std::move(context));
}

// The first loading card of a run whose flag is already set. A card that fails to show must
// not leave the flag set with no task to clear it: the run goes on without a card (a task tries
// once more when it knows the field's frame). Answers whether a card is up.
bool presentFirstLoading(AppDelegate& delegate, const std::optional<QRectF>& frame, const LoadingText& text,
                         TelemetryAction action) {
    try {
        return presentLoading(delegate, frame, text).has_value();
    } catch (const std::exception& failure) {
        AppLog::app().error(QStringLiteral("workflow loading card failed action=%1 message=%2")
                                .arg(rawValue(action), QString::fromUtf8(failure.what())));
    } catch (...) {
        AppLog::app().error(QStringLiteral("workflow loading card failed action=%1").arg(rawValue(action)));
    }
    return false;
}

// Sets the flag, shows the first loading card and starts the task, which clears the flag at
// its end.
void launch(AppDelegate& delegate, FocusedTextRun run, const LoadingText& firstLoadingText) {
    run.inProgress = delegate.runningState().begin(run.workflow);
    const bool shown = presentFirstLoading(delegate, std::nullopt, firstLoadingText, run.action);
    if (run.loadingShown) {
        *run.loadingShown = shown;
    }
    runFocusedTextTask(QPointer<AppDelegate>(&delegate), std::move(run));
}

template <typename Service>
void useService(FocusedTextRun& run, const std::shared_ptr<Service>& service) {
    if (service) {
        run.accessor = service->accessor();
        run.retryCount = service->focusedFieldReadRetryCount();
        run.retryDelay = service->focusedFieldReadRetryDelay();
    }
}

}  // namespace

void AppDelegate::startAfterCurrentRun(std::function<void()> start) {
    // A run ends right after its alert returns, without going back to the event loop.
    QTimer::singleShot(0, this, std::move(start));
}

QCoro::Task<bool> AppDelegate::accessibilityTrusted(AccessibilityTrustCheck check) {
    // Without an accessibility bus nothing of another application can be read.
    AccessibilityPermission* permission = accessibilityPermission();
    if (!permission) {
        co_return false;
    }
    bool trusted = false;
    try {
        if (check == AccessibilityTrustCheck::requestIfNeeded) {
            const AccessibilityPermissionStatus status = co_await permission->requestIfNeeded();
            trusted = status == AccessibilityPermissionStatus::trusted;
        } else {
            const bool answer = co_await permission->isTrusted();
            trusted = answer;
        }
    } catch (...) {
        trusted = false;
    }
    co_return trusted;
}

void AppDelegate::startMessageTranslation(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::translateMessage;
    const AppLanguage target = settingsStore().settings().messageTargetLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, target, std::nullopt);
    Context context = telemetryReporter().makeContext(action, trigger, AppLanguage::automatic, target);
    if (!passesBusyGuard(*this, context, busyWithFocusedField(*this))) {
        return;
    }
    beginWhenTrusted(
        QPointer<AppDelegate>(this), std::move(context), &busyWithFocusedField,
        [trigger, action, target](AppDelegate& d, Context context) {
            const auto loadingText = [store = d.sharedSettingsStore(), target] {
                return LoadingText{translationLoadingText(target),
                                   target == AppLanguage::hebrew && store->settings().onlineFeaturesEnabled};
            };
            const auto service = d.messageTranslationService();
            FocusedTextRun run{action,
                               trigger,
                               std::move(context),
                               QStringLiteral("Write Message"),
                               AppRunningState::Workflow::messageTranslation,
                               std::make_shared<bool>(false),
                               loadingText};
            useService(run, service);
            run.perform = [service](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<RunSuccess> {
                co_await service->translateAndReplace(std::move(snapshot));
                co_return RunSuccess{};
            };
            run.handleError = [](AppDelegate& d, const CaptureWorkflowError& e) { d.handleMessageTranslationError(e); };
            launch(d, std::move(run), loadingText());
        });
}

void AppDelegate::startTextWriting(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::writeText;
    WorkflowLog::started(action, trigger, std::nullopt, settingsStore().settings().messageTargetLanguage, std::nullopt);
    Context context = telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(*this, context, busyWithFocusedField(*this)) ||
        !passesOnlineGuard(*this, context, &AppDelegate::startTextWriting)) {
        return;
    }
    beginWhenTrusted(
        QPointer<AppDelegate>(this), std::move(context), &busyWithFocusedField,
        [trigger, action](AppDelegate& d, Context context) {
            const LoadingText writing{QStringLiteral("Writing..."), true};
            const auto service = d.textWritingService();
            auto loadingShown = std::make_shared<bool>(false);
            FocusedTextRun run{action,
                               trigger,
                               std::move(context),
                               QStringLiteral("Rewrite Message"),
                               AppRunningState::Workflow::textWriting,
                               loadingShown,
                               [writing] { return writing; }};
            useService(run, service);
            const QPointer<AppDelegate> self(&d);
            // The front window's text is read first: once it is known, the card covers that window
            // when none is shown yet.
            TextWritingService::WindowTextCallback onWindowText = [self, loadingShown,
                                                                   writing](const ActiveWindowTextSnapshot& window) {
                if (!self || *loadingShown) {
                    return;
                }
                if (ScreenshotOverlayPresenter* overlay = self->screenshotOverlayPresenter()) {
                    overlay->presentLoading(window.windowBounds, window.ownerPID, writing.message, writing.usesServer);
                    *loadingShown = true;
                }
            };
            run.perform = [service, onWindowText](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<RunSuccess> {
                co_await service->writeAndReplace(std::move(snapshot), onWindowText);
                co_return RunSuccess{};
            };
            run.handleError = [](AppDelegate& d, const CaptureWorkflowError& e) {
                d.handleTextWritingError(e, d.settingsStore().settings().writeTextShortcut.displayName());
            };
            launch(d, std::move(run), writing);
        });
}

namespace {

void startTextEditingOn(AppDelegate& delegate, TelemetryTrigger trigger,
                        std::optional<FocusedTextFieldSnapshot> selection) {
    const TelemetryAction action = TelemetryAction::editText;
    const AppLanguage language = delegate.settingsStore().settings().messageTargetLanguage;
    WorkflowLog::started(action, trigger, language, language, std::nullopt);
    Context context = delegate.telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(delegate, context, busyWithFocusedField(delegate))) {
        return;
    }
    beginWhenTrusted(QPointer<AppDelegate>(&delegate), std::move(context), &busyWithFocusedField,
                     [trigger, action, language, selection](AppDelegate& d, Context context) {
                         // Read once: the card and the end of the run follow the switch as it stood at the start.
                         const bool online = d.settingsStore().settings().onlineFeaturesEnabled;
                         const LoadingText editing{
                             online ? QStringLiteral("Editing...") : QStringLiteral("Editing locally..."), online};
                         const auto service = d.textEditingService();
                         FocusedTextRun run{action,
                                            trigger,
                                            std::move(context),
                                            QStringLiteral("Edit Message"),
                                            AppRunningState::Workflow::textEditing,
                                            std::make_shared<bool>(false),
                                            [editing] { return editing; }};
                         useService(run, service);
                         run.initialSnapshot = selection;
                         run.perform = [service, online](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<RunSuccess> {
                             const TextEditingResult result = co_await service->editAndReplace(std::move(snapshot));
                             if (!online && result.editedText == result.originalText) {
                                 co_return RunSuccess{RunSuccess::Kind::noLocalEdits, std::nullopt};
                             }
                             co_return RunSuccess{};
                         };
                         run.handleError = [](AppDelegate& d, const CaptureWorkflowError& e) {
                             d.handleTextEditingError(e);
                         };
                         launch(d, std::move(run), editing);
                     });
}

void startFlipLanguageOn(AppDelegate& delegate, TelemetryTrigger trigger,
                         std::optional<FocusedTextFieldSnapshot> selection) {
    const TelemetryAction action = TelemetryAction::flipLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, std::nullopt, std::nullopt);
    Context context = delegate.telemetryReporter().makeContext(action, trigger, AppLanguage::automatic);
    if (!passesBusyGuard(delegate, context, busyWithFocusedField(delegate))) {
        return;
    }
    beginWhenTrusted(
        QPointer<AppDelegate>(&delegate), std::move(context), &busyWithFocusedField,
        [trigger, action, selection](AppDelegate& d, Context context) {
            const LoadingText detecting{QStringLiteral("Detecting language..."),
                                        d.settingsStore().settings().onlineFeaturesEnabled};
            const auto service = d.flipLanguageService();
            const QDateTime startedAt = context.startedAt;
            FocusedTextRun run{action,
                               trigger,
                               std::move(context),
                               QStringLiteral("Flip Language"),
                               AppRunningState::Workflow::flipLanguage,
                               nullptr,
                               {}};
            useService(run, service);
            run.initialSnapshot = selection;
            const QPointer<AppDelegate> self(&d);
            run.perform = [service, self, trigger,
                           startedAt](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<RunSuccess> {
                const QString text = snapshot.selectedText && !snapshot.selectedText->isEmpty() ? *snapshot.selectedText
                                                                                                : snapshot.fullText;
                if (text.isEmpty()) {
                    co_return RunSuccess{RunSuccess::Kind::nothingToDo, std::nullopt};
                }
                const FlipLanguageResult result = co_await service->flipAndReplace(std::move(snapshot));
                if (!self) {
                    co_return RunSuccess{};
                }
                // The event names the languages actually used and the application in front now; its
                // duration still runs from the command.
                Context done = self->telemetryReporter().makeContext(
                    TelemetryAction::flipLanguage, trigger, result.detectedSourceLanguage, result.targetLanguage);
                done.startedAt = startedAt;
                co_return RunSuccess{RunSuccess::Kind::succeeded, std::move(done)};
            };
            run.handleError = [](AppDelegate& d, const CaptureWorkflowError& e) { d.handleFlipLanguageError(e); };
            launch(d, std::move(run), detecting);
        });
}

}  // namespace

void AppDelegate::startTextEditing(TelemetryTrigger trigger) {
    startTextEditingOn(*this, trigger, std::nullopt);
}

void AppDelegate::startTextEditing(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    startTextEditingOn(*this, trigger, std::move(selection));
}

void AppDelegate::startFlipLanguage(TelemetryTrigger trigger) {
    startFlipLanguageOn(*this, trigger, std::nullopt);
}

void AppDelegate::startFlipLanguage(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    startFlipLanguageOn(*this, trigger, std::move(selection));
}

void AppDelegate::startCreatePrompt(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::createPrompt;
    WorkflowLog::started(action, trigger, std::nullopt, std::nullopt, std::nullopt);
    Context context = telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(*this, context, busyForCreatePrompt(*this)) ||
        !passesOnlineGuard(*this, context, &AppDelegate::startCreatePrompt)) {
        return;
    }
    beginWhenTrusted(QPointer<AppDelegate>(this), std::move(context), &busyForCreatePrompt,
                     [trigger, action](AppDelegate& d, Context context) {
                         const LoadingText creating{QStringLiteral("Creating prompt..."), true};
                         const auto service = d.textPromptingService();
                         FocusedTextRun run{action,
                                            trigger,
                                            std::move(context),
                                            QStringLiteral("Create Prompt"),
                                            AppRunningState::Workflow::createPrompt,
                                            std::make_shared<bool>(false),
                                            [creating] { return creating; }};
                         useService(run, service);
                         run.perform = [service](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<RunSuccess> {
                             co_await service->promptAndReplace(std::move(snapshot));
                             co_return RunSuccess{};
                         };
                         run.handleError = [](AppDelegate& d, const CaptureWorkflowError& e) {
                             d.handleCreatePromptError(e);
                         };
                         launch(d, std::move(run), creating);
                     });
}

}  // namespace tavrolin

// ---- Translate Selection: the same frame, ending in the result popup instead of a write.

namespace tavrolin {

namespace {

// One selection translation, from its guards until its task ends.
struct SelectionTranslationRun {
    TelemetryTrigger trigger;
    Context context;
    AppLanguage target;
    std::optional<FocusedTextFieldSnapshot> initialSnapshot;
    // The front window when the run started: the popup opens over it even if another window
    // has come to the front since.
    std::optional<QRectF> startWindowFrame;
    std::shared_ptr<bool> loadingShown;
    AppRunningState::WorkflowRun inProgress;
};

LoadingText selectionLoadingText(const AppDelegate& delegate, AppLanguage target) {
    return LoadingText{translationLoadingText(target),
                       target == AppLanguage::hebrew && delegate.settingsStore().settings().onlineFeaturesEnabled};
}

// How a selection translation ends: its usage event first, then the popup, the notice or the
// alert it leaves the user with.
void finishSelectionRun(AppDelegate& delegate, const SelectionTranslationRun& run,
                        const std::optional<SelectionTranslationResult>& result, const std::exception_ptr& error) {
    TelemetryEventReporter& reporter = delegate.telemetryReporter();
    SelectionTranslationPopupPresenter* popup = delegate.selectionTranslationPopupPresenter();

    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const CaptureWorkflowError& failure) {
            clearLoading(delegate);
            reporter.send(run.context, false, CaptureWorkflowErrorCode::code(failure), true);
            // Nothing selected is no failure of ours: a short notice, no alert.
            if (failure.errorCase() != Case::noTextSelected) {
                delegate.handleSelectionTranslationError(failure);
            } else if (popup) {
                popup->presentNothingSelected(run.startWindowFrame);
            }
        } catch (...) {
            clearLoading(delegate);
            const QString code = QString::fromLatin1(CaptureWorkflowErrorCode::unknownError);
            WorkflowLog::failed(TelemetryAction::translateSelection, run.trigger, code, error);
            reporter.send(run.context, false, code, true);
            delegate.alerts().showAlert(QStringLiteral("Translate Selection failed"), makeMessage(error));
        }
    } else {
        reporter.send(run.context, true, std::nullopt, true);
        // The card goes before the popup comes.
        if (*run.loadingShown) {
            clearLoading(delegate);
            *run.loadingShown = false;
        }
        if (popup) {
            popup->present(*result, run.startWindowFrame);
        }
        if (delegate.sharePromptCoordinator().recordSuccess(run.trigger)) {
            delegate.pendingSharePromptTrigger = run.trigger;
        }
    }
}

QCoro::Task<void> runSelectionTranslationTask(QPointer<AppDelegate> self, SelectionTranslationRun run) {
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self) {
        co_return;
    }
    const std::shared_ptr<FocusedTextFieldAccessor> accessor = self->focusedTextFieldAccessor();
    const std::shared_ptr<SelectionTranslationService> service = self->selectionTranslationService();

    std::optional<SelectionTranslationResult> result;
    std::exception_ptr error;
    try {
        std::optional<FocusedTextFieldSnapshot> snapshot = std::move(run.initialSnapshot);
        if (!snapshot) {
            if (!accessor) {
                throw std::logic_error("no focused-field accessor");
            }
            snapshot = co_await accessor->readFocusedSelection(true);
        }
        if (!self) {
            co_return;
        }
        if (!*run.loadingShown) {
            *run.loadingShown =
                presentLoading(*self, run.startWindowFrame, selectionLoadingText(*self, run.target)).has_value();
        }
        if (!service) {
            throw std::logic_error("no selection translation service");
        }
        result = co_await service->translate(std::move(*snapshot));
    } catch (...) {
        error = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    try {
        finishSelectionRun(*self, run, result, error);
    } catch (const std::exception& failure) {
        // An alert that failed to show must not leave the command busy for good.
        AppLog::app().error(QStringLiteral("workflow end failed action=%1 message=%2")
                                .arg(rawValue(TelemetryAction::translateSelection), QString::fromUtf8(failure.what())));
    } catch (...) {
        AppLog::app().error(
            QStringLiteral("workflow end failed action=%1").arg(rawValue(TelemetryAction::translateSelection)));
    }
    if (!self) {
        co_return;
    }
    run.inProgress.end();
    if (*run.loadingShown) {
        clearLoading(*self);
    }
}

}  // namespace

void AppDelegate::startSelectionTranslation(TelemetryTrigger trigger,
                                            std::optional<FocusedTextFieldSnapshot> initialSnapshot) {
    const TelemetryAction action = TelemetryAction::translateSelection;
    const AppLanguage target = settingsStore().settings().targetLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, target,
                         initialSnapshot ? std::optional<QString>(QStringLiteral("initial_snapshot")) : std::nullopt);
    Context context = telemetryReporter().makeContext(action, trigger, AppLanguage::automatic, target);
    if (!passesBusyGuard(*this, context, busyForSelectionTranslation(*this))) {
        return;
    }
    auto begin = [trigger, target, initialSnapshot](AppDelegate& d, Context context) mutable {
        AppRunningState::WorkflowRun inProgress =
            d.runningState().begin(AppRunningState::Workflow::selectionTranslation);
        std::optional<QRectF> startWindowFrame;
        if (const auto& detector = d.focusedFieldLoadingTargetResolver().activeWindowDetector()) {
            try {
                startWindowFrame = detector->detectActiveWindow().bounds;
            } catch (...) {
                // No window in front: the card and the popup go by the screen.
            }
        }
        auto loadingShown = std::make_shared<bool>(
            presentFirstLoading(d, startWindowFrame, selectionLoadingText(d, target), context.action));
        runSelectionTranslationTask(
            QPointer<AppDelegate>(&d),
            SelectionTranslationRun{trigger, std::move(context), target, std::move(initialSnapshot), startWindowFrame,
                                    std::move(loadingShown), std::move(inProgress)});
    };
    // A selection the Translate command has read was read with this permission already.
    if (initialSnapshot) {
        begin(*this, std::move(context));
        return;
    }
    beginWhenTrusted(QPointer<AppDelegate>(this), std::move(context), &busyForSelectionTranslation, begin);
}

void AppDelegate::handleSelectionTranslationError(const CaptureWorkflowError& error) {
    AppAlerts& alerts = this->alerts();
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        alerts.showInformationalAlert(QStringLiteral("Language Not Supported Yet"), makeMessage(error));
        return;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable: {
        // Try Again reads the selection afresh.
        const QPointer<AppDelegate> self(this);
        alerts.showTranslationSetupAlert(error, [self] {
            if (self) {
                self->startAfterCurrentRun([self] {
                    if (self) {
                        self->startSelectionTranslation(TelemetryTrigger::alert);
                    }
                });
            }
        });
        return;
    }
    case Case::textExceedsCharacterLimit:
        alerts.showInformationalAlert(QStringLiteral("Selection Too Long"), makeMessage(error));
        return;
    case Case::accessibilityPermissionDenied:
        alerts.showAccessibilitySetupAlert();
        return;
    case Case::noFocusedTextField:
    case Case::focusedTextFieldEmpty:
    case Case::focusedTextFieldReadOnly:
        alerts.showInformationalAlert(QStringLiteral("Cannot Translate Selection"), makeMessage(error));
        return;
    default:
        alerts.showAlert(QStringLiteral("Translate Selection failed"), makeMessage(error));
        return;
    }
}

}  // namespace tavrolin
