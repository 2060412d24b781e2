#include "window_translation/rect_geometry.h"

#include <gtest/gtest.h>

namespace tavrolin::geometry {
namespace {

// Rectangles are deliberately lopsided (x != y, width != height) so a swapped axis shows.
TEST(RectGeometry, IntersectionOfOverlappingRectanglesKeepsEachAxis) {
    const auto shared = intersection(QRectF(10, 100, 300, 50), QRectF(200, 120, 40, 400));
    ASSERT_TRUE(shared);
    EXPECT_EQ(*shared, QRectF(200, 120, 40, 30));
    EXPECT_TRUE(intersects(QRectF(10, 100, 300, 50), QRectF(200, 120, 40, 400)));
    EXPECT_DOUBLE_EQ(intersectionArea(QRectF(10, 100, 300, 50), QRectF(200, 120, 40, 400)), 1200);
}

TEST(RectGeometry, TouchingRectanglesMeetInAnEmptyRectangleApartOnesInNone) {
    const auto touching = intersection(QRectF(0, 0, 10, 30), QRectF(10, 5, 20, 5));
    ASSERT_TRUE(touching);
    EXPECT_EQ(touching->width(), 0);
    EXPECT_TRUE(isEmpty(touching));
    EXPECT_FALSE(intersects(QRectF(0, 0, 10, 30), QRectF(10, 5, 20, 5)));
    EXPECT_EQ(intersectionArea(QRectF(0, 0, 10, 30), QRectF(10, 5, 20, 5)), 0);

    // Overlapping horizontally but apart vertically: no rectangle at all.
    EXPECT_FALSE(intersection(QRectF(0, 0, 100, 10), QRectF(20, 40, 10, 10)));
    EXPECT_EQ(intersectionArea(QRectF(0, 0, 100, 10), QRectF(20, 40, 10, 10)), 0);
}

TEST(RectGeometry, EmptinessAndArea) {
    EXPECT_TRUE(isEmpty(QRectF(5, 7, 0, 20)));
    EXPECT_TRUE(isEmpty(QRectF(5, 7, 20, 0)));
    EXPECT_TRUE(isEmpty(std::optional<QRectF>()));
    EXPECT_FALSE(isEmpty(QRectF(-5, -7, 1, 2)));
    EXPECT_EQ(area(QRectF(3, 4, 0, 9)), 0);
    EXPECT_EQ(area(QRectF(-3, 4, 2, 9)), 18);
}

TEST(RectGeometry, UnionSpansBothIncludingNegativeOrigins) {
    EXPECT_EQ(united(QRectF(10, 20, 30, 5), QRectF(-4, 50, 8, 2)), QRectF(-4, 20, 44, 32));
}

TEST(RectGeometry, IntegralRoundsEdgesOutward) {
    EXPECT_EQ(integral(QRectF(1.5, 2.25, 10.2, 3.5)), QRectF(1, 2, 11, 4));
    EXPECT_EQ(integral(QRectF(-1.5, -0.5, 1, 0.25)), QRectF(-2, -1, 2, 1));
    EXPECT_EQ(integral(QRectF(4, 9, 3, 6)), QRectF(4, 9, 3, 6));
}

TEST(RectGeometry, PointContainmentIsHalfOpen) {
    const QRectF rect(100, 200, 50, 10);
    EXPECT_TRUE(contains(rect, QPointF(100, 200)));
    EXPECT_TRUE(contains(rect, QPointF(149.9, 209.9)));
    EXPECT_FALSE(contains(rect, QPointF(150, 205)));
    EXPECT_FALSE(contains(rect, QPointF(120, 210)));
    EXPECT_FALSE(contains(rect, QPointF(99.9, 205)));
}

TEST(RectGeometry, RectangleContainmentIsClosedAndGrowingWorksOnEverySide) {
    const QRectF outer(10, 20, 100, 40);
    EXPECT_TRUE(contains(outer, outer));
    EXPECT_TRUE(contains(outer, QRectF(10, 30, 100, 30)));
    EXPECT_FALSE(contains(outer, QRectF(9, 30, 10, 10)));
    EXPECT_FALSE(contains(outer, QRectF(20, 30, 10, 31)));
    EXPECT_EQ(grown(outer, 2), QRectF(8, 18, 104, 44));
    EXPECT_TRUE(contains(grown(outer, 2), QRectF(8, 18, 104, 44)));
}

}  // namespace
}  // namespace tavrolin::geometry
