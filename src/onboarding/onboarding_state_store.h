#pragma once

#include "core/defaults_store.h"

#include <QString>

namespace tavrolin {

// Which version of the onboarding the user has completed, under "onboardingCompletedVersion".
// The onboarding is shown at launch while the stored version is below currentVersion.
class OnboardingStateStore final {
public:
    static inline const QString completedVersionKey = QStringLiteral("onboardingCompletedVersion");

    OnboardingStateStore(DefaultsStore& defaults, int currentVersion)
        : defaults_(defaults), currentVersion_(currentVersion) {}

    DefaultsStore& defaults() const { return defaults_; }
    int currentVersion() const { return currentVersion_; }

    // The stored version; 0 when absent or not a number.
    int completedVersion() const { return static_cast<int>(defaults_.integer(completedVersionKey, 0)); }
    void markCompleted() { defaults_.setInteger(completedVersionKey, currentVersion_); }

private:
    DefaultsStore& defaults_;
    int currentVersion_;
};

}  // namespace tavrolin
