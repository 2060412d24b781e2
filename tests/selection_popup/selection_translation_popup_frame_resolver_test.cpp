// Placement of the result popup on fixed screen layouts: which screen's area a window belongs
// to, the size limit, centring with its rounding and margins, and frames no screen can hold.
#include "selection_popup/selection_translation_popup_frame_resolver.h"

#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {

namespace {

using Resolver = SelectionTranslationPopupFrameResolver;
using Display = WindowFrameConverter::DisplayLayout;

// A 1280 × 800 screen and a 1920 × 1080 one to its right; each loses a panel at its bottom.
Resolver twoScreens() {
    Resolver r;
    r.fixedDisplays = std::vector<Display>{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)},
                                           {QRectF(1280, 0, 1920, 1080), QRectF(1280, 0, 1920, 1080)}};
    r.fixedVisibleFrames = std::vector<QRectF>{QRectF(0, 0, 1280, 770), QRectF(1280, 0, 1920, 1040)};
    r.fixedFallbackVisibleFrame = QRectF(0, 0, 1280, 770);
    return r;
}

TEST(SelectionPopupPlacement, AWindowBelongsToTheScreenHoldingItsCentreElseTheOneItOverlapsMost) {
    const Resolver r = twoScreens();
    const Resolver::ScreenLayout layout = r.currentScreenLayout();
    EXPECT_EQ(Resolver::visibleFrame(QRectF(1000, 100, 800, 400), layout), QRectF(1280, 0, 1920, 1040));
    // A centre exactly on the border belongs to the right-hand screen only.
    EXPECT_EQ(Resolver::visibleFrame(QRectF(1180, 100, 200, 200), layout), QRectF(1280, 0, 1920, 1040));

    // With a gap between the screens the centre lies on neither: the larger overlap wins, the
    // first screen on a tie.
    Resolver gap;
    gap.fixedVisibleFrames = std::vector<QRectF>{QRectF(0, 0, 1000, 800), QRectF(1100, 0, 1000, 800)};
    gap.fixedFallbackVisibleFrame = QRectF(0, 0, 1000, 800);
    gap.fixedDisplays = std::vector<Display>{};
    const auto gapLayout = gap.currentScreenLayout();
    EXPECT_EQ(Resolver::visibleFrame(QRectF(620, 0, 880, 100), gapLayout), QRectF(1100, 0, 1000, 800));
    EXPECT_EQ(Resolver::visibleFrame(QRectF(600, 0, 900, 100), gapLayout), QRectF(0, 0, 1000, 800));
    EXPECT_EQ(Resolver::visibleFrame(QRectF(5000, 5000, 10, 10), gapLayout), QRectF(0, 0, 1000, 800));
}

TEST(SelectionPopupPlacement, TheSizeLimitIsTheAnchorsAreaLessItsMargins) {
    Resolver r = twoScreens();
    r.fixedVisibleFrames = std::vector<QRectF>{QRectF(0, 0, 500, 770), QRectF(1280, 0, 1920, 1040)};
    EXPECT_EQ(r.maximumPopupSize(QRectF(10, 10, 300, 300), std::nullopt, std::nullopt), QSizeF(484, 754));
    // The fallback window comes first, then the detected one, then the field.
    EXPECT_EQ(r.maximumPopupSize(std::nullopt, QRectF(1500, 10, 300, 300), QRectF(10, 10, 30, 30)), QSizeF(1904, 1024));
    EXPECT_EQ(r.maximumPopupSize(std::nullopt, std::nullopt, QRectF(1500, 10, 30, 30)), QSizeF(1904, 1024));
    // Nothing usable: the primary screen's area.
    EXPECT_EQ(r.maximumPopupSize(std::nullopt, std::nullopt, std::nullopt), QSizeF(1264, 754));
    Resolver tiny;
    tiny.fixedFallbackVisibleFrame = QRectF(0, 0, 10, 10);
    tiny.fixedVisibleFrames = std::vector<QRectF>{};
    tiny.fixedDisplays = std::vector<Display>{};
    EXPECT_EQ(tiny.maximumPopupSize(std::nullopt, std::nullopt, std::nullopt), QSizeF(0, 0));
    EXPECT_EQ(tiny.currentScreenLayout().visibleFrames, std::vector<QRectF>{QRectF(0, 0, 10, 10)});
}

TEST(SelectionPopupPlacement, ThePopupIsCentredOnTheWindowOrOnTheFieldsWholeScreen) {
    const Resolver r = twoScreens();
    const auto layout = r.currentScreenLayout();
    const auto onWindow = Resolver::anchor(std::nullopt, QRectF(1500, 100, 600, 400), std::nullopt, layout);
    EXPECT_EQ(onWindow.frame, QRectF(1500, 100, 600, 400));
    EXPECT_EQ(Resolver::centeredIn(onWindow.frame, onWindow.visibleFrame, QSizeF(300, 100)),
              QRectF(1650, 250, 300, 100));
    const auto onField = Resolver::anchor(std::nullopt, std::nullopt, QRectF(1500, 100, 60, 20), layout);
    EXPECT_EQ(onField.frame, QRectF(1280, 0, 1920, 1040));
    EXPECT_EQ(Resolver::centeredIn(onField.frame, onField.visibleFrame, QSizeF(300, 100)), QRectF(2090, 470, 300, 100));
    // No anchor: the primary screen's area.
    EXPECT_EQ(Resolver::anchor(std::nullopt, std::nullopt, std::nullopt, layout).frame, QRectF(0, 0, 1280, 770));
}

TEST(SelectionPopupPlacement, CentringRoundsHalvesAwayFromZeroAndKeepsEightInside) {
    const QRectF area(0, 0, 1280, 770);
    // Centre 100.5: the popup starts at 50.5, rounded to 51.
    EXPECT_EQ(Resolver::centeredIn(QRectF(0, 300, 201, 101), area, QSizeF(100, 50)).topLeft(), QPointF(51, 326));
    // A window partly off its screen: the popup stays 8 inside the nearest edges.
    EXPECT_EQ(Resolver::centeredIn(QRectF(-400, 600, 500, 400), area, QSizeF(300, 200)), QRectF(8, 562, 300, 200));
    EXPECT_EQ(Resolver::centeredIn(QRectF(1200, -300, 500, 400), area, QSizeF(300, 200)), QRectF(972, 8, 300, 200));
    // Wider than the area less its margins: 8 from the left; taller: 8 above the bottom.
    EXPECT_EQ(Resolver::centeredIn(QRectF(500, 300, 100, 100), area, QSizeF(1270, 100)).x(), 8);
    EXPECT_EQ(Resolver::centeredIn(QRectF(500, 300, 100, 100), area, QSizeF(300, 760)), QRectF(400, 2, 300, 760));
}

TEST(SelectionPopupPlacement, FramesNoScreenCanHoldAreNoAnchors) {
    const Resolver r = twoScreens();
    const auto layout = r.currentScreenLayout();
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const QRectF& bad : {QRectF(0, 0, 0, 100), QRectF(10, 10, -300, 200), QRectF(inf, 0, 100, 100),
                              QRectF(0, 0, inf, 100), QRectF(nan, 0, 100, 100), QRectF(0, 0, 100, nan)}) {
        EXPECT_FALSE(Resolver::appKitFrame(bad, *r.fixedDisplays)) << bad.x() << " " << bad.width();
        EXPECT_EQ(Resolver::anchor(bad, std::nullopt, bad, layout).frame, QRectF(0, 0, 1280, 770));
    }
    EXPECT_FALSE(Resolver::appKitFrame(QRectF(0, 0, 10, 10), {}));
    // A huge window is usable and the popup still lands inside the screen's area.
    const auto huge = Resolver::anchor(QRectF(-1e12, -1e12, 3e12, 3e12), std::nullopt, std::nullopt, layout);
    const QRectF placed = Resolver::centeredIn(huge.frame, huge.visibleFrame, QSizeF(300, 100));
    EXPECT_TRUE(huge.visibleFrame.contains(placed)) << placed.x() << "," << placed.y();
}

}  // namespace

}  // namespace tavrolin
