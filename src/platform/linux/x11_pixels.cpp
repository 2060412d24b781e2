#include "platform/linux/x11_pixels.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <cmath>
#include <mutex>

namespace tavrolin::x11 {

namespace {

std::mutex cacheMutex;
std::vector<ScreenScale> cachedScales;

std::vector<ScreenScale> readScreens() {
    std::vector<ScreenScale> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect logical = screen->geometry();
        const qreal ratio = screen->devicePixelRatio() > 0 ? screen->devicePixelRatio() : 1.0;
        const QSize deviceSize(int(std::lround(logical.width() * ratio)), int(std::lround(logical.height() * ratio)));
        screens.push_back(ScreenScale{QRect(logical.topLeft(), deviceSize), QRectF(logical), ratio});
    }
    return screens;
}

double sharedArea(const QRectF& a, const QRectF& b) {
    const QRectF both = a.normalized().intersected(b.normalized());
    return both.isEmpty() ? 0.0 : both.width() * both.height();
}

// The screen a rectangle of the given system belongs to; null for an empty list.
const ScreenScale* screenFor(const QRectF& rect, const std::vector<ScreenScale>& screens, bool device) {
    const auto frame = [device](const ScreenScale& s) { return device ? QRectF(s.device) : s.logical; };
    for (const auto& screen : screens) {
        const QRectF f = frame(screen);
        if (rect.left() >= f.left() && rect.left() < f.right() && rect.top() >= f.top() && rect.top() < f.bottom()) {
            return &screen;
        }
    }
    const ScreenScale* best = nullptr;
    double bestArea = -1;
    for (const auto& screen : screens) {
        const double area = sharedArea(frame(screen), rect);
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    return best;
}

QRectF toLogical(const QRectF& device, const ScreenScale& s) {
    const QPointF origin = s.logical.topLeft();
    return QRectF(origin + (device.topLeft() - QPointF(s.device.topLeft())) / s.ratio, device.size() / s.ratio);
}

QRectF toDevice(const QRectF& logical, const ScreenScale& s) {
    const QPointF origin = QPointF(s.device.topLeft());
    return QRectF(origin + (logical.topLeft() - s.logical.topLeft()) * s.ratio, logical.size() * s.ratio);
}

}  // namespace

std::vector<ScreenScale> screenScales() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const bool onGuiThread = app && QThread::currentThread() == app->thread();
    std::lock_guard lock(cacheMutex);
    if (!app) {
        cachedScales.clear();
    } else if (onGuiThread || cachedScales.empty()) {
        // Qt changes its screen list on the GUI thread only; a first reading elsewhere is a
        // best effort that the next reading on the GUI thread replaces.
        cachedScales = readScreens();
    }
    return cachedScales;
}

QRectF deviceRectToLogical(const QRectF& device, const std::vector<ScreenScale>& screens) {
    const ScreenScale* screen = screenFor(device, screens, true);
    return screen ? toLogical(device, *screen) : device;
}

QRectF logicalRectToDevice(const QRectF& logical, const std::vector<ScreenScale>& screens) {
    const ScreenScale* screen = screenFor(logical, screens, false);
    return screen ? toDevice(logical, *screen) : logical;
}

QPointF devicePointToLogical(QPointF device, const std::vector<ScreenScale>& screens) {
    return deviceRectToLogical(QRectF(device, QSizeF(0, 0)), screens).topLeft();
}

QPointF logicalPointToDevice(QPointF logical, const std::vector<ScreenScale>& screens) {
    return logicalRectToDevice(QRectF(logical, QSizeF(0, 0)), screens).topLeft();
}

qreal pixelRatioAt(const QRectF& logical, const std::vector<ScreenScale>& screens) {
    const ScreenScale* screen = screenFor(logical, screens, false);
    return screen ? screen->ratio : 1.0;
}

qreal devicePixelRatio() {
    const auto screens = screenScales();
    return screens.empty() ? 1.0 : screens.front().ratio;
}

QPoint devicePointToLogical(QPoint device) {
    return devicePointToLogical(QPointF(device), screenScales()).toPoint();
}

QPoint logicalPointToDevice(QPoint logical) {
    return logicalPointToDevice(QPointF(logical), screenScales()).toPoint();
}

QRectF deviceRectToLogical(const QRectF& device) {
    return deviceRectToLogical(device, screenScales());
}

}  // namespace tavrolin::x11
