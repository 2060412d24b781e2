#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace tavrolin {

// The latest release as the server publishes it. The JSON keys are "version", "build",
// "minimumSupportedBuild", "downloadUrl", "releaseNotesUrl" and "critical"; others are ignored.
struct AppUpdateManifest {
    QString version;
    QString build;
    std::optional<QString> minimumSupportedBuild;
    QUrl downloadURL;
    std::optional<QUrl> releaseNotesURL;
    bool critical = false;

    bool operator==(const AppUpdateManifest&) const = default;

    // Decoding is strict: "version", "build" and "downloadUrl" must be present strings;
    // optional keys may be absent or null, but a present value of the wrong type (or a URL
    // string that does not parse) fails the whole manifest. Throws JsonDecodingError.
    static AppUpdateManifest fromJson(const QByteArray& body);
    static AppUpdateManifest fromJsonObject(const QJsonObject& object);
};

}  // namespace tavrolin
