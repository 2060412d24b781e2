#include "window_translation/window_frame_converter.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Layout = WindowFrameConverter::DisplayLayout;

// The primary display and a taller one to its left; a third whose panel frame sits elsewhere,
// so a conversion on the wrong display shows.
const Layout primary{QRectF(0, 0, 1440, 900), QRectF(0, 0, 1440, 900)};
const Layout second{QRectF(-1920, -200, 1920, 1200), QRectF(-1920, -200, 1920, 1200)};
const Layout shifted{QRectF(1440, 0, 800, 600), QRectF(5000, 300, 800, 600)};

TEST(PreferredDisplay, TheDisplayHoldingTheTopLeftCornerWinsOverTheLargerShare) {
    // Straddles both, 10 columns on the second display and 890 on the primary one.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(-10, 100, 900, 300), {primary, second}), second);
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(10, 100, 900, 300), {second, primary}), primary);
}

TEST(PreferredDisplay, CornerContainmentIsHalfOpen) {
    // x = 0 is the second display's right edge: it belongs to the primary display only.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(0, 0, 10, 10), {second, primary}), primary);
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(-0.5, 0, 10, 10), {primary, second}), second);
    // (1440, 0) lies on the shifted display, not on the primary one's right edge.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(1440, 0, 10, 10), {primary, shifted}), shifted);
}

TEST(PreferredDisplay, WithoutACornerTheLargestShareWinsAndTheFirstWinsTies) {
    // Corner above both; shares 300x50 with the second display and nothing with the primary.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(-300, -400, 400, 250), {primary, second}), second);
    // Corner above both; shares 100x300 with the second display and 900x100 with the primary.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(-100, -300, 1000, 400), {second, primary}), primary);
    // Touches nothing: the first layout.
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(5000, 5000, 50, 50), {second, primary}), second);
    EXPECT_EQ(WindowFrameConverter::preferredDisplay(QRectF(5000, 5000, 50, 50), {primary, second}), primary);
    EXPECT_FALSE(WindowFrameConverter::preferredDisplay(QRectF(0, 0, 10, 10), {}));
}

TEST(PanelFrame, ConvertsOnThePreferredDisplayAndKeepsTheSize) {
    // Same coordinates on both sides: the frame stays put.
    EXPECT_EQ(WindowFrameConverter::appKitFrame(QRectF(10, 20, 300, 200), {primary}), QRectF(10, 20, 300, 200));
    // A display whose panel frame is elsewhere moves the frame with it.
    EXPECT_EQ(WindowFrameConverter::appKitFrame(QRectF(1500, 50, 120, 70), {primary, second, shifted}),
              QRectF(5060, 350, 120, 70));
    EXPECT_FALSE(WindowFrameConverter::appKitFrame(QRectF(10, 20, 0, 200), {primary}));
    EXPECT_FALSE(WindowFrameConverter::appKitFrame(QRectF(10, 20, 300, -1), {primary}));
    EXPECT_FALSE(WindowFrameConverter::appKitFrame(QRectF(10, 20, 300, 200), {}));
}

TEST(PanelFrame, CurrentDisplaysFollowTheScreenList) {
    const auto displays = WindowFrameConverter::currentDisplays();
    ASSERT_EQ(displays.size(), static_cast<std::size_t>(QGuiApplication::screens().size()));
    for (std::size_t i = 0; i < displays.size(); ++i) {
        EXPECT_EQ(displays[i].appKitFrame, QRectF(QGuiApplication::screens().at(int(i))->geometry()));
    }
}

}  // namespace
}  // namespace tavrolin
