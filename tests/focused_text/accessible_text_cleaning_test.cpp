#include "focused_text/accessible_text_cleaning.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// As Firefox reports "I love this red car 😀👍🏽 very much." and a paragraph holding an image.
const QString firefoxEmoji = QString::fromUtf8("I love this red car 😀\uFEFF👍\uFEFF🏽\uFEFF very much.");
const QString embeddedImage = QString::fromUtf8("See \uFFFC\uFEFF below");

TEST(AccessibleTextCleaningTest, RemovesTheCharactersTheAccessibilityLayerAdds) {
    EXPECT_EQ(cleanAccessibleText(firefoxEmoji), QString::fromUtf8("I love this red car 😀👍🏽 very much."));
    EXPECT_EQ(cleanAccessibleText(embeddedImage), QStringLiteral("See  below"));
    EXPECT_EQ(cleanAccessibleText(QString::fromUtf8("plain 😀 text")), QString::fromUtf8("plain 😀 text"));
    EXPECT_EQ(cleanAccessibleText(QString()), QString());
}

TEST(AccessibleTextCleaningTest, MapsRangesOntoTheSeenText) {
    // "a😀\uFEFFb\uFFFCc": a at 0, the emoji at 1-2, U+FEFF at 3, b at 4, U+FFFC at 5, c at 6.
    const SeenAccessibleText seen(QString::fromUtf8("a😀\uFEFFb\uFFFCc"), {});
    ASSERT_EQ(seen.text(), QString::fromUtf8("a😀bc"));
    EXPECT_TRUE(seen.holdsObjectWithoutText());
    const struct {
        TextRange reported;
        std::optional<TextRange> seen;
    } cases[] = {
        {{0, 0}, TextRange{0, 0}},  // caret at the start
        {{7, 0}, TextRange{5, 0}},  // caret at the end
        {{0, 7}, TextRange{0, 5}},  // everything
        {{4, 1}, TextRange{3, 1}},  // "b"
        {{1, 3}, TextRange{1, 2}},  // the emoji with its U+FEFF
        {{5, 1}, TextRange{4, 0}},  // only an object without text: nothing seen, where it stood
        {{6, 2}, std::nullopt},     // past the end
        {{-1, 1}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(seen.seenRange(c.reported), c.seen) << c.reported.location << "," << c.reported.length;
    }
    EXPECT_EQ(SeenAccessibleText(firefoxEmoji, {}).seenRange({30, 4}), (TextRange{27, 4}));  // "very"
}

// What Firefox and Chromium report of a rich-text field holding a link: one U+FFFC in the field's
// text, the link's words in the link; a range that begins or ends inside the link takes in the
// U+FFFC (starting on it, ending after it), and the link tells where inside it lies.
TEST(AccessibleTextCleaningTest, AnEmbeddedObjectsTextIsPartOfTheSeenText) {
    const QString reported = QStringLiteral("I would like to meet \uFFFC tomorrow at the station.");
    const QString sentence = QStringLiteral("I would like to meet my good friend tomorrow at the station.");
    const auto withLink = [&](std::optional<AccessibleTextRange> linkSelection) {
        return SeenAccessibleText(reported, {{21, QStringLiteral("my good friend"), linkSelection, {}}});
    };
    EXPECT_EQ(withLink(std::nullopt).text(), sentence);
    EXPECT_FALSE(withLink(std::nullopt).holdsObjectWithoutText());
    const struct {
        const char* what;
        TextRange reported;
        std::optional<AccessibleTextRange> inLink;
        QString selected;
        bool partOfObject;
    } cases[] = {
        {"caret inside the link", {21, 0}, AccessibleTextRange{3, 0}, QString(), false},
        {"caret after the link", {23, 0}, std::nullopt, QString(), false},
        {"from inside the link on", {21, 10}, AccessibleTextRange{3, 11}, QStringLiteral("good friend tomorrow"), true},
        {"into the link", {16, 6}, AccessibleTextRange{0, 2}, QStringLiteral("meet my"), true},
        {"across the whole link",
         {16, 15},
         AccessibleTextRange{0, 14},
         QStringLiteral("meet my good friend tomorrow"),
         false},
        {"inside the link", {21, 1}, AccessibleTextRange{3, 4}, QStringLiteral("good"), true},
        {"after the link", {39, 7}, std::nullopt, QStringLiteral("station"), false},
    };
    for (const auto& c : cases) {
        const SeenAccessibleText seen = withLink(c.inLink);
        const std::optional<TextRange> range = seen.seenRange(c.reported);
        ASSERT_TRUE(range) << c.what;
        EXPECT_EQ(seen.text().mid(range->location, range->length), c.selected) << c.what;
        EXPECT_EQ(seen.span(c.reported).partOfObject, c.partOfObject) << c.what;
        EXPECT_FALSE(seen.span(c.reported).objectWithoutText) << c.what;
    }
    EXPECT_EQ(withLink(AccessibleTextRange{3, 0}).seenRange({21, 0}), (TextRange{24, 0}));

    // Firefox's U+FEFF after an object goes as after an emoji.
    const SeenAccessibleText marked(QStringLiteral("meet \uFFFC\uFEFF soon"), {{5, QStringLiteral("him"), {}, {}}});
    EXPECT_EQ(marked.text(), QStringLiteral("meet him soon"));
}

// Chromium's report of "Say <a>hi <b>bold</b> <mark>marked</mark> <img> there</a> and @Ann
// <mark>hm</mark> end.": objects within objects, the image without text.
TEST(AccessibleTextCleaningTest, NestedObjectsAndObjectsWithoutText) {
    const AccessibleEmbeddedObject link{4,
                                        QStringLiteral("hi bold \uFFFC \uFFFC there"),
                                        std::nullopt,
                                        {{8, QStringLiteral("marked"), std::nullopt, {}}, {10, std::nullopt, {}, {}}}};
    const AccessibleEmbeddedObject mark{15, QStringLiteral("hm"), std::nullopt, {}};
    const QString reported = QStringLiteral("Say \uFFFC and @Ann \uFFFC end.");
    const SeenAccessibleText seen(reported, {link, mark});
    EXPECT_EQ(seen.text(), QStringLiteral("Say hi bold marked  there and @Ann hm end."));
    EXPECT_TRUE(seen.holdsObjectWithoutText());
    EXPECT_TRUE(seen.span({0, 6}).objectWithoutText);        // "Say " and the link
    EXPECT_FALSE(seen.span({15, 6}).objectWithoutText);      // "hm end."
    EXPECT_EQ(seen.seenRange({15, 6}), (TextRange{35, 7}));  // after the link's words

    // Within the link, a selection that ends before the image does not take it in.
    AccessibleEmbeddedObject selectedInLink = link;
    selectedInLink.selection = AccessibleTextRange{0, 7};  // "hi bold"
    const SeenAccessibleText beforeImage(reported, {selectedInLink, mark});
    EXPECT_EQ(beforeImage.seenRange({0, 5}), (TextRange{0, 11}));  // "Say hi bold"
    EXPECT_FALSE(beforeImage.span({0, 5}).objectWithoutText);
    EXPECT_TRUE(beforeImage.span({0, 5}).partOfObject);

    // A U+FFFC the program names no object for could not be read.
    EXPECT_TRUE(SeenAccessibleText(reported, {mark}).span({0, 6}).objectWithoutText);
}

// What both browsers report of "Hello there<div>second line</div><div>third <a>link</a> end</div>",
// the caret at its end: each block is an object of its own, with no line break around its U+FFFC.
TEST(AccessibleTextCleaningTest, ParagraphsAreOnLinesOfTheirOwn) {
    const QString reported = QStringLiteral("Hello there\uFFFC\uFFFC");
    AccessibleEmbeddedObject second{11, QStringLiteral("second line"), std::nullopt, {}, true};
    AccessibleEmbeddedObject third{12,
                                   QStringLiteral("third \uFFFC end"),
                                   AccessibleTextRange{11, 0},
                                   {{6, QStringLiteral("link"), std::nullopt, {}, false}},
                                   true};
    const SeenAccessibleText seen(reported, {second, third});
    EXPECT_EQ(seen.text(), QStringLiteral("Hello there\nsecond line\nthird link end"));
    EXPECT_EQ(seen.seenRange({12, 0}), (TextRange{38, 0}));  // the caret at the end of the last line

    // "second" selected: the selection lies inside the paragraph, after the line break.
    second.selection = AccessibleTextRange{0, 6};
    third.selection.reset();
    EXPECT_EQ(SeenAccessibleText(reported, {second, third}).seenRange({11, 1}), (TextRange{12, 6}));
}

// Where an offset of the seen text lies in what the program reports, for putting a caret or a
// selection back: past an emoji's U+FEFF, beside a link at its edges and inside it between them,
// inside a paragraph, after a list item's marker.
TEST(AccessibleTextCleaningTest, SeenOffsetsLieWhereTheProgramCountsThem) {
    using Place = SeenAccessibleText::Place;
    const SeenAccessibleText emoji(firefoxEmoji, {});
    const qsizetype afterEmoji = emoji.text().indexOf(QStringLiteral(" very"));
    EXPECT_EQ(emoji.reportedPlace(afterEmoji), (Place{{}, firefoxEmoji.indexOf(QStringLiteral(" very"))}));
    EXPECT_EQ(emoji.reportedPlace(emoji.text().size()), (Place{{}, firefoxEmoji.size()}));
    EXPECT_EQ(emoji.reportedPlace(emoji.text().size() + 1), std::nullopt);

    // "Meet <a>my friend</a> now" and a paragraph "Bye", as a rich-text field reports them.
    const QString reported = QStringLiteral("Meet \uFFFC now\uFFFC");
    const AccessibleEmbeddedObject link{5, QStringLiteral("my friend"), std::nullopt, {}};
    AccessibleEmbeddedObject bye{10, QStringLiteral("\u2022 Bye"), std::nullopt, {}, true};
    bye.marker = 2;
    const SeenAccessibleText rich(reported, {link, bye});
    ASSERT_EQ(rich.text(), QStringLiteral("Meet my friend now\nBye"));
    EXPECT_EQ(rich.reportedPlace(5), (Place{{}, 5}));     // before the link
    EXPECT_EQ(rich.reportedPlace(8), (Place{{5}, 3}));    // inside it, after "my "
    EXPECT_EQ(rich.reportedPlace(14), (Place{{}, 6}));    // right after it
    EXPECT_EQ(rich.reportedPlace(18), (Place{{}, 10}));   // at the end of the line
    EXPECT_EQ(rich.reportedPlace(19), (Place{{10}, 2}));  // the item's start, after its marker
    EXPECT_EQ(rich.reportedPlace(22), (Place{{10}, 5}));  // the end of the text
}

// What both browsers report of "<div>Hi</div><ul><li>red car</li></ul><ol><li>big</li></ol>":
// each item's text begins with the marker its list draws, which the user never typed.
TEST(AccessibleTextCleaningTest, ListMarkersAreNoPartOfTheText) {
    const auto item = [](qsizetype offset, const QString& text, qsizetype marker,
                         std::optional<AccessibleTextRange> selection = std::nullopt) {
        AccessibleEmbeddedObject object{offset, text, selection, {}, true};
        object.marker = marker;
        return object;
    };
    const auto list = [](qsizetype offset, AccessibleEmbeddedObject only,
                         std::optional<AccessibleTextRange> selection = std::nullopt) {
        return AccessibleEmbeddedObject{offset, QStringLiteral("\uFFFC"), selection, {std::move(only)}, true};
    };
    const QString reported = QStringLiteral("\uFFFC\uFFFC\uFFFC");
    const AccessibleEmbeddedObject hi{0, QStringLiteral("Hi"), std::nullopt, {}, true};
    const SeenAccessibleText seen(
        reported, {hi, list(1, item(0, QStringLiteral("\u2022 red car"), 2)), list(2, item(0, "1. big", 3))});
    EXPECT_EQ(seen.text(), QStringLiteral("Hi\nred car\nbig"));
    EXPECT_EQ(seen.listItems(), 2);

    // "car" selected in the first item: the range leaves the marker out.
    const SeenAccessibleText selected(
        reported,
        {hi,
         list(1, item(0, QStringLiteral("\u2022 red car"), 2, AccessibleTextRange{6, 3}), AccessibleTextRange{0, 1}),
         list(2, item(0, "1. big", 3))});
    EXPECT_EQ(selected.seenRange({1, 1}), (TextRange{7, 3}));

    // Each line within one object: the item's words without the marker, to be written on its own.
    const std::vector<AccessibleLine> lines{{{0}, {0, 2}, "Hi"}, {{1, 0}, {2, 7}, "red car"}, {{2, 0}, {3, 3}, "big"}};
    EXPECT_EQ(accessibleLines(
                  reported, {hi, list(1, item(0, QStringLiteral("\u2022 red car"), 2)), list(2, item(0, "1. big", 3))}),
              lines);
    // A line that runs from the field's own text into a link and on: one line of one object, which
    // tells where the link's words stand in it, and that they are a link.
    AccessibleEmbeddedObject link{4, QStringLiteral("red"), std::nullopt, {}, false};
    link.link = QStringLiteral("https://example.org/red");
    EXPECT_EQ(accessibleLines(QStringLiteral("the \uFFFC car\nok"), {link}),
              (std::vector<AccessibleLine>{{{}, {0, 9}, "the red car", false, {{4, 3}}, {1}}, {{}, {10, 2}, "ok"}}));
    EXPECT_EQ(SeenAccessibleText(QStringLiteral("the \uFFFC car\nok"), {link}).links(), 1);
    // A link whose words run over two lines: those lines are no object's each.
    const AccessibleEmbeddedObject broken{4, QStringLiteral("red\nblue"), std::nullopt, {}, false};
    EXPECT_EQ(accessibleLines(QStringLiteral("the \uFFFC car"), {broken}), std::nullopt);

    // Browsers report a line selected inside its object with the line breaks around it.
    EXPECT_TRUE(selectsLine("Hi\nred car\nbig", {2, 9}, {3, 7}));
    EXPECT_FALSE(selectsLine("Hi\nred car\nbig", {1, 9}, {3, 7}));
    EXPECT_FALSE(selectsLine("Hi\nred car\nbig", {3, 6}, {3, 7}));

    // Without a marker the same text is the user's own.
    EXPECT_EQ(SeenAccessibleText(QStringLiteral("\uFFFC"), {item(0, "1. big", 0)}).text(), QStringLiteral("1. big"));
}

}  // namespace
}  // namespace tavrolin
