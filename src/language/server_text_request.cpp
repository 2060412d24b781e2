#include "language/server_text_request.h"

#include "server/json_decoding_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace tavrolin {

namespace {

// A string as a JSON string literal, escaped by the JSON writer.
QByteArray jsonStringLiteral(const QString& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);  // strip [ and ]
}

}  // namespace

QByteArray encodeOrderedStringObject(const std::vector<std::pair<QString, QString>>& fields) {
    QByteArray body("{");
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            body += ',';
        }
        body += jsonStringLiteral(fields[i].first);
        body += ':';
        body += jsonStringLiteral(fields[i].second);
    }
    body += '}';
    return body;
}

QString decodeServerTextResponse(const QByteArray& body) {
    using Kind = JsonDecodingError::Kind;
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonDecodingError(
            Kind::dataCorrupted, QString(),
            QStringLiteral("not valid JSON (%1 at offset %2)").arg(parseError.errorString()).arg(parseError.offset));
    }
    if (!document.isObject()) {
        throw JsonDecodingError(Kind::typeMismatch, QString(), QStringLiteral("expected an object"));
    }
    const QJsonValue text = document.object().value(QStringLiteral("text"));
    if (text.isUndefined()) {
        throw JsonDecodingError(Kind::keyNotFound, QStringLiteral("text"), QStringLiteral("no value for the key"));
    }
    if (text.isNull()) {
        throw JsonDecodingError(Kind::valueNotFound, QStringLiteral("text"),
                                QStringLiteral("expected a string, found null"));
    }
    if (!text.isString()) {
        throw JsonDecodingError(Kind::typeMismatch, QStringLiteral("text"), QStringLiteral("expected a string"));
    }
    return text.toString();
}

QCoro::Task<QString> performServerTextRequest(std::shared_ptr<ServerRequestTransport> session,
                                              ServerOperation operation, std::optional<QUrl> endpoint, QString detail,
                                              QByteArray body) {
    ServerHTTPRequest request = ServerHTTPRequest::postJSON(std::move(body));
    const ServerHTTPResponse response =
        co_await performServerRequest(*session, operation, endpoint, detail, std::move(request));
    co_return decodeServerResponse<QString>(operation, response, &decodeServerTextResponse);
}

}  // namespace tavrolin
