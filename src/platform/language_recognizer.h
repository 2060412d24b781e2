#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One candidate language of a text.
struct LanguageHypothesis {
    // A language identifier: mostly ISO 639-1 ("en", "ru", "he", "zh"), three letters where a
    // language has no two-letter code. Hebrew is always "he" and every Chinese script "zh".
    QString languageIdentifier;
    // 0...1, how likely the language is: the share of the text it covers, lowered where the
    // text is too short to be sure.
    double probability = 0;

    bool operator==(const LanguageHypothesis&) const = default;
};

struct LanguageRecognitionOptions {
    // Give an approximate answer for short texts ("Hello", "Привет") instead of none.
    bool bestEffort = true;
    // Languages the writer is likely to use (identifiers as in LanguageHypothesis). Where the
    // text leaves room, each one that fits it is listed after the recognizer's own answer.
    std::vector<QString> hints;
};

// Identifies the language of a text. Stateless; safe to call from any thread.
class LanguageRecognizer {
public:
    virtual ~LanguageRecognizer() = default;

    // Hypotheses, most likely first: up to three of the recognizer's own, then those of the hints
    // that fit a short text; empty when no language is recognised (digits, punctuation, an
    // empty text).
    virtual std::vector<LanguageHypothesis> hypotheses(const QString& text,
                                                       LanguageRecognitionOptions options = {}) const = 0;

    // The most likely language, or none.
    std::optional<QString> dominantLanguage(const QString& text, LanguageRecognitionOptions options = {}) const {
        auto candidates = hypotheses(text, options);
        if (candidates.empty()) {
            return std::nullopt;
        }
        return candidates.front().languageIdentifier;
    }
};

}  // namespace tavrolin
