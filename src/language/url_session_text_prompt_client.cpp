#include "language/url_session_text_prompt_client.h"

#include "core/text_units.h"
#include "language/server_text_request.h"

namespace tavrolin {

URLSessionTextPromptClient::URLSessionTextPromptClient(TextPromptConfiguration configuration,
                                                       std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

QString URLSessionTextPromptClient::detail(const QString& text) {
    return QStringLiteral("chars=%1").arg(graphemeCount(text));
}

QByteArray URLSessionTextPromptClient::encodeRequestBody(const QString& text, TextPromptLanguage language) {
    return encodeOrderedStringObject(
        {{QStringLiteral("text"), text}, {QStringLiteral("language"), rawValue(language)}});
}

QCoro::Task<QString> URLSessionTextPromptClient::createPrompt(QString text, TextPromptLanguage language) {
    using Case = CaptureWorkflowError::Case;
    // Every argument is built in its own statement: temporaries inside a co_await
    // expression are not reliably destroyed once by this compiler.
    ServerOperation operation{operationName, CaptureWorkflowError(Case::textPromptRequestFailed),
                              CaptureWorkflowError(Case::textPromptInvalidResponse)};
    QString requestDetail = detail(text);
    QByteArray body = encodeRequestBody(text, language);
    co_return co_await performServerTextRequest(session_, std::move(operation), configuration_.endpointURL,
                                                std::move(requestDetail), std::move(body));
}

}  // namespace tavrolin
