#include "language/server_endpoint_configuration.h"

#include <QProcessEnvironment>

namespace tavrolin {

namespace {

// Blanks and line breaks removed at both ends; nothing left counts as absent.
std::optional<QString> trimmed(const std::optional<QString>& value) {
    if (!value) {
        return std::nullopt;
    }
    QString result = value->trimmed();
    if (result.isEmpty()) {
        return std::nullopt;
    }
    return result;
}

}  // namespace

Environment currentEnvironment() {
    Environment environment;
    const QProcessEnvironment process = QProcessEnvironment::systemEnvironment();
    for (const QString& key : process.keys()) {
        environment.insert(key, process.value(key));
    }
    return environment;
}

std::optional<QUrl> resolveEndpoint(const EndpointSource& source, const InfoDictionary& bundle,
                                    const Environment& environment) {
    const QString variable = QString::fromLatin1(source.environmentVariable);
    std::optional<QString> text = trimmed(environment.contains(variable)
                                              ? std::optional<QString>(environment.value(variable))
                                              : std::nullopt);
    if (!text) {
        const QJsonValue value = bundle.value(QString::fromLatin1(source.infoKey));
        text = trimmed(value.isString() ? std::optional<QString>(value.toString()) : std::nullopt);
    }
    if (!text) {
        text = AppMetadata::defaultServerBaseURL() + QString::fromLatin1(source.defaultPath);
    }
    QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

}  // namespace tavrolin
