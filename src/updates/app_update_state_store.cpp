#include "updates/app_update_state_store.h"

#include "updates/app_update_configuration.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

bool AppUpdateStateStore::isSkipped(const AppUpdate& update) const {
    const auto raw = defaults_.rawValue(skippedBuildKey);
    if (!raw || !(raw->isString() || raw->isDouble() || raw->isBool())) {
        return false;
    }
    return defaults_.string(skippedBuildKey) == update.build;
}

std::optional<QDateTime> AppUpdateStateStore::lastCheckDate() const {
    auto date = defaults_.date(lastCheckDateKey);
    if (date && !date->isValid()) {
        return std::nullopt;
    }
    return date;
}

std::chrono::milliseconds AppUpdateStateStore::timeUntilNextCheck(const QDateTime& now, double checkInterval) const {
    const auto last = lastCheckDate();
    if (!last) {
        return std::chrono::milliseconds::zero();
    }
    const qint64 sinceLast = last->msecsTo(now);
    if (sinceLast < 0) {
        return std::chrono::milliseconds::zero();
    }
    // Intervals come from the configuration, which keeps them finite; clamp anyway so a NaN
    // or an infinity handed in here cannot overflow the arithmetic.
    double intervalMs = std::isnan(checkInterval) ? 0.0 : checkInterval * 1000.0;
    intervalMs = std::clamp(intervalMs, 0.0, AppUpdateConfiguration::maximumCheckInterval * 1000.0);
    const auto interval = static_cast<qint64>(intervalMs);
    return std::chrono::milliseconds(std::max<qint64>(0, interval - sinceLast));
}

}  // namespace tavrolin
