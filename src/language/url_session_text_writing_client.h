#pragma once

#include "language/text_writing_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <memory>

namespace tavrolin {

// Rewrite Message on the server: POST {"fieldText", "windowText", "targetLanguage"},
// answered by {"text"}. Fails with textWritingRequestFailed or textWritingInvalidResponse.
class URLSessionTextWritingClient final : public TextWritingClient {
public:
    static inline const QString operationName = QStringLiteral("text_write");

    // The session is the client's own (ServerSessionConfiguration::textWriting() in the app).
    URLSessionTextWritingClient(TextWritingConfiguration configuration,
                                std::shared_ptr<ServerRequestTransport> session);

    QCoro::Task<QString> write(QString fieldText, QString windowText, AppLanguage targetLanguage) override;

    // "fieldChars=<graphemes> windowChars=<graphemes> target=<code>".
    static QString detail(const QString& fieldText, const QString& windowText, AppLanguage targetLanguage);
    static QByteArray encodeRequestBody(const QString& fieldText, const QString& windowText,
                                        AppLanguage targetLanguage);

private:
    TextWritingConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
