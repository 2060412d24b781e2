#pragma once

#include "language/text_improve_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <memory>

namespace tavrolin {

// Improving a dictated text on the server: POST {"text", "language"}, answered by {"text"}.
// Fails with textImproveRequestFailed or textImproveInvalidResponse.
class URLSessionTextImproveClient final : public TextImproveClient {
public:
    static inline const QString operationName = QStringLiteral("text_improve");

    // The session is the client's own (ServerSessionConfiguration::textImprove() in the app).
    URLSessionTextImproveClient(TextImproveConfiguration configuration,
                                std::shared_ptr<ServerRequestTransport> session);

    QCoro::Task<QString> improve(QString text, AppLanguage language) override;

    // "chars=<graphemes> language=<code>".
    static QString detail(const QString& text, AppLanguage language);
    static QByteArray encodeRequestBody(const QString& text, AppLanguage language);

private:
    TextImproveConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
