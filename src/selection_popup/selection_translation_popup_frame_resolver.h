#pragma once

#include "window_translation/window_frame_converter.h"

#include <QRectF>
#include <QSizeF>

#include <optional>
#include <vector>

namespace tavrolin {

// Where the selection result popup may go and how large it may be: centred on the window the
// user selected in, inside the usable area of that window's screen. Frames are global
// top-left screen coordinates. Each fixed value, when given, replaces the live one (tests);
// everything else reads the current screens at every call.
struct SelectionTranslationPopupFrameResolver {
    std::optional<std::vector<WindowFrameConverter::DisplayLayout>> fixedDisplays;
    std::optional<QRectF> fixedFallbackVisibleFrame;
    std::optional<std::vector<QRectF>> fixedVisibleFrames;

    // The geometry of one call.
    struct ScreenLayout {
        std::vector<WindowFrameConverter::DisplayLayout> displays;
        // The primary screen's usable area, else 1024 × 768 at the origin.
        QRectF fallbackVisibleFrame;
        // Every screen's usable area, never empty.
        std::vector<QRectF> visibleFrames;
    };

    // What the popup is centred on and the area it must stay in.
    struct Anchor {
        QRectF frame;
        QRectF visibleFrame;

        bool operator==(const Anchor&) const = default;
    };

    ScreenLayout currentScreenLayout() const;

    // The area of the anchor (see anchor()) less 8 on every side, never negative.
    QSizeF maximumPopupSize(const std::optional<QRectF>& fallbackWindowFrame,
                            const std::optional<QRectF>& detectedActiveWindowFrame,
                            const std::optional<QRectF>& screenHintFrame) const;

    // The first usable of the caller's window, the window in front now and the selected text's
    // field. A window is the anchor itself inside its screen's area; the field only picks the
    // screen, whose whole area is then the anchor. Without any, the primary screen's area.
    static Anchor anchor(const std::optional<QRectF>& fallbackWindowFrame,
                         const std::optional<QRectF>& detectedActiveWindowFrame,
                         const std::optional<QRectF>& screenHintFrame, const ScreenLayout& layout);

    // The frame on its display in panel coordinates; none for a frame that is absent, not
    // finite, without width or height, or on no display.
    static std::optional<QRectF> appKitFrame(const std::optional<QRectF>& frame,
                                             const std::vector<WindowFrameConverter::DisplayLayout>& displays);

    // The area holding the frame's centre, else the one it overlaps most (the first on ties).
    static QRectF visibleFrame(const QRectF& frame, const ScreenLayout& layout);

    // `size` centred on `anchorFrame` (whole pixels, halves away from zero), then kept 8 inside
    // `visibleFrame`. Too wide: 8 from the left edge; too tall: 8 above the bottom edge.
    static QRectF centeredIn(const QRectF& anchorFrame, const QRectF& visibleFrame, const QSizeF& size);
};

}  // namespace tavrolin
