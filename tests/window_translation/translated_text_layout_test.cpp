#include "support/fakes/fixed_advance_text_measurer.h"
#include "support/thread_cpu_time.h"
#include "window_translation/translated_text_layout_engine.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Characters half the size wide, lines one size high: "abcd" at 20 is 40 x 20.
struct LayoutEngineTest : ::testing::Test {
    std::shared_ptr<test::FixedAdvanceTextMeasurer> measurer = std::make_shared<test::FixedAdvanceTextMeasurer>();
    TranslatedTextLayoutEngine engine;
    QRectF canvas{0, 0, 1000, 1000};

    LayoutEngineTest() { engine.measurer = measurer; }

    static QString words(int count, const QString& word = QStringLiteral("abcd")) {
        QStringList list;
        for (int i = 0; i < count; ++i) {
            list.append(word);
        }
        return list.join(QLatin1Char(' '));
    }
    // One word that wraps between characters: at size 14, sixteen characters fill 112 pixels.
    static QString longWord(int length = 100) { return QString(length, QLatin1Char('x')); }
    static double right(const QRectF& r) { return r.x() + r.width(); }
    static double top(const QRectF& r) { return r.y() + r.height(); }
};

TEST_F(LayoutEngineTest, PreferredSizeFollowsTheLineHeightBetween14And50) {
    EXPECT_EQ(engine.preferredFontSize(6), 14);
    EXPECT_EQ(engine.preferredFontSize(20), 30);
    EXPECT_EQ(engine.preferredFontSize(40), 50);
    EXPECT_EQ(engine.preferredFontSize(11), 16.5);

    // The chosen size of a short text in a roomy box is the preferred one.
    const auto layouts =
        engine.layout({{QStringLiteral("Hi"), QRectF(100, 500, 200, 30), 6}}, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(layouts.size(), 1U);
    EXPECT_EQ(layouts[0].fontSize, 14);
    EXPECT_FALSE(layouts[0].clipsText);
}

TEST_F(LayoutEngineTest, FractionalSizesStepDownWithoutTheMinimumUnlessAStepLandsOnIt) {
    const std::vector<double> fromFractional = engine.candidateFontSizes(16.5);
    ASSERT_EQ(fromFractional.size(), 8U);
    EXPECT_EQ(fromFractional.front(), 16.5);
    EXPECT_EQ(fromFractional.back(), 9.5);
    EXPECT_EQ(engine.candidateFontSizes(14).back(), 9);
    EXPECT_EQ(engine.candidateFontSizes(9), std::vector<double>{9});

    // Nothing fits (another block right below leaves 21 pixels): every candidate is tried, then
    // the minimum, and the text is clipped.
    const std::vector<TranslatedTextBlock> blocks{{words(200), QRectF(100, 100, 200, 11), 11},
                                                  {QStringLiteral("Below it"), QRectF(100, 80, 200, 10), 10}};
    const auto layouts = engine.layout(blocks, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(layouts.size(), 2U);
    const std::vector<double> tried = measurer->sizes();
    const std::vector<double> expected{16.5, 15.5, 14.5, 13.5, 12.5, 11.5, 10.5, 9.5, 9};
    ASSERT_GE(tried.size(), expected.size());
    EXPECT_EQ(std::vector<double>(tried.begin(), tried.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(layouts[0].fontSize, 9);
    EXPECT_TRUE(layouts[0].clipsText);
    // The patch stops at the top of the block below.
    EXPECT_EQ(layouts[0].backgroundRect.y(), 94);
}

TEST_F(LayoutEngineTest, LongTextInOneLineBoxHangsIntoTheRoomBelowAtTheFirstSizeThatFits) {
    // A patch that may not widen (strip not uniform), 312 wide; the next block's patch top is 424.
    const std::vector<TranslatedTextBlock> blocks{{words(40), QRectF(100, 500, 300, 20), 20},
                                                  {QStringLiteral("Next line"), QRectF(100, 400, 300, 20), 20}};
    const auto layouts =
        engine.layout(blocks, canvas, WritingDirection::leftToRight, [](const QRectF&) { return false; });
    ASSERT_EQ(layouts.size(), 2U);
    // At 15: 8 words a line, 5 lines, 75 high; at 16 six lines would need 102 of the 96 free.
    EXPECT_EQ(layouts[0].fontSize, 15);
    EXPECT_EQ(top(layouts[0].backgroundRect), 524);
    EXPECT_EQ(layouts[0].backgroundRect.y(), 443);
    EXPECT_EQ(layouts[0].backgroundRect.width(), 312);
    EXPECT_EQ(layouts[0].textRect, QRectF(99, 446, 302, 75));
    EXPECT_FALSE(layouts[0].clipsText);
}

TEST_F(LayoutEngineTest, ObstacleBesideLimitsWideningToItsMarginButNeverBelowTheBase) {
    // The base spans 94..206; the other block's base starts 30 pixels further, at 236.
    const std::vector<TranslatedTextBlock> longText{{longWord(), QRectF(100, 500, 100, 20), 6},
                                                    {QStringLiteral("Neighbour"), QRectF(242, 500, 100, 20), 10}};
    const auto wide = engine.layout(longText, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(wide.size(), 2U);
    EXPECT_EQ(wide[0].backgroundRect.x(), 94);
    EXPECT_EQ(right(wide[0].backgroundRect), 216);

    const std::vector<TranslatedTextBlock> shortText{{QStringLiteral("Ok"), QRectF(100, 500, 100, 20), 10},
                                                     {QStringLiteral("Neighbour"), QRectF(242, 500, 100, 20), 10}};
    const auto narrow = engine.layout(shortText, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(narrow.size(), 2U);
    EXPECT_EQ(narrow[0].backgroundRect, QRectF(94, 496, 112, 28));
}

TEST_F(LayoutEngineTest, NoWideningAtTheCanvasEdgeOrBesideAStripOfSeveralColours) {
    const auto atEdge =
        engine.layout({{words(60), QRectF(900, 500, 100, 20), 10}}, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(atEdge.size(), 1U);
    EXPECT_EQ(atEdge[0].backgroundRect.x(), 894);
    EXPECT_EQ(atEdge[0].backgroundRect.width(), 106);

    std::vector<QRectF> strips;
    const auto mixed = engine.layout({{words(60), QRectF(100, 500, 100, 20), 10}}, canvas,
                                     WritingDirection::leftToRight, [&strips](const QRectF& strip) {
                                         strips.push_back(strip);
                                         return false;
                                     });
    ASSERT_EQ(mixed.size(), 1U);
    EXPECT_EQ(mixed[0].backgroundRect.width(), 112);
    // The strip asked about is what widening would add: 2.4 times the base, right of it.
    ASSERT_EQ(strips.size(), 1U);
    EXPECT_DOUBLE_EQ(strips[0].x(), 206);
    EXPECT_DOUBLE_EQ(strips[0].width(), 1.4 * 112);
    EXPECT_EQ(strips[0].y(), 496);
    EXPECT_EQ(strips[0].height(), 28);

    const auto uniform = engine.layout({{words(60), QRectF(100, 500, 100, 20), 10}}, canvas,
                                       WritingDirection::leftToRight, [](const QRectF&) { return true; });
    ASSERT_EQ(uniform.size(), 1U);
    EXPECT_GT(uniform[0].backgroundRect.width(), 112);
}

TEST_F(LayoutEngineTest, RightToLeftPatchesKeepTheirRightEdge) {
    const auto wide =
        engine.layout({{longWord(), QRectF(500, 500, 100, 20), 6}}, canvas, WritingDirection::rightToLeft);
    ASSERT_EQ(wide.size(), 1U);
    EXPECT_EQ(right(wide[0].backgroundRect), 606);
    EXPECT_GT(wide[0].backgroundRect.width(), 112);
    EXPECT_EQ(wide[0].writingDirection, WritingDirection::rightToLeft);

    const auto narrow =
        engine.layout({{QStringLiteral("Ok"), QRectF(500, 500, 100, 20), 10}}, canvas, WritingDirection::rightToLeft);
    ASSERT_EQ(narrow.size(), 1U);
    EXPECT_EQ(narrow[0].backgroundRect, QRectF(494, 496, 112, 28));

    // An obstacle 30 pixels to the left (its base ends at 464) leaves room down to 484.
    const auto blocked = engine.layout(
        {{longWord(), QRectF(500, 500, 100, 20), 6}, {QStringLiteral("Neighbour"), QRectF(358, 500, 100, 20), 10}},
        canvas, WritingDirection::rightToLeft);
    ASSERT_EQ(blocked.size(), 2U);
    EXPECT_EQ(blocked[0].backgroundRect.x(), 484);
    EXPECT_EQ(right(blocked[0].backgroundRect), 606);
}

TEST_F(LayoutEngineTest, BlocksThatCannotBePlacedAreLeftOutAndNeverCountAsPlaced) {
    // Canvas starting at y = 100: a base whose top is at 94 lies wholly below it.
    const QRectF raised(0, 100, 1000, 900);
    const std::vector<TranslatedTextBlock> blocks{{QStringLiteral("Below"), QRectF(10, 50, 100, 40), 10},
                                                  {QStringLiteral("Above it"), QRectF(10, 200, 100, 20), 10}};
    const auto layouts = engine.layout(blocks, raised, WritingDirection::leftToRight);
    ASSERT_EQ(layouts.size(), 1U);
    EXPECT_EQ(layouts[0].translatedText, QStringLiteral("Above it"));

    // Ten pixels of extended width (the base clipped at the canvas edge) is no room for text.
    EXPECT_TRUE(
        engine.layout({{QStringLiteral("Edge"), QRectF(996, 500, 100, 20), 10}}, canvas, WritingDirection::leftToRight)
            .empty());
    EXPECT_EQ(
        engine.layout({{QStringLiteral("Edge"), QRectF(995, 500, 100, 20), 10}}, canvas, WritingDirection::leftToRight)
            .size(),
        1U);
}

TEST_F(LayoutEngineTest, LaterBlocksAvoidPatchesPlacedBeforeThem) {
    // The first patch hangs down over the second block's row; the second block's room beside
    // stops 20 pixels before it.
    const std::vector<TranslatedTextBlock> blocks{{words(30), QRectF(300, 500, 100, 20), 10},
                                                  {words(30), QRectF(100, 470, 100, 20), 10}};
    const auto layouts = engine.layout(blocks, canvas, WritingDirection::leftToRight);
    ASSERT_EQ(layouts.size(), 2U);
    ASSERT_LT(layouts[0].backgroundRect.y(), 490);
    EXPECT_LE(right(layouts[1].backgroundRect), layouts[0].backgroundRect.x() - 20);
}

TEST_F(LayoutEngineTest, AHugeAnswerIsMeasuredOnlyAsFarAsItCouldShow) {
    // 100,000 characters for a one-line block: every size overflows, so the result is the
    // minimum size, clipped, and what is kept to draw is a prefix far shorter than the answer.
    const QString huge = words(20000);
    const std::vector<TranslatedTextBlock> blocks{{huge, QRectF(100, 500, 300, 20), 20},
                                                  {QStringLiteral("Next line"), QRectF(100, 400, 300, 20), 20}};
    const auto started = test::threadCpuTime();
    const auto layouts = engine.layout(blocks, canvas, WritingDirection::leftToRight);
    const auto elapsed = test::threadCpuTime() - started;
    ASSERT_EQ(layouts.size(), 2U);
    EXPECT_EQ(layouts[0].fontSize, 9);
    EXPECT_TRUE(layouts[0].clipsText);
    EXPECT_LT(layouts[0].translatedText.size(), 20000);
    EXPECT_TRUE(huge.startsWith(layouts[0].translatedText));
    EXPECT_LT(elapsed.count(), 200);

    // The same block with a text just long enough to overflow comes out the same.
    const auto whole = engine.layout({{layouts[0].translatedText, QRectF(100, 500, 300, 20), 20},
                                      {QStringLiteral("Next line"), QRectF(100, 400, 300, 20), 20}},
                                     canvas, WritingDirection::leftToRight);
    ASSERT_EQ(whole.size(), 2U);
    EXPECT_EQ(whole[0].backgroundRect, layouts[0].backgroundRect);
    EXPECT_EQ(whole[0].fontSize, layouts[0].fontSize);
}

}  // namespace
}  // namespace tavrolin
