#pragma once

#include <QRectF>
#include <QString>

namespace tavrolin {

// One translated text and the recognised area it replaces. Rectangles of the translated image
// are in its pixels with the origin at the bottom-left corner (larger y is higher).
struct TranslatedTextBlock {
    // Trimmed.
    QString translatedText;
    QRectF boundingBox;
    // The mean height of the recognised lines of that area; the font size follows it.
    double sourceLineHeight = 0;

    bool operator==(const TranslatedTextBlock&) const = default;
};

}  // namespace tavrolin
