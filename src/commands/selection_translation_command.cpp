#include "commands/selection_translation_command.h"

#include "core/app_log.h"
#include "core/workflow_log.h"
#include "selection_popup/selection_popup_seams.h"
#include "selection_popup/selection_translation_service.h"
#include "window_translation/active_window_detector.h"

#include <QCoroTimer>

#include <chrono>
#include <stdexcept>

namespace tavrolin {

using Case = CaptureWorkflowError::Case;

// One selection translation, from its guards until its task ends.
struct SelectionTranslationCommand::SelectionRun {
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

LoadingText SelectionTranslationCommand::loadingText(AppLanguage target) const {
    return LoadingText{translationLoadingText(target),
                       target == AppLanguage::hebrew && host_.settingsStore().settings().onlineFeaturesEnabled};
}

void SelectionTranslationCommand::start(TelemetryTrigger trigger,
                                        std::optional<FocusedTextFieldSnapshot> initialSnapshot) {
    const TelemetryAction action = TelemetryAction::translateSelection;
    const AppLanguage target = host_.settingsStore().settings().targetLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, target,
                         initialSnapshot ? std::optional<QString>(QStringLiteral("initial_snapshot")) : std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger, AppLanguage::automatic, target);
    if (!passesBusyGuard(context, busyForSelectionTranslation(host_.runningState()))) {
        return;
    }
    auto begin = [this, trigger, target, initialSnapshot](Context context) mutable {
        AppRunningState::WorkflowRun inProgress =
            host_.runningState().begin(AppRunningState::Workflow::selectionTranslation);
        std::optional<QRectF> startWindowFrame;
        if (const auto& detector = host_.focusedFieldLoadingTargetResolver().activeWindowDetector()) {
            try {
                startWindowFrame = detector->detectActiveWindow().bounds;
            } catch (...) {
                // No window in front: the card and the popup go by the screen.
            }
        }
        auto loadingShown =
            std::make_shared<bool>(presentFirstLoading(startWindowFrame, loadingText(target), context.action));
        runTask(weakSelf(), SelectionRun{trigger, std::move(context), target, std::move(initialSnapshot),
                                         startWindowFrame, std::move(loadingShown), std::move(inProgress)});
    };
    // A selection the Translate command has read was read with this permission already.
    if (initialSnapshot) {
        begin(std::move(context));
        return;
    }
    beginWhenTrusted(std::move(context), &busyForSelectionTranslation, begin);
}

QCoro::Task<void> SelectionTranslationCommand::runTask(LifetimeToken<FocusedFieldCommand>::Weak weak,
                                                       SelectionRun run) {
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    auto* self = static_cast<SelectionTranslationCommand*>(weak.get());
    if (!self) {
        co_return;
    }
    const std::shared_ptr<FocusedTextFieldAccessing> accessor = self->accessor_();
    const std::shared_ptr<SelectionTranslationService> service = self->service_();

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
        self = static_cast<SelectionTranslationCommand*>(weak.get());
        if (!self) {
            co_return;
        }
        if (!*run.loadingShown) {
            *run.loadingShown = self->presentLoading(run.startWindowFrame, self->loadingText(run.target)).has_value();
        }
        if (!service) {
            throw std::logic_error("no selection translation service");
        }
        result = co_await service->translate(std::move(*snapshot));
    } catch (...) {
        error = std::current_exception();
    }
    self = static_cast<SelectionTranslationCommand*>(weak.get());
    if (!self) {
        co_return;
    }
    try {
        // How a selection translation ends: its usage event first, then the popup, the notice or
        // the alert it leaves the user with.
        TelemetryEventReporter& reporter = self->host_.telemetryReporter();
        SelectionTranslationPopupPresenter* popup = self->popup_();
        if (error) {
            try {
                std::rethrow_exception(error);
            } catch (const CaptureWorkflowError& failure) {
                self->clearLoading();
                reporter.send(run.context, false, CaptureWorkflowErrorCode::code(failure), true);
                // Nothing selected is no failure of ours: a short notice, no alert.
                if (failure.errorCase() != Case::noTextSelected) {
                    self->handleError(failure);
                } else if (popup) {
                    popup->presentNothingSelected(run.startWindowFrame);
                }
            } catch (...) {
                self->clearLoading();
                const QString code = QString::fromLatin1(CaptureWorkflowErrorCode::unknownError);
                WorkflowLog::failed(TelemetryAction::translateSelection, run.trigger, code, error);
                reporter.send(run.context, false, code, true);
                self->host_.alerts().showAlert(QStringLiteral("Translate Selection failed"),
                                               commandErrorMessage(error));
            }
        } else {
            reporter.send(run.context, true, std::nullopt, true);
            // The card goes before the popup comes.
            if (*run.loadingShown) {
                self->clearLoading();
                *run.loadingShown = false;
            }
            if (popup) {
                popup->present(*result, run.startWindowFrame);
            }
            self->host_.recordSuccess(run.trigger);
        }
    } catch (const std::exception& failure) {
        // An alert that failed to show must not leave the command busy for good.
        AppLog::app().error(QStringLiteral("workflow end failed action=%1 message=%2")
                                .arg(rawValue(TelemetryAction::translateSelection), QString::fromUtf8(failure.what())));
    } catch (...) {
        AppLog::app().error(
            QStringLiteral("workflow end failed action=%1").arg(rawValue(TelemetryAction::translateSelection)));
    }
    self = static_cast<SelectionTranslationCommand*>(weak.get());
    if (!self) {
        co_return;
    }
    run.inProgress.end();
    if (*run.loadingShown) {
        self->clearLoading();
    }
}

void SelectionTranslationCommand::handleError(const CaptureWorkflowError& error) {
    CommandAlerts& alerts = host_.alerts();
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        alerts.showInformationalAlert(QStringLiteral("Language Not Supported Yet"), commandErrorMessage(error));
        return;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        // Try Again reads the selection afresh.
        alerts.showTranslationSetupAlert(error, [self = weakSelf()] {
            if (FocusedFieldCommand* command = self.get()) {
                command->host().startAfterCurrentRun([self] {
                    if (FocusedFieldCommand* again = self.get()) {
                        again->start(TelemetryTrigger::alert);
                    }
                });
            }
        });
        return;
    case Case::textExceedsCharacterLimit:
        alerts.showInformationalAlert(QStringLiteral("Selection Too Long"), commandErrorMessage(error));
        return;
    case Case::accessibilityPermissionDenied:
        alerts.showAccessibilitySetupAlert();
        return;
    case Case::noFocusedTextField:
    case Case::focusedTextFieldEmpty:
    case Case::focusedTextFieldReadOnly:
        alerts.showInformationalAlert(QStringLiteral("Cannot Translate Selection"), commandErrorMessage(error));
        return;
    default:
        alerts.showAlert(QStringLiteral("Translate Selection failed"), commandErrorMessage(error));
        return;
    }
}

}  // namespace tavrolin
