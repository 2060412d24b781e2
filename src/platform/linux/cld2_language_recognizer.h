#pragma once

#include "platform/language_recognizer.h"

namespace tavrolin {

// Language recognition with CLD2 (compact language detector 2).
//
// CLD2 reports the share of the text each language covers, and on a short text it names one
// language at 75-94 % however little the text says: "Dank je" is German at 88 %. Those shares
// are not probabilities, so they are scaled by how much text was scored: below
// `fullEvidenceBytes` the answer is a guess and says so. On such a text each hint is tried as
// CLD2's content-language hint; a hint that CLD2 then accepts fits the text and is listed after
// CLD2's own answer, just below it.
class Cld2LanguageRecognizer final : public LanguageRecognizer {
public:
    // Scored bytes from which CLD2's shares count in full (about six words of Latin script).
    static constexpr int fullEvidenceBytes = 40;

    std::vector<LanguageHypothesis> hypotheses(const QString& text,
                                               LanguageRecognitionOptions options = {}) const override;

    // An identifier as CLD2's hint expects it ("he" -> "iw").
    static QString cld2Code(const QString& identifier);

    // CLD2's codes as the rest of the program speaks them: "iw" -> "he", "zh-Hant"/"zh-TW"/
    // "zh-Hans" -> "zh"; "un" and other unknown markers -> none.
    static std::optional<QString> normalizedIdentifier(const QString& cld2Code);
};

}  // namespace tavrolin
