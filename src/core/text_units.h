#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <optional>

namespace tavrolin {

// What a person sees as one character: "é" written as e + combining accent, a flag or a
// family emoji each count once.
qsizetype graphemeCount(const QString& text);

// Calls visit(char32_t) with every Unicode scalar of the text; an unpaired surrogate is passed
// on as itself.
template <typename Visit>
void forEachScalar(QStringView text, Visit&& visit) {
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            visit(QChar::surrogateToUcs4(unit, text[i + 1]));
            ++i;
        } else {
            visit(static_cast<char32_t>(unit.unicode()));
        }
    }
}

// Unicode scalar values (code points). Lone surrogates count as one each.
qsizetype codePointCount(const QString& text);

// Conversions between UTF-16 offsets (QString indexes, the ranges the workflows speak of)
// and code-point offsets (what AT-SPI reports). An offset beyond the end clamps to the end;
// a UTF-16 offset inside a surrogate pair rounds down to the pair's start.
qsizetype utf16OffsetToCodePointOffset(const QString& text, qsizetype utf16Offset);
qsizetype codePointOffsetToUtf16Offset(const QString& text, qsizetype codePointOffset);

// A range of UTF-16 units, as the text fields of other applications report them.
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;
    bool operator==(const TextRange&) const = default;
};

// Checks a range reported by another process against the text without overflow:
// location >= 0, length >= minimumLength, and length <= size - location.
bool isValidRange(TextRange range, qsizetype textLength, qsizetype minimumLength = 0);

}  // namespace tavrolin
