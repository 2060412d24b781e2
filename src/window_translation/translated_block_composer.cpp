#include "window_translation/translated_block_composer.h"

#include "window_translation/rect_geometry.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

double maxX(const QRectF& rect) {
    return rect.x() + rect.width();
}

}  // namespace

std::vector<TranslatedTextBlock> TranslatedBlockComposer::compose(const RecognizedTextGroup& group,
                                                                  const QString& translatedText) const {
    const std::vector<Region> regions = splitByWidthRegions(group.blocks);
    if (regions.size() <= 1) {
        return {TranslatedTextBlock{translatedText, group.boundingBox, averageLineHeight(group.blocks)}};
    }
    std::vector<double> weights;
    weights.reserve(regions.size());
    for (const Region& region : regions) {
        weights.push_back(static_cast<double>(region.size()));
    }
    const QStringList parts = splitText(translatedText, weights);
    std::vector<TranslatedTextBlock> blocks;
    for (std::size_t index = 0; index < regions.size() && index < static_cast<std::size_t>(parts.size()); ++index) {
        const QString part = parts[static_cast<qsizetype>(index)].trimmed();
        if (part.isEmpty()) {
            continue;
        }
        const Region& region = regions[index];
        QRectF box;
        for (std::size_t line = 0; line < region.size(); ++line) {
            box = line == 0 ? region[line].boundingBox : geometry::united(box, region[line].boundingBox);
        }
        blocks.push_back(TranslatedTextBlock{part, box, averageLineHeight(region)});
    }
    return blocks;
}

std::vector<TranslatedBlockComposer::Region> TranslatedBlockComposer::splitByWidthRegions(
    const std::vector<RecognizedTextBlock>& lines) const {
    if (lines.size() < 2) {
        return {lines};
    }
    Region sorted = lines;
    std::stable_sort(sorted.begin(), sorted.end(), [](const RecognizedTextBlock& a, const RecognizedTextBlock& b) {
        return a.boundingBox.y() > b.boundingBox.y();
    });
    double widestRightEdge = maxX(sorted.front().boundingBox);
    for (const RecognizedTextBlock& line : sorted) {
        widestRightEdge = std::max(widestRightEdge, maxX(line.boundingBox));
    }
    if (!(widestRightEdge > 0)) {
        return {lines};
    }
    const double threshold = narrowThresholdRatio * widestRightEdge;
    const auto isNarrow = [threshold](const RecognizedTextBlock& line) { return maxX(line.boundingBox) < threshold; };

    std::vector<Region> regions;
    Region current{sorted.front()};
    for (std::size_t index = 1; index < sorted.size(); ++index) {
        if (isNarrow(sorted[index]) == isNarrow(sorted[index - 1])) {
            current.push_back(sorted[index]);
        } else {
            regions.push_back(std::move(current));
            current = Region{sorted[index]};
        }
    }
    regions.push_back(std::move(current));

    regions = mergeSingleLineNarrowRegions(std::move(regions), threshold);
    if (regions.size() < 2) {
        return {lines};
    }
    return regions;
}

std::vector<TranslatedBlockComposer::Region> TranslatedBlockComposer::mergeSingleLineNarrowRegions(
    std::vector<Region> regions, double narrowThreshold) {
    if (regions.size() < 2) {
        return regions;
    }
    std::vector<Region> merged;
    for (Region& region : regions) {
        const bool singleNarrowLine = region.size() == 1 && maxX(region.front().boundingBox) < narrowThreshold;
        if (singleNarrowLine && !merged.empty()) {
            merged.back().push_back(std::move(region.front()));
        } else {
            merged.push_back(std::move(region));
        }
    }
    return merged;
}

double TranslatedBlockComposer::averageLineHeight(const std::vector<RecognizedTextBlock>& lines) {
    double sum = 0;
    int count = 0;
    for (const RecognizedTextBlock& line : lines) {
        if (line.boundingBox.height() > 0) {
            sum += line.boundingBox.height();
            ++count;
        }
    }
    if (count > 0) {
        return sum / count;
    }
    return lines.empty() ? 0.0 : lines.front().boundingBox.height();
}

QStringList TranslatedBlockComposer::splitText(const QString& text, const std::vector<double>& weights) {
    double total = 0;
    for (const double weight : weights) {
        total += weight;
    }
    if (weights.empty() || !(total >= 1)) {
        return {text};
    }
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList parts;
    if (words.isEmpty()) {
        for (std::size_t index = 0; index < weights.size(); ++index) {
            parts.append(QString());
        }
        return parts;
    }
    const auto wordCount = words.size();
    qsizetype start = 0;
    double runningSum = 0;
    for (std::size_t index = 0; index < weights.size(); ++index) {
        runningSum += weights[index];
        qsizetype end = wordCount;
        if (index + 1 < weights.size()) {
            // std::round rounds halves away from zero.
            end = static_cast<qsizetype>(std::round(runningSum / total * static_cast<double>(wordCount)));
            end = std::min(std::max(end, start + 1), wordCount);
        }
        end = std::max(end, start);
        parts.append(words.mid(start, end - start).join(QLatin1Char(' ')));
        start = end;
    }
    return parts;
}

}  // namespace tavrolin
