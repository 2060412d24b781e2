#include "core/text_units.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace tavrolin {

qsizetype graphemeCount(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

qsizetype codePointCount(const QString& text) {
    return utf16OffsetToCodePointOffset(text, text.size());
}

qsizetype utf16OffsetToCodePointOffset(const QString& text, qsizetype utf16Offset) {
    const qsizetype end = std::clamp<qsizetype>(utf16Offset, 0, text.size());
    qsizetype count = 0;
    for (qsizetype i = 0; i < end; ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            if (i + 1 >= end) {
                break;  // inside the pair: round down to its start
            }
            ++i;
        }
        ++count;
    }
    return count;
}

qsizetype codePointOffsetToUtf16Offset(const QString& text, qsizetype codePointOffset) {
    if (codePointOffset <= 0) {
        return 0;
    }
    qsizetype i = 0;
    qsizetype seen = 0;
    while (i < text.size() && seen < codePointOffset) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            i += 2;
        } else {
            ++i;
        }
        ++seen;
    }
    return i;
}

bool isValidRange(TextRange range, qsizetype textLength, qsizetype minimumLength) {
    return range.location >= 0 && range.length >= minimumLength && textLength >= 0 && range.location <= textLength &&
           range.length <= textLength - range.location;
}

}  // namespace tavrolin
