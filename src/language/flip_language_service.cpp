#include "language/flip_language_service.h"

#include "core/capture_workflow_error.h"
#include "core/user_preferred_languages_provider.h"
#include "language/focused_field_service_support.h"
#include "platform/language_recognizer.h"

#include <utility>

namespace tavrolin {

FlipLanguageService::FlipLanguageService(
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

AppLanguage FlipLanguageService::flipSource(const QString& text, const QString& fullText,
                                            AppLanguage secondLanguage) const {
    // A selection too short to tell (one word, a name) takes the language of its field.
    const std::set<AppLanguage> boosted = preferredLanguagesProvider_->boostedLanguages();
    std::optional<AppLanguage> detected = detectServiceLanguage(text, boosted, recognizer_.get());
    if (!detected && !fullText.isEmpty()) {
        detected = detectServiceLanguage(fullText, boosted, recognizer_.get());
    }
    return detected.value_or(secondLanguage);
}

QCoro::Task<FlipLanguageResult> FlipLanguageService::flipAndReplace(FocusedTextFieldSnapshot snapshot) const {
    co_await resumeOnMainThread();
    if (isSystemSupported_ && !isSystemSupported_()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
    const AppSettings settings = settingsStore_->settings();
    const AppLanguage native = settings.targetLanguage;
    const AppLanguage second = settings.messageTargetLanguage;
    const FocusedFieldInput input = FocusedFieldInput::choose(snapshot);
    requireNonEmptyInput(input.text);
    requireWithinCharacterLimit(input.text);

    const AppLanguage source = flipSource(input.text, snapshot.fullText, second);
    const AppLanguage target = source == native ? second : native;

    FlipLanguageResult result;
    result.originalText = input.text;
    result.translatedText = input.text;
    result.detectedSourceLanguage = source;
    result.targetLanguage = target;
    result.replacedSelection = input.replacedSelection;
    result.screenFrame = snapshot.screenFrame;
    if (source == target) {
        co_return result;
    }

    result.translatedText = co_await translateFieldText(translationClient_, input.text, source, target);
    co_await accessor_->replaceFocusedFieldTextOrPresentCopyFallback(result.translatedText, std::move(snapshot));
    co_return result;
}

QCoro::Task<std::optional<FlipLanguageResult>> FlipLanguageService::flipFocusedField(
    std::optional<FocusedTextFieldSnapshot> selection, FieldFrameCallback onFieldFrame) const {
    auto operation = [this](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<std::optional<FlipLanguageResult>> {
        const QString& text =
            snapshot.selectedText && !snapshot.selectedText->isEmpty() ? *snapshot.selectedText : snapshot.fullText;
        if (text.isEmpty()) {
            co_return std::nullopt;
        }
        FlipLanguageResult flipped = co_await flipAndReplace(std::move(snapshot));
        co_return flipped;
    };
    std::optional<FlipLanguageResult> result = co_await runOnFocusedField<std::optional<FlipLanguageResult>>(
        accessor_, focusedFieldReadRetryCount_, focusedFieldReadRetryDelay_, std::move(selection),
        std::move(onFieldFrame), std::move(operation));
    co_return result;
}

}  // namespace tavrolin
