#include "language/text_editing_service.h"

#include "core/capture_workflow_error.h"
#include "language/focused_field_service_support.h"

#include <utility>

namespace tavrolin {

TextEditingService::TextEditingService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                                       std::shared_ptr<TextEditingClient> client, AppLanguage sourceLanguage,
                                       AppLanguage targetLanguage, int focusedFieldReadRetryCount,
                                       double focusedFieldReadRetryDelay)
    : sourceLanguage(sourceLanguage),
      targetLanguage(targetLanguage),
      accessor_(std::move(accessor)),
      client_(std::move(client)),
      focusedFieldReadRetryCount_(sanitizedRetryCount(focusedFieldReadRetryCount)),
      focusedFieldReadRetryDelay_(sanitizedRetryDelay(focusedFieldReadRetryDelay)) {}

QCoro::Task<TextEditingResult> TextEditingService::editAndReplace(FocusedTextFieldSnapshot snapshot) const {
    co_await resumeOnMainThread();
    const FocusedFieldInput input = FocusedFieldInput::choose(snapshot);
    requireNonEmptyInput(input.text);

    QString answer = co_await client_->edit(input.text, sourceLanguage, targetLanguage);
    co_await resumeOnMainThread();
    if (isBlankAnswer(answer)) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::textEditingInvalidResponse);
    }
    if (answer != input.text) {
        co_await accessor_->replaceFocusedFieldTextOrPresentCopyFallback(answer, snapshot);
    }
    co_return TextEditingResult{input.text, std::move(answer), input.replacedSelection, snapshot.screenFrame};
}

QCoro::Task<TextEditingResult> TextEditingService::editFocusedField(std::optional<FocusedTextFieldSnapshot> selection,
                                                                    FieldFrameCallback onFieldFrame) const {
    auto operation = [this](FocusedTextFieldSnapshot snapshot) { return editAndReplace(std::move(snapshot)); };
    TextEditingResult result = co_await runOnFocusedField<TextEditingResult>(
        accessor_, focusedFieldReadRetryCount_, focusedFieldReadRetryDelay_, std::move(selection),
        std::move(onFieldFrame), std::move(operation));
    co_return result;
}

}  // namespace tavrolin
