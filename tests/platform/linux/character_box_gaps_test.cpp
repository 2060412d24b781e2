#include "platform/linux/character_box_gaps.h"

#include <gtest/gtest.h>
#include <map>

namespace tavrolin {
namespace {

using Offsets = std::vector<qsizetype>;

// A line of characters 9 wide and 23 high (16 px text in a browser) from `x` at `y`, the
// offsets counted on from `first`; `gapBefore` puts that much room before the character there.
std::vector<CharacterBox> line(qsizetype first, int count, double x, double y, std::map<int, double> gapBefore = {}) {
    std::vector<CharacterBox> characters;
    for (int i = 0; i < count; ++i) {
        x += gapBefore.count(i) ? gapBefore[i] : 0;
        characters.push_back({first + i, QRectF(x, y, 9, 23)});
        x += 9;
    }
    return characters;
}

std::vector<CharacterBox> joined(std::vector<CharacterBox> a, const std::vector<CharacterBox>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CharacterBoxGapsTest, RoomWiderThanASpaceOnALineIsSomethingWithoutCharacters) {
    // Characters side by side, or a pixel apart either way (rounding), and a span's padding.
    EXPECT_EQ(roomWithoutCharacters(line(0, 20, 100, 200)), Offsets{});
    EXPECT_EQ(roomWithoutCharacters(line(0, 20, 100, 200, {{5, 1}, {6, -1}, {12, 6}})), Offsets{});
    // A picture 120 wide before the 13th character, and one 20 wide before the 4th.
    EXPECT_EQ(roomWithoutCharacters(line(0, 20, 100, 200, {{12, 120}})), Offsets{12});
    EXPECT_EQ(roomWithoutCharacters(line(0, 20, 100, 200, {{3, 20}, {12, 120}})), (Offsets{3, 12}));
    // Right-to-left: the characters run leftwards, the picture between the same two.
    std::vector<CharacterBox> rightToLeft = line(0, 10, 100, 200, {{4, 120}});
    std::reverse(rightToLeft.begin(), rightToLeft.end());
    for (qsizetype i = 0; i < 10; ++i) {
        rightToLeft[i].offset = i;
    }
    EXPECT_EQ(roomWithoutCharacters(rightToLeft), Offsets{6});
    // An unknown box is no gap, and a gap is told across one without a box.
    std::vector<CharacterBox> unknown = line(0, 10, 100, 200);
    unknown[4].box.reset();
    EXPECT_EQ(roomWithoutCharacters(unknown), Offsets{});
    unknown = line(0, 10, 100, 200, {{5, 60}});
    unknown[4].box = QRectF();
    EXPECT_EQ(roomWithoutCharacters(unknown), Offsets{5});
}

TEST(CharacterBoxGapsTest, AFirstLineFarBelowTheTopOfItsFieldIsLoweredBySomethingTaller) {
    // A field with 9 px of padding and border, its one line: right below them, or lowered by a
    // picture 60 high at its end (or start); a second line does not count.
    const QRectF field(100, 151, 618, 40);
    EXPECT_EQ(roomWithoutCharacters(line(0, 18, 109, 160), field), Offsets{});
    EXPECT_EQ(roomWithoutCharacters(line(0, 18, 109, 202), QRectF(100, 151, 618, 83)), (Offsets{0, 18}));
    EXPECT_EQ(roomWithoutCharacters(line(0, 18, 109, 202)), Offsets{});
    EXPECT_EQ(roomWithoutCharacters(joined(line(0, 10, 109, 160), line(10, 8, 109, 183)), field), Offsets{});
    // A paragraph's margin above its block is not the text's room.
    const std::vector<CharacterBox> paragraph = {{0, QRectF(109, 190, 300, 23), true}};
    EXPECT_EQ(roomWithoutCharacters(paragraph, field), Offsets{});
}

TEST(CharacterBoxGapsTest, AnEmbeddedTextFillsItsRoomAndTellsItsOwnGaps) {
    // "meet <link> tomorrow": the link's words stand at one U+FFFC, their box in its room.
    std::vector<CharacterBox> withLink = line(0, 10, 100, 200, {{6, 80}});
    withLink[5] = CharacterBox{5, QRectF(145, 200, 80, 23), true};
    EXPECT_EQ(roomWithoutCharacters(withLink), Offsets{});
    // A picture between the link and the next word is the text's; room between two embedded
    // texts (paragraphs side by side, columns) is not.
    withLink = line(0, 10, 100, 200, {{6, 120}});
    withLink[5] = CharacterBox{5, QRectF(145, 200, 80, 23), true};
    EXPECT_EQ(roomWithoutCharacters(withLink), Offsets{6});
    const std::vector<CharacterBox> twoTexts = {{0, QRectF(100, 200, 80, 23), true},
                                                {1, QRectF(300, 200, 80, 23), true}};
    EXPECT_EQ(roomWithoutCharacters(twoTexts), Offsets{});
    // Paragraphs below one another keep room between them.
    const std::vector<CharacterBox> paragraphs = {{0, QRectF(100, 200, 300, 23), true},
                                                  {1, QRectF(100, 260, 300, 46), true}};
    EXPECT_EQ(roomWithoutCharacters(paragraphs), Offsets{});
}

TEST(CharacterBoxGapsTest, ALineFarBelowTheLastIsSomethingTallerThanTheText) {
    // A wrapped line right below, and one after a line of its own for an empty line.
    EXPECT_EQ(roomWithoutCharacters(joined(line(0, 10, 100, 200), line(10, 10, 100, 223))), Offsets{});
    EXPECT_EQ(roomWithoutCharacters(joined(line(0, 10, 100, 200), line(10, 10, 100, 230))), Offsets{});
    // Chromium's box for the space where a line wraps: one pixel wide, at the paragraph's end.
    std::vector<CharacterBox> wrapped = joined(line(0, 10, 100, 200), line(10, 10, 100, 223));
    wrapped[9].box = QRectF(300, 269, 1, 23);
    EXPECT_EQ(roomWithoutCharacters(wrapped), Offsets{});
    // A picture 40 high at the end of the second line lowers its text.
    EXPECT_EQ(roomWithoutCharacters(joined(line(0, 10, 100, 200), line(10, 10, 100, 245))), Offsets{10});
    // Between paragraphs whose line breaks show no box, the room is the paragraphs' own.
    std::vector<CharacterBox> paragraphs = joined(line(0, 10, 100, 200), line(11, 10, 100, 260));
    paragraphs.insert(paragraphs.begin() + 10, CharacterBox{10, std::nullopt});
    EXPECT_EQ(roomWithoutCharacters(paragraphs), Offsets{});
}

TEST(CharacterBoxGapsTest, MeasuringAsksEmptyBoxesAgainAndCountsWhatItCouldNotMeasure) {
    // "The red car  is fast.", a picture 120 wide between the two spaces; the page answers its
    // first three questions with empty boxes, as Firefox does for a page laid out anew.
    const QString text = QStringLiteral("The red car  is fast.");
    const std::map<qsizetype, QRectF> noEmbeddedTexts;
    int asked = 0;
    const auto boxOf = [&](qsizetype offset) -> std::optional<QRectF> {
        if (++asked <= 3) {
            return std::nullopt;
        }
        return QRectF(100 + 9 * offset + (offset >= 12 ? 120 : 0), 200, 9, 23);
    };
    const auto answering = [] { return true; };
    int budget = 100;
    EXPECT_EQ(measureRoomWithoutCharacters({text, noEmbeddedTexts, std::nullopt}, boxOf, answering, budget),
              Offsets{12});
    EXPECT_EQ(budget, 100 - text.size() - 3);
    // Out of budget, or the program no longer answering, before the picture: the rest may hold
    // anything, and counts from where measuring stopped.
    asked = 10;
    budget = 5;
    EXPECT_EQ(measureRoomWithoutCharacters({text, noEmbeddedTexts, std::nullopt}, boxOf, answering, budget),
              Offsets{5});
    budget = 100;
    int answers = 8;
    const auto stopsAnswering = [&] { return answers-- > 0; };
    EXPECT_EQ(measureRoomWithoutCharacters({text, noEmbeddedTexts, std::nullopt}, boxOf, stopsAnswering, budget),
              Offsets{8});
}

}  // namespace
}  // namespace tavrolin
