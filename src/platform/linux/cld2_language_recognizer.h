#pragma once

#include "platform/language_recognizer.h"

namespace tavrolin {

// Language recognition with CLD2 (compact language detector 2).
class Cld2LanguageRecognizer final : public LanguageRecognizer {
public:
    std::vector<LanguageHypothesis> hypotheses(
        const QString& text, LanguageRecognitionOptions options = {}) const override;

    // CLD2's codes as the rest of the program speaks them: "iw" -> "he", "zh-Hant"/"zh-TW"/
    // "zh-Hans" -> "zh"; "un" and other unknown markers -> none.
    static std::optional<QString> normalizedIdentifier(const QString& cld2Code);
};

}  // namespace tavrolin
