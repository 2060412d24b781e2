#include "language/url_session_text_improve_client.h"

#include "core/text_units.h"
#include "language/server_text_request.h"

namespace tavrolin {

URLSessionTextImproveClient::URLSessionTextImproveClient(TextImproveConfiguration configuration,
                                                         std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

QString URLSessionTextImproveClient::detail(const QString& text, AppLanguage language) {
    return QStringLiteral("chars=%1 language=%2").arg(graphemeCount(text)).arg(rawValue(language));
}

QByteArray URLSessionTextImproveClient::encodeRequestBody(const QString& text, AppLanguage language) {
    return encodeOrderedStringObject(
        {{QStringLiteral("text"), text}, {QStringLiteral("language"), rawValue(language)}});
}

QCoro::Task<QString> URLSessionTextImproveClient::improve(QString text, AppLanguage language) {
    using Case = CaptureWorkflowError::Case;
    // Every argument is built in its own statement: temporaries inside a co_await
    // expression are not reliably destroyed once by this compiler.
    ServerOperation operation{operationName, CaptureWorkflowError(Case::textImproveRequestFailed),
                              CaptureWorkflowError(Case::textImproveInvalidResponse)};
    QString requestDetail = detail(text, language);
    QByteArray body = encodeRequestBody(text, language);
    co_return co_await performServerTextRequest(session_, std::move(operation), configuration_.endpointURL,
                                                std::move(requestDetail), std::move(body));
}

}  // namespace tavrolin
