#include "window_translation/translated_text_layout_engine.h"

#include "window_translation/qt_translated_text_measurer.h"
#include "window_translation/rect_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

// Rectangles here have their origin at the bottom left: y is the bottom edge, y + height the top.
double minX(const QRectF& r) {
    return r.x();
}
double maxX(const QRectF& r) {
    return r.x() + r.width();
}
double minY(const QRectF& r) {
    return r.y();
}
double maxY(const QRectF& r) {
    return r.y() + r.height();
}

constexpr double sizeTolerance = 1e-9;

bool isNullOrEmpty(const std::optional<QRectF>& rect) {
    return geometry::isEmpty(rect);
}

// A rectangle of the given size whose top edge is `top`, anchored at `anchorX` (its left edge
// left-to-right, its right edge right-to-left).
QRectF hangingRect(double anchorX, double top, double width, double height, WritingDirection direction) {
    const double x = direction == WritingDirection::rightToLeft ? anchorX - width : anchorX;
    return QRectF(x, top - height, width, height);
}

std::optional<QRectF> roundedAndClipped(const QRectF& rect, const QRectF& canvas) {
    return geometry::intersection(geometry::integral(rect), canvas);
}

QRectF insetRect(const QRectF& rect, double dx, double dy) {
    return QRectF(rect.x() + dx, rect.y() + dy, rect.width() - 2 * dx, rect.height() - 2 * dy);
}

}  // namespace

const TranslatedTextMeasuring& TranslatedTextLayoutEngine::textMeasurer() const {
    if (measurer) {
        return *measurer;
    }
    static const QtTranslatedTextMeasurer qtMeasurer;
    return qtMeasurer;
}

double TranslatedTextLayoutEngine::preferredFontSize(double sourceLineHeight) const {
    double size = std::max(1.5 * sourceLineHeight, 14.0);
    size = std::min(size, maximumFontSize);
    return std::max(size, minimumFontSize);
}

std::vector<double> TranslatedTextLayoutEngine::candidateFontSizes(double start) const {
    std::vector<double> sizes;
    if (!std::isfinite(start)) {
        start = minimumFontSize;
    }
    double size = start;
    while (size > minimumFontSize + sizeTolerance) {
        sizes.push_back(size);
        size -= 1;
    }
    if (std::abs(size - minimumFontSize) <= sizeTolerance) {
        sizes.push_back(minimumFontSize);
    }
    return sizes;
}

TranslatedTextLayoutEngine::Measurement TranslatedTextLayoutEngine::measure(const QString& text, double fontSize,
                                                                            double widthLimit,
                                                                            double heightLimit) const {
    const TranslatedTextMeasuring& measurer = textMeasurer();
    // A server may answer with far more text than a patch can show, and the font search
    // measures it at every size. What could fill the room: lines at least 0.9 of the size high,
    // characters at least a quarter of it wide; twice that is measured. Should the prefix still
    // fit (zero-width characters), it doubles until it overflows or is the whole text.
    const double lines = std::floor(std::max(heightLimit, 0.0) / (0.9 * fontSize)) + 1;
    const double perLine = std::floor(std::max(widthLimit, 0.0) / (0.25 * fontSize)) + 1;
    double length = std::max(2 * lines * perLine, 256.0);
    while (length < static_cast<double>(text.size())) {
        auto cut = static_cast<qsizetype>(length);
        if (cut > 0 && text.at(cut - 1).isHighSurrogate()) {
            ++cut;
        }
        QString prefix = text.left(cut);
        const QSizeF size = measurer.measure(prefix, fontSize, widthLimit);
        if (size.height() > heightLimit) {
            return {size, std::move(prefix)};
        }
        length *= 2;
    }
    return {measurer.measure(text, fontSize, widthLimit), text};
}

std::vector<TranslatedTextBlockLayout> TranslatedTextLayoutEngine::layout(
    const std::vector<TranslatedTextBlock>& blocks, const QRectF& canvas, WritingDirection writingDirection,
    const UniformityTest& isBackgroundUniform) const {
    std::vector<QRectF> bases;
    bases.reserve(blocks.size());
    for (const TranslatedTextBlock& block : blocks) {
        const QRectF& box = block.boundingBox;
        bases.emplace_back(box.x() - horizontalBackgroundPadding, box.y() - verticalBackgroundPadding,
                           box.width() + 2 * horizontalBackgroundPadding, box.height() + 2 * verticalBackgroundPadding);
    }

    std::vector<TranslatedTextBlockLayout> layouts;
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const QRectF& base = bases[index];
        std::vector<QRectF> obstacles;
        obstacles.reserve(bases.size() + layouts.size());
        for (std::size_t other = 0; other < bases.size(); ++other) {
            if (other != index) {
                obstacles.push_back(bases[other]);
            }
        }
        for (const TranslatedTextBlockLayout& placed : layouts) {
            obstacles.push_back(placed.backgroundRect);
        }

        const double baseWidth = base.width();
        const double growthLimit = maximumHorizontalGrowthFactor * baseWidth;
        double room = 0;
        if (writingDirection == WritingDirection::leftToRight) {
            double edge = maxX(canvas);
            for (const QRectF& obstacle : obstacles) {
                const bool overlapsVertically = minY(obstacle) < maxY(base) && maxY(obstacle) > minY(base);
                if (overlapsVertically && minX(obstacle) >= maxX(base)) {
                    edge = std::min(edge, minX(obstacle) - horizontalObstacleMargin);
                }
            }
            room = edge - minX(base);
        } else {
            double edge = minX(canvas);
            for (const QRectF& obstacle : obstacles) {
                const bool overlapsVertically = minY(obstacle) < maxY(base) && maxY(obstacle) > minY(base);
                if (overlapsVertically && maxX(obstacle) <= minX(base)) {
                    edge = std::max(edge, maxX(obstacle) + horizontalObstacleMargin);
                }
            }
            room = maxX(base) - edge;
        }
        double allowedWidth = std::min(growthLimit, std::max(baseWidth, room));

        if (isBackgroundUniform && allowedWidth > baseWidth) {
            const double stripWidth = allowedWidth - baseWidth;
            const double stripX =
                writingDirection == WritingDirection::leftToRight ? maxX(base) : minX(base) - stripWidth;
            if (!isBackgroundUniform(QRectF(stripX, minY(base), stripWidth, base.height()))) {
                allowedWidth = baseWidth;
            }
        }

        if (auto placed = layoutBlock(blocks[index], base, allowedWidth, obstacles, canvas, writingDirection)) {
            layouts.push_back(std::move(*placed));
        }
    }
    return layouts;
}

std::optional<TranslatedTextBlockLayout> TranslatedTextLayoutEngine::layoutBlock(
    const TranslatedTextBlock& block, const QRectF& base, double maxExtendedWidth, const std::vector<QRectF>& obstacles,
    const QRectF& canvas, WritingDirection writingDirection) const {
    if (minY(canvas) >= maxY(base)) {
        return std::nullopt;
    }
    const bool rightToLeft = writingDirection == WritingDirection::rightToLeft;
    const double extendedWidth = std::min(maxExtendedWidth, canvas.width());
    const QRectF unclipped(rightToLeft ? maxX(base) - extendedWidth : minX(base), minY(base), extendedWidth,
                           base.height());
    const auto extended = geometry::intersection(unclipped, canvas);
    if (isNullOrEmpty(extended) || extended->width() <= 2 * horizontalTextInset) {
        return std::nullopt;
    }
    const double availableWidth = extended->width();
    const double widthLimit = std::max(availableWidth - 2 * horizontalTextInset, 1.0);
    const auto clippedBase = geometry::intersection(base, canvas);
    const double baseHeight = clippedBase ? clippedBase->height() : 0.0;

    double floor = minY(canvas);
    for (const QRectF& obstacle : obstacles) {
        if (maxY(obstacle) <= maxY(base) && maxX(obstacle) > minX(*extended) && minX(obstacle) < maxX(*extended)) {
            floor = std::max(floor, maxY(obstacle));
        }
    }
    const double roomBelow = std::max(maxY(base) - floor, 1.0);

    // The largest size that fits the block's own height, else the largest that fits the room
    // below, else the smallest.
    const double heightLimit = std::max(baseHeight, roomBelow);
    std::optional<Fit> chosen;
    std::optional<Fit> fallback;
    for (const double size : candidateFontSizes(preferredFontSize(block.sourceLineHeight))) {
        Measurement measured = measure(block.translatedText, size, widthLimit, heightLimit);
        if (measured.size.width() > widthLimit) {
            continue;
        }
        const double neededHeight = measured.size.height() + 2 * verticalTextInset;
        if (neededHeight <= baseHeight) {
            chosen = Fit{size, std::move(measured)};
            break;
        }
        if (neededHeight <= roomBelow && !fallback) {
            fallback = Fit{size, std::move(measured)};
        }
    }
    if (!chosen) {
        chosen = fallback
                     ? std::move(fallback)
                     : Fit{minimumFontSize, measure(block.translatedText, minimumFontSize, widthLimit, heightLimit)};
    }

    const double backgroundWidth =
        std::min(std::max(2 * horizontalTextInset + chosen->measurement.size.width(), base.width()), availableWidth);
    const double backgroundHeight =
        std::min(std::max(chosen->measurement.size.height() + 2 * verticalTextInset, baseHeight), roomBelow);
    const double anchorX = rightToLeft ? maxX(base) : minX(base);
    const auto background = roundedAndClipped(
        hangingRect(anchorX, maxY(base), backgroundWidth, backgroundHeight, writingDirection), canvas);
    if (isNullOrEmpty(background)) {
        return std::nullopt;
    }
    QRectF backgroundRect = *background;
    QRectF textRect = insetRect(backgroundRect, horizontalTextInset, verticalTextInset);
    if (geometry::isEmpty(textRect)) {
        return std::nullopt;
    }

    Fit fitted = fitText(block.translatedText, chosen->fontSize, textRect);

    // A patch no wider than its text needs, if the text still fits at that width.
    const double narrowWidth =
        std::min(std::max(2 * horizontalTextInset + fitted.measurement.size.width(), base.width()), backgroundWidth);
    const auto narrowed =
        roundedAndClipped(hangingRect(anchorX, maxY(base), narrowWidth, backgroundHeight, writingDirection), canvas);
    if (!isNullOrEmpty(narrowed)) {
        const QRectF narrowText = insetRect(*narrowed, horizontalTextInset, verticalTextInset);
        const double limit = narrowText.height() + 0.5;
        Measurement measured = measure(block.translatedText, fitted.fontSize, std::max(narrowText.width(), 1.0), limit);
        if (measured.size.height() <= limit) {
            backgroundRect = *narrowed;
            textRect = narrowText;
            fitted.measurement = std::move(measured);
        }
    }

    TranslatedTextBlockLayout layout;
    layout.translatedText = std::move(fitted.measurement.text);
    layout.backgroundRect = backgroundRect;
    layout.textRect = textRect;
    layout.fontSize = fitted.fontSize;
    layout.writingDirection = writingDirection;
    layout.clipsText = fitted.measurement.size.height() > textRect.height() + 0.5;
    return layout;
}

TranslatedTextLayoutEngine::Fit TranslatedTextLayoutEngine::fitText(const QString& text, double preferredSize,
                                                                    const QRectF& textRect) const {
    const double widthLimit = std::max(textRect.width(), 1.0);
    const double limit = textRect.height() + 0.5;
    for (const double size : candidateFontSizes(std::min(preferredSize, maximumFontSize))) {
        Measurement measured = measure(text, size, widthLimit, limit);
        if (measured.size.height() <= limit) {
            return Fit{size, std::move(measured)};
        }
    }
    return Fit{minimumFontSize, measure(text, minimumFontSize, widthLimit, limit)};
}

}  // namespace tavrolin
