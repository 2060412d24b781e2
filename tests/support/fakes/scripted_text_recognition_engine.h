#pragma once

#include "platform/text_recognition_engine.h"

#include <QSize>

#include <mutex>
#include <optional>

namespace tavrolin::test {

// A recognition engine that answers from a script: the lines set for every image, or the
// error set. Records the size, pixel ratio and languages of every call.
class ScriptedTextRecognitionEngine final : public TextRecognitionEngine {
public:
    struct Call {
        QSize imageSize;
        double devicePixelRatio = 1;
        QStringList languages;
    };

    explicit ScriptedTextRecognitionEngine(QStringList installed = {"eng"}) : installed_(std::move(installed)) {}

    void setInstalledLanguages(QStringList installed) {
        std::lock_guard lock(mutex_);
        installed_ = std::move(installed);
        installed_.sort();
    }
    void script(std::vector<TextRecognitionLine> lines) {
        std::lock_guard lock(mutex_);
        lines_ = std::move(lines);
        error_.reset();
    }
    // Shorthand: a line with its top-left box and a row height of the box's height.
    void addLine(const QString& text, const QRectF& topLeftBox) {
        std::lock_guard lock(mutex_);
        lines_.push_back({text, topLeftBox, topLeftBox.height()});
    }
    void failWith(const QString& message) {
        std::lock_guard lock(mutex_);
        error_ = message;
    }

    QStringList installedLanguages() const override {
        std::lock_guard lock(mutex_);
        return installed_;
    }

    std::vector<TextRecognitionLine> recognizeLines(const QImage& image, const QStringList& languages) const override {
        std::lock_guard lock(mutex_);
        calls_.push_back({image.size(), image.devicePixelRatio(), languages});
        if (error_) {
            throw TextRecognitionError(*error_);
        }
        return lines_;
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    QStringList installed_;
    std::vector<TextRecognitionLine> lines_;
    std::optional<QString> error_;
    mutable std::vector<Call> calls_;
};

}  // namespace tavrolin::test
