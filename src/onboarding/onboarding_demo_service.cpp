#include "onboarding/onboarding_demo_service.h"

#include "core/capture_workflow_error.h"
#include "language/flip_language_service.h"
#include "language/message_translation_service.h"
#include "language/text_editing_service.h"
#include "language/text_writing_service.h"
#include "onboarding/onboarding_demo_substitutes.h"

#include <QHash>

namespace tavrolin {

// ---- substitutes

FocusedTextFieldSnapshot OnboardingFocusedTextAccessor::snapshot() const {
    FocusedTextFieldSnapshot snapshot;
    snapshot.fullText = text_;
    return snapshot;
}

QCoro::Task<FocusedTextFieldSnapshot> OnboardingFocusedTextAccessor::readFocusedField() {
    co_return snapshot();
}

QCoro::Task<FocusedTextFieldSnapshot> OnboardingFocusedTextAccessor::readFocusedSelection(bool) {
    co_return snapshot();
}

QCoro::Task<void> OnboardingFocusedTextAccessor::replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot) {
    text_ = std::move(newText);
    co_return;
}

QCoro::Task<FocusedTextFieldSnapshot> OnboardingFocusedTextAccessor::prepareFocusedFieldWithRetry(int, double) {
    co_return snapshot();
}

QCoro::Task<ActiveWindowTextSnapshot> OnboardingActiveWindowTextProvider::readActiveWindowText() {
    co_return ActiveWindowTextSnapshot{text_, QRectF(0, 0, 1, 1), std::nullopt};
}

AppSettings OnboardingStaticSettingsStore::fixedSettings(AppLanguage nativeLanguage, AppLanguage secondLanguage) {
    AppSettings settings;
    settings.setShortcuts(defaultHotKeyShortcuts());
    settings.targetLanguage = nativeLanguage;
    settings.messageTargetLanguage = secondLanguage;
    settings.dictationLanguage = std::nullopt;
    settings.launchAtLoginEnabled = true;
    settings.telemetryEnabled = true;
    settings.onlineFeaturesEnabled = true;
    settings.autoImproveOnDictationStop = false;
    settings.selectionPopupEnabled = true;
    settings.selectionPopupAutoDismissDelay = 5.0;
    settings.overlayMinimumDisplayDuration = 1.5;
    settings.antiSleepSchedule = AntiSleepSchedule{false, 540, 1080, true, false};
    return settings;
}

// ---- service

OnboardingDemoService::OnboardingDemoService(std::shared_ptr<TextEditingClient> textEditingClient,
                                             std::shared_ptr<TextWritingClient> textWritingClient,
                                             std::shared_ptr<TranslationClient> translationClient,
                                             TranslationSystemCheck isSystemSupported,
                                             std::shared_ptr<const LanguageRecognizer> recognizer)
    : textEditingClient_(std::move(textEditingClient)),
      textWritingClient_(std::move(textWritingClient)),
      translationClient_(std::move(translationClient)),
      isSystemSupported_(std::move(isSystemSupported)),
      recognizer_(std::move(recognizer)) {}

void OnboardingDemoService::requireTranslationSystem() const {
    if (isSystemSupported_ && !isSystemSupported_()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
}

QCoro::Task<QString> OnboardingDemoService::writeReply(QString draft, QString context, AppLanguage targetLanguage) {
    auto accessor = std::make_shared<OnboardingFocusedTextAccessor>(std::move(draft));
    auto window = std::make_shared<OnboardingActiveWindowTextProvider>(std::move(context));
    const TextWritingService service(accessor, std::move(window), textWritingClient_, focusedFieldReadRetryCount,
                                     focusedFieldReadRetryDelay, targetLanguage);
    const FocusedTextFieldSnapshot snapshot =
        co_await accessor->prepareFocusedFieldWithRetry(focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    const TextWritingResult result = co_await service.writeAndReplace(snapshot);
    co_return result.writtenText;
}

QCoro::Task<QString> OnboardingDemoService::editText(QString text, AppLanguage sourceLanguage,
                                                     AppLanguage targetLanguage) {
    auto accessor = std::make_shared<OnboardingFocusedTextAccessor>(std::move(text));
    const TextEditingService service(accessor, textEditingClient_, sourceLanguage, targetLanguage,
                                     focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    const FocusedTextFieldSnapshot snapshot =
        co_await accessor->prepareFocusedFieldWithRetry(focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    const TextEditingResult result = co_await service.editAndReplace(snapshot);
    co_return result.editedText;
}

QCoro::Task<QString> OnboardingDemoService::translateDraft(QString text, AppLanguage targetLanguage) {
    requireTranslationSystem();
    auto accessor = std::make_shared<OnboardingFocusedTextAccessor>(std::move(text));
    auto settings = std::make_shared<OnboardingStaticSettingsStore>(
        OnboardingStaticSettingsStore::fixedSettings(AppLanguage::russian, targetLanguage));
    const MessageTranslationService service(accessor, translationClient_, std::move(settings), nullptr,
                                            focusedFieldReadRetryCount, focusedFieldReadRetryDelay, isSystemSupported_,
                                            recognizer_);
    const FocusedTextFieldSnapshot snapshot =
        co_await accessor->prepareFocusedFieldWithRetry(focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    const MessageTranslationResult result = co_await service.translateAndReplace(snapshot);
    co_return result.translatedText;
}

QCoro::Task<QString> OnboardingDemoService::flipDraft(QString text, AppLanguage nativeLanguage,
                                                      AppLanguage companyLanguage) {
    requireTranslationSystem();
    auto accessor = std::make_shared<OnboardingFocusedTextAccessor>(std::move(text));
    auto settings = std::make_shared<OnboardingStaticSettingsStore>(
        OnboardingStaticSettingsStore::fixedSettings(nativeLanguage, companyLanguage));
    const FlipLanguageService service(accessor, translationClient_, std::move(settings), nullptr,
                                      focusedFieldReadRetryCount, focusedFieldReadRetryDelay, isSystemSupported_,
                                      recognizer_);
    const FocusedTextFieldSnapshot snapshot =
        co_await accessor->prepareFocusedFieldWithRetry(focusedFieldReadRetryCount, focusedFieldReadRetryDelay);
    const FlipLanguageResult result = co_await service.flipAndReplace(snapshot);
    co_return result.translatedText;
}

QCoro::Task<QList<OnboardingChatMessage>> OnboardingDemoService::translateConversation(
    QList<OnboardingChatMessage> messages, AppLanguage sourceLanguage, AppLanguage targetLanguage) {
    requireTranslationSystem();
    if (sourceLanguage == targetLanguage) {
        co_return messages;
    }
    QList<TranslationRequest> requests;
    requests.reserve(messages.size());
    for (const OnboardingChatMessage& message : messages) {
        requests.append(TranslationRequest{message.id, message.text, sourceLanguage});
    }
    const QList<TranslationResponse> responses = co_await translationClient_->translate(requests, targetLanguage);

    QHash<QString, QString> translations;
    for (const TranslationResponse& response : responses) {
        // A repeated id keeps its first answer.
        if (!translations.contains(response.id)) {
            translations.insert(response.id, response.text);
        }
    }
    QList<OnboardingChatMessage> translated;
    translated.reserve(messages.size());
    for (const OnboardingChatMessage& message : messages) {
        const auto found = translations.constFind(message.id);
        translated.append({message.id, found != translations.cend() ? *found : message.text, message.incoming});
    }
    co_return translated;
}

}  // namespace tavrolin
