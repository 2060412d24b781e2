#pragma once

#include <QPoint>
#include <QRectF>

namespace tavrolin::x11 {

// The X server and AT-SPI speak in device pixels; the rest of the program places things in
// Qt's logical pixels. They differ only when Qt scales the desktop (high-DPI settings).
qreal devicePixelRatio();
QPoint devicePointToLogical(QPoint device);
QPoint logicalPointToDevice(QPoint logical);
QRectF deviceRectToLogical(const QRectF& device);

}  // namespace tavrolin::x11
