#include "language/message_translation_service.h"

#include "core/capture_workflow_error.h"
#include "core/user_preferred_languages_provider.h"
#include "language/focused_field_service_support.h"
#include "platform/language_recognizer.h"

#include <utility>

namespace tavrolin {

MessageTranslationService::MessageTranslationService(
    std::shared_ptr<FocusedTextFieldAccessing> accessor, std::shared_ptr<TranslationClient> translationClient,
    std::shared_ptr<const AppSettingsProviding> settingsStore,
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider, int focusedFieldReadRetryCount,
    double focusedFieldReadRetryDelay, TranslationSystemCheck isSystemSupported,
    std::shared_ptr<const LanguageRecognizer> recognizer)
    : accessor_(std::move(accessor)),
      translationClient_(std::move(translationClient)),
      settingsStore_(std::move(settingsStore)),
      preferredLanguagesProvider_(std::move(preferredLanguagesProvider)),
      focusedFieldReadRetryCount_(sanitizedRetryCount(focusedFieldReadRetryCount)),
      focusedFieldReadRetryDelay_(sanitizedRetryDelay(focusedFieldReadRetryDelay)),
      isSystemSupported_(std::move(isSystemSupported)),
      recognizer_(std::move(recognizer)) {
    if (!preferredLanguagesProvider_) {
        preferredLanguagesProvider_ = std::make_shared<UserPreferredLanguagesProvider>(settingsStore_->settings());
    }
}

QCoro::Task<MessageTranslationResult> MessageTranslationService::translateAndReplace(
    FocusedTextFieldSnapshot snapshot) const {
    co_await resumeOnMainThread();
    if (isSystemSupported_ && !isSystemSupported_()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
    const AppLanguage target = settingsStore_->settings().messageTargetLanguage;
    const FocusedFieldInput input = FocusedFieldInput::choose(snapshot);
    requireNonEmptyInput(input.text);
    requireWithinCharacterLimit(input.text);

    const AppLanguage source =
        detectServiceLanguage(input.text, preferredLanguagesProvider_->boostedLanguages(), recognizer_.get())
            .value_or(target);
    MessageTranslationResult result{input.text, input.text, input.replacedSelection, snapshot.screenFrame};
    if (source == target) {
        co_return result;
    }

    result.translatedText = co_await translateFieldText(translationClient_, input.text, source, target);
    co_await accessor_->replaceFocusedFieldTextOrPresentCopyFallback(result.translatedText, std::move(snapshot));
    co_return result;
}

QCoro::Task<MessageTranslationResult> MessageTranslationService::translateFocusedField(
    FieldFrameCallback onFieldFrame) const {
    auto operation = [this](FocusedTextFieldSnapshot snapshot) { return translateAndReplace(std::move(snapshot)); };
    MessageTranslationResult result = co_await runOnFocusedField<MessageTranslationResult>(
        accessor_, focusedFieldReadRetryCount_, focusedFieldReadRetryDelay_, std::nullopt, std::move(onFieldFrame),
        std::move(operation));
    co_return result;
}

}  // namespace tavrolin
