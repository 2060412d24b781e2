// The overlay's desktop pieces on the real X server: the global mouse monitor, the panel over a
// window of another program, click-through while loading and the keyboard grab while the
// picture is up.
#include "platform/desktop_backend.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/keyboard_grabbing.h"
#include "support/async.h"
#include "window_translation/desktop_screenshot_overlay_presenter.h"
#include "window_translation/screenshot_overlay_panel.h"
#include "window_translation/screenshot_overlay_view.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <gtest/gtest.h>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(5000);
    return QString::fromLatin1(process.readAllStandardOutput()).trimmed();
}

void settle(std::chrono::milliseconds time) {
    test::waitUntil([] { return false; }, time);
}

// The pattern program as the front window of another process.
class ForeignWindow {
public:
    ForeignWindow() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(qEnvironmentVariable("TAVROLIN_BUILD_DIR") +
                           QStringLiteral("/tests/support/tavrolin_test_app_pattern_window"),
                       {"--size", "400", "300", "--pos", "300", "200"});
        test::waitUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                    if (line.startsWith(QStringLiteral("window "))) {
                        id = line.mid(7).toULongLong();
                    }
                }
                return id != 0;
            },
            10s);
    }
    ~ForeignWindow() {
        process_.write("quit\n");
        if (!process_.waitForFinished(3000)) {
            process_.kill();
        }
    }
    quint64 id = 0;

private:
    QProcess process_;
};

TEST(OverlayDesktopTest, TheMouseMonitorHearsPressesOutsideOurWindowsButNotTheWheel) {
    const auto monitoring = makeSystemGlobalMouseMonitoring();
    int presses = 0;
    auto monitor = monitoring->addMouseDownMonitor([&] { ++presses; });
    ASSERT_NE(monitor, nullptr) << "no XInput 2.1 on this display";
    QWidget own;
    own.resize(200, 150);
    own.move(40, 40);
    own.show();
    ASSERT_TRUE(test::waitUntil([&] { return own.windowHandle() && own.windowHandle()->isExposed(); }));

    xdotool({"mousemove", "1000", "500", "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return presses == 1; }, 3s));
    xdotool({"click", "4"});
    xdotool({"click", "5"});
    xdotool({"mousemove", "--window", QString::number(own.winId()), "30", "30", "click", "1"});
    settle(300ms);
    EXPECT_EQ(presses, 1) << "the wheel or a press over our own window counted";
    xdotool({"mousemove", "1000", "500", "click", "3"});
    EXPECT_TRUE(test::waitUntil([&] { return presses == 2; }, 3s));

    monitor.reset();
    xdotool({"click", "1"});
    settle(300ms);
    EXPECT_EQ(presses, 2) << "a removed monitor still reported";
}

TEST(OverlayDesktopTest, ThePanelCoversTheWindowLeavesItActiveAndHearsTheKeyboardOnlyWithThePicture) {
    ForeignWindow front;
    ASSERT_NE(front.id, 0u);
    ASSERT_TRUE(test::waitUntil([&] { return xdotool({"getactivewindow"}).toULongLong() == front.id; }, 5s));

    DesktopScreenshotOverlayPresenter::Dependencies dependencies =
        DesktopScreenshotOverlayPresenter::systemDependencies(
            {markAsOverlayWindow, makeSystemGlobalMouseMonitoring(), makeSystemKeyboardGrab(),
             defaultFrontApplicationProvider(), systemWindowList(), [] { return makeSystemFrontWindowActivation(); }});
    const std::shared_ptr<KeyboardGrabbing> grab = dependencies.keyboardGrab;
    DesktopScreenshotOverlayPresenter presenter(nullptr, nullptr, dependencies);
    presenter.setMinimumDisplayDuration(0);
    int dismissals = 0;
    presenter.setOnDismiss([&] { ++dismissals; });

    const QRectF bounds(300, 200, 400, 300);
    presenter.presentLoading(bounds, std::nullopt, QStringLiteral("Traduciendo..."), false);
    auto* panel = dynamic_cast<ScreenshotOverlayPanel*>(presenter.overlayPanel());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return panel->windowHandle()->isExposed(); }, 5s));
    EXPECT_EQ(QRectF(panel->geometry()), bounds);
    EXPECT_TRUE(panel->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_FALSE(panel->mask().isEmpty()) << "the loading window is cut to the card";
    EXPECT_FALSE(grab->isGrabbing());
    settle(100ms);
    EXPECT_EQ(xdotool({"getactivewindow"}).toULongLong(), front.id);

    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    ASSERT_TRUE(presenter.presentImage(picture, bounds, std::nullopt, QStringLiteral("English -> Spanish"),
                                       {AppLanguage::english, AppLanguage::spanish}, false, {}));
    // The picture comes in a window of its own, above the card's, which goes.
    EXPECT_FALSE(panel->isVisible());
    panel = dynamic_cast<ScreenshotOverlayPanel*>(presenter.overlayPanel());
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(QRectF(panel->geometry()), bounds);
    EXPECT_FALSE(panel->windowHandle()->flags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(panel->mask().isEmpty());
    ASSERT_TRUE(test::waitUntil([&] { return grab->isGrabbing(); }, 3s)) << "no keyboard grab";
    settle(100ms);
    EXPECT_EQ(xdotool({"getactivewindow"}).toULongLong(), front.id) << "the overlay took the focus";

    xdotool({"key", "Escape"});
    EXPECT_TRUE(test::waitUntil([&] { return dismissals == 1; }, 3s)) << "the key did not reach the overlay";
    EXPECT_FALSE(presenter.hasOverlayPanel());
    EXPECT_FALSE(grab->isGrabbing());
    EXPECT_EQ(xdotool({"getactivewindow"}).toULongLong(), front.id);
}

}  // namespace

namespace {

QImage screenArea(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A compositing manager as far as the desktop can tell: a program owning _NET_WM_CM_S0.
class CompositorSelectionOwner {
public:
    CompositorSelectionOwner() {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {"-c",
                        "import sys, tkinter\n"
                        "root = tkinter.Tk()\n"
                        "root.withdraw()\n"
                        "root.selection_own(selection='_NET_WM_CM_S0')\n"
                        "root.update()\n"
                        "print('owned', flush=True)\n"
                        "root.createfilehandler(sys.stdin, tkinter.READABLE, lambda *a: root.destroy())\n"
                        "root.mainloop()\n"});
        owned = test::waitUntil(
            [&] {
                process_.waitForReadyRead(50);
                return process_.readAll().contains("owned");
            },
            10s);
    }
    ~CompositorSelectionOwner() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    bool owned = false;

private:
    QProcess process_;
};

// Without a compositing manager the card's panel is the card alone: every pixel of the window
// around it stays as it was. With one, the panel covers the window as before.
TEST(OverlayDesktopTest, WithoutACompositorTheLoadingCardAloneHidesTheWindow) {
    ForeignWindow front;
    ASSERT_NE(front.id, 0u);
    ASSERT_TRUE(test::waitUntil([&] { return xdotool({"getactivewindow"}).toULongLong() == front.id; }, 5s));
    const std::shared_ptr<CompositingManagerDetecting> compositing = systemCompositingManagerDetector();
    ASSERT_FALSE(compositing->isCompositingManagerRunning()) << "the test desktop runs no compositor";
    settle(300ms);
    const QRect bounds(300, 200, 400, 300);
    const QImage before = screenArea(bounds);

    DesktopScreenshotOverlayPresenter::Dependencies dependencies =
        DesktopScreenshotOverlayPresenter::systemDependencies(
            {markAsOverlayWindow, makeSystemGlobalMouseMonitoring(), makeSystemKeyboardGrab(),
             defaultFrontApplicationProvider(), systemWindowList(), [] { return makeSystemFrontWindowActivation(); },
             compositing});
    DesktopScreenshotOverlayPresenter presenter(nullptr, nullptr, dependencies);
    presenter.presentLoading(QRectF(bounds), std::nullopt, QStringLiteral("Traduciendo..."), false);
    auto* panel = dynamic_cast<ScreenshotOverlayPanel*>(presenter.overlayPanel());
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return panel->windowHandle()->isExposed(); }, 5s));
    const QSize cardSize = presenter.overlayView()->loaderRect().size();
    const QRect card(bounds.center() - QPoint(cardSize.width() / 2, cardSize.height() / 2), cardSize);
    // Centred on the window, to a pixel's rounding.
    EXPECT_LE(std::abs(panel->geometry().center().x() - card.center().x()), 1);
    EXPECT_LE(std::abs(panel->geometry().center().y() - card.center().y()), 1);
    EXPECT_EQ(panel->geometry().size(), cardSize) << "the panel is larger than its card";
    settle(500ms);
    const QImage during = screenArea(bounds);
    // The pictures are in device pixels (twice the logical ones on a scaled desktop).
    ASSERT_EQ(before.size(), during.size());
    const double scale = double(during.width()) / bounds.width();
    const QRectF cardArea = QRectF(card.translated(-bounds.topLeft())).adjusted(-2, -2, 2, 2);
    const QRect cardInPicture(QPoint(int(cardArea.left() * scale), int(cardArea.top() * scale)),
                              QPoint(int(cardArea.right() * scale), int(cardArea.bottom() * scale)));
    int changedAround = 0;
    int changedInCard = 0;
    for (int y = 0; y < during.height(); ++y) {
        for (int x = 0; x < during.width(); ++x) {
            const bool changed = before.pixel(x, y) != during.pixel(x, y);
            (cardInPicture.contains(x, y) ? changedInCard : changedAround) += changed ? 1 : 0;
        }
    }
    EXPECT_EQ(changedAround, 0) << "the window around the card was hidden";
    EXPECT_GT(changedInCard, cardInPicture.width() * cardInPicture.height() / 2) << "the card is not on screen";

    // A server-style card that grows keeps to its card.
    presenter.showLoading(QStringLiteral("Traduciendo..."), true);
    EXPECT_EQ(panel->geometry().height(), ScreenshotOverlayView::serverLoaderHeight);
    EXPECT_EQ(panel->geometry().width(), presenter.overlayView()->loaderRect().width());
    presenter.clear(false);

    CompositorSelectionOwner compositor;
    ASSERT_TRUE(compositor.owned);
    ASSERT_TRUE(compositing->isCompositingManagerRunning());
    presenter.presentLoading(QRectF(bounds), std::nullopt, QStringLiteral("Traduciendo..."), false);
    ASSERT_NE(presenter.overlayPanel(), nullptr);
    EXPECT_EQ(dynamic_cast<ScreenshotOverlayPanel*>(presenter.overlayPanel())->geometry(), bounds);
    presenter.clear(false);
}

}  // namespace
