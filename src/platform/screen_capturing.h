#pragma once

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <variant>
#include <vector>

namespace tavrolin {

// A window that can be captured. `frame` uses the same coordinates and extent as the window
// list's bounds (top-left origin, logical pixels, frame included).
struct ShareableWindow {
    std::uint32_t windowID = 0;
    std::optional<std::int32_t> owningApplicationPID;
    std::optional<QString> title;
    QRectF frame;

    bool operator==(const ShareableWindow&) const = default;
};

// One monitor. `frame` in logical pixels (Qt's screen geometry).
struct ShareableDisplay {
    std::uint32_t displayID = 0;
    QRectF frame;

    bool operator==(const ShareableDisplay&) const = default;
};

// What can be captured right now, plus the screen facts the display choice needs.
struct ShareableContent {
    std::vector<ShareableWindow> windows;
    std::vector<ShareableDisplay> displays;
    // The pointer (logical pixels) and the primary display, when known.
    std::optional<QPointF> pointerLocation;
    std::optional<std::uint32_t> mainDisplayID;
};

// What to capture: one window on its own, or one display. An X11 grab takes what the screen
// shows: windows of this application that are on screen at that moment are in the pixels, so
// callers capture before they show their own panels.
struct WindowCaptureFilter {
    ShareableWindow window;
    bool operator==(const WindowCaptureFilter&) const = default;
};
struct DisplayCaptureFilter {
    ShareableDisplay display;
    bool operator==(const DisplayCaptureFilter&) const = default;
};
using CaptureContentFilter = std::variant<WindowCaptureFilter, DisplayCaptureFilter>;

// The area a filter captures (logical pixels) and how many device pixels make one logical pixel
// there.
struct CaptureContentInfo {
    QRectF contentRect;
    double pointPixelScale = 1;

    bool operator==(const CaptureContentInfo&) const = default;
};

struct CaptureConfiguration {
    int width = 1;
    int height = 1;
    int queueDepth = 1;
    bool showsCursor = false;
    bool bestResolution = true;
    bool ignoreShadowsSingleWindow = false;
    bool ignoreGlobalClipSingleWindow = false;

    bool operator==(const CaptureConfiguration&) const = default;
};

// A failure of the capture facility itself (no display connection, a refused grab). It reaches
// the caller unchanged.
class ScreenCaptureFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The desktop's capture facility. `shareableContent()` is called on the GUI thread (it reads
// the screen list); `contentInfo()` and `captureImage()` may run on any thread.
class ScreenCapturing {
public:
    virtual ~ScreenCapturing() = default;
    // Throws ScreenCaptureFailure.
    virtual ShareableContent shareableContent() = 0;
    virtual CaptureContentInfo contentInfo(const CaptureContentFilter& filter) = 0;
    // The pixels of the filter's content at the configured size (device pixels, the image
    // carrying the pixel ratio); a null image when nothing of it is on screen. Throws
    // ScreenCaptureFailure.
    virtual QImage captureImage(const CaptureContentFilter& filter, const CaptureConfiguration& configuration) = 0;
};

}  // namespace tavrolin
