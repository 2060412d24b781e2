#include "updates/app_update_manifest.h"

#include "server/json_decoding_error.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringDecoder>

namespace tavrolin {

namespace {

using Kind = JsonDecodingError::Kind;

QString jsonTypeName(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void throwTypeMismatch(const QString& key, const QString& expected, const QJsonValue& found) {
    throw JsonDecodingError(Kind::typeMismatch, key,
                            QStringLiteral("expected %1, found %2").arg(expected, jsonTypeName(found)));
}

QString requiredString(const QJsonObject& object, const QString& key) {
    const auto it = object.constFind(key);
    if (it == object.constEnd()) {
        throw JsonDecodingError(Kind::keyNotFound, key, QStringLiteral("no value for the key"));
    }
    const QJsonValue value = it.value();
    if (value.isNull()) {
        throw JsonDecodingError(Kind::valueNotFound, key, QStringLiteral("expected a string, found null"));
    }
    if (!value.isString()) {
        throwTypeMismatch(key, QStringLiteral("a string"), value);
    }
    return value.toString();
}

std::optional<QString> optionalString(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        return std::nullopt;
    }
    if (!value.isString()) {
        throwTypeMismatch(key, QStringLiteral("a string"), value);
    }
    return value.toString();
}

QUrl urlFrom(const QString& text, const QString& key) {
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        throw JsonDecodingError(Kind::dataCorrupted, key, QStringLiteral("invalid URL string"));
    }
    return url;
}

}  // namespace

AppUpdateManifest AppUpdateManifest::fromJson(const QByteArray& body) {
    // The parser would quietly replace broken UTF-8 sequences; a body that is not UTF-8 is
    // not a manifest.
    QStringDecoder utf8(QStringDecoder::Utf8);
    [[maybe_unused]] const QString decoded = utf8.decode(body);
    if (utf8.hasError()) {
        throw JsonDecodingError(Kind::dataCorrupted, {}, QStringLiteral("the data is not valid UTF-8"));
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonDecodingError(Kind::dataCorrupted, {},
                                QStringLiteral("the data is not valid JSON (%1 at offset %2)")
                                    .arg(parseError.errorString())
                                    .arg(parseError.offset));
    }
    if (!document.isObject()) {
        throw JsonDecodingError(Kind::typeMismatch, {},
                                QStringLiteral("expected an object, found %1")
                                    .arg(document.isArray() ? QStringLiteral("an array") : QStringLiteral("a scalar")));
    }
    return fromJsonObject(document.object());
}

AppUpdateManifest AppUpdateManifest::fromJsonObject(const QJsonObject& object) {
    AppUpdateManifest manifest;
    manifest.version = requiredString(object, QStringLiteral("version"));
    manifest.build = requiredString(object, QStringLiteral("build"));
    manifest.minimumSupportedBuild = optionalString(object, QStringLiteral("minimumSupportedBuild"));
    const QString downloadKey = QStringLiteral("downloadUrl");
    manifest.downloadURL = urlFrom(requiredString(object, downloadKey), downloadKey);
    const QString notesKey = QStringLiteral("releaseNotesUrl");
    if (const auto notes = optionalString(object, notesKey)) {
        manifest.releaseNotesURL = urlFrom(*notes, notesKey);
    }
    const QJsonValue critical = object.value(QStringLiteral("critical"));
    if (critical.isUndefined() || critical.isNull()) {
        manifest.critical = false;
    } else if (critical.isBool()) {
        manifest.critical = critical.toBool();
    } else {
        throwTypeMismatch(QStringLiteral("critical"), QStringLiteral("a boolean"), critical);
    }
    return manifest;
}

}  // namespace tavrolin
