#pragma once

#include "language/text_editing_client.h"
#include "language/text_writing_client.h"
#include "language/translation_client.h"
#include "language/translation_system_requirement.h"
#include "onboarding/onboarding_demo_running.h"
#include "platform/language_recognizer.h"

#include <memory>

namespace tavrolin {

// Runs the onboarding's demonstrations through the same focused-field services the real
// workflows use, each built afresh for one demonstration over in-memory stand-ins (a pretend
// field holding the sample, a fixed window text, fixed settings) and the application's shared
// clients, so the demonstrations obey the online-features switch exactly as the workflows do.
// The services read their field once (no retries). Main thread only.
class OnboardingDemoService final : public OnboardingDemoRunning {
public:
    // `isSystemSupported` is the translation system check of the translating demonstrations:
    // when it fails they refuse with translationRequiresMacOS26 before any request. `recognizer`
    // tells the drafts' language as it does the workflows' (none: only the script tells it).
    OnboardingDemoService(std::shared_ptr<TextEditingClient> textEditingClient,
                          std::shared_ptr<TextWritingClient> textWritingClient,
                          std::shared_ptr<TranslationClient> translationClient,
                          TranslationSystemCheck isSystemSupported = isTranslationSystemSupported,
                          std::shared_ptr<const LanguageRecognizer> recognizer = nullptr);

    QCoro::Task<QString> writeReply(QString draft, QString context, AppLanguage targetLanguage) override;
    QCoro::Task<QString> editText(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override;
    // The translation settings' native language is Russian here, not the user's: only the
    // second language matters to Write Message.
    QCoro::Task<QString> translateDraft(QString text, AppLanguage targetLanguage) override;
    QCoro::Task<QString> flipDraft(QString text, AppLanguage nativeLanguage, AppLanguage companyLanguage) override;
    // Equal languages: the messages as they are, without asking the client. Otherwise one
    // batch for the whole conversation; answers are matched by id (of a repeated id the first
    // answer counts, an unknown id is ignored) and a message without an answer keeps its text.
    QCoro::Task<QList<OnboardingChatMessage>> translateConversation(QList<OnboardingChatMessage> messages,
                                                                    AppLanguage sourceLanguage,
                                                                    AppLanguage targetLanguage) override;

    const std::shared_ptr<TextEditingClient>& textEditingClient() const { return textEditingClient_; }
    const std::shared_ptr<TextWritingClient>& textWritingClient() const { return textWritingClient_; }
    const std::shared_ptr<TranslationClient>& translationClient() const { return translationClient_; }

    static constexpr int focusedFieldReadRetryCount = 0;
    static constexpr double focusedFieldReadRetryDelay = 0.0;

private:
    void requireTranslationSystem() const;

    std::shared_ptr<TextEditingClient> textEditingClient_;
    std::shared_ptr<TextWritingClient> textWritingClient_;
    std::shared_ptr<TranslationClient> translationClient_;
    TranslationSystemCheck isSystemSupported_;
    std::shared_ptr<const LanguageRecognizer> recognizer_;
};

}  // namespace tavrolin
