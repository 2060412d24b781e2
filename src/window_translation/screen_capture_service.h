#pragma once

#include "platform/screen_capturing.h"
#include "window_translation/capture_target_resolver.h"

#include <QCoroTask>
#include <QImage>
#include <QRect>

#include <memory>
#include <optional>

namespace tavrolin {

// The pixels of a capture target and what they show.
struct WindowCapture {
    QImage image;
    // The window owner's name, or "Screen" for a whole display.
    QString appName;
    // The window's title, or "Full Screen" for a whole display.
    std::optional<QString> windowTitle;
    // The target's detected bounds (for a whole display, the captured area).
    QRectF windowBounds;
    // Absent for a whole display.
    std::optional<std::int32_t> ownerPID;
};

// Captures the front window exactly as detected: the window itself when its frame matches the
// detected bounds, else the matching region of its display; or a whole display.
class ScreenCaptureService {
public:
    // How far (in points) a frame may differ from the detected bounds and still be the same.
    static constexpr double frameTolerance = 2;

    explicit ScreenCaptureService(std::shared_ptr<ScreenCapturing> capturing);

    // Start it on the GUI thread; the grab runs on the thread pool. Throws CaptureWorkflowError
    // (windowNotShareable, noShareableDisplayFound, emptyCaptureImage) and ScreenCaptureFailure.
    QCoro::Task<WindowCapture> capture(CaptureTarget target) const;

    // The window of the snapshot: by id; else by owner and matching title or frame.
    static std::optional<ShareableWindow> resolveShareableWindow(const ActiveWindowSnapshot& snapshot,
                                                                 const std::vector<ShareableWindow>& windows);
    // Titles compare trimmed, ignoring case and accents; a missing title is an empty one.
    static bool titlesMatch(const std::optional<QString>& a, const std::optional<QString>& b);
    // Whether each of x, y, width and height differ by at most frameTolerance.
    static bool framesMatch(const QRectF& a, const QRectF& b);
    // The display sharing the most area with the bounds; the first on ties.
    static std::optional<ShareableDisplay> resolveDisplay(const QRectF& bounds,
                                                          const std::vector<ShareableDisplay>& displays);
    // The display under the pointer, else the primary one, else the first.
    static std::optional<ShareableDisplay> resolveDisplay(const ShareableContent& content);
    static CaptureConfiguration makeConfiguration(const CaptureContentInfo& info, bool singleWindow);
    // The pixels of `bounds` in an image of `imageSize` that shows `info.contentRect`; none when
    // nothing of it is in the image.
    static std::optional<QRect> cropRect(const QRectF& bounds, const CaptureContentInfo& info, const QSize& imageSize);

private:
    QCoro::Task<QImage> captureImage(CaptureContentFilter filter, CaptureConfiguration configuration) const;
    QCoro::Task<WindowCapture> captureWindow(ActiveWindowSnapshot snapshot, ShareableContent content) const;
    QCoro::Task<WindowCapture> captureDisplayRegion(ActiveWindowSnapshot snapshot, ShareableContent content) const;
    QCoro::Task<WindowCapture> captureDisplay(ShareableContent content) const;

    std::shared_ptr<ScreenCapturing> capturing_;
};

}  // namespace tavrolin
