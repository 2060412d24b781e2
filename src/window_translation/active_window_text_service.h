#pragma once

#include "language/active_window_text_providing.h"
#include "platform/screen_capture_permission.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/recognized_text_block.h"
#include "window_translation/screen_capture_service.h"
#include "window_translation/text_recognizing.h"

#include <QImage>
#include <QRegion>

#include <functional>
#include <memory>

namespace tavrolin {

// Reads the text of the front window: captures it (the display when no other application's
// window is in front), recognises its text and answers the lines joined with line feeds,
// together with the window's bounds and process. Start it on the GUI thread; the grab and the
// recognition run on the thread pool. Keeps no state between calls.
class ActiveWindowTextService final : public ActiveWindowTextProviding {
public:
    // The parts of the screen our own windows cover, in Qt's global coordinates.
    using OwnWindowRegion = std::function<QRegion()>;

    // Without `ownWindowRegion`, the application's visible top-level windows.
    ActiveWindowTextService(CaptureTargetResolver captureTargetResolver,
                            std::shared_ptr<const ScreenCaptureService> screenCaptureService,
                            std::shared_ptr<const TextRecognizing> textRecognitionService,
                            std::shared_ptr<ScreenCapturePermission> permission, OwnWindowRegion ownWindowRegion = {});

    // Throws CaptureWorkflowError (screenshotPermissionDenied, screenshotPermissionRequiresRestart,
    // the capture's and the resolver's cases) and the capture's and recogniser's own errors.
    QCoro::Task<ActiveWindowTextSnapshot> readActiveWindowText() override;
    // The recognizer loads the languages of an automatic source.
    void prepare() override;

    // The blocks' texts in order, joined with "\n"; nothing trimmed, nothing left out.
    static QString joinedText(const RecognizedTextResult& result);
    // Paints over the part of `image` (which shows `imageBounds`) that `region` covers, so that
    // nothing of our own windows is read as the front window's text.
    static void blankRegion(QImage& image, const QRectF& imageBounds, const QRegion& region);
    // Where this application's visible top-level windows are, each by its shape when it has one.
    static QRegion visibleApplicationWindows();

private:
    CaptureTargetResolver captureTargetResolver_;
    std::shared_ptr<const ScreenCaptureService> screenCaptureService_;
    std::shared_ptr<const TextRecognizing> textRecognitionService_;
    std::shared_ptr<ScreenCapturePermission> permission_;
    OwnWindowRegion ownWindowRegion_;
};

}  // namespace tavrolin
