#pragma once

#include "language/server_translation_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <QByteArray>

#include <memory>

namespace tavrolin {

// The server translation client: POST {"targetLanguage", "items": [{"id", "text",
// "sourceLanguage"}]} to the translation endpoint, answered by {"translations": [{"id",
// "text"}]}. Texts go and come back untrimmed; the answer is matched to the requests by id.
class URLSessionServerTranslationClient final : public ServerTranslationClient {
public:
    static inline const QString operationName = QStringLiteral("server_translation");

    // The session is the client's own (ServerSessionConfiguration::translation() in the app).
    URLSessionServerTranslationClient(ServerTranslationConfiguration configuration,
                                      std::shared_ptr<ServerRequestTransport> session);

    QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests, AppLanguage target) override;

    // "items=<n> chars=<graphemes> sourceLanguages=<sorted codes> target=<code>".
    static QString detail(const QList<TranslationRequest>& requests, AppLanguage target);
    static QByteArray encodeRequestBody(const QList<TranslationRequest>& requests, AppLanguage target);
    // The translations of a 2xx answer, one per request in request order. Throws the
    // invalid-response error for a body that does not decode, a repeated or missing id, or a
    // count that differs from the requests'.
    static QList<TranslationResponse> responsesFromAnswer(const QList<TranslationRequest>& requests,
                                                          const ServerHTTPResponse& response);
    // The operation's name and its two errors.
    static ServerOperation serverOperation();

private:
    ServerTranslationConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
