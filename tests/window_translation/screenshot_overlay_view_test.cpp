#include "window_translation/screenshot_overlay_view.h"

#include "support/virtual_time.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

struct ViewFixture : ::testing::Test {
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    ScreenshotOverlayView view{QSize(800, 500), clock};
    int dismissals = 0;

    void SetUp() override {
        view.onDismiss = [this] { ++dismissals; };
    }

    QImage picture(QSize size = {800, 500}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        return image;
    }
};

TEST_F(ViewFixture, EventsBeforeTheMinimumTimeAreDroppedAndLaterOnesDismissAtOnce) {
    view.setMinimumDisplayDuration(1.5);
    view.showImage(picture(), {800, 500}, QStringLiteral("English → Spanish"), true);

    clock->advance(1000ms);
    QTest::keyClick(&view, Qt::Key_A);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(100, 300));
    QTest::keyClick(&view, Qt::Key_Shift);
    EXPECT_EQ(dismissals, 0);

    clock->advance(500ms);
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_EQ(dismissals, 1);
    QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(100, 300));
    QTest::mouseClick(&view, Qt::MiddleButton, {}, QPoint(100, 300));
    EXPECT_EQ(dismissals, 3);
}

TEST_F(ViewFixture, EverySwitchRestartsTheMinimumTimeAndZeroDismissesOnTheFirstEvent) {
    view.setMinimumDisplayDuration(1.5);
    view.showImage(picture(), {800, 500}, QStringLiteral("x"), true);
    clock->advance(2000ms);
    view.showLoading(QStringLiteral("Traduciendo..."), false);
    QTest::keyClick(&view, Qt::Key_A);
    EXPECT_EQ(dismissals, 0);

    view.setMinimumDisplayDuration(0);
    QTest::keyClick(&view, Qt::Key_A);
    EXPECT_EQ(dismissals, 1);
}

TEST_F(ViewFixture, DurationsAreClampedToWhatATimerCanHold) {
    view.setMinimumDisplayDuration(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(view.minimumDisplayDuration(), 0);
    view.setMinimumDisplayDuration(-3);
    EXPECT_EQ(view.minimumDisplayDuration(), 0);
    view.setMinimumDisplayDuration(1e300);
    EXPECT_EQ(view.minimumDisplayDuration(), 60);
    view.setMinimumDisplayDuration(std::numeric_limits<double>::infinity());
    EXPECT_EQ(view.minimumDisplayDuration(), 60);
    view.setMinimumDisplayDuration(2.25);
    EXPECT_EQ(view.minimumDisplayDuration(), 2.25);
}

TEST_F(ViewFixture, TheServerHintMakesTheCardTallerAndAnImageResetsIt) {
    EXPECT_EQ(view.statusText(), QStringLiteral("Translating..."));
    view.showLoading(QStringLiteral("Traduciendo..."), true);
    EXPECT_TRUE(view.isShowingLoader());
    EXPECT_TRUE(view.isShowingServerHint());
    EXPECT_EQ(view.loaderRect().height(), 178);
    EXPECT_EQ(view.statusText(), QStringLiteral("Traduciendo..."));
    EXPECT_TRUE(view.isSpinning());
    EXPECT_FALSE(view.frameView()->isVisibleTo(&view));
    EXPECT_FALSE(view.badge()->isVisibleTo(&view));

    view.showLoading(QStringLiteral("Translating..."), false);
    EXPECT_EQ(view.loaderRect().height(), 154);
    EXPECT_FALSE(view.isShowingServerHint());
    EXPECT_GE(view.loaderRect().width(), 240);
    EXPECT_EQ(view.loaderRect().center(), view.rect().center());

    view.showLoading(QStringLiteral("Translating..."), true);
    view.showImage(picture(), {800, 500}, QStringLiteral("English → Spanish"), true);
    EXPECT_FALSE(view.isShowingLoader());
    EXPECT_FALSE(view.isShowingServerHint());
    EXPECT_EQ(view.loaderHeight(), 154);
    EXPECT_FALSE(view.isSpinning());
    EXPECT_TRUE(view.frameView()->isVisibleTo(&view));
}

TEST_F(ViewFixture, TheBadgeShowsTheTrimmedPairAndOnlyANonEmptyOneOpensThePicker) {
    QWidget* anchor = nullptr;
    view.onTranslationBadgePressed = [&](QWidget* a) { anchor = a; };

    view.showImage(picture(), {800, 500}, QStringLiteral("  \n English → Spanish \t\n"), true);
    EXPECT_EQ(view.badgeText(), QStringLiteral("English → Spanish"));
    EXPECT_TRUE(view.isBadgeSelectable());
    EXPECT_EQ(view.badge()->toolTip(), ScreenshotOverlayView::badgeToolTip);
    // Top right, 18 from both edges.
    EXPECT_EQ(view.badge()->geometry().top(), 18);
    EXPECT_EQ(view.badge()->geometry().right() + 1, 800 - 18);
    QTest::mouseClick(view.badge(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(anchor, view.badge());
    EXPECT_EQ(dismissals, 0);

    view.showImage(picture(), {800, 500}, QStringLiteral(" \n "), true);
    EXPECT_EQ(view.badgeText(), QString());
    EXPECT_FALSE(view.badge()->isVisibleTo(&view));
    EXPECT_FALSE(view.isBadgeSelectable());
}

TEST_F(ViewFixture, ALongPairIsKeptInsideTheView) {
    view.showImage(picture({300, 200}), {300, 200}, QString(200, QLatin1Char('W')), true);
    EXPECT_LE(view.badge()->width(), 300 - 36);
    EXPECT_GE(view.badge()->geometry().left(), 18);
}

TEST_F(ViewFixture, WhileLoadingTheWindowIsCutToTheCard) {
    QWidget panel;
    panel.resize(800, 500);
    view.setParent(&panel);
    view.showLoading(QStringLiteral("Translating..."), false);
    const QRegion mask = panel.mask();
    EXPECT_TRUE(mask.contains(view.loaderRect().center()));
    EXPECT_FALSE(mask.contains(QPoint(5, 5)));
    EXPECT_LE(mask.boundingRect().height(), 154);

    view.showImage(picture(), {800, 500}, QStringLiteral("x"), true);
    EXPECT_TRUE(panel.mask().isEmpty());
    view.setParent(nullptr);
}

TEST_F(ViewFixture, TheImageFillsTheViewAtTheWindowSize) {
    // A capture of a scaled desktop has twice the pixels of the window's logical size.
    QImage image(1600, 1000, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    view.showImage(image, {800, 500}, QString(), true);
    EXPECT_EQ(view.size(), QSize(800, 500));
    const QImage shot = view.grab().toImage();
    // Away from the frame and the watermark the picture shows unchanged.
    EXPECT_EQ(shot.pixelColor(400, 250), QColor(10, 200, 30));
}

// ---- the frame

TEST(TranslationFrameViewTest, BandOpacityFadesInwardAndRipples) {
    EXPECT_NEAR(TranslationFrameView::bandAlpha(0, M_PI / 2), 0.3 * 1.48, 1e-9);
    EXPECT_NEAR(TranslationFrameView::bandAlpha(0, -M_PI / 2), 0.3 * 0.52, 1e-9);
    EXPECT_NEAR(TranslationFrameView::bandAlpha(29, 0.7), 0.0, 1e-12);
    // Band 10 at phase 0: t = 10/29.
    const double t = 10.0 / 29.0;
    const double expected = 0.3 * std::pow(1 - t, 1.15) * (1 + 0.48 * std::sin(-t * 1.9 * M_PI));
    EXPECT_NEAR(TranslationFrameView::bandAlpha(10, 0), expected, 1e-12);
    for (int i = 0; i < 30; ++i) {
        for (double phase : {0.0, 1.0, 2.5, 4.0}) {
            const double a = TranslationFrameView::bandAlpha(i, phase);
            EXPECT_GE(a, 0.0);
            EXPECT_LE(a, 1.0);
        }
    }
}

TEST(TranslationFrameViewTest, EachBandIsARingOneAndAHalfPixelsWide) {
    const QRectF bounds(0, 0, 400, 300);
    const QPainterPath first = TranslationFrameView::bandRing(bounds, 0);
    EXPECT_TRUE(first.contains(QPointF(0.7, 150)));
    EXPECT_FALSE(first.contains(QPointF(2.0, 150)));
    const QPainterPath last = TranslationFrameView::bandRing(bounds, 29);
    EXPECT_TRUE(last.contains(QPointF(42.5, 150)));
    EXPECT_FALSE(last.contains(QPointF(41.0, 150)));
    EXPECT_FALSE(last.contains(QPointF(44.0, 150)));
}

TEST(TranslationFrameViewTest, NinetyPixelsCarryNoFrameNinetyOneDo) {
    const auto render = [](int side) {
        TranslationFrameView frame(nullptr, [] { return 0.6; });
        frame.resize(side, side);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        frame.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    };
    EXPECT_FALSE(TranslationFrameView::drawsFrame(QSizeF(90, 90)));
    EXPECT_TRUE(TranslationFrameView::drawsFrame(QSizeF(91, 91)));
    EXPECT_FALSE(TranslationFrameView::drawsFrame(QSizeF(91, 90)));
    EXPECT_EQ(qAlpha(render(90).pixel(0, 45)), 0);
    const QImage drawn = render(91);
    EXPECT_GT(qAlpha(drawn.pixel(0, 45)), 0);
    // The middle is clear.
    EXPECT_EQ(qAlpha(drawn.pixel(45, 45)), 0);
}

TEST(TranslationFrameViewTest, TicksRunWhileTheWindowIsShown) {
    QWidget window;
    window.resize(300, 200);
    auto* frame = new TranslationFrameView(&window);
    EXPECT_FALSE(frame->isAnimating());
    window.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame->isAnimating());
    EXPECT_EQ(TranslationFrameView::tickIntervalMs, 41);
    window.hide();
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame->isAnimating());
}

}  // namespace
