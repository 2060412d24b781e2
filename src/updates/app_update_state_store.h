#pragma once

#include "core/defaults_store.h"
#include "updates/app_update.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <optional>

namespace tavrolin {

// Read access to the update state that outlives the process: the build the user chose to
// skip and the moment the last update check finished. The update hooks write both keys
// themselves through defaults(), with the key names below.
class AppUpdateStateStore final {
public:
    static inline const QString skippedBuildKey = QStringLiteral("appUpdateSkippedBuild");
    static inline const QString lastCheckDateKey = QStringLiteral("appUpdateLastCheckDate");

    explicit AppUpdateStateStore(DefaultsStore& defaults) : defaults_(defaults) {}

    DefaultsStore& defaults() const { return defaults_; }

    // True when the stored skipped build equals the update's build as text. A number stored
    // under the key reads as its decimal text; "057" does not match "57".
    bool isSkipped(const AppUpdate& update) const;

    // The stored date; absent when nothing or something other than a date is stored.
    std::optional<QDateTime> lastCheckDate() const;

    // The time left before an automatic check is due, given the check interval in seconds:
    // zero when no date is stored or the interval has passed. A last check dated in the
    // future (a clock set back, a foreign value) counts as due now rather than postponing
    // checks until that date. Never negative, and finite for any interval.
    std::chrono::milliseconds timeUntilNextCheck(const QDateTime& now, double checkInterval) const;
    bool isCheckDue(const QDateTime& now, double checkInterval) const {
        return timeUntilNextCheck(now, checkInterval) == std::chrono::milliseconds::zero();
    }

private:
    DefaultsStore& defaults_;
};

}  // namespace tavrolin
