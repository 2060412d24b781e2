#pragma once

#include "platform/text_recognition_engine.h"

#include <QString>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <memory>

namespace tavrolin {

struct TesseractEngineOptions {
    // The folder of the *.traineddata files; empty: TESSDATA_PREFIX, else the system's.
    QString dataPath;
    // Threads reading bands side by side; 0: the machine's cores, at most 8. With 1 the image is
    // read in one piece.
    int threadCount = 0;
    // A thread idle this long ends and frees its engines.
    std::chrono::milliseconds idleExpiry = std::chrono::minutes(2);
};

// Tesseract (LSTM) reading an image in horizontal bands on a pool of its own, and only there,
// whichever thread asks. Each pool thread keeps one engine per language set; engines go with
// their thread when it expires.
// Small text on a 1x image is read from a copy upscaled 2x.
class TesseractTextRecognitionEngine final : public TextRecognitionEngine {
public:
    explicit TesseractTextRecognitionEngine(TesseractEngineOptions options = {});
    ~TesseractTextRecognitionEngine() override;

    QStringList installedLanguages() const override;
    std::vector<TextRecognitionLine> recognizeLines(const QImage& image, const QStringList& languages) const override;
    // Loads the languages' engine on every pool thread, the threads side by side.
    void prepare(const QStringList& languages) const override;

    QString dataPath() const { return dataPath_; }
    int threadCount() const;
    // How many Tesseract engines the reads of this engine have loaded: at most one per pool
    // thread and language set while the threads live.
    int enginesLoaded() const { return enginesLoaded_.load(std::memory_order_relaxed); }

private:
    QString dataPath_;
    mutable std::atomic<int> enginesLoaded_{0};
    mutable QThreadPool pool_;
};

}  // namespace tavrolin
