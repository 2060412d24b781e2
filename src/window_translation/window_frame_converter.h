#pragma once

#include <QRectF>

#include <optional>
#include <vector>

namespace tavrolin {

// Places frames from the window list on a display. Window frames and panel frames share one
// top-left coordinate system here, so converting between them is a translation from a
// display's window-list frame to its screen frame (the identity when the two agree).
class WindowFrameConverter {
public:
    struct DisplayLayout {
        // The display in window-list coordinates (logical pixels).
        QRectF quartzFrame;
        // The same display in the coordinates panels are placed in (Qt screen geometry).
        QRectF appKitFrame;

        bool operator==(const DisplayLayout&) const = default;
    };

    WindowFrameConverter() = delete;

    // One layout per screen, in the order of the screen list. GUI thread.
    static std::vector<DisplayLayout> currentDisplays();

    // The display holding the rectangle's top-left corner; else the one sharing the largest
    // area with it (the first on ties, also when it touches none); none for an empty list.
    static std::optional<DisplayLayout> preferredDisplay(const QRectF& frame,
                                                         const std::vector<DisplayLayout>& displays);

    // The frame in panel coordinates on its preferred display; none for a frame without width
    // or height, or without any display.
    static std::optional<QRectF> appKitFrame(const QRectF& frame, const std::vector<DisplayLayout>& displays);
};

}  // namespace tavrolin
