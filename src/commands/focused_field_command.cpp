#include "commands/focused_field_command.h"

#include "core/app_log.h"
#include "core/workflow_log.h"
#include "language/focused_text_replacement_fallback.h"
#include "server/server_request_transport.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QCoroTimer>

#include <chrono>
#include <stdexcept>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;
using Workflow = AppRunningState::Workflow;

const QString busyReason = QStringLiteral("workflow_already_in_progress");
const QString untrustedReason = QStringLiteral("accessibility_permission_denied");
const QString busSilentReason = QStringLiteral("accessibility_bus_no_answer");
const QString offlineReason = QStringLiteral("online_features_disabled");

// Thrown into a service's run when the command is gone once the field has been read: the run
// ends quietly, writing nothing.
struct RunAbandoned {};

}  // namespace

bool busyWithFocusedField(const AppRunningState& s) {
    return s.isInProgress(Workflow::messageTranslation) || s.isInProgress(Workflow::textEditing) ||
           s.isInProgress(Workflow::textWriting) || s.isInProgress(Workflow::flipLanguage) ||
           s.isInProgress(Workflow::createPrompt);
}

bool busyForCreatePrompt(const AppRunningState& s) {
    return s.isInProgress(Workflow::createPrompt) || s.isInProgress(Workflow::selectionTranslation) ||
           s.isInProgress(Workflow::messageTranslation) || s.isInProgress(Workflow::textEditing) ||
           s.isInProgress(Workflow::textWriting) || s.isInProgress(Workflow::flipLanguage);
}

bool busyForSelectionTranslation(const AppRunningState& s) {
    return s.isInProgress(Workflow::selectionTranslation) || busyWithFocusedField(s);
}

std::optional<FocusedFieldLoadingTarget> FocusedFieldCommand::presentLoading(const std::optional<QRectF>& fieldFrame,
                                                                             const LoadingText& text) {
    const auto target = host_.focusedFieldLoadingTargetResolver().resolve(fieldFrame);
    if (!target) {
        return std::nullopt;
    }
    ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter();
    if (!overlay) {
        return std::nullopt;
    }
    overlay->presentLoading(target->bounds, target->ownerPID, text.message, text.usesServer);
    return target;
}

void FocusedFieldCommand::clearLoading() {
    if (ScreenshotOverlayPresenter* overlay = host_.screenshotOverlayPresenter()) {
        overlay->clear(true);
    }
}

// How a run ends: its usage event first, then the alert or window it leaves the user with.
void FocusedFieldCommand::finishRun(const Run& run, const std::optional<RunSuccess>& success,
                                    const std::exception_ptr& error) {
    TelemetryEventReporter& reporter = host_.telemetryReporter();

    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const FocusedTextReplacementFallback& fallback) {
            clearLoading();
            reporter.send(run.context, false, CaptureWorkflowErrorCode::code(fallback.underlyingError), true);
            host_.presentFocusedTextCopyFallback(fallback.text, fallback.fieldChangedMeanwhile, fallback.reason);
        } catch (const CaptureWorkflowError& failure) {
            clearLoading();
            reporter.send(run.context, false, CaptureWorkflowErrorCode::code(failure), true);
            handleError(failure);
        } catch (...) {
            clearLoading();
            const QString code = QString::fromLatin1(CaptureWorkflowErrorCode::unknownError);
            WorkflowLog::failed(run.action, run.trigger, code, error);
            reporter.send(run.context, false, code, true);
            host_.alerts().showAlert(run.commandName + QStringLiteral(" failed"), commandErrorMessage(error));
        }
    } else {
        switch (success->kind) {
        case RunSuccess::Kind::nothingToDo:
            break;
        case RunSuccess::Kind::succeeded:
            reporter.send(success->successContext.value_or(run.context), true, std::nullopt, true);
            host_.recordSuccess(run.trigger);
            break;
        case RunSuccess::Kind::noLocalEdits:
            reporter.send(run.context, true, std::nullopt, true);
            clearLoading();
            if (run.loadingShown) {
                *run.loadingShown = false;
            }
            host_.alerts().showInformationalAlert(
                QStringLiteral("No Local Edits Found"),
                QStringLiteral("Tavrolin did not find safe local corrections for this text."));
            break;
        }
    }
}

// The task of one run. It holds the services it uses; the command only weakly, so a run
// outliving the application ends quietly. No exception leaves it.
QCoro::Task<void> FocusedFieldCommand::runTask(LifetimeToken<FocusedFieldCommand>::Weak self, Run run) {
    // One turn of the event loop, so the loading card is drawn before the field is touched.
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self) {
        co_return;
    }

    std::optional<RunSuccess> success;
    std::exception_ptr error;
    try {
        // Once the field is read (or taken as the selection buttons saw it), the card goes over
        // it when none is up yet.
        FieldFrameCallback onFieldFrame = [self, loadingShown = run.loadingShown,
                                           secondLoadingText =
                                               run.secondLoadingText](const std::optional<QRectF>& frame) {
            FocusedFieldCommand* command = self.get();
            if (!command) {
                throw RunAbandoned{};
            }
            if (loadingShown && !*loadingShown) {
                *loadingShown = command->presentLoading(frame, secondLoadingText()).has_value();
            }
        };
        std::optional<FocusedTextFieldSnapshot> initialSnapshot = std::move(run.initialSnapshot);
        RunSuccess done = co_await run.perform(std::move(initialSnapshot), std::move(onFieldFrame));
        success = done;
    } catch (const RunAbandoned&) {
        co_return;
    } catch (...) {
        error = std::current_exception();
    }
    if (!self) {
        co_return;
    }
    try {
        finishRun(run, success, error);
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
        self->clearLoading();
    }
}

bool FocusedFieldCommand::passesBusyGuard(const Context& context, bool busy) {
    if (!busy) {
        return true;
    }
    WorkflowLog::ignored(context.action, context.trigger, busyReason);
    host_.telemetryReporter().send(context, false, busyReason, true);
    return false;
}

bool FocusedFieldCommand::passesOnlineGuard(const Context& context) {
    if (host_.settingsStore().settings().onlineFeaturesEnabled) {
        return true;
    }
    WorkflowLog::ignored(context.action, context.trigger, offlineReason);
    host_.telemetryReporter().send(context, false, offlineReason, true);
    // Turning online features on from the alert runs the command again as it was started.
    host_.alerts().showOnlineFeaturesDisabledAlert([self = lifetime_.weak(), trigger = context.trigger] {
        if (FocusedFieldCommand* command = self.get()) {
            command->start(trigger);
        }
    });
    return false;
}

void FocusedFieldCommand::beginWhenTrusted(Context context, bool (*isBusy)(const AppRunningState&),
                                           std::function<void(Context)> begin) {
    [](LifetimeToken<FocusedFieldCommand>::Weak self, Context context, bool (*isBusy)(const AppRunningState&),
       std::function<void(Context)> begin) -> QCoro::Task<void> {
        // A switch that stands off is switched on here: programs then publish their fields
        // (Firefox and Qt at once, without a restart).
        const AccessibilityPermissionStatus access =
            co_await self->host_.accessibilityAccess(AccessibilityTrustCheck::requestIfNeeded);
        FocusedFieldCommand* command = self.get();
        if (!command) {
            co_return;
        }
        if (access == AccessibilityPermissionStatus::noAnswer) {
            // A bus too loaded to answer twice: the command fails as a read that timed out does,
            // without sending the user to settings they need not change.
            WorkflowLog::ignored(context.action, context.trigger, busSilentReason);
            command->host_.telemetryReporter().send(context, false, busSilentReason, true);
            co_return;
        }
        if (access != AccessibilityPermissionStatus::trusted) {
            WorkflowLog::ignored(context.action, context.trigger, untrustedReason);
            command->host_.telemetryReporter().send(context, false, untrustedReason, true);
            command->host_.alerts().showAccessibilitySetupAlert();
            co_return;
        }
        if (!command->passesBusyGuard(context, isBusy(command->host_.runningState()))) {
            co_return;
        }
        begin(std::move(context));
    }(lifetime_.weak(), std::move(context), isBusy, std::move(begin));
}

bool FocusedFieldCommand::presentFirstLoading(const std::optional<QRectF>& frame, const LoadingText& text,
                                              TelemetryAction action) {
    try {
        return presentLoading(frame, text).has_value();
    } catch (const std::exception& failure) {
        AppLog::app().error(QStringLiteral("workflow loading card failed action=%1 message=%2")
                                .arg(rawValue(action), QString::fromUtf8(failure.what())));
    } catch (...) {
        AppLog::app().error(QStringLiteral("workflow loading card failed action=%1").arg(rawValue(action)));
    }
    return false;
}

void FocusedFieldCommand::launch(Run run, const LoadingText& firstLoadingText) {
    run.inProgress = host_.runningState().begin(run.workflow);
    // The HTTP library and its certificates are made ready while the field is read.
    if (host_.settingsStore().settings().onlineFeaturesEnabled) {
        ServerRequestTransport::prepareNetwork();
    }
    const bool shown = presentFirstLoading(std::nullopt, firstLoadingText, run.action);
    if (run.loadingShown) {
        *run.loadingShown = shown;
    }
    runTask(lifetime_.weak(), std::move(run));
}

void FocusedFieldCommand::showErrorAlert(const CaptureWorkflowError& error, const ErrorRows& rows,
                                         const QString& shortcutDisplayName) {
    CommandAlerts& alerts = host_.alerts();
    const auto retry = [self = lifetime_.weak()] {
        if (FocusedFieldCommand* command = self.get()) {
            command->host_.startAfterCurrentRun([self] {
                if (FocusedFieldCommand* again = self.get()) {
                    again->start(TelemetryTrigger::alert);
                }
            });
        }
    };
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        if (rows.unsupportedLanguage) {
            alerts.showInformationalAlert(QStringLiteral("Language Not Supported Yet"), commandErrorMessage(error));
            return;
        }
        break;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        if (rows.translationSetup) {
            alerts.showTranslationSetupAlert(error, retry);
            return;
        }
        break;
    case Case::textExceedsCharacterLimit:
        if (rows.textTooLong) {
            alerts.showInformationalAlert(QStringLiteral("Text Too Long"), commandErrorMessage(error));
            return;
        }
        break;
    case Case::screenshotPermissionDenied:
    case Case::screenshotPermissionRequiresRestart:
        if (rows.screenRecording) {
            alerts.showScreenRecordingSetupAlert(error, shortcutDisplayName);
            return;
        }
        break;
    case Case::accessibilityPermissionDenied:
        alerts.showAccessibilitySetupAlert();
        return;
    case Case::noFocusedTextField:
        // No field was found: the user sees nothing, the empty text opens no window.
        host_.presentFocusedTextCopyFallback(QString(), false);
        return;
    case Case::focusedTextFieldEmpty:
    case Case::focusedTextFieldReadOnly:
        alerts.showInformationalAlert(QStringLiteral("Cannot ") + rows.commandName, commandErrorMessage(error));
        return;
    case Case::onlineFeaturesDisabled:
        if (rows.onlineFeatures) {
            alerts.showOnlineFeaturesDisabledAlert(retry);
            return;
        }
        break;
    default:
        break;
    }
    alerts.showAlert(rows.commandName + QStringLiteral(" failed"), commandErrorMessage(error));
}

}  // namespace tavrolin
