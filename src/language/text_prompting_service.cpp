#include "language/text_prompting_service.h"

#include "core/capture_workflow_error.h"
#include "language/focused_field_service_support.h"

#include <utility>

namespace tavrolin {

TextPromptingService::TextPromptingService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                                           std::shared_ptr<TextPromptClient> client, int focusedFieldReadRetryCount,
                                           double focusedFieldReadRetryDelay)
    : accessor_(std::move(accessor)),
      client_(std::move(client)),
      focusedFieldReadRetryCount_(sanitizedRetryCount(focusedFieldReadRetryCount)),
      focusedFieldReadRetryDelay_(sanitizedRetryDelay(focusedFieldReadRetryDelay)) {}

QCoro::Task<TextPromptingResult> TextPromptingService::promptAndReplace(FocusedTextFieldSnapshot snapshot) const {
    co_await resumeOnMainThread();
    const FocusedFieldInput input = FocusedFieldInput::choose(snapshot);
    requireNonEmptyInput(input.text);
    requireWithinCharacterLimit(input.text);

    QString answer = co_await client_->createPrompt(input.text, TextPromptLanguage::original);
    co_await resumeOnMainThread();
    if (isBlankAnswer(answer)) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::textPromptInvalidResponse);
    }
    if (answer != input.text) {
        co_await accessor_->replaceFocusedFieldTextOrPresentCopyFallback(answer, snapshot);
    }
    co_return TextPromptingResult{input.text, std::move(answer), input.replacedSelection, snapshot.screenFrame};
}

QCoro::Task<TextPromptingResult> TextPromptingService::promptFocusedField(FieldFrameCallback onFieldFrame) const {
    auto operation = [this](FocusedTextFieldSnapshot snapshot) { return promptAndReplace(std::move(snapshot)); };
    TextPromptingResult result = co_await runOnFocusedField<TextPromptingResult>(
        accessor_, focusedFieldReadRetryCount_, focusedFieldReadRetryDelay_, std::nullopt, std::move(onFieldFrame),
        std::move(operation));
    co_return result;
}

}  // namespace tavrolin
