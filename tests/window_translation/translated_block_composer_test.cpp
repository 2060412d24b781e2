#include "window_translation/translated_block_composer.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// A line of the paragraph: `row` 0 is the top line, lines 20 apart and 16 high.
RecognizedTextBlock line(int row, double right, const QString& text = QStringLiteral("line")) {
    return RecognizedTextBlock{text, QRectF(10, 500 - 20 * row, right - 10, 16), {}};
}

RecognizedTextGroup group(std::vector<RecognizedTextBlock> lines) {
    RecognizedTextGroup result;
    result.text = QStringLiteral("source");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QRectF& box = lines[i].boundingBox;
        result.boundingBox = i == 0 ? box : result.boundingBox.united(box);
    }
    result.blocks = std::move(lines);
    return result;
}

QString numberedWords(int count) {
    QStringList words;
    for (int i = 1; i <= count; ++i) {
        words.append(QStringLiteral("w%1").arg(i));
    }
    return words.join(QLatin1Char(' '));
}

TEST(TranslatedBlockComposer, OneLineOrOneEvenParagraphGivesOneBlockOverTheWholeBox) {
    const TranslatedBlockComposer composer;
    const RecognizedTextGroup single = group({line(0, 300)});
    const auto one = composer.compose(single, QStringLiteral("Hola mundo"));
    ASSERT_EQ(one.size(), 1U);
    EXPECT_EQ(one[0], (TranslatedTextBlock{QStringLiteral("Hola mundo"), single.boundingBox, 16}));

    // Lines ending at about the same edge and a short last line: the last line joins the region above.
    const RecognizedTextGroup paragraph = group({line(0, 300), line(1, 295), line(2, 298), line(3, 120)});
    const auto even = composer.compose(paragraph, numberedWords(10));
    ASSERT_EQ(even.size(), 1U);
    EXPECT_EQ(even[0].boundingBox, paragraph.boundingBox);
    EXPECT_EQ(even[0].translatedText, numberedWords(10));

    // Degenerate boxes (every right edge at 0): one block.
    RecognizedTextGroup flat = group({line(0, 10), line(1, 10)});
    for (auto& block : flat.blocks) {
        block.boundingBox = QRectF(0, block.boundingBox.y(), 0, 0);
    }
    EXPECT_EQ(composer.compose(flat, QStringLiteral("a b")).size(), 1U);
}

TEST(TranslatedBlockComposer, IndentedStretchSplitsThreeRegionsWeightedByLines) {
    const TranslatedBlockComposer composer;
    // 3 full lines, 2 ending before 90 % of the widest right edge (400 -> 360), 3 full lines.
    // 359 is narrow, exactly 360 would be wide.
    const RecognizedTextGroup paragraph = group({line(0, 400), line(1, 398), line(2, 400), line(3, 359), line(4, 300),
                                                 line(5, 400), line(6, 399), line(7, 400)});
    const auto blocks = composer.compose(paragraph, numberedWords(16));
    ASSERT_EQ(blocks.size(), 3U);
    EXPECT_EQ(blocks[0].translatedText, QStringLiteral("w1 w2 w3 w4 w5 w6"));
    EXPECT_EQ(blocks[1].translatedText, QStringLiteral("w7 w8 w9 w10"));
    EXPECT_EQ(blocks[2].translatedText, QStringLiteral("w11 w12 w13 w14 w15 w16"));
    // Each block covers its own lines: the middle one is as wide as its longer line.
    EXPECT_EQ(blocks[1].boundingBox, QRectF(10, 500 - 80, 349, 36));
    EXPECT_EQ(blocks[1].sourceLineHeight, 16);

    const RecognizedTextGroup atThreshold = group({line(0, 400), line(1, 360), line(2, 400)});
    EXPECT_EQ(composer.compose(atThreshold, numberedWords(6)).size(), 1U);
}

TEST(TranslatedBlockComposer, ShortHeadingStaysARegionAndRunsOutOfWordsQuietly) {
    const TranslatedBlockComposer composer;
    const RecognizedTextGroup headed = group({line(0, 100), line(1, 400), line(2, 400), line(3, 400)});
    const auto blocks = composer.compose(headed, numberedWords(8));
    ASSERT_EQ(blocks.size(), 2U);
    EXPECT_EQ(blocks[0].translatedText, QStringLiteral("w1 w2"));
    EXPECT_EQ(blocks[1].translatedText, QStringLiteral("w3 w4 w5 w6 w7 w8"));

    // Two words over three regions: one word each for the first two, nothing for the third.
    const RecognizedTextGroup three = group({line(0, 400), line(1, 200), line(2, 201), line(3, 400)});
    const auto few = composer.compose(three, QStringLiteral("uno dos"));
    ASSERT_EQ(few.size(), 2U);
    EXPECT_EQ(few[0].translatedText, QStringLiteral("uno"));
    EXPECT_EQ(few[1].translatedText, QStringLiteral("dos"));
}

TEST(TranslatedBlockComposer, RegionsReadTopFirstAndKeepInputOrderOnTies) {
    const TranslatedBlockComposer composer;
    // Input bottom-up: the regions still run from the top.
    const auto regions =
        composer.splitByWidthRegions({line(3, 400, QStringLiteral("d")), line(2, 150, QStringLiteral("c")),
                                      line(1, 160, QStringLiteral("b")), line(0, 400, QStringLiteral("a"))});
    ASSERT_EQ(regions.size(), 3U);
    EXPECT_EQ(regions[0].front().text, QStringLiteral("a"));
    EXPECT_EQ(regions[1].front().text, QStringLiteral("b"));
    EXPECT_EQ(regions[1].back().text, QStringLiteral("c"));

    // Equal bottoms keep their input order.
    RecognizedTextBlock left{QStringLiteral("x"), QRectF(10, 100, 390, 16), {}};
    RecognizedTextBlock right{QStringLiteral("y"), QRectF(10, 100, 380, 16), {}};
    const auto tied = composer.splitByWidthRegions({left, right});
    ASSERT_EQ(tied.size(), 1U);
    EXPECT_EQ(tied[0][0].text, QStringLiteral("x"));

    // Fewer than two regions: the lines in their input order, not sorted.
    const auto single =
        composer.splitByWidthRegions({line(2, 400, QStringLiteral("low")), line(0, 400, QStringLiteral("top"))});
    ASSERT_EQ(single.size(), 1U);
    EXPECT_EQ(single[0][0].text, QStringLiteral("low"));
}

TEST(TranslatedBlockComposer, SplitTextSharesWordsByWeight) {
    using C = TranslatedBlockComposer;
    // Halves round away from zero: 1.5 words -> 2.
    EXPECT_EQ(C::splitText(QStringLiteral("a b c"), {1, 1}), (QStringList{"a b", "c"}));
    // Runs of blanks collapse; other white space stays inside the words.
    EXPECT_EQ(C::splitText(QStringLiteral("  a\nb   c\td  "), {1, 1}), (QStringList{"a\nb", "c\td"}));
    // Every part gets a word while they last; a heavy part may take all of them.
    EXPECT_EQ(C::splitText(QStringLiteral("a b c"), {1, 10, 1}), (QStringList{"a", "b c", ""}));
    EXPECT_EQ(C::splitText(QStringLiteral("a b c"), {10, 1, 1}), (QStringList{"a b c", "", ""}));
    EXPECT_EQ(C::splitText(QStringLiteral("solo"), {1, 1, 1}), (QStringList{"solo", "", ""}));
    EXPECT_EQ(C::splitText(QStringLiteral("   "), {1, 2}), (QStringList{"", ""}));
    // No weights, or weights below one: the text as it is.
    EXPECT_EQ(C::splitText(QStringLiteral("a b"), {}), (QStringList{"a b"}));
    EXPECT_EQ(C::splitText(QStringLiteral("a b"), {0.4, 0.4}), (QStringList{"a b"}));

    EXPECT_EQ(C::averageLineHeight({}), 0);
    EXPECT_EQ(C::averageLineHeight(
                  {{QStringLiteral("a"), QRectF(0, 0, 10, 0), {}}, {QStringLiteral("b"), QRectF(0, 0, 10, 0), {}}}),
              0);
    EXPECT_EQ(C::averageLineHeight({{QStringLiteral("a"), QRectF(0, 0, 10, 12), {}},
                                    {QStringLiteral("b"), QRectF(0, 0, 10, 0), {}},
                                    {QStringLiteral("c"), QRectF(0, 0, 10, 20), {}}}),
              16);
}

}  // namespace
}  // namespace tavrolin
