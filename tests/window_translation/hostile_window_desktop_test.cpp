// Windows whose properties another client filled with nonsense: detection and capture answer
// with results or errors, never a crash (this suite runs under the address sanitizer in CI).
#include "core/capture_workflow_error.h"
#include "platform/linux/x11_desktop.h"
#include "support/async.h"
#include "support/fakes/fake_front_application_provider.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screen_capture_service.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

// No process has this id: the window claims it, an absurd claim the X server's knowledge
// overrides (the window is this test's, and named so), and it stands for the detector's own
// process so that the test's window counts as another program's.
constexpr std::int32_t claimedPID = 0x7FFFFF01;

// A top-level window on a connection of the test's own, decorated as a hostile client would.
class HostileWindow {
public:
    HostileWindow() {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_)) {
            return;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = screen->root;
        window_ = xcb_generate_id(c_);
        const std::uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, root_, 200, 150, 320, 240, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        const char wmClass[] = "hostile\0Hostile";
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                            wmClass);
        setCardinals("_NET_WM_PID", {static_cast<std::uint32_t>(claimedPID)});
        xcb_map_window(c_, window_);
        xcb_flush(c_);
    }
    ~HostileWindow() {
        if (c_) {
            xcb_disconnect(c_);
        }
    }

    bool ok() const { return c_ && !xcb_connection_has_error(c_); }
    std::uint32_t id() const { return window_; }

    xcb_atom_t atom(const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::strlen(name), name), nullptr), &std::free);
        return reply ? reply->atom : XCB_NONE;
    }
    void setCardinals(const char* property, const std::vector<std::uint32_t>& values) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom(property), XCB_ATOM_CARDINAL, 32, values.size(),
                            values.data());
        xcb_flush(c_);
    }
    void setBytes(const char* property, const char* type, const QByteArray& bytes) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_, atom(property), atom(type), 8, bytes.size(),
                            bytes.constData());
        xcb_flush(c_);
    }
    // Asks for a geometry; the window manager decides what it grants.
    void configure(int x, int y, std::uint32_t width, std::uint32_t height) {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), width, height};
        xcb_configure_window(
            c_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
            values);
        xcb_flush(c_);
    }
    QSize clientSize() {
        std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> reply(
            xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window_), nullptr), &std::free);
        return reply ? QSize(reply->width, reply->height) : QSize();
    }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_window_t window_ = XCB_NONE;
};

TEST(HostileWindowDesktop, AbsurdPropertiesGiveBoundedResultsOrErrorsNeverACrash) {
    HostileWindow hostile;
    ASSERT_TRUE(hostile.ok());
    auto front = std::make_shared<test::FakeFrontApplicationProvider>();
    const auto ourPID = static_cast<std::int32_t>(QCoreApplication::applicationPid());
    front->set(FrontApplication{ourPID, QStringLiteral("Hostile")});
    ActiveWindowDetector detector(front, x11::sharedWindowList(), claimedPID);
    const auto detect = [&](const std::function<bool(const ActiveWindowSnapshot&)>& accept) {
        std::optional<ActiveWindowSnapshot> found;
        test::waitUntil(
            [&] {
                try {
                    const auto snapshot = detector.detectActiveWindow();
                    if (snapshot.windowID == hostile.id() && accept(snapshot)) {
                        found = snapshot;
                    }
                } catch (const CaptureWorkflowError&) {
                }
                return found.has_value();
            },
            10s);
        return found;
    };
    ASSERT_TRUE(detect([](const ActiveWindowSnapshot&) { return true; })) << "the window manager never listed it";

    // The largest window X allows, left of and above the screen; the manager may shrink it.
    hostile.configure(-300, -200, 65535, 65535);
    test::waitUntil([&] { return hostile.clientSize().width() > 320; }, 3s);
    const QSize client = hostile.clientSize();
    // Frame extents far beyond any window, an opacity in the wrong format, a title that is
    // not UTF-8.
    hostile.setCardinals("_NET_FRAME_EXTENTS", {600000000u, 600000000u, 600000000u, 600000000u});
    hostile.setBytes("_NET_WM_WINDOW_OPACITY", "CARDINAL", QByteArray("\x01\x02\x03", 3));
    hostile.setBytes("_NET_WM_NAME", "UTF8_STRING",
                     QByteArray("\xff\xfe"
                                "Hostile\xc3",
                                10));

    // In device pixels; the bounds are logical ones.
    const QSize expected(std::min(3 * client.width(), 65535), std::min(3 * client.height(), 65535));
    const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    const auto snapshot =
        detect([&](const ActiveWindowSnapshot& s) { return (s.bounds.size() * ratio).toSize() == expected; });
    ASSERT_TRUE(snapshot) << "the frame never grew to the clamped extents";
    EXPECT_EQ(snapshot->ownerPID, ourPID);
    EXPECT_EQ(snapshot->ownerName, QStringLiteral("Hostile"));
    EXPECT_EQ(snapshot->title, QStringLiteral("\uFFFD\uFFFDHostile\uFFFD"));

    // The capture gives pixels of the part on screen, or one of its errors.
    try {
        const auto capture =
            test::await(ScreenCaptureService(x11::sharedScreenCapture()).capture(CaptureTarget::window(*snapshot)));
        EXPECT_FALSE(capture.image.isNull());
        EXPECT_LE(capture.image.width(), x11::maximumCaptureSide);
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::emptyCaptureImage);
    } catch (const ScreenCaptureFailure& failure) {
        EXPECT_NE(std::string(failure.what()).find("too large"), std::string::npos) << failure.what();
    }
}

TEST(HostileWindowDesktop, CaptureAreasBeyondAnyScreenAreRefusedBeforeAnythingIsAllocated) {
    const auto capture = x11::sharedScreenCapture();
    const auto grab = [&](const QRectF& frame) {
        const ShareableWindow window{0x7ffffff0, claimedPID, QStringLiteral("huge"), frame};
        return capture->captureImage(WindowCaptureFilter{window},
                                     CaptureConfiguration{int(frame.width()), int(frame.height())});
    };
    // X's largest window, partly on screen: far too many pixels to pad with black.
    EXPECT_THROW(grab(QRectF(-300, -200, 65535, 65535)), ScreenCaptureFailure);
    // What unchecked frame extents used to make of a window.
    EXPECT_THROW(grab(QRectF(-600000000.0, -600000000.0, 1200000300.0, 1200000200.0)), ScreenCaptureFailure);
    // A large window partly on screen but within the limits: the visible part and black.
    const QImage partly = grab(QRectF(-2000, -1000, 4000, 2000));
    ASSERT_EQ(partly.size(), QSize(4000, 2000));
    EXPECT_EQ(partly.pixel(0, 0), qRgb(0, 0, 0));
}

}  // namespace
}  // namespace tavrolin
