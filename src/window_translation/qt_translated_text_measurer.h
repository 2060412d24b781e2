#pragma once

#include "window_translation/translated_text_layout_engine.h"
#include "window_translation/translated_text_measuring.h"

#include <QFont>
#include <QSizeF>

class QPaintDevice;
class QTextLayout;

namespace tavrolin {

// How translations are set, shared by measuring and drawing so both agree to the pixel.
//
// Sizes are fractional image pixels: fonts are sized in points on a 72-dpi device (one point,
// one pixel) and never by pixel size, which Qt rounds to whole pixels.
namespace translated_text {

// Each line takes this fraction of its natural height (ascent, descent and the font's leading).
inline constexpr double lineHeightFactor = 0.95;

// The text as QTextLayout breaks it: line breaks become line separators.
QString displayText(const QString& text);
// The application font's family at medium weight and the given size in image pixels.
QFont font(double fontSize);
// The 72-dpi device translations are laid out and measured for. GUI thread only.
QPaintDevice* pixelDevice();
// Breaks the layout's text (made with font() on pixelDevice()) into lines within widthLimit,
// stacked from y = 0, and returns the size they take (not rounded).
QSizeF typeset(QTextLayout& layout, double widthLimit, WritingDirection writingDirection);

}  // namespace translated_text

// The measurer of the translated image. GUI thread only.
class QtTranslatedTextMeasurer final : public TranslatedTextMeasuring {
public:
    QSizeF measure(const QString& text, double fontSize, double widthLimit) const override;
};

}  // namespace tavrolin
