#include "window_translation/recognized_text_grouper.h"

#include "window_translation/reading_order.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace tavrolin {
namespace {

// A line in bottom-left image pixels: `bottom` is its lower edge.
RecognizedTextBlock line(const QString& text, double x, double bottom, double width = 300, double height = 20) {
    return {text, QRectF(x, bottom, width, height), {}};
}

std::vector<RecognizedTextGroup> grouped(std::vector<RecognizedTextBlock> lines) {
    return RecognizedTextGrouper().group(std::move(lines));
}

// The upper line sits at bottom 100 (top 120); the lower line's top is `gap` below it.
std::vector<RecognizedTextGroup> pair(const QString& upper, double gap, double indent = 0, double upperHeight = 20,
                                      double lowerHeight = 20) {
    const double lowerTop = 100 - gap;
    return grouped({line(upper, 50, 100, 300, upperHeight),
                    line(QStringLiteral("continues here"), 50 + indent, lowerTop - lowerHeight, 300, lowerHeight)});
}

TEST(RecognizedTextGrouper, JoinsParagraphLinesOnlyAfterAnUnfinishedLineOfThreeWords) {
    const auto joined = pair(QStringLiteral("the quick brown fox"), 4);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].text, QStringLiteral("the quick brown fox continues here"));
    EXPECT_EQ(joined[0].boundingBox, QRectF(50, 76, 300, 44));
    ASSERT_EQ(joined[0].blocks.size(), 2u);
    EXPECT_EQ(joined[0].blocks[0].text, QStringLiteral("the quick brown fox"));

    EXPECT_EQ(pair(QStringLiteral("The end."), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("Hello world"), 4).size(), 2u);
}

TEST(RecognizedTextGrouper, SentenceEndsLookPastClosingMarksAndBracketedNotes) {
    EXPECT_EQ(pair(QStringLiteral("and then we were done.)"), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("and then we were done. [1]"), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("and then we were done.\u201D"), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("und dann war es vorbei.\u00BB"), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("\u305D\u308C\u3067 \u7D42\u308F\u308A \u3067\u3059\u3002"), 4).size(), 2u);
    EXPECT_EQ(pair(QStringLiteral("is this the end\u2026"), 4).size(), 2u);

    EXPECT_EQ(pair(QStringLiteral("and then we were done:"), 4).size(), 1u);
    EXPECT_EQ(pair(QStringLiteral("for the details see [1"), 4).size(), 1u);
    EXPECT_EQ(pair(QStringLiteral("a list of things,"), 4).size(), 1u);
    // Only a trailing bracket pair is skipped: a lone closing bracket leaves the text as it is.
    EXPECT_EQ(pair(QStringLiteral("see the note ]"), 4).size(), 1u);
}

TEST(RecognizedTextGrouper, VerticalGapAndOverlapLimitsAreStrict) {
    const QString upper = QStringLiteral("the quick brown fox");
    EXPECT_EQ(pair(upper, 9.9).size(), 1u);
    EXPECT_EQ(pair(upper, 10).size(), 2u);
    EXPECT_EQ(pair(upper, -5.9).size(), 1u);
    EXPECT_EQ(pair(upper, -6).size(), 2u);
}

TEST(RecognizedTextGrouper, LeftEdgesMayDifferByFourTenthsOfTheHeightWithAFloorOfFour) {
    const QString upper = QStringLiteral("the quick brown fox");
    EXPECT_EQ(pair(upper, 4, 8).size(), 1u);
    EXPECT_EQ(pair(upper, 4, -8).size(), 1u);
    EXPECT_EQ(pair(upper, 4, 8.1).size(), 2u);
    EXPECT_EQ(pair(upper, 1, 4, 5, 5).size(), 1u);
    EXPECT_EQ(pair(upper, 1, 4.1, 5, 5).size(), 2u);
}

TEST(RecognizedTextGrouper, LinesOfDifferentTextSizeStayApart) {
    const QString upper = QStringLiteral("the quick brown fox");
    EXPECT_EQ(pair(upper, 4, 0, 20, 13).size(), 2u);
    EXPECT_EQ(pair(upper, 4, 0, 20, 14).size(), 1u);
    EXPECT_EQ(pair(upper, 4, 0, 13, 20).size(), 2u);

    // A large heading above its paragraph.
    const auto groups = grouped({line(QStringLiteral("Getting started with the app"), 50, 200, 400, 32),
                                 line(QStringLiteral("Open the window and choose"), 50, 176, 300, 20),
                                 line(QStringLiteral("a file to begin."), 50, 152, 300, 20)});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].text, QStringLiteral("Getting started with the app"));
    EXPECT_EQ(groups[1].text, QStringLiteral("Open the window and choose a file to begin."));
}

TEST(RecognizedTextGrouper, ZeroHeightLinesNeitherJoinNorAreJoined) {
    EXPECT_EQ(pair(QStringLiteral("the quick brown fox"), 0, 0, 20, 0).size(), 2u);
    EXPECT_EQ(grouped({line(QStringLiteral("the quick brown fox"), 50, 100, 300, 0),
                       line(QStringLiteral("jumps over"), 50, 99, 300, 0)})
                  .size(),
              2u);
}

TEST(RecognizedTextGrouper, TwoColumnsEachKeepTheirOwnLines) {
    // In reading order the lines alternate between the columns.
    std::vector<RecognizedTextBlock> lines;
    const QStringList left = {"the left column starts", "and goes on here", "to its end"};
    const QStringList right = {"while the right column", "tells another story", "at the same time"};
    for (int i = 0; i < 3; ++i) {
        lines.push_back(line(right[i], 500, 300 - 24.0 * i));
        lines.push_back(line(left[i], 40, 300 - 24.0 * i + 1));
    }
    std::reverse(lines.begin(), lines.end());  // input order does not matter
    const auto groups = grouped(lines);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].text, QStringLiteral("the left column starts and goes on here to its end"));
    EXPECT_EQ(groups[1].text, QStringLiteral("while the right column tells another story at the same time"));
    EXPECT_EQ(groups[0].boundingBox, QRectF(40, 253, 300, 68));
}

TEST(RecognizedTextGrouper, ALineJoinsTheNewestGroupThatAcceptsIt) {
    // The second line cannot join the first (it overlaps it too much) and opens a group; the
    // third fits under both and goes to the newer group.
    const auto groups = grouped({line(QStringLiteral("first paragraph begins here"), 10, 200),
                                 line(QStringLiteral("second block starts here"), 14, 198),
                                 line(QStringLiteral("which one continues"), 12, 174)});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].text, QStringLiteral("first paragraph begins here"));
    EXPECT_EQ(groups[1].text, QStringLiteral("second block starts here which one continues"));
}

TEST(RecognizedTextGrouper, RejoinsAHyphenatedWordOnlyAfterALowerCaseLetter) {
    auto joinedPair = [](const QString& upper, const QString& lower) {
        const auto groups = grouped({line(upper, 50, 100), line(lower, 50, 76)});
        EXPECT_EQ(groups.size(), 1u);
        return groups.empty() ? QString() : groups[0].text;
    };
    EXPECT_EQ(joinedPair(QStringLiteral("the art of text recog-"), QStringLiteral("nition")),
              QStringLiteral("the art of text recognition"));
    EXPECT_EQ(joinedPair(QStringLiteral("connect it to the Wi-"), QStringLiteral("Fi")),
              QStringLiteral("connect it to the WiFi"));
    EXPECT_EQ(joinedPair(QStringLiteral("cases of COVID-"), QStringLiteral("19")),
              QStringLiteral("cases of COVID- 19"));
    EXPECT_EQ(joinedPair(QStringLiteral("numbers like 2021-"), QStringLiteral("2022")),
              QStringLiteral("numbers like 2021- 2022"));
    EXPECT_EQ(joinedPair(QStringLiteral("a dash at the end -"), QStringLiteral("then more")),
              QStringLiteral("a dash at the end - then more"));
    EXPECT_EQ(
        joinedPair(
            QStringLiteral(
                "\u043F\u0435\u0440\u0435\u0432\u043E\u0434 \u0442\u0435\u043A\u0441\u0442\u0430 \u043F\u0440\u043E-"),
            QStringLiteral("\u0433\u0440\u0430\u043C\u043C\u043E\u0439")),
        QStringLiteral(
            "\u043F\u0435\u0440\u0435\u0432\u043E\u0434 \u0442\u0435\u043A\u0441\u0442\u0430 \u043F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u043E\u0439"));
}

TEST(RecognizedTextGrouper, OneLineMakesOneGroupAndNoLinesNone) {
    EXPECT_TRUE(grouped({}).empty());
    const auto groups = grouped({line(QStringLiteral("Settings"), 12, 30, 80, 18)});
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].text, QStringLiteral("Settings"));
    EXPECT_EQ(groups[0].boundingBox, QRectF(12, 30, 80, 18));
}

QRectF box(double x, double bottom) {
    return QRectF(x, bottom, 10, 10);
}

TEST(ReadingOrder, BottomsWithinThreePixelsGoLeftToRightOtherwiseTheHigherFirst) {
    EXPECT_FALSE(precedesInReadingOrder(box(90, 103), box(10, 100)));
    EXPECT_TRUE(precedesInReadingOrder(box(10, 100), box(90, 103)));
    EXPECT_TRUE(precedesInReadingOrder(box(10, 103), box(90, 100)));
    EXPECT_TRUE(precedesInReadingOrder(box(90, 103.5), box(10, 100)));
    EXPECT_FALSE(precedesInReadingOrder(box(10, 100), box(90, 103.5)));
    EXPECT_FALSE(precedesInReadingOrder(box(10, 100), box(10, 101)));
    EXPECT_FALSE(precedesInReadingOrder(box(10, 101), box(10, 100)));
}

TEST(ReadingOrder, ANonTransitiveCycleSortsTheSameWayEveryTime) {
    // c before b before a before c: no order satisfies every pair.
    const QRectF a = box(20, 4);
    const QRectF b = box(10, 2);
    const QRectF c = box(0, 0);
    ASSERT_TRUE(precedesInReadingOrder(c, b));
    ASSERT_TRUE(precedesInReadingOrder(b, a));
    ASSERT_TRUE(precedesInReadingOrder(a, c));
    std::vector<QRectF> boxes = {a, b, c};
    sortIntoReadingOrder(boxes, [](const QRectF& r) { return r; });
    EXPECT_EQ(boxes, (std::vector<QRectF>{b, a, c}));
}

TEST(ReadingOrder, ManyLinesInSmallStepsGiveAStablePermutation) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> step(0, 3);
    std::uniform_int_distribution<int> column(0, 40);
    std::vector<std::pair<int, QRectF>> lines;
    double bottom = 0;
    for (int i = 0; i < 400; ++i) {
        bottom += step(random);
        lines.emplace_back(i, QRectF(column(random) * 10, bottom, 50, 12));
    }
    std::shuffle(lines.begin(), lines.end(), random);

    auto sorted = lines;
    sortIntoReadingOrder(sorted, [](const auto& entry) { return entry.second; });
    auto again = lines;
    sortIntoReadingOrder(again, [](const auto& entry) { return entry.second; });
    EXPECT_EQ(sorted, again);

    auto ids = [](std::vector<std::pair<int, QRectF>> entries) {
        std::vector<int> result;
        for (const auto& entry : entries) {
            result.push_back(entry.first);
        }
        std::sort(result.begin(), result.end());
        return result;
    };
    EXPECT_EQ(ids(sorted), ids(lines));
    // No line is put right after one it should precede.
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        EXPECT_FALSE(precedesInReadingOrder(sorted[i].second, sorted[i - 1].second)) << i;
    }
}

}  // namespace
}  // namespace tavrolin
