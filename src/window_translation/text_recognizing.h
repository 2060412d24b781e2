#pragma once

#include "core/app_language.h"
#include "window_translation/detected_source_language.h"
#include "window_translation/recognized_text_block.h"

#include <QImage>

#include <optional>
#include <set>
#include <vector>

namespace tavrolin {

// Text recognition of a captured image and the choice of its source language.
class TextRecognizing {
public:
    virtual ~TextRecognizing() = default;

    // The lines of the image in reading order. Blocks the calling thread for the whole
    // recognition (never call it on the GUI thread). Throws the engine's TextRecognitionError
    // unchanged, with no partial result. With shouldDetectSourceLanguage, the result carries
    // detectSourceLanguage over its lines (no boosted languages).
    virtual RecognizedTextResult recognizeText(const QImage& image, AppLanguage sourceLanguage,
                                               bool shouldDetectSourceLanguage) const = 0;

    // Starts, off the calling thread, loading what a recognition with this source needs, so that
    // one that follows soon (once the window is captured) does not wait for it; returns at once.
    // A recognizer with nothing to load does nothing.
    virtual void prepare(AppLanguage sourceLanguage) const { (void)sourceLanguage; }

    // See source_language_detection.h.
    virtual std::optional<DetectedSourceLanguage> detectSourceLanguage(
        const std::vector<RecognizedTextBlock>& blocks, AppLanguage requestedSourceLanguage,
        const std::set<AppLanguage>& boostedLanguages) const = 0;
};

}  // namespace tavrolin
