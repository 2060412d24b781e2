// The user's key presses on the session's X display, told by the device each came from.
#include "platform/desktop_backend.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "support/async.h"
#include "support/session/user_keyboard.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

constexpr unsigned int controlL = 0xffe3;
constexpr unsigned int shiftL = 0xffe1;

// Keys that programs send (our chords, xdotool's letters) come from an XTEST keyboard and are not
// the user's; the user's shortcut on their own keyboard types nothing; their letter does.
TEST(UserKeyActivityDesktopTest, OnlyTheUsersOwnLettersAreTyping) {
    const std::shared_ptr<UserKeyActivity> activity = makeSystemUserKeyActivity();
    ASSERT_TRUE(activity);
    test::UserKeyboard user;
    ASSERT_TRUE(user.isValid());
    XTestSyntheticInput ours;
    ASSERT_TRUE(ours.isAvailable());
    // A letter of the user's shows within this.
    const auto typed = [&] {
        return test::waitUntil([&] { return activity->sinceLastUserKeyPress().value_or(1h) < 1s; }, 2s);
    };

    ASSERT_TRUE(ours.sendKeyChord(Qt::ControlModifier, Qt::Key_A));
    ASSERT_EQ(QProcess::execute("xdotool", {"type", "xyz"}), 0);
    ASSERT_TRUE(user.press({controlL, shiftL, 'w'}));
    EXPECT_FALSE(typed()) << activity->sinceLastUserKeyPress().value_or(-1ms).count();

    ASSERT_TRUE(user.type('q'));
    EXPECT_TRUE(typed());
    // Capitals are typing.
    test::waitUntil([] { return false; }, 1200ms);
    ASSERT_TRUE(user.press({shiftL, 'q'}));
    EXPECT_TRUE(typed());
}

}  // namespace
}  // namespace tavrolin
