#include "focused_text/accessible_text_cleaning.h"

namespace tavrolin {

namespace {

constexpr QChar zeroWidthNoBreakSpace(0xFEFF);
constexpr QChar objectReplacementCharacter(0xFFFC);

// Both lie in the Basic Multilingual Plane: removing them never splits a surrogate pair.
bool isAddedByAccessibility(QChar c) {
    return c == zeroWidthNoBreakSpace || c == objectReplacementCharacter;
}

// The units of text[0, end) that the cleaning keeps.
qsizetype keptBefore(const QString& text, qsizetype end) {
    qsizetype kept = 0;
    for (qsizetype i = 0; i < end; ++i) {
        kept += isAddedByAccessibility(text.at(i)) ? 0 : 1;
    }
    return kept;
}

}  // namespace

QString cleanAccessibleText(const QString& reported) {
    if (!reported.contains(zeroWidthNoBreakSpace) && !reported.contains(objectReplacementCharacter)) {
        return reported;
    }
    QString cleaned;
    cleaned.reserve(reported.size());
    for (const QChar c : reported) {
        if (!isAddedByAccessibility(c)) {
            cleaned.append(c);
        }
    }
    return cleaned;
}

std::optional<TextRange> cleanedAccessibleTextRange(const QString& reported, TextRange range) {
    if (!isValidRange(range, reported.size())) {
        return std::nullopt;
    }
    const qsizetype start = keptBefore(reported, range.location);
    const qsizetype end = keptBefore(reported, range.location + range.length);
    return TextRange{start, end - start};
}

}  // namespace tavrolin
