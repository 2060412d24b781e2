#pragma once

#include "window_translation/recognized_text_block.h"
#include "window_translation/recognized_text_grouper.h"
#include "window_translation/translated_text_block.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace tavrolin {

// Shares the translation of a paragraph out over the width regions of its lines: a paragraph
// that runs around a picture or holds an indented stretch between full-width lines is drawn
// region by region rather than over one box. Stateless apart from its one setting.
struct TranslatedBlockComposer {
    using Region = std::vector<RecognizedTextBlock>;

    // A line whose right edge lies below this fraction of the widest right edge is narrow.
    double narrowThresholdRatio = 0.9;

    // One block per region that receives words, in region order; none for an empty text.
    std::vector<TranslatedTextBlock> compose(const RecognizedTextGroup& group, const QString& translatedText) const;

    // Runs of lines, top first, that are all narrow or all wide; a single narrow line joins
    // the region above it. Fewer than two regions: one region with the lines in input order.
    std::vector<Region> splitByWidthRegions(const std::vector<RecognizedTextBlock>& lines) const;
    static std::vector<Region> mergeSingleLineNarrowRegions(std::vector<Region> regions, double narrowThreshold);
    // The mean of the positive line heights; else the first line's height; 0 without lines.
    static double averageLineHeight(const std::vector<RecognizedTextBlock>& lines);
    // The words (split at U+0020 only) shared out in proportion to the weights, each part
    // joined by single blanks: exactly one part per weight, at least one word each while words
    // remain. No weight, or weights summing below 1: the whole text as one part.
    static QStringList splitText(const QString& text, const std::vector<double>& weights);
};

}  // namespace tavrolin
