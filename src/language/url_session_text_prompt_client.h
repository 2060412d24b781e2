#pragma once

#include "language/text_prompt_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <memory>

namespace tavrolin {

// Creating a prompt on the server: POST {"text", "language": "original"|"english"},
// answered by {"text"}. Fails with textPromptRequestFailed or textPromptInvalidResponse.
class URLSessionTextPromptClient final : public TextPromptClient {
public:
    static inline const QString operationName = QStringLiteral("text_prompt");

    // The session is the client's own (ServerSessionConfiguration::textPrompt() in the app).
    URLSessionTextPromptClient(TextPromptConfiguration configuration, std::shared_ptr<ServerRequestTransport> session);

    QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) override;

    // "chars=<graphemes>" only: the prompt language is not logged.
    static QString detail(const QString& text);
    static QByteArray encodeRequestBody(const QString& text, TextPromptLanguage language);

private:
    TextPromptConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
