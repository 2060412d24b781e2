#include "commands/flip_language_command.h"

#include "core/workflow_log.h"
#include "language/flip_language_service.h"

#include <stdexcept>

namespace tavrolin {

void FlipLanguageCommand::start(TelemetryTrigger trigger) {
    startOn(trigger, std::nullopt);
}

void FlipLanguageCommand::start(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    startOn(trigger, std::move(selection));
}

void FlipLanguageCommand::startOn(TelemetryTrigger trigger, std::optional<FocusedTextFieldSnapshot> selection) {
    const TelemetryAction action = TelemetryAction::flipLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, std::nullopt, std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger, AppLanguage::automatic);
    if (!passesBusyGuard(context, busyWithFocusedField(host_.runningState()))) {
        return;
    }
    beginWhenTrusted(std::move(context), &busyWithFocusedField, [this, trigger, action, selection](Context context) {
        const LoadingText detecting{QStringLiteral("Detecting language..."),
                                    host_.settingsStore().settings().onlineFeaturesEnabled};
        const QDateTime startedAt = context.startedAt;
        Run run{action,
                trigger,
                std::move(context),
                QStringLiteral("Flip Language"),
                AppRunningState::Workflow::flipLanguage,
                nullptr,
                {}};
        run.initialSnapshot = selection;
        run.perform = [service = service_(), self = weakSelf(), trigger, startedAt](
                          std::optional<FocusedTextFieldSnapshot> selection,
                          FieldFrameCallback onFieldFrame) -> QCoro::Task<RunSuccess> {
            if (!service) {
                throw std::logic_error("no focused-field service");
            }
            const std::optional<FlipLanguageResult> result =
                co_await service->flipFocusedField(std::move(selection), std::move(onFieldFrame));
            if (!result) {
                co_return RunSuccess{RunSuccess::Kind::nothingToDo, std::nullopt};
            }
            FocusedFieldCommand* command = self.get();
            if (!command) {
                co_return RunSuccess{};
            }
            // The event names the languages actually used and the application in front now; its
            // duration still runs from the command.
            Context done = command->host().telemetryReporter().makeContext(
                TelemetryAction::flipLanguage, trigger, result->detectedSourceLanguage, result->targetLanguage);
            done.startedAt = startedAt;
            co_return RunSuccess{RunSuccess::Kind::succeeded, std::move(done)};
        };
        launch(std::move(run), detecting);
    });
}

void FlipLanguageCommand::handleError(const CaptureWorkflowError& error) {
    showErrorAlert(error, {QStringLiteral("Flip Language"), true, true, true, false, false});
}

}  // namespace tavrolin
