// The settings window and the diagnostics export it starts.
#include "commands/app_alerts.h"
#include "core/app_metadata.h"
#include "core/device_identifier.h"
#include "language/translation_setup_support.h"
#include "platform/keyboard_layout_reading.h"
#include "settings_window/settings_window_controller.h"
#include "shell/app_actions.h"
#include "shell/app_delegate.h"
#include "shell/error_messages.h"
#include "shell/hot_key_manager.h"
#include "shell/system_settings_opener.h"

#include <QApplication>

namespace tavrolin {

SettingsWindowController* AppDelegate::settingsWindowController() const {
    return settingsWindowController_.data();
}

void AppDelegate::presentSettings(TelemetryTrigger trigger) {
    reportCommand(TelemetryAction::openSettings, trigger);
    if (!settingsWindowController_) {
        const QPointer<AppDelegate> self(this);
        auto onSave = [self](const AppSettings& settings) -> std::optional<QString> {
            if (!self) {
                return std::nullopt;
            }
            return self->saveSettings(settings, TelemetryTrigger::settings);
        };
        auto onExportDiagnostics = [self] {
            if (self) {
                self->exportDiagnostics();
            }
        };
        auto onClose = [self] {
            if (!self) {
                return;
            }
            // Called from the window's own close handling: the controller goes later.
            if (SettingsWindowController* controller = self->settingsWindowController_.data()) {
                self->settingsWindowController_.clear();
                controller->deleteLater();
            }
            self->settingsShortcutRecordingChanged(false);
        };
        auto onRecording = [self](bool recording) {
            if (self) {
                self->settingsShortcutRecordingChanged(recording);
            }
        };
        SettingsViewServices services;
        if (factories().makeDeviceTranslationClient) {
            // The device's engine only: the window's notices never ask the server.
            services.localTranslationSetupSupport =
                services_->makeTranslationSetupSupport(factories().makeDeviceTranslationClient());
        }
        services.openTranslationSetup = [self] {
            if (self) {
                self->systemSettingsOpener().open(SystemSettingsPane::translationLanguages);
            }
        };
        services.deviceID = [identifier = factories().deviceIdentifier] {
            return identifier ? identifier->currentResolution().idText() : QString();
        };
        services.appVersion = [] { return AppMetadata::appVersion(); };
        services.keyboard = factories().keyboardLayoutReader;
        settingsWindowController_ =
            new SettingsWindowController(settingsStore().settings(), std::move(onSave), std::move(onExportDiagnostics),
                                         std::move(onClose), std::move(onRecording), std::move(services), this);
    }
    settingsWindowController_->showWindow();
}

void AppDelegate::exportDiagnostics() {
    std::erase_if(diagnosticsExportTasks_, [](const QCoro::Task<void>& task) { return task.isReady(); });
    diagnosticsExportTasks_.push_back(appActions().exportDiagnostics());
}

void AppDelegate::settingsShortcutRecordingChanged(bool recording) {
    if (recording) {
        services_->hotKeyManager().suspend();
        return;
    }
    for (const CaptureWorkflowError& error : services_->hotKeyManager().resume()) {
        alerts().showAlert(QStringLiteral("Could not register shortcuts"), makeMessage(error));
    }
}

}  // namespace tavrolin
