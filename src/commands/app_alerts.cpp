#include "commands/app_alerts.h"

#include "core/app_metadata.h"
#include "core/linux_wording.h"

namespace tavrolin {

namespace {

const QString kOpenSettings = QStringLiteral("Open Settings");
const QString kOK = QStringLiteral("OK");

}  // namespace

AppAlerts::AppAlerts(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

int AppAlerts::present(AlertStyle style, const QString& title, const QString& message, const QStringList& buttons,
                       const QIcon& icon) {
    Alert alert{style, title, message, icon.isNull() ? AppMetadata::alertIcon() : icon, buttons};
    return dependencies_.presenter->present(alert);
}

void AppAlerts::report(TelemetryAction action, TelemetryTrigger trigger) {
    if (dependencies_.reportCommand) {
        dependencies_.reportCommand(action, trigger);
    }
}

void AppAlerts::showAccessibilitySetupAlert() {
    const QString message = linuxWording(
        u"Tavrolin needs Accessibility access to read and replace text in other apps.\n\nOpen System Settings > "
        u"Privacy & Security > Accessibility, turn on Tavrolin, then try the shortcut again.");
    if (present(AlertStyle::informational, QStringLiteral("Enable Accessibility Access"), message,
                {kOpenSettings, kOK}) == 0) {
        openAccessibilitySettings(TelemetryTrigger::alert);
    }
}

void AppAlerts::showScreenRecordingSetupAlert(const CaptureWorkflowError& error, const QString& shortcutDisplayName) {
    QString title;
    QString message;
    switch (error.errorCase()) {
    case CaptureWorkflowError::Case::screenshotPermissionDenied:
        title = QStringLiteral("Finish Screen Recording Setup");
        message = linuxWording(
                      u"macOS showed the permission prompt because screen capture is not set up yet.\n\n"
                      u"To finish setup:\n 1. Open System Settings > Privacy & Security > Screen & System "
                      u"Audio Recording\n 2. Turn on Tavrolin\n 3. If macOS asks, quit and reopen "
                      u"Tavrolin\n 4. Press %1 again")
                      .arg(shortcutDisplayName);
        break;
    case CaptureWorkflowError::Case::screenshotPermissionRequiresRestart:
        title = QStringLiteral("Restart Tavrolin Once");
        message = linuxWording(
                      u"Screen Recording access was granted, but macOS usually needs the app to restart once "
                      u"before capture starts working.\n\nPlease:\n 1. Quit Tavrolin\n 2. Open it again\n "
                      u"3. Press %1 again")
                      .arg(shortcutDisplayName);
        break;
    default:
        title = QStringLiteral("Screen Recording Access Needed");
        message = commandErrorMessage(error);
        break;
    }
    if (present(AlertStyle::informational, title, message, {kOpenSettings, kOK}) == 0) {
        openScreenRecordingSettings(TelemetryTrigger::alert);
    }
}

void AppAlerts::showTranslationSetupAlert(const CaptureWorkflowError& error, std::function<void()> retryAction) {
    QString title;
    QString message;
    switch (error.errorCase()) {
    case CaptureWorkflowError::Case::serverTranslationUnavailable:
        title = QStringLiteral("Server Translation Unavailable");
        message = linuxWording(
                      u"Tavrolin could not reach the translation server.\n\nTo translate without the "
                      u"server, open macOS Settings > General > Language & Region > Translation Languages, "
                      u"then click Download next to:\n\u2022 %1\n\u2022 %2\n\nAfter the languages are "
                      u"downloaded, try the translation again.")
                      .arg(error.sourceLanguage(), error.targetLanguage());
        break;
    case CaptureWorkflowError::Case::translationLanguagePairNotInstalled:
        title = QStringLiteral("Install Translation Languages");
        message = linuxWording(
                      u"Tavrolin found %1, but macOS can\u2019t translate it to %2 yet because those "
                      u"languages are not downloaded.\n\nOpen macOS Settings > General > Language & Region "
                      u"> Translation Languages, then click Download next to:\n\u2022 %1\n\u2022 %2")
                      .arg(error.sourceLanguage(), error.targetLanguage());
        break;
    default:
        title = QStringLiteral("Translation Setup Needed");
        message = commandErrorMessage(error);
        break;
    }
    QStringList buttons{kOpenSettings};
    if (retryAction) {
        buttons << QStringLiteral("Try Again");
    }
    buttons << kOK;
    const int answer = present(AlertStyle::informational, title, message, buttons);
    if (answer == 0) {
        openTranslationLanguageSettings();
    } else if (retryAction && answer == 1) {
        retryAction();
    }
}

void AppAlerts::showOnlineFeaturesDisabledAlert(std::function<void()> retryAction) {
    std::function<void()> reactivate;
    if (dependencies_.rememberFrontApplication) {
        reactivate = dependencies_.rememberFrontApplication();
    }
    const int answer = present(AlertStyle::informational, QStringLiteral("Online Features Disabled"),
                               QStringLiteral("Enable online features in Tavrolin Settings to use server-backed "
                                              "translation, text editing, writing, updates, and usage statistics."),
                               {QStringLiteral("Turn On Online Features"), kOK});
    if (answer != 0) {
        return;
    }
    AppSettings settings = dependencies_.currentSettings();
    settings.onlineFeaturesEnabled = true;
    settings.telemetryEnabled = true;
    const std::optional<QString> error = dependencies_.saveSettings(settings, TelemetryTrigger::alert);
    if (error) {
        showAlert(QStringLiteral("Could Not Enable Online Features"), *error);
        return;
    }
    if (reactivate) {
        reactivate();
    }
    if (retryAction) {
        retryAction();
    }
}

void AppAlerts::showInformationalAlert(const QString& title, const QString& message, const QIcon& icon) {
    present(AlertStyle::informational, title, message, {kOK}, icon);
}

void AppAlerts::showAlert(const QString& title, const QString& message, const QIcon& icon) {
    present(AlertStyle::warning, title, message, {kOK}, icon);
}

void AppAlerts::openAccessibilitySettings(TelemetryTrigger trigger) {
    report(TelemetryAction::openAccessibilitySettings, trigger);
    if (dependencies_.openPane) {
        dependencies_.openPane(SystemSettingsPane::accessibility);
    }
}

void AppAlerts::openScreenRecordingSettings(TelemetryTrigger trigger) {
    report(TelemetryAction::openScreenRecordingSettings, trigger);
    if (dependencies_.openPane) {
        dependencies_.openPane(SystemSettingsPane::screenRecording);
    }
}

void AppAlerts::openTranslationLanguageSettings() {
    report(TelemetryAction::openTranslationLanguageSettings, TelemetryTrigger::alert);
    if (dependencies_.openPane) {
        dependencies_.openPane(SystemSettingsPane::translationLanguages);
    }
}

}  // namespace tavrolin
