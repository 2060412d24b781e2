#pragma once

// What a command sees of the application: the settings, the usage events, the alerts, the
// loading card and the overlay, the running state, the share prompt and the few things of the
// desktop every command asks. The application delegate is the one real host; tests of a command
// give it a fake one.

#include "core/accessibility_permission.h"
#include "core/app_settings_store.h"
#include "core/capture_workflow_error.h"
#include "core/telemetry_event_reporter.h"

#include <QCoroTask>
#include <QIcon>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

namespace tavrolin {

class AppRunningState;
class FocusedFieldLoadingTargetResolver;
class Scheduler;
class ScreenshotOverlayPresenter;

// The alert text of an error a command met: its description, and after a blank line its
// recovery suggestion when it offers one (an empty suggestion still adds the blank line).
QString commandErrorMessage(const std::exception& error);
QString commandErrorMessage(const std::exception_ptr& error);

// The modal alerts a command may end in. Each returns once the user has answered.
class CommandAlerts {
public:
    virtual ~CommandAlerts() = default;
    virtual void showAccessibilitySetupAlert() = 0;
    virtual void showScreenRecordingSetupAlert(const CaptureWorkflowError& error,
                                               const QString& shortcutDisplayName) = 0;
    virtual void showTranslationSetupAlert(const CaptureWorkflowError& error,
                                           std::function<void()> retryAction = {}) = 0;
    virtual void showOnlineFeaturesDisabledAlert(std::function<void()> retryAction = {}) = 0;
    // Null icons mean the application's alert icon.
    virtual void showInformationalAlert(const QString& title, const QString& message, const QIcon& icon = {}) = 0;
    virtual void showAlert(const QString& title, const QString& message, const QIcon& icon = {}) = 0;
};

// Whether other applications' fields may be read now. requestIfNeeded also switches on an
// accessibility bus that stands off (the commands that act on the field); askOnly leaves it as it
// is (the Translate command's first look).
enum class AccessibilityTrustCheck { askOnly, requestIfNeeded };

class CommandHost {
public:
    virtual ~CommandHost() = default;

    virtual AppSettingsStore& settingsStore() const = 0;
    virtual TelemetryEventReporter& telemetryReporter() = 0;
    virtual CommandAlerts& alerts() = 0;
    // Which command runs; a command's flag is set only by holding the run begin() answers.
    virtual AppRunningState& runningState() = 0;

    // The loading card and the window overlay share one presenter; null while the application has
    // none.
    virtual ScreenshotOverlayPresenter* screenshotOverlayPresenter() = 0;
    virtual FocusedFieldLoadingTargetResolver& focusedFieldLoadingTargetResolver() = 0;

    // Counts a success toward the share prompt; answers whether a prompt fell due (it then shows
    // at the next close of the overlay or the popup).
    virtual bool recordSuccess(TelemetryTrigger trigger) = 0;
    // A finished text the field did not take, offered for copying; a blank one shows nothing.
    // `fieldChangedMeanwhile`: the user typed on in the field while the command ran, and keeps
    // the keyboard (so does a user who typed anywhere in the last second as the text comes).
    virtual void presentFocusedTextCopyFallback(const QString& text, bool fieldChangedMeanwhile,
                                                const std::optional<QString>& reason = std::nullopt) = 0;

    // notTrusted without an accessibility bus or when the check fails; noAnswer when the bus
    // exists but did not answer (the command then fails quietly).
    virtual QCoro::Task<AccessibilityPermissionStatus> accessibilityAccess(AccessibilityTrustCheck check) = 0;
    // An alert's Try Again: `start` runs from the event loop, once the run that showed the alert
    // has ended (its flag would refuse a start made while the alert returns) and the focus the
    // alert held is back with another program.
    virtual void startAfterCurrentRun(std::function<void()> start) = 0;
    // One-shot timers (virtual time in tests).
    virtual Scheduler& scheduler() = 0;
};

}  // namespace tavrolin
