#pragma once

#include <QString>

namespace tavrolin {

// The thresholds below which window translation leaves a recognised text untranslated
// (numbers, codes, punctuation, stray letters, icons read as characters). How the thresholds
// combine with the measures of TranslationTextStats is window translation's rule.
struct TranslationTextFilter {
    // The fewest letters a text made of one token must have.
    int minimumAlphabeticSingleTokenLetterCount = 0;
    // The fewest letters a text of several tokens must have.
    int minimumAlphabeticMultiTokenLetterCount = 0;
    // The fewest letters a text written mainly in a compact script (kana, CJK ideographs,
    // Hangul syllables) must have.
    int minimumCompactScriptLetterCount = 0;

    bool operator==(const TranslationTextFilter&) const = default;
};

// The measures a TranslationTextFilter is compared with.
//
// A letter is a Unicode scalar of general category L or M (letters and combining marks),
// counted scalar by scalar: "e" with a combining acute accent counts 2. A token is a maximal
// run of scalars of category L, M or N; every other scalar (and an unpaired surrogate)
// separates tokens. The compact-script letters are the letters in U+3040..U+30FF,
// U+3400..U+4DBF, U+4E00..U+9FFF and U+AC00..U+D7AF.
struct TranslationTextStats {
    int totalLetterCount = 0;
    int tokenCount = 0;
    // Tokens with at least 3 letters.
    int wordLikeTokenCount = 0;
    // The most letters in any one token; 0 without tokens.
    int longestTokenLetterCount = 0;
    int compactScriptLetterCount = 0;

    TranslationTextStats() = default;
    explicit TranslationTextStats(const QString& text);

    bool operator==(const TranslationTextStats&) const = default;

    // The number of letter scalars in a string.
    static int letterCount(QStringView text);
    static bool isLetter(char32_t scalar);
    static bool isAlphanumeric(char32_t scalar);
    static bool isCompactScript(char32_t scalar);
};

}  // namespace tavrolin
