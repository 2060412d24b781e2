#pragma once

// A demo runner for the onboarding view model: records each call with its arguments, answers
// with a fixed text per operation (or fails with a set error), and can hold every call until
// the test releases it, as a slow server would.
#include "onboarding/onboarding_demo_running.h"
#include "support/fakes/coroutine_gate.h"

#include <QStringList>

#include <exception>

namespace tavrolin::test {

// Calls wait while `holds` is set, until release().
class ScriptedOnboardingDemoRunner final : public OnboardingDemoRunning, public CoroutineGate {
public:
    // Held calls go on before the answers they read are gone.
    ~ScriptedOnboardingDemoRunner() override { release(); }

    // "write en [draft] [context]", "edit en>en [text]", "translate en [text]",
    // "flip ru/en [text]", "conversation en>ru [1|2|3]".
    QStringList calls;
    std::exception_ptr error;
    // Appended to every translated chat message: a server may answer with anything.
    QString conversationSuffix;
    int heldCalls() const { return heldCount(); }

    QCoro::Task<QString> writeReply(QString draft, QString context, AppLanguage targetLanguage) override {
        calls.append(QStringLiteral("write %1 [%2] [%3]").arg(rawValue(targetLanguage), draft, context));
        co_await pass();
        rethrow();
        co_return QStringLiteral("written");
    }
    QCoro::Task<QString> editText(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override {
        calls.append(QStringLiteral("edit %1>%2 [%3]").arg(rawValue(sourceLanguage), rawValue(targetLanguage), text));
        co_await pass();
        rethrow();
        co_return QStringLiteral("edited");
    }
    QCoro::Task<QString> translateDraft(QString text, AppLanguage targetLanguage) override {
        calls.append(QStringLiteral("translate %1 [%2]").arg(rawValue(targetLanguage), text));
        co_await pass();
        rethrow();
        co_return QStringLiteral("translated");
    }
    QCoro::Task<QString> flipDraft(QString text, AppLanguage nativeLanguage, AppLanguage companyLanguage) override {
        calls.append(QStringLiteral("flip %1/%2 [%3]").arg(rawValue(nativeLanguage), rawValue(companyLanguage), text));
        co_await pass();
        rethrow();
        co_return QStringLiteral("flipped");
    }
    // Answers each message as "<id> in <target>".
    QCoro::Task<QList<OnboardingChatMessage>> translateConversation(QList<OnboardingChatMessage> messages,
                                                                    AppLanguage sourceLanguage,
                                                                    AppLanguage targetLanguage) override {
        QStringList ids;
        for (const auto& message : messages) {
            ids.append(message.id);
        }
        calls.append(QStringLiteral("conversation %1>%2 [%3]")
                         .arg(rawValue(sourceLanguage), rawValue(targetLanguage), ids.join(QLatin1Char('|'))));
        co_await pass();
        rethrow();
        for (auto& message : messages) {
            message.text = message.id + QStringLiteral(" in ") + rawValue(targetLanguage) + conversationSuffix;
        }
        co_return messages;
    }

private:
    void rethrow() const {
        if (error) {
            std::rethrow_exception(error);
        }
    }
};

}  // namespace tavrolin::test
