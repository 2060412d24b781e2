#include "language/url_session_text_editing_client.h"

#include "core/text_units.h"
#include "language/server_text_request.h"

namespace tavrolin {

URLSessionTextEditingClient::URLSessionTextEditingClient(TextEditingConfiguration configuration,
                                                         std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

QString URLSessionTextEditingClient::detail(const QString& text, AppLanguage sourceLanguage,
                                            AppLanguage targetLanguage) {
    return QStringLiteral("chars=%1 source=%2 target=%3")
        .arg(graphemeCount(text))
        .arg(rawValue(sourceLanguage), rawValue(targetLanguage));
}

QByteArray URLSessionTextEditingClient::encodeRequestBody(const QString& text, AppLanguage sourceLanguage,
                                                          AppLanguage targetLanguage) {
    return encodeOrderedStringObject({{QStringLiteral("text"), text},
                                      {QStringLiteral("sourceLanguage"), rawValue(sourceLanguage)},
                                      {QStringLiteral("targetLanguage"), rawValue(targetLanguage)}});
}

QCoro::Task<QString> URLSessionTextEditingClient::edit(QString text, AppLanguage sourceLanguage,
                                                       AppLanguage targetLanguage) {
    using Case = CaptureWorkflowError::Case;
    // Every argument is built in its own statement: temporaries inside a co_await
    // expression are not reliably destroyed once by this compiler.
    ServerOperation operation{operationName, CaptureWorkflowError(Case::textEditingRequestFailed),
                              CaptureWorkflowError(Case::textEditingInvalidResponse)};
    QString requestDetail = detail(text, sourceLanguage, targetLanguage);
    QByteArray body = encodeRequestBody(text, sourceLanguage, targetLanguage);
    co_return co_await performServerTextRequest(session_, std::move(operation), configuration_.endpointURL,
                                                std::move(requestDetail), std::move(body));
}

}  // namespace tavrolin
