// The user's key presses on the session's X display, told by the device each came from.
#include "platform/desktop_backend.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "support/async.h"
#include "support/session/user_keyboard.h"

#include <QProcess>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <optional>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

constexpr unsigned int controlL = 0xffe3;
constexpr unsigned int shiftL = 0xffe1;

// Keys we send (our chords) are ours; every other key is the user's, from their keyboard or typed
// for them through XTest by another program (xdotool here, as an on-screen keyboard or a
// keyboard-sharing program types). Of theirs, a shortcut and a key without a symbol type nothing;
// a letter does, from either.
TEST(UserKeyActivityDesktopTest, EveryLetterButOursIsTheUsersTyping) {
    const std::shared_ptr<UserKeyActivity> activity = makeSystemUserKeyActivity();
    ASSERT_TRUE(activity);
    test::UserKeyboard user;
    ASSERT_TRUE(user.isValid());
    test::UserKeyboard xtest(test::UserKeyboard::Device::xtest);
    XTestSyntheticInput ours;
    ASSERT_TRUE(ours.isAvailable());
    const std::optional<unsigned char> unmapped = test::keycodeWithoutSymbol();
    ASSERT_TRUE(unmapped) << "every key of the keyboard map has a symbol";
    // A letter of the user's shows within this.
    const auto typed = [&] {
        return test::waitUntil([&] { return activity->sinceLastUserKeyPress().value_or(1h) < 1s; }, 2s);
    };
    const auto typingStopped = [&] { test::waitUntil([] { return false; }, 1200ms); };

    ASSERT_TRUE(ours.sendKeyChord(Qt::ControlModifier, Qt::Key_A));
    ASSERT_TRUE(ours.sendKeyChord(Qt::NoModifier, Qt::Key_End));
    ASSERT_TRUE(ours.sendKeyChord(Qt::NoModifier, Qt::Key_X));
    ASSERT_TRUE(user.press({controlL, shiftL, 'w'}));
    ASSERT_TRUE(xtest.press({controlL, shiftL, 'w'}));
    ASSERT_TRUE(user.tap(*unmapped));
    ASSERT_TRUE(xtest.tap(*unmapped));
    EXPECT_FALSE(typed()) << activity->sinceLastUserKeyPress().value_or(-1ms).count();
    // Every press of theirs is a key of the user's all the same, shortcuts and modifiers included;
    // none of ours is.
    EXPECT_TRUE(test::waitUntil([&] { return activity->userKeyPresses() == 8; }, 2s)) << activity->userKeyPresses();

    ASSERT_EQ(QProcess::execute("xdotool", {"type", "xyz"}), 0);
    EXPECT_TRUE(typed());
    typingStopped();
    ASSERT_TRUE(user.type('q'));
    EXPECT_TRUE(typed());
    // Capitals are typing.
    typingStopped();
    ASSERT_TRUE(user.press({shiftL, 'q'}));
    EXPECT_TRUE(typed());
}

// A pointer's button presses are counted, from whichever program they come through; the wheel's
// turns are not. Clicked on a window of the test's own: on the desktop's root, the window manager
// opens its menus, which then take every key.
TEST(UserKeyActivityDesktopTest, ButtonPressesAreCountedAndWheelTurnsAreNot) {
    const std::shared_ptr<UserKeyActivity> activity = makeSystemUserKeyActivity();
    ASSERT_TRUE(activity);
    QWidget target;
    target.setGeometry(100, 100, 200, 200);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target));
    const QString window = QString::number(target.winId());
    ASSERT_EQ(QProcess::execute("xdotool", {"mousemove", "--window", window, "100", "100"}), 0);
    ASSERT_EQ(QProcess::execute("xdotool", {"click", "4", "click", "5"}), 0);
    ASSERT_EQ(QProcess::execute("xdotool", {"click", "2"}), 0);
    EXPECT_TRUE(test::waitUntil([&] { return activity->pointerButtonPresses() == 1; }, 2s))
        << activity->pointerButtonPresses();
    ASSERT_EQ(QProcess::execute("xdotool", {"click", "1", "click", "3"}), 0);
    EXPECT_TRUE(test::waitUntil([&] { return activity->pointerButtonPresses() == 3; }, 2s))
        << activity->pointerButtonPresses();
}

}  // namespace
}  // namespace tavrolin
