#pragma once

#include "language/focused_text_field_accessing.h"
#include "platform/accessibility.h"
#include "platform/front_application.h"

#include <QRectF>
#include <QString>

#include <optional>

namespace tavrolin {

// One read of an element's text and selection, as its program's accessibility layer reported
// them: the three answers come from the same element, one right after the other.
struct ReportedFieldText {
    std::optional<QString> value;
    std::optional<QString> selectedText;
    std::optional<AccessibleTextRange> selectedRange;
};

// What becomes of selected text that the range of the same read does not hold (a stale
// selection, or one borrowed from another object): kept for a selection that is only read
// (translated), dropped from one a command may write back, where replacing it alone would insert
// the result at the caret, beside the text it was meant to replace.
enum class UnconfirmedSelection { kept, dropped };

// A selection's range as another program reported it for `value`, moved onto the cleaned text;
// absent when it does not lie within that text.
std::optional<TextRange> cleanedReportedRange(const std::optional<AccessibleTextRange>& range,
                                              const std::optional<QString>& value);

// The snapshot of a field that every reader of another program's field makes from such a read,
// so that what a command writes back is judged against the same text however the field was
// read: the text is what the user sees (cleanAccessibleText(): no U+FEFF after emoji, no U+FFFC
// object markers), the selected text likewise; the selection's range is kept only when it lies
// within the reported text, and is moved onto the cleaned text. `screenFrame` and
// `sourceWindow` are carried as given.
FocusedTextFieldSnapshot snapshotFromAccessibleRead(AccessibleElementHandle element, const ReportedFieldText& reported,
                                                    UnconfirmedSelection unconfirmed, std::optional<QRectF> screenFrame,
                                                    std::optional<FrontApplication> sourceWindow);

}  // namespace tavrolin
