// Bringing a remembered window back to the front under the session's window manager.
#include "platform/desktop_backend.h"
#include "platform/front_window_activation.h"
#include "support/async.h"

#include <QWidget>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(FrontWindowActivation, AWindowRememberedBeforeAnotherTookTheFocusComesBack) {
    auto activation = makeSystemFrontWindowActivation();
    QWidget first;
    QWidget second;
    first.setGeometry(100, 100, 200, 100);
    second.setGeometry(400, 100, 200, 100);
    first.show();
    first.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return activation->activeWindow() == quint32(first.winId()); }));
    const auto remembered = activation->activeWindow();

    second.show();
    second.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return activation->activeWindow() == quint32(second.winId()); }));
    // Qt repeats an activation asked for before the window was exposed; let it settle first, or
    // it takes the focus back from the activation below on a busy machine.
    ASSERT_TRUE(test::waitUntil([&] { return second.isActiveWindow(); }));
    test::waitUntil([] { return false; }, std::chrono::milliseconds(200));

    ASSERT_TRUE(activation->activate(*remembered));
    EXPECT_TRUE(test::waitUntil([&] { return activation->activeWindow() == quint32(first.winId()); }));
    EXPECT_TRUE(test::waitUntil([&] { return first.isActiveWindow(); }));
    EXPECT_FALSE(activation->activate(0));
}

}  // namespace
}  // namespace tavrolin
