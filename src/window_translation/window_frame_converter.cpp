#include "window_translation/window_frame_converter.h"

#include "window_translation/rect_geometry.h"

#include <QGuiApplication>
#include <QScreen>

namespace tavrolin {

std::vector<WindowFrameConverter::DisplayLayout> WindowFrameConverter::currentDisplays() {
    std::vector<DisplayLayout> layouts;
    for (const QScreen* screen : QGuiApplication::screens()) {
        // Window-list frames arrive in Qt's logical pixels (the platform layer converts X's
        // device pixels), so both frames of a screen agree.
        const QRectF frame = screen->geometry();
        layouts.push_back(DisplayLayout{frame, frame});
    }
    return layouts;
}

std::optional<WindowFrameConverter::DisplayLayout> WindowFrameConverter::preferredDisplay(
    const QRectF& frame, const std::vector<DisplayLayout>& displays) {
    for (const auto& display : displays) {
        if (geometry::contains(display.quartzFrame, frame.topLeft())) {
            return display;
        }
    }
    const DisplayLayout* best = nullptr;
    double bestArea = 0;
    for (const auto& display : displays) {
        const double shared = geometry::intersectionArea(display.quartzFrame, frame);
        if (!best || shared > bestArea) {
            best = &display;
            bestArea = shared;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

std::optional<QRectF> WindowFrameConverter::appKitFrame(const QRectF& frame,
                                                        const std::vector<DisplayLayout>& displays) {
    if (!(frame.width() > 0) || !(frame.height() > 0)) {
        return std::nullopt;
    }
    const auto display = preferredDisplay(frame, displays);
    if (!display) {
        return std::nullopt;
    }
    const QRectF& quartz = display->quartzFrame;
    const QRectF& screen = display->appKitFrame;
    return QRectF(screen.left() + (frame.left() - quartz.left()), screen.top() + (frame.top() - quartz.top()),
                  frame.width(), frame.height());
}

}  // namespace tavrolin
