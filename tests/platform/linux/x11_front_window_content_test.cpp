#include "platform/linux/x11_front_window_content.h"

#include <gtest/gtest.h>

namespace tavrolin::x11 {
namespace {

// GTK 4 gives positions relative to its content, which lies inside its client window by the
// margins it draws there: announced (shadows, _GTK_FRAME_EXTENTS), else equal on every side.
TEST(FrontWindowContent, ContentLiesInsideTheMarginsItsWindowDraws) {
    FrontWindowContent plain{42, QRect(290, 242, 500, 300), std::nullopt};
    EXPECT_EQ(contentOrigin(plain, QSize(500, 300)), QPoint(290, 242));
    // Resize borders without a compositor: 5 pixels all round.
    EXPECT_EQ(contentOrigin(plain, QSize(490, 290)), QPoint(295, 247));

    // Shadows announced: deeper below than above.
    FrontWindowContent shadowed{42, QRect(100, 50, 540, 380), QMargins(20, 14, 20, 26)};
    EXPECT_EQ(contentOrigin(shadowed, QSize(500, 340)), QPoint(120, 64));
}

// A size that does not fit the front window is another window's (a dialog's content measured
// against its main window): it gets no place rather than a wrong one.
TEST(FrontWindowContent, AnotherWindowsSizeGetsNoPlace) {
    FrontWindowContent plain{42, QRect(290, 242, 500, 300), std::nullopt};
    EXPECT_EQ(contentOrigin(plain, QSize(520, 300)), std::nullopt) << "larger than the window";
    EXPECT_EQ(contentOrigin(plain, QSize(200, 120)), std::nullopt) << "far smaller";
    EXPECT_EQ(contentOrigin(plain, QSize(0, 0)), std::nullopt);
    FrontWindowContent shadowed{42, QRect(100, 50, 540, 380), QMargins(20, 14, 20, 26)};
    EXPECT_EQ(contentOrigin(shadowed, QSize(540, 380)), std::nullopt) << "the margins are the window's own";
}

}  // namespace
}  // namespace tavrolin::x11
