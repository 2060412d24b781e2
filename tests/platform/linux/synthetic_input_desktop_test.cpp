// XTest synthetic input against a window of this process on the session's X display.
#include "platform/linux/xtest_synthetic_input.h"
#include "support/async.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QLineEdit>
#include <QProcess>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class SyntheticInputDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(input.isAvailable());
        edit.setText("hello world");
        edit.setGeometry(200, 200, 300, 40);
        edit.show();
        edit.activateWindow();
        edit.raise();
        ASSERT_TRUE(test::waitUntil([&] { return edit.hasFocus() && QApplication::focusWidget() == &edit; }));
        edit.deselect();
        QApplication::clipboard()->clear();
    }
    void TearDown() override {
        // Never leave a modifier down on the shared display.
        QProcess::execute("xdotool", {"keyup", "Shift_L", "Control_L"});
        edit.close();
    }

    XTestSyntheticInput input;
    QLineEdit edit;
};

TEST_F(SyntheticInputDesktopTest, ControlChordsReachTheFocusedField) {
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_A));
    ASSERT_TRUE(test::waitUntil([&] { return edit.selectedText() == "hello world"; }));
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_C));
    EXPECT_TRUE(test::waitUntil([] { return QApplication::clipboard()->text() == "hello world"; }));
}

TEST_F(SyntheticInputDesktopTest, ModifiersStillHeldFromAShortcutAreReleasedFirst) {
    // The user is still holding Shift from the shortcut; Control+Shift+A would not select all.
    ASSERT_EQ(QProcess::execute("xdotool", {"keydown", "Shift_L"}), 0);
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_A));
    ASSERT_TRUE(test::waitUntil([&] { return edit.selectedText() == "hello world"; }));
    ASSERT_TRUE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_X));
    EXPECT_TRUE(test::waitUntil([&] { return edit.text().isEmpty(); }));
    EXPECT_EQ(QApplication::clipboard()->text(), "hello world");
}

TEST_F(SyntheticInputDesktopTest, KeysOutsideLettersAndDigitsAreRefused) {
    EXPECT_FALSE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_F5));
    EXPECT_FALSE(input.sendKeyChord(Qt::ControlModifier, Qt::Key_Return));
}

TEST(SyntheticPointerDesktopTest, MovesThePointerAndReadsItBack) {
    XTestSyntheticInput input;
    ASSERT_TRUE(input.isAvailable());
    const std::optional<QPoint> start = input.pointerPosition();
    ASSERT_TRUE(start.has_value());
    const QPoint target(start->x() > 1 ? start->x() - 1 : start->x() + 1, start->y());
    ASSERT_TRUE(input.movePointerTo(target));
    EXPECT_EQ(input.pointerPosition(), target);
    EXPECT_EQ(QCursor::pos(), target);
    ASSERT_TRUE(input.movePointerTo(*start));
    EXPECT_EQ(input.pointerPosition(), start);
}

}  // namespace
}  // namespace tavrolin
