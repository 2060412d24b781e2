// Applying the settings to the running services.
#include "shell/app_delegate.h"

#include "core/app_log.h"
#include "shell/launch_at_login_controller.h"
#include "shell/selection_popup_seams.h"
#include "window_translation/screenshot_overlay_presenter.h"

namespace tavrolin {

void AppDelegate::configureSettings() {
    const AppSettings settings = settingsStore_->settings();
    const double minimumDisplay = settings.overlayMinimumDisplayDuration < 0 ? 0.0 : settings.overlayMinimumDisplayDuration;
    if (ScreenshotOverlayPresenter* overlay = screenshotOverlayPresenter()) {
        overlay->setMinimumDisplayDuration(minimumDisplay);
    }
    if (SelectionTranslationPopupPresenter* popup = selectionTranslationPopupPresenter()) {
        popup->setMinimumDisplayDuration(minimumDisplay);
    }
    if (SelectionPopupTriggerController* trigger = selectionPopupTriggerController()) {
        trigger->setAutoDismissDelay(settings.selectionPopupAutoDismissDelay);
    }
    onlineFeaturePolicy_->setOnlineFeaturesEnabled(settings.onlineFeaturesEnabled);
    // At launch the login entry follows the setting quietly: a failure shows nothing.
    try {
        launchAtLoginController_->sync(settings.launchAtLoginEnabled);
    } catch (const LaunchAtLoginError& error) {
        AppLog::app().error(QStringLiteral("launch at login sync failed: %1").arg(error.description()));
    }
}

}  // namespace tavrolin
