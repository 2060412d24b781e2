#pragma once

#include "core/app_language.h"
#include "window_translation/detected_source_language.h"

#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

namespace tavrolin {

// One recognised line of a captured image.
struct RecognizedTextBlock {
    // The line's text without surrounding blanks and line breaks; never empty.
    QString text;
    // Pixels of the recognised image, origin at its bottom-left (image_space.h): y() is the
    // bottom edge. Whole numbers, inside the image, never empty; the text's box grown by 4 on
    // the left and right and 3 at the top and bottom.
    QRectF boundingBox;
    // The supported languages the recognizer reported for the line, in its order; [source]
    // for a fixed source language.
    std::vector<AppLanguage> detectedLanguages;

    bool operator==(const RecognizedTextBlock&) const = default;
};

struct RecognizedTextResult {
    // In reading order.
    std::vector<RecognizedTextBlock> blocks;
    // Present when detection was asked for and found a language.
    std::optional<DetectedSourceLanguage> detectedSourceLanguage;

    bool operator==(const RecognizedTextResult&) const = default;
};

}  // namespace tavrolin
