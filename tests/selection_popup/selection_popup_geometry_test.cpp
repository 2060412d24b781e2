// Where the floating buttons, their tooltip and the first-use card go, and how a delay from the
// settings becomes a timer's delay.
#include "selection_popup/selection_popup_geometry.h"

#include "platform/clock.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {
namespace {

using namespace selection_popup_geometry;
using namespace std::chrono_literals;

const std::vector<ScreenArea> oneScreen{{QRectF(0, 0, 1280, 800), QRectF(0, 30, 1280, 770)}};
const SelectionPopupMode all{true, true, true};
const SelectionPopupMode translateOnly{false, true, false};

TEST(SelectionPopupGeometry, RowIs28HighAnd28PerButtonWith4Between) {
    EXPECT_EQ(rowSize(translateOnly), QSizeF(28, 28));
    EXPECT_EQ(rowSize({true, true, false}), QSizeF(60, 28));
    EXPECT_EQ(rowSize(all), QSizeF(92, 28));
    EXPECT_EQ(rowSize({}), QSizeF(0, 28));
}

TEST(SelectionPopupGeometry, RowSitsAboveTheSelectionsRightEndOrBesideThePointer) {
    const QRectF selection(400, 300, 200, 20);
    EXPECT_EQ(rowFrame(selection, QPointF(1, 1), all, oneScreen), QRectF(600 - 92, 300 - 8 - 28, 92, 28));
    // Without an anchor: left 8 right of the pointer, bottom 8 above it.
    EXPECT_EQ(rowFrame(std::nullopt, QPointF(100, 400), translateOnly, oneScreen), QRectF(108, 400 - 8 - 28, 28, 28));
}

TEST(SelectionPopupGeometry, RowIsPulledInsideTheRightAndTopEdges) {
    // A selection ending at the right edge: the row ends 4 inside the available area.
    EXPECT_EQ(rowFrame(QRectF(1200, 300, 100, 20), {}, all, oneScreen).right(), 1280 - 4);
    // A selection at the very top: the row is pushed below the top of the available area.
    EXPECT_EQ(rowFrame(QRectF(400, 32, 100, 20), {}, all, oneScreen).top(), 30 + 4);
    // An area smaller than the row plus margins: the right and top margins win.
    const std::vector<ScreenArea> tiny{{QRectF(0, 0, 50, 20), QRectF(0, 0, 50, 20)}};
    const QRectF row = rowFrame(QRectF(10, 10, 10, 5), {}, all, tiny);
    EXPECT_EQ(row.right(), 50 - 4);
    EXPECT_EQ(row.top(), 4);
}

TEST(SelectionPopupGeometry, AreaIsTheScreenHoldingTheRowsBottomLeftElseThePrimaryElseAFixedOne) {
    const std::vector<ScreenArea> two{{QRectF(0, 0, 1000, 800), QRectF(0, 0, 1000, 780)},
                                      {QRectF(1000, 0, 800, 600), QRectF(1000, 20, 800, 580)}};
    EXPECT_EQ(areaFor(QPointF(1200, 100), two), QRectF(1000, 20, 800, 580));
    // Half-open: the right edge of the first screen is the second screen's.
    EXPECT_EQ(areaFor(QPointF(1000, 100), two), QRectF(1000, 20, 800, 580));
    EXPECT_EQ(areaFor(QPointF(-50, 100), two), QRectF(0, 0, 1000, 780));
    EXPECT_EQ(areaFor(QPointF(5, 5), {}), QRectF(0, 0, 1024, 768));
    EXPECT_EQ(rowFrame(QRectF(2000, 2000, 10, 10), {}, translateOnly, {}), QRectF(1024 - 4 - 28, 768 - 4 - 28, 28, 28));
}

TEST(SelectionPopupGeometry, AnchorsFromAnotherProcessNeverLeaveTheScreenOrBreakThePlacement) {
    const QRectF huge(1e300, -1e300, 1e300, 1e300);
    const QRectF row = rowFrame(huge, QPointF(100, 400), all, oneScreen);
    EXPECT_TRUE(QRectF(0, 30, 1280, 770).contains(row));
    const QRectF negative(500, 500, -200, -100);
    EXPECT_EQ(rowFrame(negative, {}, translateOnly, oneScreen), QRectF(500 - 28, 400 - 8 - 28, 28, 28));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(rowFrame(QRectF(nan, 0, 10, 10), QPointF(100, 400), translateOnly, oneScreen), QRectF(108, 364, 28, 28));
}

TEST(SelectionPopupGeometry, TooltipIsCentredSixAboveTheRowAndClamped) {
    const QRectF row(500, 300, 92, 28);
    EXPECT_EQ(tooltipFrame(row, QSizeF(80.2, 19.5), oneScreen), QRectF(546 - 40.5, 300 - 6 - 20, 81, 20));
    EXPECT_EQ(tooltipFrame(QRectF(1250, 300, 28, 28), QSizeF(100, 20), oneScreen).right(), 1276);
}

TEST(SelectionPopupGeometry, HintGoesAboveTheRowOrBelowItWhenItWouldCrossTheTop) {
    const QRectF row(500, 400, 92, 28);
    const QRectF above = hintFrame(row, QSizeF(240, 150), oneScreen);
    EXPECT_EQ(above, QRectF(546 - 120, 400 - 10 - 150, 240, 150));
    const QRectF highRow(500, 100, 92, 28);
    EXPECT_EQ(hintFrame(highRow, QSizeF(240, 150), oneScreen).top(), 128 + 10);
    // Small content still gets 240 x 100; centred but kept 4 inside the left edge.
    EXPECT_EQ(hintFrame(QRectF(0, 400, 28, 28), QSizeF(50, 20), oneScreen), QRectF(4, 290, 240, 100));
}

TEST(SelectionPopupGeometry, DelaysBecomeTimerDelaysWithoutOverflow) {
    const auto max = QtScheduler::maximumDelay;
    EXPECT_EQ(timerDelay(5.0, 5.0, max), 5000ms);
    EXPECT_EQ(timerDelay(0.25, 5.0, max), 250ms);
    EXPECT_EQ(timerDelay(0, 5.0, max), 0ms);
    EXPECT_EQ(timerDelay(-3, 5.0, max), 0ms);
    EXPECT_EQ(timerDelay(std::numeric_limits<double>::quiet_NaN(), 5.0, max), 5000ms);
    EXPECT_EQ(timerDelay(std::numeric_limits<double>::infinity(), 5.0, max), max);
    EXPECT_EQ(timerDelay(1e300, 5.0, max), max);
}

}  // namespace
}  // namespace tavrolin
