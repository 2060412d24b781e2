#pragma once

#include "language/text_editing_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <memory>

namespace tavrolin {

// Edit Message on the server: POST {"text", "sourceLanguage", "targetLanguage"}, answered by
// {"text"}. Fails with textEditingRequestFailed or textEditingInvalidResponse.
class URLSessionTextEditingClient final : public TextEditingClient {
public:
    static inline const QString operationName = QStringLiteral("text_edit");

    // The session is the client's own (ServerSessionConfiguration::textEditing() in the app).
    URLSessionTextEditingClient(TextEditingConfiguration configuration,
                                std::shared_ptr<ServerRequestTransport> session);

    QCoro::Task<QString> edit(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override;

    // "chars=<graphemes> source=<code> target=<code>".
    static QString detail(const QString& text, AppLanguage sourceLanguage, AppLanguage targetLanguage);
    static QByteArray encodeRequestBody(const QString& text, AppLanguage sourceLanguage, AppLanguage targetLanguage);

private:
    TextEditingConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
