#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>

#include <vector>

// The X server, its window list, its images and AT-SPI speak in device pixels; Qt places
// widgets and reports screens in logical pixels. The two differ where Qt scales the desktop
// (Xft.dpi, QT_SCALE_FACTOR): each screen keeps its top-left corner in both systems and is
// scaled by its device pixel ratio from there. Every X value goes through here on its way in or
// out of the platform layer.
namespace tavrolin::x11 {

// One screen in both coordinate systems.
struct ScreenScale {
    QRect device;
    QRectF logical;
    qreal ratio = 1;

    bool operator==(const ScreenScale&) const = default;
};

// The screens as Qt has them now. Read on the GUI thread (and remembered); other threads get
// the last reading (the first one reads them itself). Empty without a GUI application, where
// both systems are one.
std::vector<ScreenScale> screenScales();

// Conversions over a list of screens: a point or rectangle belongs to the screen holding its
// (top-left) point, else to the screen it shares most area with, else to the first screen.
// An empty list converts nothing.
QPointF devicePointToLogical(QPointF device, const std::vector<ScreenScale>& screens);
QPointF logicalPointToDevice(QPointF logical, const std::vector<ScreenScale>& screens);
QRectF deviceRectToLogical(const QRectF& device, const std::vector<ScreenScale>& screens);
QRectF logicalRectToDevice(const QRectF& logical, const std::vector<ScreenScale>& screens);
// Device pixels per logical pixel where a logical rectangle lies (1 without screens).
qreal pixelRatioAt(const QRectF& logical, const std::vector<ScreenScale>& screens);

// The same over screenScales().
qreal devicePixelRatio();
QPoint devicePointToLogical(QPoint device);
QPoint logicalPointToDevice(QPoint logical);
QRectF deviceRectToLogical(const QRectF& device);

}  // namespace tavrolin::x11
