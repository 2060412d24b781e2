#include "commands/message_translation_command.h"

#include "core/workflow_log.h"
#include "language/message_translation_service.h"

#include <stdexcept>

namespace tavrolin {

void MessageTranslationCommand::start(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::translateMessage;
    const AppLanguage target = host_.settingsStore().settings().messageTargetLanguage;
    WorkflowLog::started(action, trigger, AppLanguage::automatic, target, std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger, AppLanguage::automatic, target);
    if (!passesBusyGuard(context, busyWithFocusedField(host_.runningState()))) {
        return;
    }
    beginWhenTrusted(std::move(context), &busyWithFocusedField, [this, trigger, action, target](Context context) {
        const auto loadingText = [&host = host_, target] {
            return LoadingText{translationLoadingText(target),
                               target == AppLanguage::hebrew && host.settingsStore().settings().onlineFeaturesEnabled};
        };
        Run run{action,
                trigger,
                std::move(context),
                QStringLiteral("Write Message"),
                AppRunningState::Workflow::messageTranslation,
                std::make_shared<bool>(false),
                loadingText};
        run.perform = [service = service_()](std::optional<FocusedTextFieldSnapshot>,
                                             FieldFrameCallback onFieldFrame) -> QCoro::Task<RunSuccess> {
            if (!service) {
                throw std::logic_error("no focused-field service");
            }
            co_await service->translateFocusedField(std::move(onFieldFrame));
            co_return RunSuccess{};
        };
        launch(std::move(run), loadingText());
    });
}

void MessageTranslationCommand::handleError(const CaptureWorkflowError& error) {
    showErrorAlert(error, {QStringLiteral("Write Message"), true, true, true, false, true});
}

}  // namespace tavrolin
