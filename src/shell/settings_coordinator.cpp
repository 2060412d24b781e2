#include "shell/settings_coordinator.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/capture_workflow_error.h"
#include "core/linux_wording.h"
#include "shell/error_messages.h"

namespace tavrolin {

TelemetrySettingsSnapshot telemetrySnapshot(const AppSettings& settings) {
    return {settings.targetLanguage, settings.messageTargetLanguage, settings.launchAtLoginEnabled,
            settings.telemetryEnabled, settings.onlineFeaturesEnabled};
}

SettingsCoordinator::SettingsCoordinator(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

QDateTime SettingsCoordinator::now() const {
    return dependencies_.now ? dependencies_.now() : QDateTime::currentDateTimeUtc();
}

void SettingsCoordinator::report(const SettingsUsageEvent& event) const {
    if (dependencies_.report) {
        dependencies_.report(event);
    }
}

void SettingsCoordinator::persist(const AppSettings& settings) {
    // The value is in force even when the file cannot be written; the user learns that it will
    // not survive a restart instead of finding the old settings back later.
    if (const auto failure = dependencies_.store->persist(settings)) {
        AppLog::app().error(QStringLiteral("settings not saved: %1").arg(*failure));
        dependencies_.alerts->showAlert(QStringLiteral("Could Not Save Settings"), *failure);
    }
}

void SettingsCoordinator::syncLaunchAtLoginIgnoringFailure(bool isEnabled) {
    if (!dependencies_.syncLaunchAtLogin) {
        return;
    }
    try {
        dependencies_.syncLaunchAtLogin(isEnabled);
    } catch (const std::exception& error) {
        AppLog::app().error(
            QStringLiteral("launch at login not synchronised: %1").arg(QString::fromUtf8(error.what())));
    }
}

void SettingsCoordinator::registerSettingAside(const AppSettings& settings) const {
    if (dependencies_.registerHotKeysSettingAside) {
        dependencies_.registerHotKeysSettingAside(settings);
    } else {
        dependencies_.registerHotKeys(settings);
    }
}

void SettingsCoordinator::configureSettings() {
    const AppSettings stored = dependencies_.store->settings();
    try {
        registerSettingAside(stored);
    } catch (const std::exception& firstError) {
        const QString firstMessage = makeMessage(firstError);
        // Only the shortcuts failed: every other choice of the user stays as it was.
        AppSettings reset = stored;
        reset.setShortcuts(defaultHotKeyShortcuts());
        try {
            registerSettingAside(reset);
        } catch (const std::exception& secondError) {
            dependencies_.alerts->showAlert(QStringLiteral("Could not register shortcuts"), makeMessage(secondError));
            return;
        }
        persist(reset);
        const AppSettings current = dependencies_.store->settings();
        dependencies_.push(current, SettingsPushScope::launch);
        dependencies_.refreshStatusItem(current);
        syncLaunchAtLoginIgnoringFailure(current.launchAtLoginEnabled);
        dependencies_.alerts->showAlert(
            QStringLiteral("Saved shortcuts were reset"),
            firstMessage + QStringLiteral("\n\nTavrolin restored the default shortcuts so the app can keep running."));
        return;
    }
    dependencies_.push(stored, SettingsPushScope::launch);
    dependencies_.refreshStatusItem(stored);
    syncLaunchAtLoginIgnoringFailure(stored.launchAtLoginEnabled);
}

std::optional<QString> SettingsCoordinator::saveSettings(const AppSettings& settings, TelemetryTrigger trigger) {
    const AppSettings previous = dependencies_.store->settings();
    AppSettings next = settings;
    SettingsUsageEvent saveEvent;
    saveEvent.action = TelemetryAction::saveSettings;
    saveEvent.trigger = trigger;
    saveEvent.startedAt = now();
    saveEvent.targetLanguage = next.targetLanguage;
    saveEvent.snapshot = telemetrySnapshot(next);
    const auto reportSave = [&](bool success, std::optional<QString> errorCode = std::nullopt) {
        SettingsUsageEvent event = saveEvent;
        event.success = success;
        event.errorCode = std::move(errorCode);
        event.includeDuration = true;
        report(event);
    };
    const auto reportStatistics = [&](TelemetryAction action) {
        SettingsUsageEvent event;
        event.action = action;
        event.trigger = trigger;
        event.startedAt = now();
        event.snapshot = saveEvent.snapshot;
        report(event);
    };

    try {
        dependencies_.registerHotKeys(next);
    } catch (const std::exception& error) {
        const auto* workflowError = dynamic_cast<const CaptureWorkflowError*>(&error);
        reportSave(false, workflowError ? CaptureWorkflowErrorCode::code(*workflowError)
                                        : QStringLiteral("settings_save_failed"));
        try {
            // One of them taken since by another program waits for its key; the others are back.
            registerSettingAside(previous);
            dependencies_.refreshStatusItem(previous);
        } catch (const std::exception& restoreError) {
            dependencies_.alerts->showAlert(QStringLiteral("Could not restore shortcuts"), makeMessage(restoreError));
        }
        return makeMessage(error);
    }

    if (next.launchAtLoginEnabled != previous.launchAtLoginEnabled && dependencies_.syncLaunchAtLogin) {
        try {
            if (dependencies_.syncLaunchAtLogin(next.launchAtLoginEnabled)) {
                showLaunchAtLoginApprovalAlert();
            }
        } catch (const std::exception& error) {
            dependencies_.alerts->showInformationalAlert(next.launchAtLoginEnabled
                                                             ? QStringLiteral("Could Not Enable Launch at Login")
                                                             : QStringLiteral("Could Not Disable Launch at Login"),
                                                         makeMessage(error));
            next.launchAtLoginEnabled = previous.launchAtLoginEnabled;
            saveEvent.snapshot->launchAtLoginEnabled = previous.launchAtLoginEnabled;
        }
    }

    // Reported while the stored value still has usage statistics on, so that they go out.
    const bool statisticsTurnedOff = previous.telemetryEnabled && !next.telemetryEnabled;
    if (statisticsTurnedOff && next.onlineFeaturesEnabled) {
        reportSave(true);
        reportStatistics(TelemetryAction::anonymousStatisticsDisabled);
    }

    persist(next);
    dependencies_.push(dependencies_.store->settings(), SettingsPushScope::full);

    if (!previous.telemetryEnabled && next.telemetryEnabled) {
        reportStatistics(TelemetryAction::anonymousStatisticsEnabled);
        reportSave(true);
    } else if (!statisticsTurnedOff) {
        reportSave(true);
    }
    dependencies_.refreshStatusItem(dependencies_.store->settings());
    return std::nullopt;
}

void SettingsCoordinator::showLaunchAtLoginApprovalAlert() {
    Alert alert;
    alert.style = AlertStyle::informational;
    alert.title = QStringLiteral("Finish Enabling Launch at Login");
    alert.message = linuxWording(
        u"macOS needs one more confirmation before Tavrolin can open automatically when you log in.\n\nOpen System "
        u"Settings > General > Login Items and make sure Tavrolin is allowed to open at login.");
    alert.icon = AppMetadata::alertIcon();
    alert.buttons = {QStringLiteral("Open Settings"), QStringLiteral("OK")};
    if (dependencies_.alerts->presenter()->present(alert) != 0) {
        return;
    }
    SettingsUsageEvent event;
    event.action = TelemetryAction::openLoginItemsSettings;
    event.trigger = TelemetryTrigger::alert;
    event.startedAt = now();
    report(event);
    if (dependencies_.openLoginItemsSettings) {
        dependencies_.openLoginItemsSettings();
    }
}

}  // namespace tavrolin
