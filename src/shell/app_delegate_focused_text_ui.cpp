// How a focused-field command that failed ends: one alert (or nothing) chosen by the error's
// case, and the copy window for a finished text the field did not take.
#include "shell/app_delegate.h"

#include "shell/app_alerts.h"

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

// Which special alerts one command shows; every case without one ends in its failure alert.
struct ErrorRows {
    QString commandName;  // "Write Message": "Cannot Write Message", "Write Message failed"
    void (AppDelegate::*start)(TelemetryTrigger);
    bool unsupportedLanguage = false;  // "Language Not Supported Yet"
    bool translationSetup = false;     // a missing pair or an unreachable translation server
    bool textTooLong = false;          // "Text Too Long"
    bool screenRecording = false;      // Rewrite Message reads the front window
    bool onlineFeatures = true;        // the online-features alert with a retry
};

void handleError(AppDelegate& delegate, const CaptureWorkflowError& error, const ErrorRows& rows,
                 const QString& shortcutDisplayName = {}) {
    AppAlerts& alerts = delegate.alerts();
    const QPointer<AppDelegate> self(&delegate);
    const auto retry = [self, start = rows.start] {
        if (self) {
            self->startAfterCurrentRun([self, start] {
                if (self) {
                    (self.data()->*start)(TelemetryTrigger::alert);
                }
            });
        }
    };
    switch (error.errorCase()) {
    case Case::translationSourceLanguageUnsupported:
        if (rows.unsupportedLanguage) {
            alerts.showInformationalAlert(QStringLiteral("Language Not Supported Yet"), makeMessage(error));
            return;
        }
        break;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        if (rows.translationSetup) {
            alerts.showTranslationSetupAlert(error, retry);
            return;
        }
        break;
    case Case::textExceedsCharacterLimit:
        if (rows.textTooLong) {
            alerts.showInformationalAlert(QStringLiteral("Text Too Long"), makeMessage(error));
            return;
        }
        break;
    case Case::screenshotPermissionDenied:
    case Case::screenshotPermissionRequiresRestart:
        if (rows.screenRecording) {
            alerts.showScreenRecordingSetupAlert(error, shortcutDisplayName);
            return;
        }
        break;
    case Case::accessibilityPermissionDenied:
        alerts.showAccessibilitySetupAlert();
        return;
    case Case::noFocusedTextField:
        // No field was found: the user sees nothing, the empty text opens no window.
        delegate.presentFocusedTextCopyFallback(QString());
        return;
    case Case::focusedTextFieldEmpty:
    case Case::focusedTextFieldReadOnly:
        alerts.showInformationalAlert(QStringLiteral("Cannot ") + rows.commandName, makeMessage(error));
        return;
    case Case::onlineFeaturesDisabled:
        if (rows.onlineFeatures) {
            alerts.showOnlineFeaturesDisabledAlert(retry);
            return;
        }
        break;
    default:
        break;
    }
    alerts.showAlert(rows.commandName + QStringLiteral(" failed"), makeMessage(error));
}

}  // namespace

void AppDelegate::handleMessageTranslationError(const CaptureWorkflowError& error) {
    handleError(
        *this, error,
        {QStringLiteral("Write Message"), &AppDelegate::startMessageTranslation, true, true, true, false, true});
}

void AppDelegate::handleTextWritingError(const CaptureWorkflowError& error, const QString& shortcutDisplayName) {
    handleError(*this, error,
                {QStringLiteral("Rewrite Message"), &AppDelegate::startTextWriting, false, false, false, true, true},
                shortcutDisplayName);
}

void AppDelegate::handleTextEditingError(const CaptureWorkflowError& error) {
    handleError(*this, error,
                {QStringLiteral("Edit Message"), &AppDelegate::startTextEditing, false, false, false, false, true});
}

void AppDelegate::handleFlipLanguageError(const CaptureWorkflowError& error) {
    handleError(*this, error,
                {QStringLiteral("Flip Language"), &AppDelegate::startFlipLanguage, true, true, true, false, false});
}

void AppDelegate::handleCreatePromptError(const CaptureWorkflowError& error) {
    handleError(*this, error,
                {QStringLiteral("Create Prompt"), &AppDelegate::startCreatePrompt, false, false, true, false, true});
}

void AppDelegate::presentFocusedTextCopyFallback(const QString& text) {
    // Trimmed only to see whether anything is there: the window gets the text as it was made.
    if (text.trimmed().isEmpty()) {
        return;
    }
    presentDictationScratchpadCopyOnly(text);
}

}  // namespace tavrolin
