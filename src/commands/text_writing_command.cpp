#include "commands/text_writing_command.h"

#include "core/workflow_log.h"
#include "language/text_writing_service.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <stdexcept>

namespace tavrolin {

void TextWritingCommand::start(TelemetryTrigger trigger) {
    const TelemetryAction action = TelemetryAction::writeText;
    WorkflowLog::started(action, trigger, std::nullopt, host_.settingsStore().settings().messageTargetLanguage,
                         std::nullopt);
    Context context = host_.telemetryReporter().makeContext(action, trigger);
    if (!passesBusyGuard(context, busyWithFocusedField(host_.runningState())) || !passesOnlineGuard(context)) {
        return;
    }
    // The window's text is read once access is checked and the field read: the recognizer loads
    // its language data meanwhile.
    if (const std::shared_ptr<TextWritingService> service = service_();
        service && service->activeWindowTextProvider()) {
        service->activeWindowTextProvider()->prepare();
    }
    beginWhenTrusted(std::move(context), &busyWithFocusedField, [this, trigger, action](Context context) {
        const LoadingText writing{QStringLiteral("Writing..."), true};
        auto loadingShown = std::make_shared<bool>(false);
        Run run{action,
                trigger,
                std::move(context),
                QStringLiteral("Rewrite Message"),
                AppRunningState::Workflow::textWriting,
                loadingShown,
                [writing] { return writing; }};
        // The front window's text is read first: once it is known, the card covers that window
        // when none is shown yet.
        TextWritingService::WindowTextCallback onWindowText = [self = weakSelf(), loadingShown,
                                                               writing](const ActiveWindowTextSnapshot& window) {
            FocusedFieldCommand* command = self.get();
            if (!command || *loadingShown) {
                return;
            }
            if (ScreenshotOverlayPresenter* overlay = command->host().screenshotOverlayPresenter()) {
                overlay->presentLoading(window.windowBounds, window.ownerPID, writing.message, writing.usesServer);
                *loadingShown = true;
            }
        };
        run.perform = [service = service_(), onWindowText](std::optional<FocusedTextFieldSnapshot>,
                                                           FieldFrameCallback onFieldFrame) -> QCoro::Task<RunSuccess> {
            if (!service) {
                throw std::logic_error("no focused-field service");
            }
            TextWritingService::WindowTextCallback windowText = onWindowText;
            co_await service->writeFocusedField(std::move(onFieldFrame), std::move(windowText));
            co_return RunSuccess{};
        };
        launch(std::move(run), writing);
    });
}

void TextWritingCommand::handleError(const CaptureWorkflowError& error) {
    showErrorAlert(error, {QStringLiteral("Rewrite Message"), false, false, false, true, true},
                   host_.settingsStore().settings().writeTextShortcut.displayName());
}

}  // namespace tavrolin
