#pragma once

#include "updates/app_update.h"
#include "updates/app_update_manifest_client.h"

#include <QCoroTask>
#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

// Decides whether the published release is newer than the installed one. In the application
// the manifest client is the online-gated wrapper, so every request passes the switch.
class AppUpdateChecker final {
public:
    // An empty build counts as no build: the versions decide then.
    AppUpdateChecker(std::shared_ptr<AppUpdateManifestClient> manifestClient, std::optional<QString> currentBuild,
                     QString currentVersion);

    // The release when it is newer: by build when the installed build is known, else by
    // version. Errors of the manifest client are passed on unchanged. The checker must
    // outlive the returned task.
    QCoro::Task<std::optional<AppUpdate>> availableUpdate() const;

    const std::optional<QString>& currentBuild() const { return currentBuild_; }
    const QString& currentVersion() const { return currentVersion_; }

    // Whether the manifest's release is newer than the installed build (or version).
    static bool isNewer(const AppUpdateManifest& manifest, const std::optional<QString>& currentBuild,
                        const QString& currentVersion);

private:
    std::shared_ptr<AppUpdateManifestClient> manifestClient_;
    std::optional<QString> currentBuild_;
    QString currentVersion_;
};

}  // namespace tavrolin
