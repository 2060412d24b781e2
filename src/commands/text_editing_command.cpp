#include "commands/text_editing_command.h"

#include "core/workflow_log.h"
#include "language/text_editing_service.h"

#include <stdexcept>

namespace tavrolin {

void TextEditingCommand::start(TelemetryTrigger trigger) {
    startOn(trigger, std::nullopt);
}

void TextEditingCommand::start(TelemetryTrigger trigger, FocusedTextFieldSnapshot selection) {
    startOn(trigger, std::move(selection));
}

void TextEditingCommand::startOn(TelemetryTrigger trigger, std::optional<FocusedTextFieldSnapshot> selection) {
    const TelemetryAction action = TelemetryAction::editText;
    const AppLanguage language = host_.settingsStore().settings().messageTargetLanguage;
    WorkflowLog::started(action, trigger, language, language, std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(context, busyWithFocusedField(host_.runningState()))) {
        return;
    }
    beginWhenTrusted(std::move(context), &busyWithFocusedField, [this, trigger, action, selection](Context context) {
        // Read once: the card and the end of the run follow the switch as it stood at the start.
        const bool online = host_.settingsStore().settings().onlineFeaturesEnabled;
        const LoadingText editing{online ? QStringLiteral("Editing...") : QStringLiteral("Editing locally..."), online};
        Run run{action,
                trigger,
                std::move(context),
                QStringLiteral("Edit Message"),
                AppRunningState::Workflow::textEditing,
                std::make_shared<bool>(false),
                [editing] { return editing; }};
        run.initialSnapshot = selection;
        run.perform = [service = service_(), online](std::optional<FocusedTextFieldSnapshot> selection,
                                                     FieldFrameCallback onFieldFrame) -> QCoro::Task<RunSuccess> {
            if (!service) {
                throw std::logic_error("no focused-field service");
            }
            const TextEditingResult result =
                co_await service->editFocusedField(std::move(selection), std::move(onFieldFrame));
            if (!online && result.editedText == result.originalText) {
                co_return RunSuccess{RunSuccess::Kind::noLocalEdits, std::nullopt};
            }
            co_return RunSuccess{};
        };
        launch(std::move(run), editing);
    });
}

void TextEditingCommand::handleError(const CaptureWorkflowError& error) {
    showErrorAlert(error, {QStringLiteral("Edit Message"), false, false, false, false, true});
}

}  // namespace tavrolin
