#include "commands/create_prompt_command.h"

#include "core/workflow_log.h"
#include "language/text_prompting_service.h"

#include <stdexcept>

namespace tavrolin {

void CreatePromptCommand::start(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::createPrompt;
    WorkflowLog::started(action, trigger, std::nullopt, std::nullopt, std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(context, busyForCreatePrompt(host_.runningState())) || !passesOnlineGuard(context)) {
        return;
    }
    beginWhenTrusted(std::move(context), &busyForCreatePrompt, [this, trigger, action](Context context) {
        const LoadingText creating{QStringLiteral("Creating prompt..."), true};
        Run run{action,
                trigger,
                std::move(context),
                QStringLiteral("Create Prompt"),
                AppRunningState::Workflow::createPrompt,
                std::make_shared<bool>(false),
                [creating] { return creating; }};
        run.perform = [service = service_()](std::optional<FocusedTextFieldSnapshot>,
                                             FieldFrameCallback onFieldFrame) -> QCoro::Task<RunSuccess> {
            if (!service) {
                throw std::logic_error("no focused-field service");
            }
            co_await service->promptFocusedField(std::move(onFieldFrame));
            co_return RunSuccess{};
        };
        launch(std::move(run), creating);
    });
}

void CreatePromptCommand::handleError(const CaptureWorkflowError& error) {
    showErrorAlert(error, {QStringLiteral("Create Prompt"), false, false, true, false, true});
}

}  // namespace tavrolin
