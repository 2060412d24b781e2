#include "language/text_writing_service.h"

#include "core/capture_workflow_error.h"
#include "language/focused_field_service_support.h"

#include <utility>

namespace tavrolin {

TextWritingService::TextWritingService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                                       std::shared_ptr<ActiveWindowTextProviding> activeWindowTextProvider,
                                       std::shared_ptr<TextWritingClient> client, int focusedFieldReadRetryCount,
                                       double focusedFieldReadRetryDelay, AppLanguage targetLanguage)
    : targetLanguage(targetLanguage),
      accessor_(std::move(accessor)),
      activeWindowTextProvider_(std::move(activeWindowTextProvider)),
      client_(std::move(client)),
      focusedFieldReadRetryCount_(sanitizedRetryCount(focusedFieldReadRetryCount)),
      focusedFieldReadRetryDelay_(sanitizedRetryDelay(focusedFieldReadRetryDelay)) {}

QCoro::Task<TextWritingResult> TextWritingService::writeAndReplace(FocusedTextFieldSnapshot snapshot,
                                                                   WindowTextCallback onWindowTextCaptured) const {
    co_await resumeOnMainThread();
    const FocusedFieldInput input = FocusedFieldInput::choose(snapshot);
    requireNonEmptyInput(input.text);

    const ActiveWindowTextSnapshot window = co_await activeWindowTextProvider_->readActiveWindowText();
    co_await resumeOnMainThread();
    if (onWindowTextCaptured) {
        onWindowTextCaptured(window);
    }

    QString answer = co_await client_->write(input.text, window.text, targetLanguage);
    co_await resumeOnMainThread();
    if (isBlankAnswer(answer)) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::textWritingInvalidResponse);
    }
    co_await accessor_->replaceFocusedFieldTextOrPresentCopyFallback(answer, snapshot);
    co_return TextWritingResult{input.text, window.text, std::move(answer), input.replacedSelection,
                                snapshot.screenFrame};
}

QCoro::Task<TextWritingResult> TextWritingService::writeFocusedField(FieldFrameCallback onFieldFrame,
                                                                     WindowTextCallback onWindowTextCaptured) const {
    auto operation = [this, onWindowTextCaptured = std::move(onWindowTextCaptured)](FocusedTextFieldSnapshot snapshot) {
        return writeAndReplace(std::move(snapshot), onWindowTextCaptured);
    };
    TextWritingResult result = co_await runOnFocusedField<TextWritingResult>(
        accessor_, focusedFieldReadRetryCount_, focusedFieldReadRetryDelay_, std::nullopt, std::move(onFieldFrame),
        std::move(operation));
    co_return result;
}

}  // namespace tavrolin
