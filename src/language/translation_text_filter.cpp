#include "language/translation_text_filter.h"

#include "core/text_units.h"

#include <QChar>
#include <QStringView>

#include <algorithm>

namespace tavrolin {

bool TranslationTextStats::isLetter(char32_t scalar) {
    switch (QChar::category(scalar)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

bool TranslationTextStats::isAlphanumeric(char32_t scalar) {
    if (isLetter(scalar)) {
        return true;
    }
    switch (QChar::category(scalar)) {
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

bool TranslationTextStats::isCompactScript(char32_t scalar) {
    return (scalar >= 0x3040 && scalar <= 0x30FF) || (scalar >= 0x3400 && scalar <= 0x4DBF) ||
           (scalar >= 0x4E00 && scalar <= 0x9FFF) || (scalar >= 0xAC00 && scalar <= 0xD7AF);
}

int TranslationTextStats::letterCount(QStringView text) {
    int count = 0;
    forEachScalar(text, [&count](char32_t scalar) {
        if (isLetter(scalar)) {
            ++count;
        }
    });
    return count;
}

TranslationTextStats::TranslationTextStats(const QString& text) {
    // One pass: a token ends at every scalar outside L, M and N (empty pieces never count).
    int tokenLetters = 0;
    bool inToken = false;
    const auto endToken = [&] {
        if (!inToken) {
            return;
        }
        ++tokenCount;
        longestTokenLetterCount = std::max(longestTokenLetterCount, tokenLetters);
        if (tokenLetters >= 3) {
            ++wordLikeTokenCount;
        }
        inToken = false;
        tokenLetters = 0;
    };
    forEachScalar(QStringView(text), [&](char32_t scalar) {
        if (!isAlphanumeric(scalar)) {
            endToken();
            return;
        }
        inToken = true;
        if (isLetter(scalar)) {
            ++tokenLetters;
            ++totalLetterCount;
            if (isCompactScript(scalar)) {
                ++compactScriptLetterCount;
            }
        }
    });
    endToken();
}

}  // namespace tavrolin
