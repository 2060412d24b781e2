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
};

// Where something that is no character takes room among a text's characters (`characters` in the
// text's order): a gap on a line between two characters' boxes, or between a line and the next
// when the last character of the one and the first of the other follow each other in the text,
// larger than three quarters of the characters' height (far wider than a space, far taller than
// the room between lines). Each place is given as the offset of the character after the gap, in
// the text's order.
std::vector<qsizetype> roomWithoutCharacters(const std::vector<CharacterBox>& characters);

}  // namespace tavrolin
