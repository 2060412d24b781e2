#pragma once

#include "selection_popup/selection_popup_mode.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <chrono>
#include <optional>
#include <vector>

// Where the floating buttons, their tooltip and the first-use card go. Global coordinates with
// y growing downwards, in logical pixels.
namespace tavrolin::selection_popup_geometry {

// One screen: its whole geometry and the part windows may use.
struct ScreenArea {
    QRectF geometry;
    QRectF available;
};

constexpr double buttonSide = 28;
constexpr double buttonSpacing = 4;
constexpr double screenMargin = 4;
constexpr double rowGap = 8;
constexpr double tooltipGap = 6;
constexpr double hintGap = 10;
constexpr QSizeF hintMinimumSize{240, 100};

// The row: 28 high, 28 per button plus 4 between buttons; 0 wide without buttons.
QSizeF rowSize(const SelectionPopupMode& mode);

// The area a window whose bottom-left corner is `point` is kept in: the available geometry of
// the first screen holding the point (half-open), else the primary screen's (the first in the
// list), else 1024 x 768 at the origin.
QRectF areaFor(const QPointF& point, const std::vector<ScreenArea>& screens);

// Keeps a window of `size` whose top-left is `origin` `screenMargin` inside `area`; when the area
// is too small the right and the top margins win.
QPointF clampedOrigin(QPointF origin, const QSizeF& size, const QRectF& area);

// The button row: its right edge on the selection's, its bottom 8 above the selection's top;
// without a selection, its left 8 right of the pointer and its bottom 8 above it. Then clamped to
// the area of its bottom-left corner.
QRectF rowFrame(const std::optional<QRectF>& anchor, const QPointF& pointer, const SelectionPopupMode& mode,
                const std::vector<ScreenArea>& screens);

// The tooltip: centred on the row, its bottom 6 above the row's top, clamped like the row.
QRectF tooltipFrame(const QRectF& row, const QSizeF& size, const std::vector<ScreenArea>& screens);

// The first-use card, at least 240 x 100: centred on the row, its bottom 10 above the row; when its
// top would cross the area's top plus the margin, its top 10 below the row instead; then clamped.
QRectF hintFrame(const QRectF& row, const QSizeF& contentSize, const std::vector<ScreenArea>& screens);

// A delay in seconds as a timer can hold it: negative is 0, not a number is `fallback`, and
// anything longer than `maximum` (infinity too) is `maximum`.
std::chrono::milliseconds timerDelay(double seconds, double fallback, std::chrono::milliseconds maximum);

}  // namespace tavrolin::selection_popup_geometry
