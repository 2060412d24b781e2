#pragma once

#include "window_translation/translated_text_measuring.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace tavrolin::test {

// Sets text in a made-up font whose every character is `advance` x size wide and every line
// `lineHeight` x size high, so tests can work layouts out by hand. Words wrap at blanks (a word
// wider than the limit breaks between characters); line breaks end a line. Records the sizes
// it was asked for.
class FixedAdvanceTextMeasurer final : public TranslatedTextMeasuring {
public:
    explicit FixedAdvanceTextMeasurer(double advance = 0.5, double lineHeight = 1.0)
        : advance_(advance), lineHeight_(lineHeight) {}

    QSizeF measure(const QString& text, double fontSize, double widthLimit) const override {
        {
            std::lock_guard lock(mutex_);
            sizes_.push_back(fontSize);
        }
        const double characterWidth = advance_ * fontSize;
        const auto perLine =
            std::max<qsizetype>(1, static_cast<qsizetype>(std::floor(widthLimit / characterWidth + 1e-9)));
        qsizetype lines = 0;
        qsizetype widest = 0;
        for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
            qsizetype current = -1;  // characters on the open line; -1 when none is open
            for (const QString& word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                qsizetype length = word.size();
                if (current >= 0 && current + 1 + length <= perLine) {
                    current += 1 + length;
                    continue;
                }
                if (current >= 0) {
                    widest = std::max(widest, current);
                }
                while (length > perLine) {
                    ++lines;
                    widest = perLine;
                    length -= perLine;
                }
                ++lines;
                current = length;
            }
            if (current >= 0) {
                widest = std::max(widest, current);
            }
        }
        return QSizeF(std::ceil(static_cast<double>(widest) * characterWidth - 1e-9),
                      std::ceil(static_cast<double>(lines) * lineHeight_ * fontSize - 1e-9));
    }

    std::vector<double> sizes() const {
        std::lock_guard lock(mutex_);
        return sizes_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        sizes_.clear();
    }

private:
    double advance_;
    double lineHeight_;
    mutable std::mutex mutex_;
    mutable std::vector<double> sizes_;
};

}  // namespace tavrolin::test
