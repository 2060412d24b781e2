#pragma once

#include "window_translation/translated_text_block.h"
#include "window_translation/translated_text_layout_engine.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QStringList>

#include <optional>
#include <vector>

class QPainter;

namespace tavrolin {

// Paints translations into a copy of a captured image: each covers its source text with a
// rounded patch in the local background colour and carries the text in black or white,
// whichever reads better there. Colours are always sampled from the untouched source.
// Rectangles are bottom-left image pixels. GUI thread only.
struct TranslatedImageRenderer {
    TranslatedTextLayoutEngine layoutEngine;

    // An RGBA (premultiplied) copy of the source with the blocks drawn; the copy alone when no
    // block can be placed. Throws CaptureWorkflowError::failedToRenderTranslatedImage when the
    // source is null or no bitmap can be made.
    QImage renderTranslatedImage(const QImage& source, const std::vector<TranslatedTextBlock>& blocks,
                                 WritingDirection writingDirection) const;

    // `source` in Format_RGBA8888 or Format_RGBA8888_Premultiplied. Whether every red, green
    // and blue value in the rectangle (rounded outward, clipped to the image) lies within 0.15
    // of the full range (38 levels of 255) of the others; a rectangle with no pixel is uniform.
    static bool isBackgroundUniform(const QRectF& rect, const QImage& source);
    // The mean colour of the pixels whose centres lie in the rectangle, averaged in linear
    // light; none when no pixel is in it.
    static std::optional<QColor> averageColor(const QRectF& rect, const QImage& source);
    // Luminance of the sRGB components below 0.55.
    static bool isDark(const QColor& color);
    static double cornerRadius(double backgroundHeight);
    // The lines of a layout's text as they are drawn: those that fit its text rectangle, the
    // last of them ending in an ellipsis when text is left over.
    static QStringList drawnLines(const TranslatedTextBlockLayout& layout);

    // Draws one layout into `painter` (over an image as tall as `source`), its fill sampled
    // from `source`.
    static void draw(const TranslatedTextBlockLayout& layout, QPainter& painter, const QImage& source);
};

}  // namespace tavrolin
