#include "window_translation/rect_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavrolin::geometry {

bool isEmpty(const QRectF& rect) {
    return !(rect.width() > 0) || !(rect.height() > 0);
}

bool isEmpty(const std::optional<QRectF>& rect) {
    return !rect || isEmpty(*rect);
}

double area(const QRectF& rect) {
    return isEmpty(rect) ? 0.0 : rect.width() * rect.height();
}

std::optional<QRectF> intersection(const QRectF& a, const QRectF& b) {
    const double left = std::max(a.left(), b.left());
    const double right = std::min(a.right(), b.right());
    const double top = std::max(a.top(), b.top());
    const double bottom = std::min(a.bottom(), b.bottom());
    if (right < left || bottom < top) {
        return std::nullopt;
    }
    return QRectF(left, top, right - left, bottom - top);
}

bool intersects(const QRectF& a, const QRectF& b) {
    return !isEmpty(intersection(a, b));
}

double intersectionArea(const QRectF& a, const QRectF& b) {
    const auto shared = intersection(a, b);
    return shared ? area(*shared) : 0.0;
}

QRectF united(const QRectF& a, const QRectF& b) {
    const double left = std::min(a.left(), b.left());
    const double top = std::min(a.top(), b.top());
    const double right = std::max(a.right(), b.right());
    const double bottom = std::max(a.bottom(), b.bottom());
    return QRectF(left, top, right - left, bottom - top);
}

QRectF integral(const QRectF& rect) {
    const double left = std::floor(rect.left());
    const double top = std::floor(rect.top());
    const double right = std::ceil(rect.right());
    const double bottom = std::ceil(rect.bottom());
    return QRectF(left, top, right - left, bottom - top);
}

bool contains(const QRectF& rect, const QPointF& point) {
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top() && point.y() < rect.bottom();
}

bool contains(const QRectF& outer, const QRectF& inner) {
    return inner.left() >= outer.left() && inner.right() <= outer.right() && inner.top() >= outer.top() &&
           inner.bottom() <= outer.bottom();
}

QRectF grown(const QRectF& rect, double by) {
    return rect.adjusted(-by, -by, by, by);
}

}  // namespace tavrolin::geometry
