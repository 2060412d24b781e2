#include "core/brand_colors.h"

namespace tavrolin {

QColor BrandColors::indigo() {
    return QColor::fromRgb(99, 102, 241);
}
QColor BrandColors::purple() {
    return QColor::fromRgb(168, 85, 247);
}
QColor BrandColors::pink() {
    return QColor::fromRgb(236, 72, 153);
}
QColor BrandColors::accentLight() {
    return QColor::fromRgb(109, 93, 245);
}
QColor BrandColors::accentDark() {
    return QColor::fromRgb(139, 127, 250);
}

bool BrandColors::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor BrandColors::accent(const QPalette& palette) {
    return isDark(palette) ? accentDark() : accentLight();
}

const QLinearGradient& BrandGradient::primary() {
    // A function-local static is initialised once, safely from any thread.
    static const QLinearGradient gradient = [] {
        QLinearGradient g(0, 0, 1, 1);
        g.setCoordinateMode(QGradient::ObjectBoundingMode);
        g.setColorAt(0.0, BrandColors::indigo());
        g.setColorAt(0.5, BrandColors::purple());
        g.setColorAt(1.0, BrandColors::pink());
        return g;
    }();
    return gradient;
}

}  // namespace tavrolin
