#pragma once

#include <QRectF>

#include <optional>
#include <vector>

namespace tavrolin {

// One character of a text as its program lays it out: where it is in the text (UTF-16 units)
// and its box on screen; no box when the program gave none, or the character's box tells nothing
// of its place (an embedded object's marker).
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

}  // namespace tavrolin
