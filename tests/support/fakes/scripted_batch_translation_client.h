#pragma once

// A translation client whose batch answer is scripted per call: the test decides the order,
// repeats and gaps of the responses. Every call is recorded.
#include "language/translation_client.h"

#include <functional>

namespace tavrolin::test {

class ScriptedBatchTranslationClient final : public TranslationClient {
public:
    // Default: each request answered in order as "<text> (<target>)".
    std::function<QList<TranslationResponse>(const QList<TranslationRequest>&, AppLanguage)> answer =
        [](const QList<TranslationRequest>& requests, AppLanguage target) {
            QList<TranslationResponse> responses;
            for (const auto& request : requests) {
                responses.append(
                    {request.id, request.text + QStringLiteral(" (") + rawValue(target) + QLatin1Char(')')});
            }
            return responses;
        };
    std::exception_ptr error;
    QList<QList<TranslationRequest>> batches;
    int textCalls = 0;

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage, AppLanguage) override {
        co_return TranslationPairAvailability::installed;
    }
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage, AppLanguage target) override {
        ++textCalls;
        if (error) {
            std::rethrow_exception(error);
        }
        for (QString& text : texts) {
            text += QStringLiteral(" (") + rawValue(target) + QLatin1Char(')');
        }
        co_return texts;
    }
    QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests, AppLanguage target) override {
        batches.append(requests);
        if (error) {
            std::rethrow_exception(error);
        }
        co_return answer(requests, target);
    }
};

}  // namespace tavrolin::test
