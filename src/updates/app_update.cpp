#include "updates/app_update.h"

#include "updates/app_update_version_comparator.h"

namespace tavrolin {

bool AppUpdate::isRequired(const std::optional<QString>& installedBuild) const {
    if (critical) {
        return true;
    }
    if (!minimumSupportedBuild) {
        return false;
    }
    const QString installed = installedBuild && !installedBuild->isEmpty() ? *installedBuild : QStringLiteral("0");
    return AppUpdateVersionComparator::compare(*minimumSupportedBuild, installed) > 0;
}

}  // namespace tavrolin
