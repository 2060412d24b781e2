#include "platform/desktop_backend.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

using namespace tavrolin;

// These tests run offscreen: without an X11 connection of the application's own, every grab fails.
TEST(X11GlobalKeyGrabberWithoutDisplay, EveryGrabFails) {
    const std::unique_ptr<GlobalKeyGrabbing> grabber = makeSystemGlobalKeyGrabber();
    EXPECT_EQ(grabber->grab(4, XK_e, {.control = true, .shift = true}), GlobalKeyGrabStatus::failed);
    EXPECT_EQ(grabber->grab(5, XK_F5, {.alt = true}), GlobalKeyGrabStatus::failed);
}
