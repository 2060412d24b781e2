#include "server/server_endpoint_configuration.h"

#include <QProcessEnvironment>

namespace tavrolin {

namespace {

// Blanks and line breaks removed at both ends; nothing left counts as absent.
std::optional<QString> trimmed(const QString& value) {
    QString result = value.trimmed();
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
    std::optional<QString> text;
    const auto variable = environment.constFind(QString::fromLatin1(source.environmentVariable));
    if (variable != environment.constEnd()) {
        text = trimmed(*variable);
    }
    if (!text) {
        const QJsonValue value = bundle.value(QString::fromLatin1(source.infoKey));
        if (value.isString()) {
            text = trimmed(value.toString());
        }
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
