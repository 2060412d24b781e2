#pragma once

#include "window_translation/recognized_text_block.h"

#include <QRectF>
#include <QString>

#include <vector>

namespace tavrolin {

// Recognised lines that read as one paragraph.
struct RecognizedTextGroup {
    // The lines' texts joined with blanks; a word split by a hyphen at a line end is rejoined.
    QString text;
    // The union of the lines' boxes (bottom-left image pixels, like the lines).
    QRectF boundingBox;
    // The lines from top to bottom; never empty.
    std::vector<RecognizedTextBlock> blocks;

    bool operator==(const RecognizedTextGroup&) const = default;
};

// Joins lines that follow each other closely under the same left edge at the same text size,
// where the upper line holds a few words and does not end a sentence. Stateless.
class RecognizedTextGrouper {
public:
    // Every line ends up in exactly one group; groups come in the reading order of their first
    // lines. The input order does not matter.
    std::vector<RecognizedTextGroup> group(std::vector<RecognizedTextBlock> blocks) const;
};

}  // namespace tavrolin
