#include "focused_text/focused_text_field_accessor.h"
#include "language/focused_field_service_support.h"
#include "language/focused_text_replacement_fallback.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fake_user_key_activity.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/virtual_time_task.h"

#include <QCoreApplication>

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

constexpr unsigned int escape = 0xff1b;
constexpr unsigned int backSpace = 0xff08;

// A whole-field paste into a browser's text box, whose page may be busy in a script when the
// select-all reaches it: Control+V may follow only once the field shows the select-all.
class BusySelectAllTest : public ::testing::Test {
protected:
    BusySelectAllTest() {
        clipboard.formats = {{"text/plain", "user clipboard"}};
        front.setIdentifier("chromium", 4242);
        keyboard.keyboardFocus = &front;
        keyboard.pagesInOtherProcesses = true;
        field->chromium = true;  // written by pasting only
        ax.systemFocused = field;
        keyboard.field = field;
    }

    // The text handed back for the copy window; absent when the replacement succeeded.
    std::optional<QString> offeredForCopying(const QString& text) {
        const FocusedTextFieldSnapshot snapshot = test::runOnVirtualTime(accessor.readFocusedField(), scheduler);
        try {
            test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback(text, snapshot), scheduler);
        } catch (const FocusedTextReplacementFallback& fallback) {
            return fallback.text;
        }
        return std::nullopt;
    }

    std::shared_ptr<test::FakeField> field = test::makeField("my message", {3, 0});
    test::FakeClock clock;
    test::ManualScheduler scheduler{&clock};
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard};
    test::FakeFrontApplicationProvider front;
    test::FakeUserKeyActivity userKeys{scheduler};
    FocusedTextFieldAccessor accessor{
        {calls, clipboard, front, scheduler, {}, nullptr, &keyboard, &keyboard, &clock, &userKeys}, keyboard, 0.3};
};

TEST_F(BusySelectAllTest, APageBusyOnSelectAllGetsNoPasteAndItsLateSelectAllIsPutBack) {
    keyboard.busyOnNextSelectAll = true;
    EXPECT_EQ(offeredForCopying("result"), "result");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A"})) << "no Control+V behind a select-all not shown";
    EXPECT_EQ(clipboard.text(), "user clipboard");
    EXPECT_EQ(clipboard.writes, 0) << "the result never went on the clipboard";

    // The user copies while the page is still busy; then its script ends, seconds later.
    clipboard.copy("the user's new copy");
    scheduler.advance(4s);
    keyboard.resume();
    EXPECT_EQ(field->selection, (AccessibleTextRange{0, 10})) << "the select-all came late";
    scheduler.advance(LateSelectAllGuard::watchPoll * 2);
    EXPECT_EQ(field->text, "my message");
    EXPECT_EQ(field->selection, (AccessibleTextRange{3, 0})) << "the caret back where the user had it";
    EXPECT_EQ(clipboard.text(), "the user's new copy");

    // A live page shows the select-all and gets the paste; the watch of the last one is over.
    keyboard.chords.clear();
    EXPECT_EQ(offeredForCopying("result"), std::nullopt);
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+V"}));
    EXPECT_EQ(field->text, "result");
}

// However long the page stays busy, its select-all is undone when it comes, as long as the user
// still has the field as it was: never once they moved the caret or typed or clicked in its window.
TEST_F(BusySelectAllTest, ALateSelectAllIsUndoneHoweverLateUntilTheUserMovesOn) {
    keyboard.busyOnNextSelectAll = true;
    EXPECT_EQ(offeredForCopying("result"), "result");
    // Meanwhile our copy window offers the result, and goes: the keys and clicks there are not
    // the field's.
    front.setIdentifier("Tavrolin", QCoreApplication::applicationPid(), 9001);
    scheduler.advance(10min);
    userKeys.click();
    userKeys.chord({escape});
    scheduler.advance(1s);
    front.setIdentifier("chromium", 4242);
    keyboard.resume();
    scheduler.advance(LateSelectAllGuard::watchPoll * 2);
    EXPECT_EQ(field->selection, (AccessibleTextRange{3, 0})) << "ten minutes busy, still undone";

    // The user clicks in the field, then selects it all themselves.
    keyboard.busyOnNextSelectAll = true;
    EXPECT_EQ(offeredForCopying("result"), "result");
    field->selection = {1, 0};
    scheduler.advance(1s);
    field->selection = {0, 10};
    scheduler.advance(1s);
    EXPECT_EQ(field->selection, (AccessibleTextRange{0, 10}));
    keyboard.resume();

    // The user types on, deletes a word, or clicks while the page is busy: their keys come behind
    // ours, and what the page makes of them is theirs.
    const std::vector<std::function<void()>> presses{
        [&] { userKeys.chord({'x'}); },
        [&] {
            userKeys.chord({test::FakeUserKeyActivity::controlL, backSpace});
        },
        [&] { userKeys.click(); }};
    for (const auto& press : presses) {
        field->selection = {3, 0};
        keyboard.busyOnNextSelectAll = true;
        EXPECT_EQ(offeredForCopying("result"), "result");
        scheduler.advance(2s);
        press();
        scheduler.advance(1s);
        keyboard.resume();
        scheduler.advance(1s);
        EXPECT_EQ(field->selection, (AccessibleTextRange{0, 10})) << "left as the page put it";
    }

    // The user goes to another program and types there while the page is busy: the select-all
    // lands behind it and is left there, then undone as soon as the user comes back to the page.
    field->selection = {3, 0};
    keyboard.busyOnNextSelectAll = true;
    EXPECT_EQ(offeredForCopying("result"), "result");
    front.setIdentifier("mousepad", 5151);
    scheduler.advance(1s);
    userKeys.chord({'x'});
    userKeys.chord({test::FakeUserKeyActivity::controlL, backSpace});
    keyboard.resume();
    scheduler.advance(1min);
    EXPECT_EQ(field->selection, (AccessibleTextRange{0, 10})) << "not touched from behind another program";
    front.setIdentifier("chromium", 4242);
    scheduler.advance(LateSelectAllGuard::watchPoll * 2);
    EXPECT_EQ(field->selection, (AccessibleTextRange{3, 0})) << "back where the user had it on their return";
}

}  // namespace
}  // namespace tavrolin
