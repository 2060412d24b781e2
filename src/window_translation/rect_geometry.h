#pragma once

#include <QPointF>
#include <QRectF>

#include <optional>

// Rectangle rules shared by window detection, capture and display choice. Coordinates have
// their origin at the top-left, y growing downwards; rectangles have non-negative sizes.
// "Null" (no rectangle at all, e.g. the intersection of disjoint rectangles) is an empty
// optional; an "empty" rectangle exists but has no width or no height.
namespace tavrolin::geometry {

bool isEmpty(const QRectF& rect);
bool isEmpty(const std::optional<QRectF>& rect);

double area(const QRectF& rect);

// Rectangles that only touch along an edge meet in a rectangle of zero width or height;
// rectangles apart from each other have no intersection.
std::optional<QRectF> intersection(const QRectF& a, const QRectF& b);

// True when the rectangles share an area (touching edges do not count).
bool intersects(const QRectF& a, const QRectF& b);

// The area they share: 0 when they are apart or only touch.
double intersectionArea(const QRectF& a, const QRectF& b);

// The smallest rectangle holding both.
QRectF united(const QRectF& a, const QRectF& b);

// The smallest rectangle with integer edges holding the rectangle.
QRectF integral(const QRectF& rect);

// Half-open: the left and top edges belong to the rectangle, the right and bottom ones do not.
bool contains(const QRectF& rect, const QPointF& point);

// Closed: an inner rectangle may share the outer one's edges.
bool contains(const QRectF& outer, const QRectF& inner);

// The rectangle grown by `by` on every side (shrunk when negative).
QRectF grown(const QRectF& rect, double by);

}  // namespace tavrolin::geometry
