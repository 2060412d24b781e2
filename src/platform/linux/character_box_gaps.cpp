#include "platform/linux/character_box_gaps.h"

#include <algorithm>

namespace tavrolin {

namespace {

// A gap counts when it is wider (or taller) than this share of the characters' height: the room
// of a space or of a span's padding is less than half a line, a picture's rarely.
constexpr double kGapShareOfHeight = 0.75;
// Room above a text's first line counts when it is taller than a line: a field's padding is less.
constexpr double kRoomAboveShareOfHeight = 1.0;

struct Placed {
    qsizetype offset = 0;
    QRectF box;
    bool followsPrevious = false;  // the character right before it in the text has a box too
    bool embeddedText = false;
};

// Two boxes are on one line when they share at least half of the lower one's height.
bool onOneLine(const QRectF& line, const QRectF& box) {
    const double shared = std::min(line.bottom(), box.bottom()) - std::max(line.top(), box.top());
    return shared >= std::min(line.height(), box.height()) / 2;
}

double threshold(const QRectF& a, const QRectF& b) {
    return kGapShareOfHeight * std::min(a.height(), b.height());
}

// Gaps between the boxes of one line, in the order they stand on screen (right-to-left text
// and mixed directions alike).
void addGapsOnLine(std::vector<Placed> line, std::vector<qsizetype>& found) {
    std::sort(line.begin(), line.end(), [](const Placed& a, const Placed& b) { return a.box.left() < b.box.left(); });
    if (line.empty()) {
        return;
    }
    // The box that reaches furthest right so far: the character on the gap's left.
    const Placed* reaching = &line.front();
    for (std::size_t i = 1; i < line.size(); ++i) {
        const bool ownCharacter = !reaching->embeddedText || !line[i].embeddedText;
        if (ownCharacter && line[i].box.left() - reaching->box.right() > threshold(reaching->box, line[i].box)) {
            // Named by the later of the two characters in the text, whichever way it runs.
            found.push_back(std::max(reaching->offset, line[i].offset));
        }
        if (line[i].box.right() > reaching->box.right()) {
            reaching = &line[i];
        }
    }
}

// A line that stands far below the top of the object that holds it was lowered by something
// taller than its text at its start or its end (gaps within it tell the rest): both places count.
void addRoomAboveFirstLine(const std::vector<Placed>& line, const QRectF& lineSpan, const QRectF& holder,
                           std::vector<qsizetype>& found) {
    if (line.empty() || line.front().embeddedText) {
        return;  // a paragraph's margin, not the text's own room
    }
    double height = line.front().box.height();
    qsizetype first = line.front().offset;
    qsizetype last = line.front().offset;
    for (const Placed& placed : line) {
        height = std::min(height, placed.box.height());
        first = std::min(first, placed.offset);
        last = std::max(last, placed.offset);
    }
    if (lineSpan.top() - holder.top() > kRoomAboveShareOfHeight * height) {
        found.push_back(first);
        found.push_back(last + 1);
    }
}

}  // namespace

std::vector<qsizetype> roomWithoutCharacters(const std::vector<CharacterBox>& characters,
                                             const std::optional<QRectF>& holder) {
    std::vector<qsizetype> found;
    std::vector<Placed> line;
    QRectF lineSpan;
    bool previousHasBox = false;
    bool firstLine = true;
    for (const CharacterBox& character : characters) {
        // A box one pixel wide is a place, not a character's room: Chromium gives a space where a
        // line wraps such a box at the end of the paragraph, a line break has one too.
        if (!character.box || !(character.box->width() > 1) || !(character.box->height() > 0)) {
            previousHasBox = false;
            continue;
        }
        const Placed placed{character.offset, *character.box, previousHasBox, character.embeddedText};
        previousHasBox = true;
        if (!line.empty() && onOneLine(lineSpan, placed.box)) {
            line.push_back(placed);
            lineSpan = lineSpan.united(placed.box);
            continue;
        }
        if (!line.empty()) {
            // A line below the last, right after its last character: the room between them is
            // the lines' own, unless something taller than the text stands on the new line.
            const Placed& last = line.back();
            if (placed.followsPrevious && !placed.embeddedText && !last.embeddedText &&
                placed.box.top() > lineSpan.top() &&
                placed.box.top() - lineSpan.bottom() > threshold(last.box, placed.box)) {
                found.push_back(placed.offset);
            }
            if (firstLine && holder) {
                addRoomAboveFirstLine(line, lineSpan, *holder, found);
            }
            firstLine = false;
            addGapsOnLine(std::move(line), found);
        }
        line = {placed};
        lineSpan = placed.box;
    }
    if (firstLine && holder) {
        addRoomAboveFirstLine(line, lineSpan, *holder, found);
    }
    addGapsOnLine(std::move(line), found);
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::vector<qsizetype> measureRoomWithoutCharacters(const MeasuredText& text,
                                                    const std::function<std::optional<QRectF>(qsizetype)>& boxOf,
                                                    const std::function<bool()>& answering, int& budget,
                                                    bool* cutShort) {
    constexpr QChar objectReplacementCharacter(0xFFFC);
    const QString& whole = text.text;
    std::vector<CharacterBox> characters;
    std::optional<qsizetype> unmeasured;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        characters.push_back({i, std::nullopt});
        const bool pair = whole.at(i).isHighSurrogate() && i + 1 < whole.size() && whole.at(i + 1).isLowSurrogate();
        if (const auto found = text.embeddedTextBoxes.find(i); found != text.embeddedTextBoxes.end()) {
            characters.back().box = found->second;
            characters.back().embeddedText = true;
        } else if (whole.at(i) != objectReplacementCharacter) {
            if (budget <= 0 || !answering()) {
                unmeasured = i;
                break;
            }
            --budget;
            characters.back().box = boxOf(i);
        }
        i += pair ? 1 : 0;
    }
    for (CharacterBox& character : characters) {
        if (!character.box && whole.at(character.offset) != objectReplacementCharacter && budget > 0 && answering()) {
            --budget;
            character.box = boxOf(character.offset);
        }
    }
    std::vector<qsizetype> found = roomWithoutCharacters(characters, text.holder);
    if (unmeasured) {
        found.push_back(*unmeasured);
    }
    if (cutShort) {
        *cutShort = unmeasured.has_value();
    }
    return found;
}

}  // namespace tavrolin
