#include "core/capture_workflow_error.h"
#include "platform/desktop_backend.h"
#include "platform/linux/x11_desktop.h"
#include "support/async.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/screen_capture_service.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QWidget>

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

// These tests run at scale 1 and on scaled desktops (Xft.dpi 192, QT_SCALE_FACTOR=2): window
// bounds are logical pixels, captured images device pixels carrying the ratio, and the pattern
// is painted per device pixel. The one screen starts at the origin, so a logical point times
// the ratio is its device pixel.
qreal ratio() {
    return QGuiApplication::primaryScreen()->devicePixelRatio();
}
QPoint devicePoint(QPointF logical) {
    return (logical * ratio()).toPoint();
}
QSize deviceSize(QSizeF logical) {
    return (logical * ratio()).toSize();
}
// The screen in logical pixels.
QRectF screenBounds() {
    return QRectF(QGuiApplication::primaryScreen()->geometry());
}

// The colours the pattern program paints (see tests/support/app_pattern_window.cpp).
QRgb patternColor(int x, int y) {
    return qRgb(x % 256, y % 256, 0x40 + (x / 256) + 4 * (y / 256));
}
const QRgb toolbarColor = qRgb(0xE0, 0x10, 0xC0);

// The detector over this process's X11 desktop, as the application builds it.
std::shared_ptr<ActiveWindowDetector> desktopDetector() {
    return std::make_shared<ActiveWindowDetector>(defaultFrontApplicationProvider(), x11::sharedWindowList(),
                                                  static_cast<std::int32_t>(QCoreApplication::applicationPid()));
}

QString patternProgram() {
    const QByteArray buildDir = qgetenv("TAVROLIN_BUILD_DIR");
    const QString folder = buildDir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../support")
                                              : QString::fromLocal8Bit(buildDir) + QStringLiteral("/tests/support");
    return QDir(folder).absoluteFilePath(QStringLiteral("tavrolin_test_app_pattern_window"));
}

// The pattern program, driven line by line.
class PatternApp {
public:
    explicit PatternApp(QStringList arguments = {}) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(patternProgram(), arguments);
        windowID_ = reply(QStringLiteral("window")).toUInt();
    }
    ~PatternApp() {
        if (process_.state() != QProcess::NotRunning) {
            send(QStringLiteral("quit"));
            if (!process_.waitForFinished(3000)) {
                process_.kill();
                process_.waitForFinished(1000);
            }
        }
    }

    std::uint32_t windowID() const { return windowID_; }
    std::int32_t pid() const { return static_cast<std::int32_t>(process_.processId()); }

    // The painted area in root (device) pixels, as the X server has the window.
    QRect clientArea() {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        auto* origin = xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, windowID_, root, 0, 0), nullptr);
        auto* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, windowID_), nullptr);
        const QRect area =
            origin && geometry ? QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height) : QRect();
        std::free(origin);
        std::free(geometry);
        xcb_disconnect(c);
        return area;
    }

    // Sends a command and waits for the answer line that starts with `word`; the rest of it.
    QString reply(const QString& word, const QString& command = {}) {
        if (!command.isEmpty()) {
            send(command);
        }
        QString answer;
        const bool answered = test::waitUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                    if (line == word || line.startsWith(word + QLatin1Char(' '))) {
                        answer = line.mid(word.size()).trimmed();
                        return true;
                    }
                }
                return false;
            },
            10s);
        EXPECT_TRUE(answered) << "no '" << word.toStdString() << "' from the pattern program";
        return answer;
    }

    void send(const QString& command) {
        process_.write((command + QLatin1Char('\n')).toUtf8());
        process_.waitForBytesWritten(1000);
    }

private:
    QProcess process_;
    std::uint32_t windowID_ = 0;
};

// Detects until the front window belongs to `pid` and satisfies `accept`.
std::optional<ActiveWindowSnapshot> detectWindowOf(
    std::int32_t pid,
    const std::function<bool(const ActiveWindowSnapshot&)>& accept = [](const ActiveWindowSnapshot&) { return true; }) {
    const auto detector = desktopDetector();
    std::optional<ActiveWindowSnapshot> found;
    test::waitUntil(
        [&] {
            try {
                const auto snapshot = detector->detectActiveWindow();
                if (snapshot.ownerPID == pid && accept(snapshot)) {
                    found = snapshot;
                }
            } catch (const CaptureWorkflowError&) {
            }
            return found.has_value();
        },
        10s);
    return found;
}

WindowCapture captureOf(const CaptureTarget& target) {
    return test::await(ScreenCaptureService(x11::sharedScreenCapture()).capture(target));
}

// Compares a grid of pixels of the painted area (at `offset` in the image) with the pattern.
int mismatchedPatternPixels(const QImage& image, QPoint offset, QSize area) {
    int mismatches = 0;
    for (int y = 0; y < area.height(); y += 7) {
        for (int x = 0; x < area.width(); x += 5) {
            if (image.pixel(offset + QPoint(x, y)) != patternColor(x, y)) {
                ++mismatches;
            }
        }
    }
    return mismatches;
}

TEST(WindowCaptureDesktop, DetectsTheForeignFrontWindowAndCapturesItsPixels) {
    PatternApp app({QStringLiteral("--title"), QStringLiteral("Pattern – ünïcode"), QStringLiteral("--size"),
                    QStringLiteral("320"), QStringLiteral("200"), QStringLiteral("--pos"), QStringLiteral("75"),
                    QStringLiteral("85")});
    const auto snapshot = detectWindowOf(app.pid());
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->windowID, app.windowID());
    EXPECT_EQ(snapshot->title, QStringLiteral("Pattern – ünïcode"));
    EXPECT_EQ(snapshot->ownerName, QStringLiteral("PatternWindow"));

    // The bounds hold the painted area and the window manager's frame around it.
    const QRect client = app.clientArea();
    ASSERT_EQ(client.size(), deviceSize(QSizeF(320, 200)));
    const QRectF logicalClient(QPointF(client.topLeft()) / ratio(), QSizeF(client.size()) / ratio());
    EXPECT_TRUE(snapshot->bounds.contains(logicalClient));
    EXPECT_GT(snapshot->bounds.height(), logicalClient.height()) << "the title bar belongs to the window";

    const auto capture = captureOf(CaptureTarget::window(*snapshot));
    EXPECT_EQ(capture.ownerPID, app.pid());
    EXPECT_EQ(capture.windowBounds, snapshot->bounds);
    ASSERT_EQ(capture.image.size(), deviceSize(snapshot->bounds.size()));
    EXPECT_EQ(capture.image.devicePixelRatio(), ratio());
    const QPoint offset = client.topLeft() - devicePoint(snapshot->bounds.topLeft());
    EXPECT_EQ(mismatchedPatternPixels(capture.image, offset, client.size()), 0);
}

TEST(WindowCaptureDesktop, AToolbarSixPixelsAboveJoinsTheBoundsNinePixelsDoesNot) {
    PatternApp app({QStringLiteral("--size"), QStringLiteral("300"), QStringLiteral("180"), QStringLiteral("--pos"),
                    QStringLiteral("100"), QStringLiteral("120")});
    const auto alone = detectWindowOf(app.pid());
    ASSERT_TRUE(alone);
    // On a scaled desktop the frame may end on half a logical pixel: the toolbar is placed in
    // whole ones, up to half a pixel nearer or farther than asked.
    const QRect main = alone->bounds.toRect();

    const QRect toolbar(main.x() + 15, main.y() - 6 - 20, main.width() * 7 / 10, 20);
    app.reply(QStringLiteral("toolbar"), QStringLiteral("toolbar %1 %2 %3 %4")
                                             .arg(toolbar.x())
                                             .arg(toolbar.y())
                                             .arg(toolbar.width())
                                             .arg(toolbar.height()));
    const QRectF joined = alone->bounds.united(QRectF(toolbar));
    const auto withToolbar =
        detectWindowOf(app.pid(), [&](const ActiveWindowSnapshot& s) { return s.bounds == joined; });
    ASSERT_TRUE(withToolbar) << "the toolbar never joined the bounds";
    EXPECT_EQ(withToolbar->windowID, app.windowID()) << "the main window keeps its identity";

    // The union is cut from the display: the toolbar and the pattern are both in it.
    const auto capture = captureOf(CaptureTarget::window(*withToolbar));
    ASSERT_EQ(capture.image.size(), deviceSize(joined.size()));
    EXPECT_EQ(capture.image.pixel(devicePoint(toolbar.topLeft()) - devicePoint(joined.topLeft()) + QPoint(5, 5)),
              toolbarColor);
    const QRect client = app.clientArea();
    EXPECT_EQ(mismatchedPatternPixels(capture.image, client.topLeft() - devicePoint(joined.topLeft()), client.size()),
              0);

    const QRect farther = toolbar.translated(0, -3);
    app.reply(QStringLiteral("toolbar"), QStringLiteral("toolbar %1 %2 %3 %4")
                                             .arg(farther.x())
                                             .arg(farther.y())
                                             .arg(farther.width())
                                             .arg(farther.height()));
    const auto apart =
        detectWindowOf(app.pid(), [&](const ActiveWindowSnapshot& s) { return s.bounds == alone->bounds; });
    EXPECT_TRUE(apart) << "a toolbar 9 pixels above must not join";
}

TEST(WindowCaptureDesktop, AWindowGoneBeforeTheCaptureIsNotShareable) {
    PatternApp app({QStringLiteral("--title"), QStringLiteral("Short-lived")});
    const auto snapshot = detectWindowOf(app.pid());
    ASSERT_TRUE(snapshot);
    app.reply(QStringLiteral("closed"), QStringLiteral("close"));
    try {
        captureOf(CaptureTarget::window(*snapshot));
        FAIL() << "a vanished window was captured";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::windowNotShareable(QStringLiteral("PatternWindow")));
    }
}

TEST(WindowCaptureDesktop, PixelsBeyondTheScreenEdgeAreBlackAndAWindowWhollyOffItIsEmpty) {
    PatternApp app({QStringLiteral("--size"), QStringLiteral("320"), QStringLiteral("200")});
    ASSERT_TRUE(detectWindowOf(app.pid()));
    // The window manager keeps a tenth of a normal window on screen: this ends at the right
    // edge (above the tray panel in the bottom corner).
    app.reply(QStringLiteral("moved"), QStringLiteral("move 3000 100"));
    const auto corner = detectWindowOf(
        app.pid(), [](const ActiveWindowSnapshot& s) { return s.bounds.right() > screenBounds().right(); });
    ASSERT_TRUE(corner);
    const QRect client = app.clientArea();
    const auto partly = captureOf(CaptureTarget::window(*corner));
    ASSERT_EQ(partly.image.size(), deviceSize(corner->bounds.size()));
    const QPoint offset = client.topLeft() - devicePoint(corner->bounds.topLeft());
    EXPECT_EQ(partly.image.pixel(offset + QPoint(2, 2)), patternColor(2, 2));
    EXPECT_EQ(partly.image.pixel(partly.image.width() - 1, partly.image.height() - 1), qRgb(0, 0, 0));

    // The same window gone wholly off screen after it was detected (as a user can move it).
    ActiveWindowSnapshot offScreen = *corner;
    offScreen.bounds.moveTopLeft(screenBounds().bottomRight() + QPointF(100, 100));
    try {
        captureOf(CaptureTarget::window(offScreen));
        FAIL() << "an off-screen window gave pixels";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::emptyCaptureImage);
    }
    // A window whose own frame lies wholly off screen has no pixels at all.
    ActiveWindowSnapshot gone = offScreen;
    gone.windowID = 0x7ffffff0;
    const ShareableWindow offScreenWindow{gone.windowID, gone.ownerPID, gone.title, gone.bounds};
    EXPECT_TRUE(x11::sharedScreenCapture()
                    ->captureImage(WindowCaptureFilter{offScreenWindow}, CaptureConfiguration{640, 400})
                    .isNull());
}

// Runs xprop on a window; answers whether it succeeded.
bool xprop(std::uint32_t window, const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xprop"), QStringList{QStringLiteral("-id"), QString::number(window)} + arguments);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

TEST(WindowCaptureDesktop, WindowsWithMissingPropertiesOrANegativePositionAreStillFound) {
    PatternApp app({QStringLiteral("--title"), QStringLiteral("Plain"), QStringLiteral("--size"), QStringLiteral("320"),
                    QStringLiteral("200"), QStringLiteral("--pos"), QStringLiteral("-50"), QStringLiteral("75")});
    const auto placed = detectWindowOf(app.pid());
    ASSERT_TRUE(placed);
    EXPECT_LT(placed->bounds.left(), 0) << "the window should start left of the screen";

    // Without _NET_WM_PID the X server names the process; without WM_CLASS the process name
    // stands for the owner; without _NET_WM_NAME the old WM_NAME is the title.
    ASSERT_TRUE(xprop(app.windowID(), {QStringLiteral("-remove"), QStringLiteral("_NET_WM_PID")}));
    ASSERT_TRUE(xprop(app.windowID(), {QStringLiteral("-remove"), QStringLiteral("WM_CLASS")}));
    ASSERT_TRUE(xprop(app.windowID(), {QStringLiteral("-remove"), QStringLiteral("_NET_WM_NAME")}));
    const auto bare = detectWindowOf(
        app.pid(), [](const ActiveWindowSnapshot& s) { return s.ownerName != QStringLiteral("PatternWindow"); });
    ASSERT_TRUE(bare) << "the window was lost with its properties";
    EXPECT_EQ(bare->windowID, app.windowID());
    EXPECT_EQ(bare->ownerName, QStringLiteral("tavrolin_test_a")) << "the kernel's 15-character process name";
    EXPECT_EQ(bare->title, QStringLiteral("Plain"));

    // The part left of the screen is black; the rest is the pattern.
    const QRect client = app.clientArea();
    const auto capture = captureOf(CaptureTarget::window(*bare));
    ASSERT_EQ(capture.image.size(), deviceSize(bare->bounds.size()));
    const QPoint offset = client.topLeft() - devicePoint(bare->bounds.topLeft());
    EXPECT_EQ(capture.image.pixel(0, capture.image.height() / 2), qRgb(0, 0, 0));
    EXPECT_EQ(capture.image.pixel(offset + QPoint(-client.left() + 3, 3)), patternColor(-client.left() + 3, 3));
}

TEST(WindowCaptureDesktop, WithOurOwnWindowInFrontTheDisplayIsTheTarget) {
    QWidget own;
    own.setWindowTitle(QStringLiteral("our own window"));
    own.resize(300, 200);
    own.show();
    own.raise();
    own.activateWindow();

    const auto detector = desktopDetector();
    const bool ownInFront = test::waitUntil(
        [&] {
            try {
                detector->detectActiveWindow();
            } catch (const CaptureWorkflowError& error) {
                return error.errorCase() == CaptureWorkflowError::Case::appIsFrontmost;
            }
            return false;
        },
        10s);
    ASSERT_TRUE(ownInFront);

    const CaptureTargetResolver resolver(desktopDetector());
    const CaptureTarget target = resolver.resolve();
    EXPECT_TRUE(target.isDisplay());
    own.hide();

    const auto capture = captureOf(target);
    EXPECT_EQ(capture.appName, QStringLiteral("Screen"));
    EXPECT_EQ(capture.windowTitle, QStringLiteral("Full Screen"));
    EXPECT_EQ(capture.ownerPID, std::nullopt);
    // The whole screen: its logical bounds, and every one of its device pixels.
    EXPECT_EQ(capture.windowBounds, screenBounds());
    EXPECT_EQ(capture.image.size(), QSize(1280, 800));
    EXPECT_EQ(capture.image.devicePixelRatio(), ratio());
}

}  // namespace
}  // namespace tavrolin
