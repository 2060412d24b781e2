// The server translation client's answer: status and body matched to the requests sent.
// Input: one byte of request count (0-7, ids "0".."6"), two bytes of status (0xFFFF: not an
// HTTP response), then the body.
#include "language/url_session_server_translation_client.h"
#include "server_answer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace tavrolin;
using Case = CaptureWorkflowError::Case;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::discardLogLines();
    fuzz::InputReader input(data, size);
    QList<TranslationRequest> requests;
    const int count = input.byte() % 8;
    for (int i = 0; i < count; ++i) {
        requests.append({QString::number(i), QStringLiteral("text %1").arg(i), AppLanguage::english});
    }
    const ServerHTTPResponse response = fuzz::takeServerAnswer(input);

    const ServerOperation operation = URLSessionServerTranslationClient::serverOperation();
    if (!fuzz::passesResponseStep(operation, response)) {
        return 0;
    }

    QList<TranslationResponse> responses;
    try {
        responses = URLSessionServerTranslationClient::responsesFromAnswer(requests, response);
    } catch (const CaptureWorkflowError& error) {
        fuzz::require(error.errorCase() == Case::textTranslationInvalidResponse,
                      "a bad answer failed with another error than the invalid response");
        return 0;
    }
    // One translation per request, in request order.
    fuzz::require(responses.size() == requests.size(), "not one translation per request");
    for (qsizetype i = 0; i < requests.size(); ++i) {
        fuzz::require(responses.at(i).id == requests.at(i).id, "translations not in request order");
    }
    // The translations, answered again in reverse order, give the same result.
    QJsonArray items;
    for (auto it = responses.crbegin(); it != responses.crend(); ++it) {
        items.append(QJsonObject{{QStringLiteral("id"), it->id}, {QStringLiteral("text"), it->text}});
    }
    ServerHTTPResponse again;
    again.statusCode = 200;
    again.body = QJsonDocument(QJsonObject{{QStringLiteral("translations"), items}}).toJson(QJsonDocument::Compact);
    fuzz::require(URLSessionServerTranslationClient::responsesFromAnswer(requests, again) == responses,
                  "the translations do not survive a round trip");
    return 0;
}
