// A field's text and selection as AT-SPI reports them, in the UTF-16 units the rest of the
// program counts in.
#include "platform/linux/atspi_calls.h"

#include <algorithm>
#include <atspi/atspi.h>

namespace tavrolin::atspi {

qsizetype codePointsToUtf16(const QString& text, qsizetype codePoints) {
    qsizetype i = 0;
    for (qsizetype seen = 0; i < text.size() && seen < codePoints; ++seen) {
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    }
    return i;
}

qsizetype utf16ToCodePoints(const QString& text, qsizetype utf16) {
    const qsizetype end = std::clamp<qsizetype>(utf16, 0, text.size());
    qsizetype count = 0;
    for (qsizetype i = 0; i < end; ++count) {
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    }
    return count;
}

std::optional<QString> wholeText(AtspiText* text) {
    CallError error;
    GMemory<gchar> chars(atspi_text_get_text(text, 0, -1, error.out()));
    if (error.failed() || !chars) {
        return std::nullopt;
    }
    if (chars.get()[0] != '\0') {
        return QString::fromUtf8(chars.get());
    }
    // GTK 4's entries answer "to the end" (-1) with nothing whatever they hold: an empty answer
    // is taken only from a text that counts no characters.
    CallError countError;
    const gint count = atspi_text_get_character_count(text, countError.out());
    if (countError.failed() || count <= 0) {
        return QString();
    }
    CallError rangeError;
    GMemory<gchar> counted(atspi_text_get_text(text, 0, count, rangeError.out()));
    if (rangeError.failed() || !counted) {
        return std::nullopt;
    }
    return QString::fromUtf8(counted.get());
}

std::optional<FieldText> readFieldText(AtspiText* text) {
    std::optional<QString> whole = wholeText(text);
    if (!whole) {
        return std::nullopt;
    }
    FieldText field{std::move(*whole), true};
    if (utf16ToCodePoints(field.whole, field.whole.size()) != field.whole.size()) {
        CallError error;
        const gint count = atspi_text_get_character_count(text, error.out());
        field.utf16Offsets = !error.failed() && count == field.whole.size();
    }
    return field;
}

std::optional<std::pair<int, int>> firstSelection(AtspiText* text) {
    CallError countError;
    const gint count = atspi_text_get_n_selections(text, countError.out());
    if (countError.failed() || count <= 0) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRange> range(atspi_text_get_selection(text, 0, error.out()));
    if (error.failed() || !range) {
        return std::nullopt;
    }
    const int start = std::min(range->start_offset, range->end_offset);
    const int end = std::max(range->start_offset, range->end_offset);
    if (start < 0 || end == start) {
        return std::nullopt;
    }
    return std::make_pair(start, end);
}

std::optional<std::pair<qsizetype, qsizetype>> selectionInField(AtspiText* text, const FieldText& field) {
    const std::optional<std::pair<int, int>> selection = firstSelection(text);
    if (!selection) {
        return std::nullopt;
    }
    qsizetype start = field.toUtf16(selection->first);
    qsizetype end = field.toUtf16(selection->second);
    // Without a character beyond the Basic Multilingual Plane both counts below agree: no need
    // to ask the program for its caret on every look.
    const bool beyondBasicPlane =
        std::any_of(field.whole.cbegin(), field.whole.cend(), [](QChar unit) { return unit.isHighSurrogate(); });
    if (field.utf16Offsets || !beyondBasicPlane) {
        return std::make_pair(start, end);
    }
    // Chromium counts a selection's ends in characters twice over, as if the characters were
    // UTF-16 units: each character beyond the Basic Multilingual Plane before an end takes it one
    // character further back (a select-all over one emoji stops one character short). Its caret
    // it counts once, and the caret stands at one end of the selection: it tells which count the
    // program used.
    CallError caretError;
    const gint caret = atspi_text_get_caret_offset(text, caretError.out());
    if (caretError.failed() || caret < 0) {
        return std::make_pair(start, end);
    }
    const qsizetype caretAt = field.toUtf16(caret);
    if (caretAt == start || caretAt == end) {
        return std::make_pair(start, end);
    }
    const auto countedTwice = [&field](int offset) {
        return codePointsToUtf16(field.whole, codePointsToUtf16(field.whole, offset));
    };
    const qsizetype twiceStart = countedTwice(selection->first);
    const qsizetype twiceEnd = countedTwice(selection->second);
    if (caretAt == twiceStart || caretAt == twiceEnd) {
        return std::make_pair(twiceStart, twiceEnd);
    }
    return std::make_pair(start, end);
}

std::optional<AccessibleTextRange> selectionOrCaret(AtspiText* text, const FieldText& field) {
    if (const auto selection = selectionInField(text, field)) {
        AccessibleTextRange range{selection->first, selection->second - selection->first};
        if (range.length > 0) {
            CallError caretError;
            const gint caret = atspi_text_get_caret_offset(text, caretError.out());
            range.backward = !caretError.failed() && caret >= 0 && field.toUtf16(caret) == range.location;
        }
        return range;
    }
    CallError error;
    const gint caret = atspi_text_get_caret_offset(text, error.out());
    if (error.failed() || caret < 0) {
        return std::nullopt;
    }
    return AccessibleTextRange{field.toUtf16(caret), 0};
}

}  // namespace tavrolin::atspi
