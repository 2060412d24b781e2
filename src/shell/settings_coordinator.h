#pragma once

#include "commands/app_alerts.h"
#include "core/app_language.h"
#include "core/app_settings.h"
#include "core/app_settings_store.h"
#include "core/telemetry_action.h"
#include "core/telemetry_event.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace tavrolin {

// The settings a settings usage event carries.
TelemetrySettingsSnapshot telemetrySnapshot(const AppSettings& settings);

// One usage event of the settings path, as the usage-event reporter takes it: the context
// (action, trigger, start time, target language, snapshot) and what is sent with it.
struct SettingsUsageEvent {
    TelemetryAction action = TelemetryAction::saveSettings;
    TelemetryTrigger trigger = TelemetryTrigger::settings;
    QDateTime startedAt;
    std::optional<AppLanguage> targetLanguage;
    std::optional<TelemetrySettingsSnapshot> snapshot;
    std::optional<bool> success;
    std::optional<QString> errorCode;
    bool includeDuration = false;

    bool operator==(const SettingsUsageEvent&) const = default;
};

// Which services a push reaches: at launch only the presenters, the selection trigger and the
// online-features switch; on a save every service that keeps a copy of a setting.
enum class SettingsPushScope { launch, full };

// The one place where a settings value becomes effective: at launch (configureSettings) and on
// every save, whichever screen saves.
class SettingsCoordinator {
public:
    struct Dependencies {
        AppSettingsStore* store = nullptr;
        AppAlerts* alerts = nullptr;
        // All seven shortcuts or none; throws the first registration error.
        std::function<void(const AppSettings&)> registerHotKeys;
        // As registerHotKeys, but a shortcut whose key another program holds is set aside (it
        // comes back when the key is free, and the user is told) instead of failing the others.
        // Empty: registerHotKeys.
        std::function<void(const AppSettings&)> registerHotKeysSettingAside;
        // Makes launch at login match; answers whether the desktop still needs the user's
        // approval. Throws when it cannot be changed.
        std::function<bool(bool isEnabled)> syncLaunchAtLogin;
        std::function<void(const SettingsUsageEvent&)> report;
        // Hands the settings' fields to the services that keep copies of them.
        std::function<void(const AppSettings&, SettingsPushScope)> push;
        std::function<void(const AppSettings&)> refreshStatusItem;
        std::function<void()> openLoginItemsSettings;
        std::function<QDateTime()> now;  // empty: the current time
    };

    explicit SettingsCoordinator(Dependencies dependencies);

    // Applies the stored settings at launch. A shortcut whose key another program holds is set
    // aside; when the shortcuts cannot be registered for another reason, the seven shortcuts (and
    // nothing else) are reset to the defaults, saved and the user told.
    void configureSettings();
    // Registers, synchronises, stores and pushes `settings`; answers the text to show when the
    // shortcuts could not be registered (then nothing changed), else none.
    std::optional<QString> saveSettings(const AppSettings& settings, TelemetryTrigger trigger);
    void showLaunchAtLoginApprovalAlert();

private:
    QDateTime now() const;
    void registerSettingAside(const AppSettings& settings) const;
    void report(const SettingsUsageEvent& event) const;
    void persist(const AppSettings& settings);
    void syncLaunchAtLoginIgnoringFailure(bool isEnabled);

    Dependencies dependencies_;
};

}  // namespace tavrolin
