#pragma once

#include "commands/alert_presenting.h"
#include "commands/command_host.h"
#include "core/app_settings.h"
#include "core/capture_workflow_error.h"
#include "core/telemetry_action.h"

#include <QIcon>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

namespace tavrolin {

// The application's modal alerts and the set-up openers they lead to: the alerts the commands
// end in, and the shell's plain ones.
class AppAlerts final : public CommandAlerts {
public:
    struct Dependencies {
        AlertPresenting* presenter = nullptr;
        // Opens a set-up pane (SystemSettingsOpener::open in the application).
        std::function<void(SystemSettingsPane)> openPane;
        // Reports a plain command usage event (no outcome, no duration).
        std::function<void(TelemetryAction, TelemetryTrigger)> reportCommand;
        // The store's current settings, and the one way to save new ones (error text or none).
        std::function<AppSettings()> currentSettings;
        std::function<std::optional<QString>(const AppSettings&, TelemetryTrigger)> saveSettings;
        // Remembers the application in front now; the answer brings it back to the front.
        std::function<std::function<void()>()> rememberFrontApplication;
    };

    explicit AppAlerts(Dependencies dependencies);

    void showAccessibilitySetupAlert() override;
    void showScreenRecordingSetupAlert(const CaptureWorkflowError& error, const QString& shortcutDisplayName) override;
    void showTranslationSetupAlert(const CaptureWorkflowError& error, std::function<void()> retryAction = {}) override;
    void showOnlineFeaturesDisabledAlert(std::function<void()> retryAction = {}) override;
    // Null icons mean the application's alert icon.
    void showInformationalAlert(const QString& title, const QString& message, const QIcon& icon = {}) override;
    void showAlert(const QString& title, const QString& message, const QIcon& icon = {}) override;

    void openAccessibilitySettings(TelemetryTrigger trigger);
    void openScreenRecordingSettings(TelemetryTrigger trigger);
    // Always reported with the trigger `alert`, whoever asks.
    void openTranslationLanguageSettings();

    AlertPresenting* presenter() const { return dependencies_.presenter; }

private:
    int present(AlertStyle style, const QString& title, const QString& message, const QStringList& buttons,
                const QIcon& icon = {});
    void report(TelemetryAction action, TelemetryTrigger trigger);

    Dependencies dependencies_;
};

}  // namespace tavrolin
