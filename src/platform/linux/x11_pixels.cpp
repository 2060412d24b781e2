#include "platform/linux/x11_pixels.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace tavrolin::x11 {

qreal devicePixelRatio() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return 1.0;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    return ratio > 0 ? ratio : 1.0;
}

QPoint devicePointToLogical(QPoint device) {
    const qreal r = devicePixelRatio();
    return QPoint(static_cast<int>(std::lround(device.x() / r)), static_cast<int>(std::lround(device.y() / r)));
}

QPoint logicalPointToDevice(QPoint logical) {
    const qreal r = devicePixelRatio();
    return QPoint(static_cast<int>(std::lround(logical.x() * r)), static_cast<int>(std::lround(logical.y() * r)));
}

QRectF deviceRectToLogical(const QRectF& device) {
    const qreal r = devicePixelRatio();
    return QRectF(device.x() / r, device.y() / r, device.width() / r, device.height() / r);
}

}  // namespace tavrolin::x11
