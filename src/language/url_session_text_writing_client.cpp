#include "language/url_session_text_writing_client.h"

#include "core/text_units.h"
#include "language/server_text_request.h"

namespace tavrolin {

URLSessionTextWritingClient::URLSessionTextWritingClient(TextWritingConfiguration configuration,
                                                         std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

QString URLSessionTextWritingClient::detail(const QString& fieldText, const QString& windowText,
                                            AppLanguage targetLanguage) {
    return QStringLiteral("fieldChars=%1 windowChars=%2 target=%3")
        .arg(graphemeCount(fieldText))
        .arg(graphemeCount(windowText))
        .arg(rawValue(targetLanguage));
}

QByteArray URLSessionTextWritingClient::encodeRequestBody(const QString& fieldText, const QString& windowText,
                                                          AppLanguage targetLanguage) {
    return encodeOrderedStringObject({{QStringLiteral("fieldText"), fieldText},
                                      {QStringLiteral("windowText"), windowText},
                                      {QStringLiteral("targetLanguage"), rawValue(targetLanguage)}});
}

QCoro::Task<QString> URLSessionTextWritingClient::write(QString fieldText, QString windowText,
                                                        AppLanguage targetLanguage) {
    using Case = CaptureWorkflowError::Case;
    // Every argument is built in its own statement: temporaries inside a co_await
    // expression are not reliably destroyed once by this compiler.
    ServerOperation operation{operationName, CaptureWorkflowError(Case::textWritingRequestFailed),
                              CaptureWorkflowError(Case::textWritingInvalidResponse)};
    QString requestDetail = detail(fieldText, windowText, targetLanguage);
    QByteArray body = encodeRequestBody(fieldText, windowText, targetLanguage);
    co_return co_await performServerTextRequest(session_, std::move(operation), configuration_.endpointURL,
                                                std::move(requestDetail), std::move(body));
}

}  // namespace tavrolin
