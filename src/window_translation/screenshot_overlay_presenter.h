#pragma once

#include "core/app_language.h"

#include <QDateTime>
#include <QImage>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <optional>

namespace tavrolin {

// The window-translation overlay as the application shell drives it: the loading frame and the
// translated image laid over the front window. The overlay itself is built by the window
// translation subsystem; the shell holds it through this interface. Main thread only.
class ScreenshotOverlayPresenter {
public:
    virtual ~ScreenshotOverlayPresenter() = default;

    // Seconds an overlay stays on screen at least before a dismissal takes effect. Setters clamp
    // with clampedDisplayDuration, so NaN and negatives read back as 0.
    virtual double minimumDisplayDuration() const = 0;
    virtual void setMinimumDisplayDuration(double seconds) = 0;

    // Called on the main thread once the overlay (or a loading frame cleared with notice) closed.
    virtual void setOnDismiss(std::function<void()> onDismiss) = 0;

    // Replaces whatever is shown by a fresh, click-through loading card over the window
    // (window-list coordinates, logical pixels). Leaving a translated image this way counts as a
    // dismissal. Bounds on no display show nothing.
    virtual void presentLoading(const QRectF& windowBounds, std::optional<qint32> ownerPID, const QString& message,
                                bool usesServer) = 0;

    // Turns an overlay on screen into its loading state with the text (in the server style when
    // usesServer); nothing when no overlay is on screen.
    virtual void showLoading(const QString& message, bool usesServer) = 0;

    // Shows the translated picture over the window, interactive, with the language badge, the
    // frame and the watermark. Answers false (after clearing without notice) when the bounds lie
    // on no display and nothing was shown.
    virtual bool presentImage(const QImage& image, const QRectF& windowBounds, std::optional<qint32> ownerPID,
                              const QString& translationDisplayName,
                              const TranslationLanguagePair& selectedLanguagePair, bool onlineFeaturesEnabled,
                              std::function<void(TranslationLanguagePair)> onTranslationRequested) = 0;

    // Removes everything at once; calls the dismissal callback when notify is true.
    virtual void clear(bool notify) = 0;
    // Clears now, or at the end of the minimum display time when it has not passed yet.
    virtual void attemptClear(bool notify) = 0;

    // Whether a loading card or an image is on screen.
    virtual bool hasOverlayPanel() const = 0;
};

// A display duration fit for a timer: NaN and negatives become 0, anything above a minute a
// minute.
inline double clampedDisplayDuration(double seconds) {
    constexpr double maximum = 60.0;
    if (!(seconds > 0)) {
        return 0;
    }
    return seconds > maximum ? maximum : seconds;
}

// How long a dismissal asked for at `now` still waits for the minimum display time of what
// appeared at `appeared`: zero when it may close at once (nothing shown, no minimum, or the time
// has passed). A clock set back makes the elapsed time negative; the wait then never exceeds the
// minimum, so neither an early close nor one that never comes.
inline std::chrono::milliseconds remainingDisplayTime(const std::optional<QDateTime>& appeared, const QDateTime& now,
                                                      double minimumSeconds) {
    if (!appeared || minimumSeconds <= 0) {
        return std::chrono::milliseconds(0);
    }
    const double elapsed = static_cast<double>(appeared->msecsTo(now)) / 1000.0;
    if (elapsed >= minimumSeconds) {
        return std::chrono::milliseconds(0);
    }
    const double remaining = std::clamp(minimumSeconds - elapsed, 0.0, minimumSeconds);
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(remaining * 1000.0)));
}

}  // namespace tavrolin
