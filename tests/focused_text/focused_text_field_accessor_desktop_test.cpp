// The accessor on the real desktop: AT-SPI, XTest and the X clipboard against the foreign
// test application's Qt fields.
#include "focused_text/focused_text_field_accessor.h"

#include "core/capture_workflow_error.h"
#include "platform/linux/accessibility_thread.h"
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "platform/linux/qt_clipboard.h"
#include "platform/linux/xtest_synthetic_input.h"
#include "support/async.h"
#include "support/text_fields_app.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;

// Counts the reads of the focused element so retries can be seen.
class CountingAccessibility final : public Accessibility {
public:
    CountingAccessibility(Accessibility& inner, std::atomic<int>& focusQueries)
        : inner_(inner), focusQueries_(focusQueries) {}
    bool isTrusted() override { return inner_.isTrusted(); }
    AccessibleElementHandle systemFocusedElement() override {
        ++focusQueries_;
        return inner_.systemFocusedElement();
    }
    AccessibleElementHandle focusedElementOfApplication(qint64 pid) override { return inner_.focusedElementOfApplication(pid); }
    AccessibleElementHandle focusedElementOfActiveWindow(qint64 pid) override { return inner_.focusedElementOfActiveWindow(pid); }
    void requestAccessibilityTree(qint64 pid) override { inner_.requestAccessibilityTree(pid); }
    std::optional<AccessibleRole> role(const AccessibleElementHandle& e) override { return inner_.role(e); }
    std::optional<QString> value(const AccessibleElementHandle& e) override { return inner_.value(e); }
    std::optional<QString> selectedText(const AccessibleElementHandle& e) override { return inner_.selectedText(e); }
    std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& e) override { return inner_.selectedRange(e); }
    std::optional<QRectF> frame(const AccessibleElementHandle& e) override { return inner_.frame(e); }
    std::optional<QRectF> boundsForRange(const AccessibleElementHandle& e, AccessibleTextRange r) override { return inner_.boundsForRange(e, r); }
    bool isChromiumControl(const AccessibleElementHandle& e) override { return inner_.isChromiumControl(e); }
    bool isEditable(const AccessibleElementHandle& e) override { return inner_.isEditable(e); }
    bool isValueSettable(const AccessibleElementHandle& e) override { return inner_.isValueSettable(e); }
    bool setValue(const AccessibleElementHandle& e, const QString& t) override { return inner_.setValue(e, t); }
    bool setSelectedText(const AccessibleElementHandle& e, const QString& t) override { return inner_.setSelectedText(e, t); }
    bool setSelectedRange(const AccessibleElementHandle& e, AccessibleTextRange r) override { return inner_.setSelectedRange(e, r); }

private:
    Accessibility& inner_;
    std::atomic<int>& focusQueries_;
};

// The process's accessibility thread, with every query counted on the way.
class CountingCalls final : public AccessibilityCalls {
public:
    std::atomic<int> focusQueries{0};
    QCoro::Task<bool> run(Work work, std::chrono::milliseconds bound) override {
        return thread_->run(
            [this, work = std::move(work)](Accessibility& ax) {
                CountingAccessibility counting(ax, focusQueries);
                work(counting);
            },
            bound);
    }

private:
    std::shared_ptr<AccessibilityThread> thread_ = AccessibilityThread::shared();
};

class FocusedTextFieldAccessorDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(input.isAvailable());
        ASSERT_TRUE(test::await(ask(accessibility, [](Accessibility& ax) { return ax.isTrusted(); })));
    }
    void TearDown() override { QApplication::clipboard()->clear(); }

    // Starts the test application with `field` focused and in front.
    void openApp(const QString& field) {
        app = std::make_unique<test::TextFieldsApp>();
        ASSERT_TRUE(app->isReady());
        ASSERT_TRUE(app->focus(field));
        ASSERT_TRUE(test::waitUntil([&] {
            const auto front = frontApplications->frontApplication();
            const qint64 pid = app->pid();
            return front && front->processId == pid &&
                   test::await(ask(accessibility, [pid](Accessibility& ax) { return ax.focusedElementOfApplication(pid); }));
        })) << "test application not in front";
    }

    // The user's clipboard, owned by the test application: a text and an image.
    QJsonObject giveUserClipboard() {
        const QByteArray text = QString::fromUtf8("user's clipboard ✂").toUtf8();
        const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR-fake-image-bytes", 33);
        EXPECT_TRUE(app->command("clipboard-set " + text.toBase64() + " " + png.toBase64()).value("ok").toBool());
        EXPECT_TRUE(test::waitUntil([] { return !QApplication::clipboard()->ownsClipboard() && QApplication::clipboard()->text().startsWith("user's"); }));
        return QJsonObject{{"text/plain", QString::fromLatin1(text.toBase64())},
                           {"image/png", QString::fromLatin1(png.toBase64())}};
    }
    // The clipboard as the test application reads it, for the formats the user put there.
    QJsonObject clipboardSeenByApp(const QJsonObject& formats) {
        const QJsonObject all = app->command("clipboard-get").value("formats").toObject();
        QJsonObject seen;
        for (auto it = formats.begin(); it != formats.end(); ++it) {
            seen[it.key()] = all.value(it.key());
        }
        return seen;
    }
    static void waitRealTime(int ms) {
        QElapsedTimer timer;
        timer.start();
        test::waitUntil([&] { return timer.elapsed() >= ms; }, std::chrono::milliseconds(ms + 1000));
    }

    CountingCalls accessibility;
    QtClipboard clipboard;
    XTestSyntheticInput input;
    std::shared_ptr<FrontApplicationProviding> frontApplications = defaultFrontApplicationProvider();
    QtScheduler scheduler;
    FocusedTextFieldAccessor accessor{{accessibility, clipboard, input, *frontApplications, scheduler}, 0.3};
    std::unique_ptr<test::TextFieldsApp> app;
};

TEST_F(FocusedTextFieldAccessorDesktopTest, ReadsTextSelectionUtf16RangeAndFrame) {
    openApp("line");
    const QString text = QString::fromUtf8("Grüße 😀 aus Köln 👍🏽!");
    ASSERT_TRUE(app->setText("line", text));
    const int start = text.indexOf(QString::fromUtf8("😀"));
    const int end = text.indexOf(QString::fromUtf8("👍🏽")) + 4;
    ASSERT_TRUE(app->select("line", start, end));

    const FocusedTextFieldSnapshot snapshot = test::await(accessor.readFocusedField());
    EXPECT_TRUE(snapshot.element);
    EXPECT_EQ(snapshot.fullText, text);
    EXPECT_EQ(snapshot.selectedText, text.mid(start, end - start));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{start, end - start}));
    ASSERT_TRUE(snapshot.screenFrame.has_value());
    EXPECT_EQ(snapshot.screenFrame->toRect(), app->rect("line"));
}

TEST_F(FocusedTextFieldAccessorDesktopTest, MultiLineSelectionWithEmojiKeepsItsRange) {
    openApp("text");
    const QString text = QString::fromUtf8("первая строка 😀\nzweite Zeile ☕\n第三行");
    ASSERT_TRUE(app->setText("text", text));
    const int start = text.indexOf(QString::fromUtf8("😀"));
    const int end = text.indexOf(QString::fromUtf8("第"));
    ASSERT_TRUE(app->select("text", start, end));
    const FocusedTextFieldSnapshot snapshot = test::await(accessor.readFocusedSelection(false));
    EXPECT_EQ(snapshot.selectedText, text.mid(start, end - start));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{start, end - start}));
    EXPECT_EQ(snapshot.fullText, text);
}

TEST_F(FocusedTextFieldAccessorDesktopTest, AnEmptySearchFieldIsEmpty) {
    openApp("search");
    const QJsonObject user = giveUserClipboard();
    try {
        test::await(accessor.readFocusedField());
        ADD_FAILURE() << "read an empty field";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), Case::focusedTextFieldEmpty);
    }
    EXPECT_EQ(clipboardSeenByApp(user), user);
}

TEST_F(FocusedTextFieldAccessorDesktopTest, ASelectionIsReplacedInPlaceWithoutClipboardTraffic) {
    openApp("text");
    ASSERT_TRUE(app->setText("text", QString::fromUtf8("Hallo Welt, wie geht's? 😀")));
    ASSERT_TRUE(app->select("text", 6, 10));
    const FocusedTextFieldSnapshot snapshot = test::await(accessor.readFocusedField());
    ASSERT_EQ(snapshot.selectedText, "Welt");
    QSignalSpy clipboardChanges(QApplication::clipboard(), &QClipboard::dataChanged);
    test::await(accessor.replaceFocusedFieldText(QString::fromUtf8("world 🌍"), snapshot));
    EXPECT_EQ(app->text("text"), QString::fromUtf8("Hallo world 🌍, wie geht's? 😀"));
    waitRealTime(100);
    EXPECT_EQ(clipboardChanges.count(), 0);
}

TEST_F(FocusedTextFieldAccessorDesktopTest, ASettableValueIsReplacedWithTheCaretAtTheEnd) {
    openApp("line");
    ASSERT_TRUE(app->setText("line", "old words"));
    ASSERT_TRUE(app->select("line", 3, 3));
    const FocusedTextFieldSnapshot snapshot = test::await(accessor.readFocusedField());
    ASSERT_EQ(snapshot.selectedText, QString());
    const QString replacement = QString::fromUtf8("neue Wörter 😀");
    test::await(accessor.replaceFocusedFieldText(replacement, snapshot));
    const QJsonObject state = app->state("line");
    EXPECT_EQ(state.value("text").toString(), replacement);
    EXPECT_EQ(state.value("cursor").toInt(), replacement.size());
}

TEST_F(FocusedTextFieldAccessorDesktopTest, AFieldWithoutAccessibleTextGoesThroughTheClipboard) {
    openApp("pad");
    ASSERT_TRUE(app->setText("pad", QString::fromUtf8("pad text 😀")));
    const QJsonObject user = giveUserClipboard();

    const FocusedTextFieldSnapshot snapshot = test::await(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, QString::fromUtf8("pad text 😀"));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{0, 11}));
    EXPECT_EQ(clipboardSeenByApp(user), user);

    test::await(accessor.replaceFocusedFieldText("replaced through paste", snapshot));
    EXPECT_TRUE(test::waitUntil([&] { return app->text("pad") == "replaced through paste"; }));
    waitRealTime(500);  // the restore follows the paste
    EXPECT_EQ(clipboardSeenByApp(user), user);
}

TEST_F(FocusedTextFieldAccessorDesktopTest, RetriesFiveTimesWhenNothingIsFocused) {
    // No application of ours is running: nothing has the focus.
    QElapsedTimer timer;
    timer.start();
    try {
        test::await(accessor.prepareFocusedFieldWithRetry(4, 0.12));
        ADD_FAILURE() << "found a field";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), Case::noFocusedTextField);
    }
    EXPECT_EQ(accessibility.focusQueries, 5);
    EXPECT_GE(timer.elapsed(), 470);
}

}  // namespace
}  // namespace tavrolin
