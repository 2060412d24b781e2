#include "platform/desktop_backend.h"
#include "platform/window_ping.h"
#include "support/async.h"

#include <QWidget>

#include <cstdlib>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Answer = WindowPinging::Answer;

// A Qt program answers the ping to a different set of listeners on the root window than a GTK
// one; the clipboard's hold after a paste and the input gate both wait on these answers.
TEST(X11WindowPingTest, TellsAnsweringWindowsFromBareAndGoneOnes) {
    const std::shared_ptr<WindowPinging> ping = makeSystemWindowPing();
    auto qtWindow = std::make_unique<QWidget>();
    qtWindow->setWindowTitle(QStringLiteral("ping probe"));
    qtWindow->show();
    const quint64 id = qtWindow->winId();
    EXPECT_EQ(test::await(ping->ping(id, 2s)), Answer::answered);

    // A window that never said it takes part in the ping: nothing is known of it.
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(connection));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t bare = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, bare, screen->root, 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    // A round trip: the server has made the window before the ping's own connection asks.
    const auto roundTrip = [connection] {
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    };
    roundTrip();
    EXPECT_EQ(test::await(ping->ping(bare, 500ms)), Answer::unsupported);
    xcb_destroy_window(connection, bare);
    roundTrip();
    xcb_disconnect(connection);
    EXPECT_EQ(test::await(ping->ping(bare, 500ms)), Answer::windowGone);

    qtWindow.reset();
    EXPECT_EQ(test::await(ping->ping(id, 500ms)), Answer::windowGone);
}

}  // namespace
}  // namespace tavrolin
