#include "window_translation/screenshot_controller.h"

#include "core/capture_workflow_error.h"

#include <utility>

namespace tavrolin {

namespace {

// Clears the flag on every way out, an exception included. The flag is shared: a capture can
// end after its controller is gone.
class InProgressScope {
public:
    explicit InProgressScope(std::shared_ptr<bool> flag) : flag_(std::move(flag)) { *flag_ = true; }
    ~InProgressScope() { *flag_ = false; }
    InProgressScope(const InProgressScope&) = delete;
    InProgressScope& operator=(const InProgressScope&) = delete;

private:
    std::shared_ptr<bool> flag_;
};

}  // namespace

ScreenshotController::ScreenshotController(CaptureTargetResolver captureTargetResolver,
                                           ScreenCaptureService screenCaptureService,
                                           ScreenshotTranslationService screenshotTranslationService,
                                           std::shared_ptr<const AppSettingsProviding> settingsStore,
                                           std::shared_ptr<ScreenCapturePermission> permission)
    : captureTargetResolver_(std::move(captureTargetResolver)),
      screenCaptureService_(std::move(screenCaptureService)),
      screenshotTranslationService_(std::move(screenshotTranslationService)),
      settingsStore_(std::move(settingsStore)),
      permission_(std::move(permission)) {}

QCoro::Task<CaptureResult> ScreenshotController::capture(CaptureTarget target,
                                                         std::function<void(const WindowCapture&)> onWindowCaptured) {
    if (*isCaptureInProgress_) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::captureAlreadyInProgress);
    }
    InProgressScope inProgress(isCaptureInProgress_);
    // The capture runs on copies of its services: the program may quit, destroying this
    // controller, while the capture waits for the screen or the recognizer.
    const ScreenCaptureService screenCapture = screenCaptureService_;
    const ScreenshotTranslationService translation = screenshotTranslationService_;
    const std::shared_ptr<const AppSettingsProviding> settingsStore = settingsStore_;

    if (permission_ && !permission_->preflight()) {
        if (!permission_->request()) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::screenshotPermissionDenied);
        }
        if (!permission_->preflight()) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::screenshotPermissionRequiresRestart);
        }
    }

    const auto nativeLanguage = [&settingsStore] {
        return settingsStore ? settingsStore->settings().targetLanguage : AppLanguage::english;
    };
    // The recognizer and the translation load while the window is taken; the language is read
    // again once it is, so the translation follows a change made meanwhile.
    translation.prepare(nativeLanguage());
    WindowCapture captured = co_await screenCapture.capture(std::move(target));
    if (onWindowCaptured) {
        onWindowCaptured(captured);
    }
    TranslatedScreenshot translated = co_await translation.translateText(
        captured.image, TranslationLanguagePair{AppLanguage::automatic, nativeLanguage()});
    co_return CaptureResult{captured.appName,
                            captured.windowTitle,
                            std::move(captured.image),
                            std::move(translated.image),
                            std::move(translated.translationState),
                            captured.windowBounds,
                            captured.ownerPID};
}

}  // namespace tavrolin
