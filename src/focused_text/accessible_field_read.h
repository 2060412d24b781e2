#pragma once

#include "language/focused_text_field_accessing.h"
#include "platform/accessibility.h"
#include "platform/front_application.h"

#include <QRectF>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace tavrolin {

// One read of an element's text and selection, as its program's accessibility layer reported
// them: the answers come from the same element, one right after the other.
struct ReportedFieldText {
    std::optional<QString> value;
    // The objects embedded in `value`, read with it (none asked for: each U+FFFC counts as an
    // object without text).
    std::vector<AccessibleEmbeddedObject> objects;
    std::optional<QString> selectedText;
    std::optional<AccessibleTextRange> selectedRange;
    // Where pictures and the like that publish no object stand in `value`
    // (AccessibleRichText::unpublishedObjects).
    std::vector<qsizetype> unpublishedObjects;
    // What the read could not see, counted among the objects without text
    // (AccessibleRichText::unreadObjects and unmeasured).
    int unreadObjects = 0;
    bool unmeasured = false;

    bool sawEverything() const { return unreadObjects == 0 && !unmeasured; }
};

// Reads an element's text, the objects embedded in it and (when asked) its selection, on the
// accessibility thread, in one job so that they belong together. The objects are asked for only
// in an element the user can edit (a rich-text field): a page's document stands a U+FFFC for each
// of its paragraphs, and nothing is written there.
// `measuringScale` above 1: a look again that measures for pictures longer
// (Accessibility::richTextMeasuringLonger).
ReportedFieldText readReportedFieldText(Accessibility& accessibility, const AccessibleElementHandle& element,
                                        bool withSelection, int measuringScale = 1);
// How long that job may take: one object costs several calls (times the measuring scale).
inline constexpr std::chrono::milliseconds reportedFieldTextBound{1000};

// Whether a read found room without characters (an unpublished picture) anywhere in the text.
bool holdsRoomWithoutCharacters(const ReportedFieldText& reported);
// Keeps in `first` only the room without characters that `second`, a read of the same text, found
// at the same places (objects matched by their offsets; an object `second` lacks keeps its own).
void keepRoomSeenTwice(ReportedFieldText& first, const ReportedFieldText& second);

// The text the user sees of such a read (SeenAccessibleText); absent when it holds no text.
std::optional<QString> seenValue(const ReportedFieldText& reported);

// What becomes of selected text that the range of the same read does not hold (a stale
// selection, or one borrowed from another object): kept for a selection that is only read
// (translated), dropped from one a command may write back, where replacing it alone would insert
// the result at the caret, beside the text it was meant to replace.
enum class UnconfirmedSelection { kept, dropped };

// The snapshot of a field that every reader of another program's field makes from such a read,
// so that what a command writes back is judged against the same text however the field was
// read: the text is what the user sees (SeenAccessibleText: each embedded object with its own
// text, no U+FEFF after emoji), the selected text likewise; the selection's range is kept only
// when it lies within the reported text, and is moved onto the seen text. The snapshot says
// where an object without text lies in the way of a write. `screenFrame` and `sourceWindow` are
// carried as given.
FocusedTextFieldSnapshot snapshotFromAccessibleRead(AccessibleElementHandle element, const ReportedFieldText& reported,
                                                    UnconfirmedSelection unconfirmed, std::optional<QRectF> screenFrame,
                                                    std::optional<FrontApplication> sourceWindow);

}  // namespace tavrolin
