#include "language/url_session_server_translation_client.h"

#include "core/text_units.h"
#include "server/json_decoding_error.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <set>

namespace tavrolin {

namespace {

using Kind = JsonDecodingError::Kind;

struct Translation {
    QString id;
    QString text;
};

QString requiredString(const QJsonObject& object, const QString& key, const QString& path) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined()) {
        throw JsonDecodingError(Kind::keyNotFound, path + key, QStringLiteral("no value for the key"));
    }
    if (value.isNull()) {
        throw JsonDecodingError(Kind::valueNotFound, path + key, QStringLiteral("expected a string, found null"));
    }
    if (!value.isString()) {
        throw JsonDecodingError(Kind::typeMismatch, path + key, QStringLiteral("expected a string"));
    }
    return value.toString();
}

// {"translations": [{"id": string, "text": string}, ...]}; other keys are ignored.
QList<Translation> decodeResponse(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        throw JsonDecodingError(
            Kind::dataCorrupted, QString(),
            QStringLiteral("not valid JSON (%1 at offset %2)").arg(error.errorString()).arg(error.offset));
    }
    if (!document.isObject()) {
        throw JsonDecodingError(Kind::typeMismatch, QString(), QStringLiteral("expected an object"));
    }
    const QJsonValue list = document.object().value(QStringLiteral("translations"));
    if (list.isUndefined()) {
        throw JsonDecodingError(Kind::keyNotFound, QStringLiteral("translations"),
                                QStringLiteral("no value for the key"));
    }
    if (list.isNull()) {
        throw JsonDecodingError(Kind::valueNotFound, QStringLiteral("translations"),
                                QStringLiteral("expected an array, found null"));
    }
    if (!list.isArray()) {
        throw JsonDecodingError(Kind::typeMismatch, QStringLiteral("translations"),
                                QStringLiteral("expected an array"));
    }
    QList<Translation> translations;
    const QJsonArray array = list.toArray();
    translations.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString path = QStringLiteral("translations[%1].").arg(i);
        if (!array.at(i).isObject()) {
            throw JsonDecodingError(Kind::typeMismatch, path.chopped(1), QStringLiteral("expected an object"));
        }
        const QJsonObject item = array.at(i).toObject();
        translations.append(
            {requiredString(item, QStringLiteral("id"), path), requiredString(item, QStringLiteral("text"), path)});
    }
    return translations;
}

}  // namespace

ServerOperation URLSessionServerTranslationClient::serverOperation() {
    return {operationName, CaptureWorkflowError(CaptureWorkflowError::Case::textTranslationRequestFailed),
            CaptureWorkflowError(CaptureWorkflowError::Case::textTranslationInvalidResponse)};
}

URLSessionServerTranslationClient::URLSessionServerTranslationClient(ServerTranslationConfiguration configuration,
                                                                     std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

QString URLSessionServerTranslationClient::detail(const QList<TranslationRequest>& requests, AppLanguage target) {
    qsizetype characters = 0;
    std::set<QString> sources;
    for (const auto& request : requests) {
        characters += graphemeCount(request.text);
        sources.insert(rawValue(request.sourceLanguage));
    }
    QStringList sorted(sources.begin(), sources.end());
    return QStringLiteral("items=%1 chars=%2 sourceLanguages=%3 target=%4")
        .arg(requests.size())
        .arg(characters)
        .arg(sorted.join(QLatin1Char(',')), rawValue(target));
}

QByteArray URLSessionServerTranslationClient::encodeRequestBody(const QList<TranslationRequest>& requests,
                                                                AppLanguage target) {
    QJsonArray items;
    for (const auto& request : requests) {
        items.append(QJsonObject{{QStringLiteral("id"), request.id},
                                 {QStringLiteral("text"), request.text},
                                 {QStringLiteral("sourceLanguage"), rawValue(request.sourceLanguage)}});
    }
    const QJsonObject body{{QStringLiteral("targetLanguage"), rawValue(target)}, {QStringLiteral("items"), items}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QCoro::Task<QList<TranslationResponse>> URLSessionServerTranslationClient::translate(QList<TranslationRequest> requests,
                                                                                     AppLanguage target) {
    if (requests.isEmpty()) {
        co_return QList<TranslationResponse>{};
    }
    const ServerOperation operation = serverOperation();

    const ServerHTTPResponse response =
        co_await performServerRequest(*session_, operation, configuration_.endpointURL, detail(requests, target),
                                      ServerHTTPRequest::postJSON(encodeRequestBody(requests, target)));
    co_return responsesFromAnswer(requests, response);
}

QList<TranslationResponse> URLSessionServerTranslationClient::responsesFromAnswer(
    const QList<TranslationRequest>& requests, const ServerHTTPResponse& response) {
    const ServerOperation operation = serverOperation();
    const qint64 bytes = response.body.size();
    const QList<Translation> translations =
        decodeServerResponse<QList<Translation>>(operation, response, &decodeResponse);

    QHash<QString, QString> textById;
    textById.reserve(translations.size());
    for (const auto& translation : translations) {
        if (textById.contains(translation.id)) {
            rejectServerResponse(operation, QStringLiteral("duplicate_id"), bytes);
        }
        textById.insert(translation.id, translation.text);
    }
    if (textById.size() != requests.size()) {
        rejectServerResponse(
            operation,
            QStringLiteral("item_count_mismatch expected=%1 actual=%2").arg(requests.size()).arg(textById.size()),
            bytes);
    }
    QList<TranslationResponse> responses;
    responses.reserve(requests.size());
    for (const auto& request : requests) {
        const auto found = textById.constFind(request.id);
        if (found == textById.constEnd()) {
            rejectServerResponse(operation, QStringLiteral("missing_id"), bytes);
        }
        responses.append({request.id, *found});
    }
    return responses;
}

}  // namespace tavrolin
