#pragma once

#include "updates/app_update_manifest.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace tavrolin {

// The update offered to the user: the manifest's fields, copied one to one.
struct AppUpdate {
    QString version;
    QString build;
    std::optional<QString> minimumSupportedBuild;
    QUrl downloadURL;
    std::optional<QUrl> releaseNotesURL;
    bool critical = false;

    bool operator==(const AppUpdate&) const = default;

    // Whether the update must be installed: it is critical, or the installed build is lower
    // than minimumSupportedBuild. An unknown (absent or empty) installed build counts as "0".
    bool isRequired(const std::optional<QString>& installedBuild) const;

    static AppUpdate fromManifest(const AppUpdateManifest& manifest) {
        return {manifest.version,     manifest.build,           manifest.minimumSupportedBuild,
                manifest.downloadURL, manifest.releaseNotesURL, manifest.critical};
    }
};

}  // namespace tavrolin
