#include "window_translation/screenshot_controller.h"

#include "core/capture_workflow_error.h"

#include <utility>

namespace tavrolin {

namespace {

// Clears the flag on every way out, an exception included.
class InProgressScope {
public:
    explicit InProgressScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~InProgressScope() { flag_ = false; }
    InProgressScope(const InProgressScope&) = delete;
    InProgressScope& operator=(const InProgressScope&) = delete;

private:
    bool& flag_;
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
    if (isCaptureInProgress_) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::captureAlreadyInProgress);
    }
    InProgressScope inProgress(isCaptureInProgress_);

    if (permission_ && !permission_->preflight()) {
        if (!permission_->request()) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::screenshotPermissionDenied);
        }
        if (!permission_->preflight()) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::screenshotPermissionRequiresRestart);
        }
    }

    WindowCapture captured = co_await screenCaptureService_.capture(std::move(target));
    if (onWindowCaptured) {
        onWindowCaptured(captured);
    }
    const AppLanguage nativeLanguage =
        settingsStore_ ? settingsStore_->settings().targetLanguage : AppLanguage::english;
    TranslatedScreenshot translated = co_await screenshotTranslationService_.translateText(
        captured.image, TranslationLanguagePair{AppLanguage::automatic, nativeLanguage});
    co_return CaptureResult{captured.appName,
                            captured.windowTitle,
                            std::move(captured.image),
                            std::move(translated.image),
                            std::move(translated.translationState),
                            captured.windowBounds,
                            captured.ownerPID};
}

}  // namespace tavrolin
