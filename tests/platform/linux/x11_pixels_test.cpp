// Conversions between X's device pixels and Qt's logical pixels on scaled and mixed desktops.
#include "platform/linux/x11_pixels.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

// A 200 % laptop panel at the origin and a 100 % monitor to its right, placed as Qt places
// them: each screen keeps its device top-left, its size is divided by its ratio.
const std::vector<ScreenScale> mixed = {
    {QRect(0, 0, 2560, 1600), QRectF(0, 0, 1280, 800), 2.0},
    {QRect(2560, 0, 1920, 1080), QRectF(2560, 0, 1920, 1080), 1.0},
};

TEST(X11Pixels, DeviceRectanglesScaleFromTheirOwnScreensCorner) {
    // A window of 601 x 400 device pixels on the scaled panel: 300.5 x 200 logical.
    EXPECT_EQ(deviceRectToLogical(QRectF(200, 100, 601, 400), mixed), QRectF(100, 50, 300.5, 200));
    EXPECT_EQ(logicalRectToDevice(QRectF(100, 50, 300.5, 200), mixed), QRectF(200, 100, 601, 400));
    // On the unscaled monitor nothing changes, though it lies right of the panel's device area.
    EXPECT_EQ(deviceRectToLogical(QRectF(2600, 40, 800, 600), mixed), QRectF(2600, 40, 800, 600));
    EXPECT_EQ(logicalRectToDevice(QRectF(2600, 40, 800, 600), mixed), QRectF(2600, 40, 800, 600));
    // A window straddling both belongs to the screen of its top-left corner.
    EXPECT_EQ(deviceRectToLogical(QRectF(2000, 0, 1000, 500), mixed), QRectF(1000, 0, 500, 250));
    // Partly above and left of every screen: the screen it shares most with.
    EXPECT_EQ(deviceRectToLogical(QRectF(-200, -100, 400, 300), mixed), QRectF(-100, -50, 200, 150));
    EXPECT_EQ(deviceRectToLogical(QRectF(2400, -100, 400, 300), mixed), QRectF(2400, -100, 400, 300));
    // Wholly off every screen: the first screen's scale.
    EXPECT_EQ(devicePointToLogical(QPointF(-50, -50), mixed), QPointF(-25, -25));
}

TEST(X11Pixels, TheRatioIsTheOneOfTheScreenUnderTheLogicalRectangle) {
    EXPECT_EQ(pixelRatioAt(QRectF(10, 10, 300, 200), mixed), 2.0);
    EXPECT_EQ(pixelRatioAt(QRectF(2600, 10, 300, 200), mixed), 1.0);
    EXPECT_EQ(pixelRatioAt(QRectF(10, 10, 300, 200), {}), 1.0);
}

TEST(X11Pixels, WithoutScreensBothSystemsAreOne) {
    EXPECT_EQ(deviceRectToLogical(QRectF(-5, 7, 30, 40), {}), QRectF(-5, 7, 30, 40));
    EXPECT_EQ(logicalPointToDevice(QPointF(3, 4), {}), QPointF(3, 4));
}

}  // namespace
}  // namespace tavrolin::x11
