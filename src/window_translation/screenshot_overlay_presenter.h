#pragma once

#include <QString>

#include <functional>

namespace tavrolin {

// The window-translation overlay as the application shell drives it: the loading frame and the
// translated image laid over the front window. The overlay itself is built by the window
// translation subsystem; the shell holds it through this interface.
class ScreenshotOverlayPresenter {
public:
    virtual ~ScreenshotOverlayPresenter() = default;

    // Seconds an overlay stays on screen at least before a dismissal takes effect (never
    // negative: callers raise negative settings to 0).
    virtual double minimumDisplayDuration() const = 0;
    virtual void setMinimumDisplayDuration(double seconds) = 0;

    // Called on the main thread once the overlay (or a loading frame cleared with notice) closed.
    virtual void setOnDismiss(std::function<void()> onDismiss) = 0;

    // Turns an overlay on screen into its loading state with the text (in the server style when
    // usesServer); nothing when no overlay is on screen.
    virtual void showLoading(const QString& message, bool usesServer) = 0;
};

}  // namespace tavrolin
