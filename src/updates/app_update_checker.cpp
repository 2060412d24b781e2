#include "updates/app_update_checker.h"

#include "updates/app_update_version_comparator.h"

namespace tavrolin {

AppUpdateChecker::AppUpdateChecker(std::shared_ptr<AppUpdateManifestClient> manifestClient,
                                   std::optional<QString> currentBuild, QString currentVersion)
    : manifestClient_(std::move(manifestClient)),
      currentBuild_(currentBuild && !currentBuild->isEmpty() ? std::move(currentBuild) : std::nullopt),
      currentVersion_(std::move(currentVersion)) {}

bool AppUpdateChecker::isNewer(const AppUpdateManifest& manifest, const std::optional<QString>& currentBuild,
                               const QString& currentVersion) {
    if (currentBuild && !currentBuild->isEmpty()) {
        return AppUpdateVersionComparator::compare(manifest.build, *currentBuild) > 0;
    }
    return AppUpdateVersionComparator::compare(manifest.version, currentVersion) > 0;
}

QCoro::Task<std::optional<AppUpdate>> AppUpdateChecker::availableUpdate() const {
    // Keep the client alive across the suspension even if the caller drops its reference.
    const auto client = manifestClient_;
    const AppUpdateManifest manifest = co_await client->latestManifest();
    if (!isNewer(manifest, currentBuild_, currentVersion_)) {
        co_return std::nullopt;
    }
    co_return AppUpdate::fromManifest(manifest);
}

}  // namespace tavrolin
