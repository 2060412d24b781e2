#include "selection_popup/selection_popup_geometry.h"

#include "window_translation/rect_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavrolin::selection_popup_geometry {

QSizeF rowSize(const SelectionPopupMode& mode) {
    const int n = mode.buttonCount();
    return n == 0 ? QSizeF(0, buttonSide) : QSizeF(n * buttonSide + (n - 1) * buttonSpacing, buttonSide);
}

QRectF areaFor(const QPointF& point, const std::vector<ScreenArea>& screens) {
    for (const ScreenArea& screen : screens) {
        if (geometry::contains(screen.geometry, point)) {
            return screen.available;
        }
    }
    return screens.empty() ? QRectF(0, 0, 1024, 768) : screens.front().available;
}

QPointF clampedOrigin(QPointF origin, const QSizeF& size, const QRectF& area) {
    // Low edge first, then the high one, so the right and the top margins win on a small area.
    double x = std::max(origin.x(), area.left() + screenMargin);
    x = std::min(x, area.right() - size.width() - screenMargin);
    double y = std::min(origin.y(), area.bottom() - size.height() - screenMargin);
    y = std::max(y, area.top() + screenMargin);
    return {x, y};
}

namespace {

// Extents handed over by another process may be huge, negative or not numbers at all. Huge and
// negative ones stay doubles until the clamp has brought them onto the screen; a rectangle that
// is not a number anywhere is no anchor.
bool isUsable(const QRectF& rect) {
    for (double v : {rect.x(), rect.y(), rect.width(), rect.height()}) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

QRectF placed(QPointF topLeft, const QSizeF& size, const std::vector<ScreenArea>& screens) {
    const QRectF area = areaFor(QPointF(topLeft.x(), topLeft.y() + size.height()), screens);
    return QRectF(clampedOrigin(topLeft, size, area), size);
}

}  // namespace

QRectF rowFrame(const std::optional<QRectF>& anchor, const QPointF& pointer, const SelectionPopupMode& mode,
                const std::vector<ScreenArea>& screens) {
    const QSizeF size = rowSize(mode);
    QPointF topLeft;
    if (anchor && isUsable(*anchor)) {
        const QRectF a = anchor->normalized();
        topLeft = QPointF(a.right() - size.width(), a.top() - rowGap - size.height());
    } else {
        topLeft = QPointF(pointer.x() + rowGap, pointer.y() - rowGap - size.height());
    }
    return placed(topLeft, size, screens);
}

QRectF tooltipFrame(const QRectF& row, const QSizeF& size, const std::vector<ScreenArea>& screens) {
    const QSizeF whole(std::ceil(size.width()), std::ceil(size.height()));
    return placed(QPointF(row.center().x() - whole.width() / 2, row.top() - tooltipGap - whole.height()), whole,
                  screens);
}

QRectF hintFrame(const QRectF& row, const QSizeF& contentSize, const std::vector<ScreenArea>& screens) {
    const QSizeF size(std::max(contentSize.width(), hintMinimumSize.width()),
                      std::max(contentSize.height(), hintMinimumSize.height()));
    // The screen is the one holding the row's bottom-left corner.
    const QRectF area = areaFor(row.bottomLeft(), screens);
    const double x = row.center().x() - size.width() / 2;
    double y = row.top() - hintGap - size.height();
    if (y < area.top() + screenMargin) {
        y = row.bottom() + hintGap;
    }
    return QRectF(clampedOrigin(QPointF(x, y), size, area), size);
}

std::chrono::milliseconds timerDelay(double seconds, double fallback, std::chrono::milliseconds maximum) {
    if (std::isnan(seconds)) {
        seconds = fallback;
    }
    if (seconds <= 0) {
        return std::chrono::milliseconds(0);
    }
    const double ms = seconds * 1000.0;
    if (!(ms < double(maximum.count()))) {
        return maximum;
    }
    return std::chrono::milliseconds(static_cast<long long>(std::llround(ms)));
}

}  // namespace tavrolin::selection_popup_geometry
