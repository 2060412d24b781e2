#pragma once

#include "core/app_language.h"
#include "core/app_settings.h"

namespace tavrolin {

// The settings a usage event may carry. targetLanguage travels with the snapshot but is not
// placed in an event (the event's own targetLanguage comes from the workflow).
struct TelemetrySettingsSnapshot {
    AppLanguage targetLanguage = AppLanguage::russian;
    AppLanguage messageTargetLanguage = AppLanguage::english;
    bool launchAtLoginEnabled = false;
    bool telemetryEnabled = false;
    bool onlineFeaturesEnabled = false;

    bool operator==(const TelemetrySettingsSnapshot&) const = default;

    static TelemetrySettingsSnapshot of(const AppSettings& settings) {
        return {settings.targetLanguage, settings.messageTargetLanguage, settings.launchAtLoginEnabled,
                settings.telemetryEnabled, settings.onlineFeaturesEnabled};
    }
};

}  // namespace tavrolin
