#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>

// Recognised lines, paragraphs, translated blocks and their layouts are measured in pixels of
// the captured image with the origin at its bottom-left corner, y growing upwards: there a
// box's y() is its bottom edge and y() + height() its top edge. QImage, QPainter and the text
// recognition engine count rows from the top. Every conversion between the two goes through
// these helpers; the conversion is its own inverse, so each pair below is one formula.
namespace tavrolin::image_space {

// A box in top-left pixels (engine, QImage, QPainter) -> bottom-left image pixels.
inline QRectF fromTopLeft(const QRectF& rect, double imageHeight) {
    return QRectF(rect.x(), imageHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

// A box in bottom-left image pixels -> top-left pixels, ready to paint into or read from a QImage.
inline QRectF toTopLeft(const QRectF& rect, double imageHeight) {
    return fromTopLeft(rect, imageHeight);
}

inline QRect fromTopLeft(const QRect& rect, int imageHeight) {
    return QRect(rect.x(), imageHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

inline QRect toTopLeft(const QRect& rect, int imageHeight) {
    return fromTopLeft(rect, imageHeight);
}

// A point (not a pixel: a position on the pixel grid) in either space -> the other.
inline QPointF flipped(const QPointF& point, double imageHeight) {
    return QPointF(point.x(), imageHeight - point.y());
}

// The QImage row (scanLine index) holding bottom-left pixel row y, and the other way round.
inline int imageRow(int y, int imageHeight) {
    return imageHeight - 1 - y;
}

inline int bottomLeftRow(int imageRowIndex, int imageHeight) {
    return imageHeight - 1 - imageRowIndex;
}

}  // namespace tavrolin::image_space
