#pragma once

#include <QRectF>
#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace tavrolin {

// One character of a text as its program lays it out: where it is in the text (UTF-16 units)
// and its box on screen; no box when the program gave none, or the character's box tells nothing
// of its place (an embedded object's marker). A box one pixel wide or less counts as none.
struct CharacterBox {
    qsizetype offset = 0;
    std::optional<QRectF> box;
    // The box stands for the text of an object embedded there (a link's words): room taken by
    // text, whose own gaps are that text's to tell.
    bool embeddedText = false;
};

// Where something that is no character takes room among a text's characters (`characters` in the
// text's order): a gap on a line between two characters' boxes, or between a line and the next
// when the last character of the one and the first of the other follow each other in the text,
// larger than three quarters of the characters' height (far wider than a space, far taller than
// the room between lines). Each place is given as the offset of the later of the two characters
// beside the gap in the text. Between two embedded texts' boxes nothing is looked for, nor from a
// line to the next beside one (paragraphs keep room between them).
// `holder`, the box of the object that holds the text, also tells of something at the start or
// the end of the first line that lowers it: room above that line taller than a line (more than
// a field's padding) counts at both of its ends.
std::vector<qsizetype> roomWithoutCharacters(const std::vector<CharacterBox>& characters,
                                             const std::optional<QRectF>& holder = std::nullopt);

// A text to measure character by character.
struct MeasuredText {
    const QString& text;
    // The boxes of the texts of the objects embedded in it, by the offsets of their U+FFFC (an
    // object's marker has a box of its own in Firefox, not the object's).
    const std::map<qsizetype, QRectF>& embeddedTextBoxes;
    std::optional<QRectF> holder;  // the box of the object that holds the text
};

// roomWithoutCharacters() of a text whose characters' boxes `boxOf` gives (by UTF-16 offset; a
// character outside the Basic Multilingual Plane asked once), asked while `answering` and
// `budget` (counted down) last. A character without a box is asked once more at the end (a page
// laid out anew answers its first questions with empty boxes). Where measuring had to stop, the
// rest may hold anything: the first character left counts as a place too, and `cutShort` (when
// given) is set.
std::vector<qsizetype> measureRoomWithoutCharacters(const MeasuredText& text,
                                                    const std::function<std::optional<QRectF>(qsizetype)>& boxOf,
                                                    const std::function<bool()>& answering, int& budget,
                                                    bool* cutShort = nullptr);

}  // namespace tavrolin
