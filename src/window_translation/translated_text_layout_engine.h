#pragma once

#include "window_translation/translated_text_block.h"
#include "window_translation/translated_text_measuring.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

enum class WritingDirection { leftToRight, rightToLeft };

// Where and how large one translation is drawn. Rectangles are in image pixels, origin at the
// bottom left.
struct TranslatedTextBlockLayout {
    // What is drawn: the translation, or for a text far longer than its patch could ever show,
    // the part of it that already overflows the patch (the rest is never visible).
    QString translatedText;
    // The filled rounded patch: whole pixels, inside the canvas.
    QRectF backgroundRect;
    // The patch inset by the text insets.
    QRectF textRect;
    // In image pixels (the translation font at this size).
    double fontSize = 0;
    WritingDirection writingDirection = WritingDirection::leftToRight;
    // The text is taller than textRect by more than half a pixel.
    bool clipsText = false;

    bool operator==(const TranslatedTextBlockLayout&) const = default;
};

// Fits translations over the recognised text they replace: each patch may widen sideways into
// free space of one colour, hang lower into free space below, and takes the largest font that
// fits, without covering other text or patches placed before it. Left-to-right patches keep
// their left edge, right-to-left ones their right edge.
struct TranslatedTextLayoutEngine {
    double horizontalBackgroundPadding = 6;
    double verticalBackgroundPadding = 4;
    double horizontalTextInset = 5;
    double verticalTextInset = 3;
    double minimumFontSize = 9;
    double maximumFontSize = 50;
    // Free distance kept from text beside a block when widening.
    double horizontalObstacleMargin = 20;
    // A patch becomes at most this many times as wide as the block's own.
    double maximumHorizontalGrowthFactor = 2.4;
    // How text is measured; the translation font through Qt when absent.
    std::shared_ptr<const TranslatedTextMeasuring> measurer;

    using UniformityTest = std::function<bool(const QRectF&)>;

    // One layout per block that can be placed, in block order. Without a uniformity test the
    // patches widen as far as the geometry allows. Runs on the GUI thread.
    std::vector<TranslatedTextBlockLayout> layout(const std::vector<TranslatedTextBlock>& blocks, const QRectF& canvas,
                                                  WritingDirection writingDirection,
                                                  const UniformityTest& isBackgroundUniform = {}) const;

    // 1.5 times the line height, then kept between 14 (and the minimum) and the maximum.
    double preferredFontSize(double sourceLineHeight) const;
    // From `start` down by one, above the minimum, then the minimum only when a step lands on it.
    std::vector<double> candidateFontSizes(double start) const;

    // The measured size of `text` (whole pixels) and the text it was measured on: the whole
    // text, or a prefix already taller than heightLimit (so the whole text would be too).
    struct Measurement {
        QSizeF size;
        QString text;
    };
    Measurement measure(const QString& text, double fontSize, double widthLimit, double heightLimit) const;

private:
    std::optional<TranslatedTextBlockLayout> layoutBlock(const TranslatedTextBlock& block, const QRectF& base,
                                                         double maxExtendedWidth, const std::vector<QRectF>& obstacles,
                                                         const QRectF& canvas, WritingDirection writingDirection) const;
    struct Fit {
        double fontSize = 0;
        Measurement measurement;
    };
    Fit fitText(const QString& text, double preferredSize, const QRectF& textRect) const;
    const TranslatedTextMeasuring& textMeasurer() const;
};

}  // namespace tavrolin
