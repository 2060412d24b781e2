#pragma once

#include "core/app_language.h"
#include "onboarding/onboarding_page.h"

#include <QCoroTask>
#include <QList>
#include <QString>

namespace tavrolin {

// How the onboarding runs its practice demonstrations on sample texts. Every operation runs
// on the main thread and fails with the error of the service or client behind it, unchanged.
class OnboardingDemoRunning {
public:
    virtual ~OnboardingDemoRunning() = default;

    // Rewrite: the reply written from `draft` with `context` as the front window's text.
    virtual QCoro::Task<QString> writeReply(QString draft, QString context, AppLanguage targetLanguage) = 0;
    // Edit: the corrected text.
    virtual QCoro::Task<QString> editText(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) = 0;
    // Write Message: `text` translated into the second language `targetLanguage`.
    virtual QCoro::Task<QString> translateDraft(QString text, AppLanguage targetLanguage) = 0;
    // Flip Language: `text` translated to the other of the two languages.
    virtual QCoro::Task<QString> flipDraft(QString text, AppLanguage nativeLanguage, AppLanguage companyLanguage) = 0;
    // Translate: the conversation in `targetLanguage`, message for message, in message order.
    virtual QCoro::Task<QList<OnboardingChatMessage>> translateConversation(QList<OnboardingChatMessage> messages,
                                                                            AppLanguage sourceLanguage,
                                                                            AppLanguage targetLanguage) = 0;
};

}  // namespace tavrolin
