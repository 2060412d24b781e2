#pragma once

#include "core/app_settings_providing.h"
#include "platform/screen_capture_permission.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/screen_capture_service.h"
#include "window_translation/screenshot_translation_service.h"

#include <QCoroTask>
#include <QImage>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// One window translated: what was captured, and the translated image.
struct CaptureResult {
    QString appName;
    std::optional<QString> windowTitle;
    QImage originalImage;
    QImage image;
    TranslationPreviewState translationState;
    QRectF windowBounds;
    std::optional<std::int32_t> ownerPID;
};

// Drives one window translation from capture to translated image: checks the capture
// permission (none: not checked), lets one capture run at a time, captures the target and
// translates it into the user's native language. GUI thread only.
class ScreenshotController final {
public:
    ScreenshotController(CaptureTargetResolver captureTargetResolver, ScreenCaptureService screenCaptureService,
                         ScreenshotTranslationService screenshotTranslationService,
                         std::shared_ptr<const AppSettingsProviding> settingsStore,
                         std::shared_ptr<ScreenCapturePermission> permission);

    // Throws CaptureWorkflowError captureAlreadyInProgress while another capture runs,
    // screenshotPermissionDenied or screenshotPermissionRequiresRestart, and passes the capture
    // service's and the translation's errors on unchanged. `onWindowCaptured` sees the capture
    // before the translation starts.
    QCoro::Task<CaptureResult> capture(CaptureTarget target,
                                       std::function<void(const WindowCapture&)> onWindowCaptured = {});

    const CaptureTargetResolver& captureTargetResolver() const { return captureTargetResolver_; }
    const ScreenCaptureService& screenCaptureService() const { return screenCaptureService_; }
    // Replaced or changed by the settings (the second language); a capture in progress keeps
    // the one it started with.
    ScreenshotTranslationService& screenshotTranslationService() { return screenshotTranslationService_; }
    const ScreenshotTranslationService& screenshotTranslationService() const { return screenshotTranslationService_; }
    bool isCaptureInProgress() const { return *isCaptureInProgress_; }

private:
    CaptureTargetResolver captureTargetResolver_;
    ScreenCaptureService screenCaptureService_;
    ScreenshotTranslationService screenshotTranslationService_;
    std::shared_ptr<const AppSettingsProviding> settingsStore_;
    std::shared_ptr<ScreenCapturePermission> permission_;
    std::shared_ptr<bool> isCaptureInProgress_ = std::make_shared<bool>(false);
};

}  // namespace tavrolin
