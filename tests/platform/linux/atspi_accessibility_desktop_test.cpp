// AT-SPI reads and writes against the foreign test application's Qt fields.
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "support/apps/text_fields_app.h"
#include "support/async.h"

#include <QElapsedTimer>

#include <csignal>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class AtspiAccessibilityDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.isReady());
        ASSERT_TRUE(accessibility.isTrusted());
    }

    // The focused element of the test application once `field` has the focus.
    AccessibleElementHandle focus(const QString& field) {
        EXPECT_TRUE(app.focus(field));
        AccessibleElementHandle element;
        test::waitUntil([&] {
            element = accessibility.focusedElementOfApplication(app.pid());
            return element && accessibility.role(element) != AccessibleRole::other;
        });
        return element;
    }

    DBusAccessibilityBusStatus status;
    AtspiAccessibility accessibility{status};
    test::TextFieldsApp app;
};

TEST_F(AtspiAccessibilityDesktopTest, ReadsTextSelectionAndFrameInUtf16Units) {
    // Emoji are two UTF-16 units but one AT-SPI character: ranges must not drift.
    const QString text = QString::fromUtf8("a😀b çé 😀end");
    ASSERT_TRUE(app.setText("line", text));
    const AccessibleElementHandle element = focus("line");
    ASSERT_TRUE(element);
    const int start = text.indexOf("b");
    const int end = text.lastIndexOf("😀") + 2;
    ASSERT_TRUE(app.select("line", start, end));

    EXPECT_EQ(accessibility.role(element), AccessibleRole::textField);
    EXPECT_EQ(accessibility.value(element), text);
    EXPECT_EQ(accessibility.selectedText(element), text.mid(start, end - start));
    EXPECT_EQ(accessibility.selectedRange(element), (AccessibleTextRange{start, end - start}));
    const std::optional<QRectF> frame = accessibility.frame(element);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->toRect(), app.rect("line"));
    const std::optional<QRectF> bounds = accessibility.boundsForRange(element, {start, end - start});
    ASSERT_TRUE(bounds.has_value());
    EXPECT_TRUE(frame->adjusted(-1, -1, 1, 1).contains(*bounds));
    EXPECT_FALSE(accessibility.isChromiumControl(element));
}

TEST_F(AtspiAccessibilityDesktopTest, CaretWithoutSelectionIsAnEmptyRange) {
    ASSERT_TRUE(app.setText("text", QString::fromUtf8("😀😀\nline two")));
    const AccessibleElementHandle element = focus("text");
    ASSERT_TRUE(element);
    ASSERT_TRUE(app.select("text", 4, 4));
    EXPECT_EQ(accessibility.role(element), AccessibleRole::textArea);
    EXPECT_EQ(accessibility.selectedText(element), QString());
    EXPECT_EQ(accessibility.selectedRange(element), (AccessibleTextRange{4, 0}));
}

TEST_F(AtspiAccessibilityDesktopTest, WritesValueSelectionAndCaret) {
    ASSERT_TRUE(app.setText("text", "one two three"));
    const AccessibleElementHandle element = focus("text");
    ASSERT_TRUE(element);
    ASSERT_TRUE(accessibility.isValueSettable(element));

    ASSERT_TRUE(app.select("text", 4, 7));
    ASSERT_TRUE(accessibility.setSelectedText(element, QString::fromUtf8("zwei 😀")));
    EXPECT_EQ(app.text("text"), QString::fromUtf8("one zwei 😀 three"));

    ASSERT_TRUE(accessibility.setValue(element, QString::fromUtf8("ganz neu 😀")));
    ASSERT_TRUE(accessibility.setSelectedRange(element, {QString::fromUtf8("ganz neu 😀").size(), 0}));
    const QJsonObject state = app.state("text");
    EXPECT_EQ(state.value("text").toString(), QString::fromUtf8("ganz neu 😀"));
    EXPECT_EQ(state.value("cursor").toInt(), QString::fromUtf8("ganz neu 😀").size());
}

TEST_F(AtspiAccessibilityDesktopTest, ReadOnlyFieldsAndPlainWidgets) {
    const AccessibleElementHandle readOnly = focus("readonly");
    ASSERT_TRUE(readOnly);
    EXPECT_EQ(accessibility.value(readOnly), "fixed text");
    EXPECT_FALSE(accessibility.isValueSettable(readOnly));
    EXPECT_FALSE(accessibility.isEditable(readOnly));

    ASSERT_TRUE(app.focus("pad"));
    AccessibleElementHandle pad;
    ASSERT_TRUE(test::waitUntil([&] {
        pad = accessibility.focusedElementOfApplication(app.pid());
        return pad && accessibility.role(pad) == AccessibleRole::other;
    }));
    EXPECT_EQ(accessibility.value(pad), std::nullopt);
    EXPECT_EQ(accessibility.selectedText(pad), std::nullopt);
    EXPECT_FALSE(accessibility.setSelectedText(pad, "x"));
}

TEST_F(AtspiAccessibilityDesktopTest, FocusEventsNameTheSystemFocusedElement) {
    ASSERT_TRUE(app.setText("line", "first"));
    ASSERT_TRUE(app.setText("text", "second"));
    ASSERT_TRUE(app.focus("line"));
    ASSERT_TRUE(test::waitUntil([&] {
        const AccessibleElementHandle e = accessibility.systemFocusedElement();
        return e && accessibility.value(e) == "first";
    }));
    ASSERT_TRUE(app.focus("text"));
    ASSERT_TRUE(test::waitUntil([&] {
        const AccessibleElementHandle e = accessibility.systemFocusedElement();
        return e && accessibility.value(e) == "second";
    }));
    const AccessibleElementHandle inWindow = accessibility.focusedElementOfActiveWindow(app.pid());
    ASSERT_TRUE(inWindow);
    EXPECT_EQ(accessibility.value(inWindow), "second");
}

TEST_F(AtspiAccessibilityDesktopTest, AnApplicationThatStopsAnsweringGivesAbsentValuesInTime) {
    ASSERT_TRUE(app.setText("line", "still here"));
    const AccessibleElementHandle element = focus("line");
    ASSERT_TRUE(element);
    ASSERT_EQ(::kill(static_cast<pid_t>(app.pid()), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    const std::optional<QString> value = accessibility.value(element);
    const bool settable = accessibility.setValue(element, "x");
    const qint64 elapsed = timer.elapsed();
    ::kill(static_cast<pid_t>(app.pid()), SIGCONT);
    EXPECT_EQ(value, std::nullopt);
    EXPECT_FALSE(settable);
    EXPECT_LT(elapsed, 3000);
    EXPECT_TRUE(test::waitUntil([&] { return accessibility.value(element) == "still here"; }));
}

TEST_F(AtspiAccessibilityDesktopTest, UnknownProcessesAndForeignHandlesAreAbsent) {
    EXPECT_EQ(accessibility.focusedElementOfApplication(0), nullptr);
    EXPECT_EQ(accessibility.focusedElementOfApplication(999999999), nullptr);
    struct Foreign final : AccessibleElement {};
    const AccessibleElementHandle foreign = std::make_shared<Foreign>();
    EXPECT_EQ(accessibility.value(foreign), std::nullopt);
    EXPECT_FALSE(accessibility.setValue(foreign, "x"));
    EXPECT_FALSE(accessibility.isChromiumControl(nullptr));
}

TEST(AccessibilityBusStatusDesktopTest, SwitchesTheBusAndTrustFollowsIt) {
    DBusAccessibilityBusStatus status;
    AtspiAccessibility accessibility{status};
    ASSERT_EQ(status.isEnabledBlocking(), true);  // the desktop session switches it on
    struct SwitchBackOn {
        DBusAccessibilityBusStatus& status;
        ~SwitchBackOn() { status.setEnabledBlocking(true); }
    } guard{status};

    ASSERT_TRUE(status.setEnabledBlocking(false));
    EXPECT_EQ(status.isEnabledBlocking(), false);
    EXPECT_FALSE(accessibility.isTrusted());
    // Asking a lazy application for its tree switches the bus on again.
    accessibility.requestAccessibilityTree(1);
    EXPECT_EQ(status.isEnabledBlocking(), true);
    EXPECT_TRUE(accessibility.isTrusted());
}

}  // namespace
}  // namespace tavrolin
