#include "focused_text/clipboard_fallbacks.h"

#include "platform/scheduler_sleep.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fake_user_key_activity.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/fakes/memory_log_sink.h"
#include "support/virtual_time_task.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

const ClipboardContents userClipboard = {
    {"text/plain", "the user's text"},
    {"image/png", QByteArray("\x89PNG\r\n\x1a\n-pixels-", 17)},
};

class ClipboardFallbacksTest : public ::testing::Test {
protected:
    ClipboardFallbacksTest() {
        clipboard.formats = userClipboard;
        front.set(editor);
        keyboard.keyboardFocus = &front;
    }

    template <typename T>
    T run(QCoro::Task<T> task) {
        return test::runOnVirtualTime(std::move(task), scheduler);
    }
    std::chrono::milliseconds took() const { return scheduler.elapsed(); }
    // Lets a pending clipboard restore happen.
    void settle() { scheduler.advance(1s); }

    test::ManualScheduler scheduler;
    test::FakeClipboard clipboard;
    std::shared_ptr<test::FakeField> field = test::makeField();
    test::FakeKeyboardApplication keyboard{clipboard, field};
    test::FakeFrontApplicationProvider front;
    SyntheticInputGate gate{{keyboard, front, scheduler}};
    ClipboardFallbacks fallbacks{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard};
    const FrontApplication editor{77, QString("gedit"), 7001};
    const FrontApplication cuttingEditor{78, QString("jetbrains-idea"), 7002};
};

TEST_F(ClipboardFallbacksTest, WholeFieldCopyWithASelectionNeedsOneCopy) {
    field->setText("hello world", {0, 5});
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), "hello");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
    EXPECT_EQ(took(), 0ms) << "the copy is read as soon as its program takes the clipboard";
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, WholeFieldCopySelectsAllWhenTheFirstCopyGivesNothing) {
    field->setText(QString::fromUtf8("all of it 😀"));
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), QString::fromUtf8("all of it 😀"));
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C", "Ctrl+A", "Ctrl+C", "Ctrl+End"}));
    EXPECT_EQ(took(), ClipboardFallbacks::copyWait + ClipboardFallbacks::selectAllWait);
    // Not left selected whole, for the user's next key to replace: the caret at the end.
    EXPECT_EQ(field->selection, (AccessibleTextRange{field->text.size(), 0}));
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A program slowed down copies once it gets to the key. A copy that comes before it shows it read
// the key is the read's (never taken for the answer to a select-all after it); one that comes
// once the read has ended is taken off the user's clipboard, unless the user acted since.
TEST_F(ClipboardFallbacksTest, ACopyThatComesLateIsTheReadsOrIsTakenBack) {
    field->setText("hello world", {0, 5});
    keyboard.pageBusy = true;
    keyboard.whilePinged = [&] { keyboard.resume(); };  // its answer comes after the keys
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), "hello");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
    EXPECT_EQ(clipboard.formats, userClipboard);

    test::ScopedLogCapture log;
    test::FakeUserKeyActivity activity(scheduler);
    ClipboardFallbacks watched{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard, &activity};
    keyboard.whilePinged = nullptr;
    keyboard.takesPing = false;  // nothing shows whether it read the key
    for (const bool userCopies : {false, true}) {
        keyboard.pageBusy = true;
        EXPECT_EQ(run(watched.readSelectedTextViaClipboard(false, editor)), std::nullopt);
        EXPECT_EQ(clipboard.formats, userClipboard);
        if (userCopies) {
            activity.chord({test::FakeUserKeyActivity::controlL, 'c'});
        }
        keyboard.resume();
        scheduler.advance(ClipboardFallbacks::lateCopyPoll * 2);
        EXPECT_EQ(clipboard.text(), userCopies ? "hello" : "the user's text") << userCopies;
    }
    EXPECT_EQ(log.messages(LogCategory::app).filter("copy its program made after the read").size(), 1);
}

// Meanwhile every other program (a clipboard manager) gets the user's clipboard, never anything
// of ours.
TEST_F(ClipboardFallbacksTest, AnApplicationThatIgnoresTheKeysGivesNothing) {
    keyboard.field = nullptr;
    std::optional<QString> managerGot;
    const auto manager = scheduler.scheduleAfter(100ms, [&] { managerGot = clipboard.fetchBy(4242); });
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), std::nullopt);
    EXPECT_EQ(managerGot, "the user's text");
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, editor)), std::nullopt);
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// An empty clipboard ends empty: nothing the program copied stays there for other programs.
TEST_F(ClipboardFallbacksTest, AnEmptyClipboardStaysEmpty) {
    clipboard.formats.clear();
    keyboard.field = nullptr;
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), std::nullopt);
    EXPECT_TRUE(clipboard.formats.empty());
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(true, editor)), std::nullopt);
    EXPECT_TRUE(clipboard.formats.empty());

    keyboard.field = field;
    field->setText("copied", {0, 6});
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, editor)), "copied");
    EXPECT_TRUE(clipboard.formats.empty());
    field->setText("the whole field");
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), "the whole field");
    EXPECT_TRUE(clipboard.formats.empty());
}

TEST_F(ClipboardFallbacksTest, SelectionReadPrefersStructuredHTML) {
    field->setText("first second", {0, 12});
    keyboard.copiedHtml = "<p>first</p><p>second</p>";
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, editor)), "first\nsecond");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, SelectionReadWithoutSelectionGivesNothingAndNeverSelectsAll) {
    field->setText("text", {2, 0});
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, editor)), std::nullopt);
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
}

TEST_F(ClipboardFallbacksTest, CallbackRunsBeforeClipboardUseAsAsked) {
    QStringList seen;
    fallbacks.setOnWillUseClipboardFallback([&] { seen << QString::number(clipboard.writes); });
    field->setText("x", {0, 1});
    run(fallbacks.readSelectedTextViaClipboard(false, editor));
    EXPECT_TRUE(seen.isEmpty());
    const int writesBefore = clipboard.writes;
    run(fallbacks.readSelectedTextViaClipboard(true, editor));
    run(fallbacks.readTextViaClipboard(editor));
    run(fallbacks.pasteFallback("y", false, editor));
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen.first(), QString::number(writesBefore));  // before the clipboard was touched
}

TEST_F(ClipboardFallbacksTest, PasteReplacesAndRestoresTheClipboardLater) {
    field->setText("old text", {0, 3});
    EXPECT_TRUE(run(fallbacks.pasteFallback("new", false, editor)));
    EXPECT_EQ(field->text, "new text");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
    EXPECT_EQ(clipboard.textFor(editor.processId), "new");  // still there for the application to read
    EXPECT_EQ(clipboard.formats, userClipboard) << "every other program gets the user's clipboard";
    scheduler.advance(299ms);
    EXPECT_EQ(clipboard.textFor(editor.processId), "new");
    scheduler.advance(1ms);
    EXPECT_EQ(clipboard.textFor(editor.processId), "the user's text");
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, PasteOverEverythingSelectsAllFirst) {
    field->setText("old text", {1, 0});
    EXPECT_TRUE(run(fallbacks.pasteFallback(QString::fromUtf8("ganz neu 😀"), true, editor)));
    EXPECT_EQ(field->text, QString::fromUtf8("ganz neu 😀"));
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+V"}));
    EXPECT_EQ(took(), 30ms);
    settle();
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, PasteOntoAnEmptyClipboardLeavesThePastedText) {
    clipboard.formats.clear();
    run(fallbacks.pasteFallback("pasted", false, editor));
    settle();
    EXPECT_EQ(clipboard.text(), "pasted");
}

TEST_F(ClipboardFallbacksTest, APendingRestoreRunsBeforeTheNextSave) {
    // A second run starts while the first paste's restore is still pending: it must save the
    // user's clipboard, not the pasted text, and the user's clipboard must come back in the end.
    field->setText("abc", {0, 3});
    run(fallbacks.pasteFallback("first paste", false, editor));
    ASSERT_TRUE(fallbacks.hasPendingRestore());
    field->setText("whole field");
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), "whole field");
    EXPECT_EQ(clipboard.formats, userClipboard);
    run(fallbacks.pasteFallback("second paste", true, editor));
    run(fallbacks.pasteFallback("third paste", true, editor));
    settle();
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, OverlappingOperationsRunOneAfterTheOther) {
    field->setText("shared field");
    auto first = std::make_shared<std::optional<QString>>();
    auto second = std::make_shared<std::optional<QString>>();
    auto capture = [](QCoro::Task<std::optional<QString>> task,
                      std::shared_ptr<std::optional<QString>> out) -> QCoro::Task<void> {
        *out = co_await std::move(task);
    };
    capture(fallbacks.readTextViaClipboard(editor), first);
    capture(fallbacks.readSelectedTextViaClipboard(false, editor), second);
    for (int i = 0; i < 100; ++i) {
        QCoreApplication::processEvents();
        scheduler.advance(10ms);
    }
    EXPECT_EQ(*first, "shared field");
    // The second ran after the first, never between its save and restore: it did not take the
    // first run's marker for the user's clipboard (nor the field, which no longer stands selected).
    EXPECT_EQ(*second, std::nullopt);
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C", "Ctrl+A", "Ctrl+C", "Ctrl+End", "Ctrl+C"}));
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, EditorsOfTheCutListAreReadWithCut) {
    front.set(cuttingEditor);
    field->setText("line one\nline two");
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(cuttingEditor)), "line one\nline two");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+X", "Ctrl+A", "Ctrl+X"}));
    EXPECT_EQ(field->text, "");
    EXPECT_EQ(fallbacks.unreplacedCutText(), "line one\nline two");
    EXPECT_EQ(clipboard.formats, userClipboard);

    // Other editors are copied from, and nothing is remembered.
    ClipboardFallbacks other{clipboard, gate, scheduler, 300ms, &keyboard};
    front.set(editor);
    field->setText("kept");
    EXPECT_EQ(run(other.readTextViaClipboard(editor)), "kept");
    EXPECT_EQ(field->text, "kept");
    EXPECT_EQ(other.unreplacedCutText(), std::nullopt);
}

TEST_F(ClipboardFallbacksTest, CutTextIsPastedBackIntoTheSameApplication) {
    front.set(cuttingEditor);
    field->setText("precious text");
    run(fallbacks.readTextViaClipboard(cuttingEditor));
    ASSERT_EQ(field->text, "");
    EXPECT_TRUE(run(fallbacks.restoreCutText()));
    EXPECT_EQ(field->text, "precious text");
    EXPECT_EQ(fallbacks.unreplacedCutText(), std::nullopt);
    settle();
    EXPECT_EQ(clipboard.formats, userClipboard);
    EXPECT_FALSE(run(fallbacks.restoreCutText()));  // only once
}

TEST_F(ClipboardFallbacksTest, CutTextThatCannotGoBackStaysOnTheClipboard) {
    const struct {
        const char* name;
        std::optional<FrontApplication> front;
        bool canSend;
    } cases[] = {
        {"another application in front", FrontApplication{99, QString("gedit"), 7003}, true},
        {"another window of the same application in front", FrontApplication{78, QString("jetbrains-idea"), 7004},
         true},
        {"no application in front", std::nullopt, true},
        {"keystrokes cannot be sent", cuttingEditor, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScopedLogCapture log;
        clipboard.formats = userClipboard;
        keyboard.canSend = true;
        field->setText("precious text");
        front.set(cuttingEditor);
        ClipboardFallbacks local{clipboard, gate, scheduler, 300ms, &keyboard};
        run(local.readTextViaClipboard(cuttingEditor));
        ASSERT_EQ(local.unreplacedCutText(), "precious text");
        keyboard.canSend = c.canSend;
        front.set(c.front);
        EXPECT_FALSE(run(local.restoreCutText()));
        settle();
        EXPECT_EQ(clipboard.text(), "precious text");
        EXPECT_TRUE(log.messages(LogCategory::app).contains("focused field cut text left on clipboard length=13"));
    }
}

TEST_F(ClipboardFallbacksTest, ForgottenCutTextIsNotRestored) {
    front.set(cuttingEditor);
    field->setText("replaced later");
    run(fallbacks.readTextViaClipboard(cuttingEditor));
    fallbacks.forgetCutText();
    EXPECT_FALSE(run(fallbacks.restoreCutText()));
    EXPECT_EQ(field->text, "");
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, DestructionRestoresAPendingPaste) {
    {
        ClipboardFallbacks local{clipboard, gate, scheduler, 300ms, &keyboard};
        run(local.pasteFallback("pasted", false, editor));
        ASSERT_EQ(clipboard.textFor(editor.processId), "pasted");
    }
    EXPECT_EQ(clipboard.textFor(editor.processId), "the user's text");
    EXPECT_EQ(clipboard.formats, userClipboard);
    scheduler.advance(1s);  // the cancelled timer does nothing
    EXPECT_EQ(clipboard.formats, userClipboard);
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

// X11 programs fetch a paste after they handle the key. A later command in the window goes at
// once, never skipped, and never saves the pasted text as the user's: the earlier paste keeps its
// text for its program's fetch, a stopped program's queued one too.
TEST_F(ClipboardFallbacksTest, ALaterCommandInTheWindowOfAHeldPasteGoesAtOnce) {
    for (const bool stopped : {false, true}) {
        keyboard.fetchesPasteLater = !stopped;
        keyboard.stopped = stopped;
        keyboard.chords.clear();
        field->setText("old", {0, 3});
        EXPECT_TRUE(run(fallbacks.pasteFallback("pasted", false, editor)));
        const auto before = took();
        const std::optional<QString> copied = run(fallbacks.readSelectedTextViaClipboard(false, editor));
        EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V", "Ctrl+C"})) << stopped;
        EXPECT_LE(took() - before, ClipboardFallbacks::copyWait) << stopped;
        EXPECT_EQ(copied, stopped ? std::nullopt : std::optional<QString>("old")) << stopped;
        EXPECT_EQ(clipboard.formats, userClipboard) << stopped;
        EXPECT_EQ(clipboard.textFor(editor.processId), "pasted") << stopped;
        keyboard.resume();
        keyboard.fetchPaste();
        EXPECT_EQ(field->text, "pasted") << stopped;
        settle();
        EXPECT_FALSE(fallbacks.hasPendingRestore()) << stopped;
        EXPECT_EQ(clipboard.formats, userClipboard) << stopped;
    }
}

// A running program that reads its keys and fetches nothing (a paste where nothing takes text)
// gives the user's clipboard back two seconds after it answered, the first poll after the keys.
// A browser answers the ping from its window's process while a busy page still holds the keys:
// its paste is held until the page fetches it, however long that takes.
TEST_F(ClipboardFallbacksTest, APasteNobodyFetchesIsReleasedOnlyWhereThePingProvesTheKeysWereRead) {
    keyboard.fetchesPasteLater = true;
    field->setText("old", {0, 3});
    run(fallbacks.pasteFallback("pasted", false, editor));
    scheduler.advance(2000ms);
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId), "pasted");
    scheduler.advance(10ms);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);

    keyboard.fetchesPasteLater = false;
    keyboard.pagesInOtherProcesses = true;
    keyboard.pageBusy = true;
    field->setText("old", {0, 3});
    EXPECT_TRUE(run(fallbacks.pasteFallback("pasted", false, editor)));
    scheduler.advance(10s);
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId), "pasted");
    keyboard.resume();  // the page's script ends: it handles the keys and fetches
    EXPECT_EQ(field->text, "pasted");
    scheduler.advance(300ms);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A sandboxed program (its window claims another number than the process the X server knows) at
// an accessible field: its answer to the ping proves nothing, so a paste it has not fetched is
// held past the limit; only a fetch from its own window's X client ends the hold.
TEST_F(ClipboardFallbacksTest, AnUnknownProgramsPingProvesNothingAndOnlyItsOwnClientsFetchCounts) {
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    FocusResolver focus{{calls, front, scheduler}};
    SyntheticInputGate knowing{{keyboard, front, scheduler, {}, &keyboard, &keyboard, &focus}};
    ClipboardFallbacks unknownTarget{clipboard, knowing, scheduler, 300ms, &keyboard, &keyboard};
    const FrontApplication sandboxed = test::sandboxedWindow(77, QString("firefox"), 0x0a00021);
    front.set(sandboxed);
    field->processId = sandboxed.processId;
    ax.systemFocused = field;
    keyboard.fetchesPasteLater = true;
    field->setText("draft", {0, 5});
    ASSERT_TRUE(run(unknownTarget.pasteFallback("result", false, sandboxed)));
    scheduler.advance(ClipboardFallbacks::pasteHoldLimit + 1s);
    EXPECT_TRUE(unknownTarget.hasPendingRestore()) << "released on the answer of a ping that proves nothing";
    EXPECT_EQ(clipboard.textFor(0, sandboxed.windowId), "result");
    EXPECT_EQ(clipboard.fetchBy(0, 0x0c00001), "the user's text");  // another client's: a clipboard manager
    // The number nothing vouches for may be another program's: its paste gets the user's text.
    EXPECT_EQ(clipboard.textFor(sandboxed.processId, 0x0d00001), "the user's text");
    scheduler.advance(1s);
    EXPECT_TRUE(unknownTarget.hasPendingRestore());
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "result");
    settle();
    EXPECT_FALSE(unknownTarget.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// Clipboard managers fetch whatever is on the clipboard: no fetch but the target's ends a paste's
// hold or shows that the paste arrived.
TEST_F(ClipboardFallbacksTest, AnotherProgramReadingTheClipboardNeitherEndsTheHoldNorProvesThePaste) {
    field->setText("draft", {0, 5});
    keyboard.stopped = true;
    run(fallbacks.pasteFallback("result", false, editor));
    for (int i = 0; i < 60; ++i) {  // 3 s of a reader polling every 50 ms
        EXPECT_EQ(clipboard.fetchBy(editor.processId + 1000), "the user's text");
        scheduler.advance(50ms);
    }
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId), "result");
    EXPECT_FALSE(run(fallbacks.waitForPasteFetch(100ms)));
    keyboard.resume();
    EXPECT_EQ(field->text, "result");
    EXPECT_TRUE(run(fallbacks.waitForPasteFetch(100ms)));
    settle();
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A browser fetches twice for one paste (for the page's paste event, then for the insertion):
// where the field can be read back, the user's clipboard comes back once it shows the paste, not
// after the first fetch, however long the program stops between the two.
TEST_F(ClipboardFallbacksTest, AFieldThatCanBeReadBackKeepsThePasteUntilItShowsIt) {
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    field->setText("draft", {0, 5});
    ClipboardFallbacks::PasteChecks checks;
    checks.fieldAfter = [this]() -> QCoro::Task<ClipboardFallbacks::FieldAfterPaste> {
        co_return field->text == "result" ? ClipboardFallbacks::FieldAfterPaste::showsResult
        : field->text == "draft"          ? ClipboardFallbacks::FieldAfterPaste::unchanged
                                          : ClipboardFallbacks::FieldAfterPaste::changed;
    };
    run(fallbacks.pasteFallback("result", false, editor, std::move(checks)));
    clipboard.fetchBy(editor.processId);  // the paste event's fetch; then it stops
    keyboard.stopped = true;
    scheduler.advance(8s);
    EXPECT_EQ(clipboard.textFor(editor.processId), "result");
    keyboard.resume();
    scheduler.advance(1s);  // answering again, not inserted yet: no refusal
    EXPECT_EQ(clipboard.textFor(editor.processId), "result");
    keyboard.fetchPaste();  // resumed: the insertion
    EXPECT_EQ(field->text, "result");
    scheduler.advance(ClipboardFallbacks::fieldCheckInterval + 20ms);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A program stopped (SIGSTOP) mid-paste keeps the keys queued and handles them on resume,
// against whatever the clipboard holds then: the result, never the user's clipboard.
TEST_F(ClipboardFallbacksTest, AStoppedProgramsQueuedPasteFindsTheResultAndTheUsersClipboardComesBackAfter) {
    test::ScopedLogCapture log;
    field->setText("the user's draft", {3, 0});
    keyboard.stopped = true;
    EXPECT_TRUE(run(fallbacks.pasteFallback("the result", true, editor)));
    scheduler.advance(8s);
    EXPECT_EQ(clipboard.textFor(editor.processId), "the result");
    EXPECT_EQ(clipboard.formats, userClipboard);
    EXPECT_EQ(field->text, "the user's draft");
    EXPECT_TRUE(log.messages(LogCategory::app)
                    .filter(QStringLiteral("clipboard restore waits: the paste's program does not answer"))
                    .size() == 1);
    // Resumed, it reads its keys (and answers pings) at once but fetches the paste a moment
    // later, as browsers do.
    keyboard.fetchesPasteLater = true;
    keyboard.resume();
    scheduler.advance(1s);
    EXPECT_EQ(clipboard.textFor(editor.processId), "the result");
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "the result");
    // A late fetch gets the whole restore delay: a second fetch right after still finds the result.
    scheduler.advance(200ms);
    EXPECT_EQ(clipboard.textFor(editor.processId), "the result");
    settle();
    EXPECT_EQ(clipboard.formats, userClipboard);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
}

// The user's copy meanwhile is theirs, for everyone else, and the stopped program's queued paste
// still gets the result.
TEST_F(ClipboardFallbacksTest, APasteHeldForAStoppedProgramEndsWithItsWindowAndOutlastsTheUsersNextCopy) {
    field->setText("draft", {0, 5});
    keyboard.stopped = true;
    run(fallbacks.pasteFallback("result", false, editor));
    scheduler.advance(3s);
    keyboard.windowGone = true;  // the program was ended
    scheduler.advance(20ms);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);

    keyboard.windowGone = false;
    keyboard.queued.clear();
    run(fallbacks.pasteFallback("result", false, editor));
    scheduler.advance(3s);
    clipboard.copy("copied meanwhile");  // the user copies in another program
    scheduler.advance(20ms);
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.fetchBy(4242), "copied meanwhile") << "the user's newer copy stays";
    EXPECT_EQ(clipboard.textFor(editor.processId), "result");
    keyboard.resume();
    EXPECT_EQ(field->text, "result");
    settle();
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.text(), "copied meanwhile");
}

// A page that cancels pastes: its browser fetches the text for the page's paste event and the
// field stays as it was. Its paste must not keep the user's clipboard from it, nor leave our
// select-all for the user's next key.
TEST_F(ClipboardFallbacksTest, APasteItsProgramRefusesPutsTheFieldBack) {
    test::ScopedLogCapture log;
    keyboard.pagesInOtherProcesses = true;
    keyboard.refusesPaste = true;
    field->setText("draft", {2, 0});
    ClipboardFallbacks::PasteChecks checks;
    checks.fieldAfter = [this]() -> QCoro::Task<ClipboardFallbacks::FieldAfterPaste> {
        co_return field->text == "draft" ? ClipboardFallbacks::FieldAfterPaste::unchanged
                                         : ClipboardFallbacks::FieldAfterPaste::changed;
    };
    checks.putFieldBack = [this]() -> QCoro::Task<void> {
        field->selection = {2, 0};
        co_return;
    };
    EXPECT_TRUE(run(fallbacks.pasteFallback("result", true, editor, std::move(checks))));
    EXPECT_EQ(field->selection, AccessibleTextRange(0, 5));
    scheduler.advance(ClipboardFallbacks::refusalQuiet + 500ms);
    EXPECT_EQ(field->text, "draft");
    EXPECT_EQ(field->selection, AccessibleTextRange(2, 0)) << "nothing left selected";
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId), "the user's text");
    EXPECT_EQ(clipboard.formats, userClipboard);
    EXPECT_EQ(log.messages(LogCategory::app).filter("it refused the paste").size(), 1);
}

// A browser's page that the paste is held for, its field read back: what the field shows, and its
// caret put back at the end when our select-all stays.
ClipboardFallbacks::PasteChecks watchedField(const std::shared_ptr<test::FakeField>& field, const QString& before) {
    ClipboardFallbacks::PasteChecks checks;
    checks.fieldAfter = [field, before]() -> QCoro::Task<ClipboardFallbacks::FieldAfterPaste> {
        co_return field->text == "result" ? ClipboardFallbacks::FieldAfterPaste::showsResult
        : field->text == before           ? ClipboardFallbacks::FieldAfterPaste::unchanged
                                          : ClipboardFallbacks::FieldAfterPaste::changed;
    };
    checks.putFieldBack = [field]() -> QCoro::Task<void> {
        field->selection = {field->text.size(), 0};
        co_return;
    };
    return checks;
}

// The user pastes while a paste is held for a page busy on our Control+V. In another program their
// paste gets their clipboard, and the hold goes on: the page that wakes gets the result. In the
// paste's own program no request tells their key from ours: theirs gets the result too, and our
// key never gets their clipboard.
TEST_F(ClipboardFallbacksTest, TheUsersPasteNeverLeavesAHeldPasteKeyTheirClipboard) {
    test::FakeUserKeyActivity keys{scheduler};
    ClipboardFallbacks watching{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard, &keys};
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    const FrontApplication other{4242, QString("gnumeric"), 7050};
    for (const bool inTheSameProgram : {false, true}) {
        field->setText("draft", {5, 0});
        ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, watchedField(field, "draft"))));
        keys.chord({test::FakeUserKeyActivity::controlL, 'v'}, test::FakeUserKeyActivity::Source::ours);  // ours
        scheduler.advance(1s);
        if (!inTheSameProgram) {
            front.set(other);
        }
        keys.chord({test::FakeUserKeyActivity::shiftL, 0xff63});  // Shift+Insert
        if (!inTheSameProgram) {
            EXPECT_EQ(clipboard.fetchBy(other.processId, other.windowId), "the user's text");
        }
        scheduler.advance(2s);
        EXPECT_TRUE(watching.hasPendingRestore()) << inTheSameProgram;
        front.set(editor);
        keyboard.fetchPaste();  // the page wakes
        EXPECT_EQ(field->text, "result") << inTheSameProgram;
        scheduler.advance(ClipboardFallbacks::fieldCheckInterval + 20ms);
        EXPECT_FALSE(watching.hasPendingRestore()) << inTheSameProgram;
        EXPECT_EQ(clipboard.formats, userClipboard) << inTheSameProgram;
    }
}

// A page busy on the paste key, or one that cancelled it, fetches nothing while its browser
// answers. While the user is away from the field, a key handled late still finds the result; once
// they are back, or while the copy window stands in front of the field that keeps its program's
// focus, our select-all is put back and the key finds nothing to insert. Never the user's
// clipboard. The hold ends after 60 s all the same.
TEST_F(ClipboardFallbacksTest, APasteNotFetchedKeepsTheUsersClipboardFromItsKeyUntilTheHoldsBound) {
    test::FakeUserKeyActivity keys{scheduler};
    ClipboardFallbacks watching{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard, &keys};
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    auto focused = std::make_shared<bool>(false);
    const auto checks = [&](const QString& before) {
        ClipboardFallbacks::PasteChecks checks = watchedField(field, before);
        checks.fieldFocused = [focused]() -> QCoro::Task<bool> { co_return *focused; };
        return checks;
    };
    field->setText("draft", {5, 0});
    ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, checks("draft"))));
    scheduler.advance(20s);
    EXPECT_TRUE(watching.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId, editor.windowId), "result");
    EXPECT_EQ(clipboard.fetchBy(4242), "the user's text");
    keyboard.fetchPaste();  // the page wakes
    EXPECT_EQ(field->text, "result");
    scheduler.advance(ClipboardFallbacks::fieldCheckInterval + 20ms);
    EXPECT_FALSE(watching.hasPendingRestore());

    field->setText("draft", {5, 0});
    ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, checks("draft"))));
    *focused = true;  // the user is back
    scheduler.advance(ClipboardFallbacks::unfetchedPutBackAfter + 2s);
    EXPECT_EQ(field->selection, AccessibleTextRange(5, 0)) << "our select-all left for the user's next key";
    EXPECT_TRUE(watching.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId, editor.windowId), "");
    EXPECT_EQ(clipboard.fetchBy(4242), "the user's text");
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "draft");
    scheduler.advance(ClipboardFallbacks::refusalQuiet + 1s);
    EXPECT_FALSE(watching.hasPendingRestore());
    EXPECT_EQ(field->selection, AccessibleTextRange(5, 0));

    // Nothing fetched: the hold ends at its bound, not before.
    *focused = false;
    watching.laterCommandIn(editor.windowId);
    ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, checks("draft"))));
    scheduler.advance(ClipboardFallbacks::holdBound - 1s);
    EXPECT_TRUE(watching.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId, editor.windowId), "result");
    scheduler.advance(2s);
    EXPECT_FALSE(watching.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId, editor.windowId), "the user's text");
    EXPECT_EQ(clipboard.formats, userClipboard);

    // The copy window comes and stays, the user clicking in it: the field behind it keeps its
    // program's focus unless they pressed something in that program meanwhile.
    const FrontApplication copyWindow{QCoreApplication::applicationPid(), QString("tavrolin"), 7099};
    for (const bool pressedInPage : {false, true}) {
        front.set(editor);
        field->setText("draft", {5, 0});
        ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, checks("draft"))));
        if (pressedInPage) {
            keys.click();
        }
        scheduler.advance(100ms);
        front.set(copyWindow);
        scheduler.advance(1s);
        keys.click();
        scheduler.advance(ClipboardFallbacks::unfetchedPutBackAfter + 2s);
        EXPECT_EQ(field->selection, pressedInPage ? AccessibleTextRange(0, 5) : AccessibleTextRange(5, 0))
            << pressedInPage;
        watching.laterCommandIn(editor.windowId);
        scheduler.advance(ClipboardFallbacks::holdBound);
    }
}

// After a refused paste, and after a hold that ended unseen, the field is the user's: their edits
// by any key (Control+BackSpace, Control+X, their own select-all) stay, however the program undoes.
TEST_F(ClipboardFallbacksTest, TheUsersEditsAfterAPasteAreNeverTakenBack) {
    test::FakeUserKeyActivity keys{scheduler};
    ClipboardFallbacks watching{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard, &keys};
    keyboard.pagesInOtherProcesses = true;
    keyboard.refusesPaste = true;
    field->setText("one two", {7, 0});
    ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, watchedField(field, "one two"))));
    scheduler.advance(ClipboardFallbacks::refusalQuiet + 1s);
    ASSERT_EQ(field->selection, AccessibleTextRange(7, 0));
    keys.chord({test::FakeUserKeyActivity::controlL, 0xff08});  // Control+BackSpace
    field->setText("one ", {4, 0});
    scheduler.advance(3s);
    field->selection = {0, 4};
    keys.chord({test::FakeUserKeyActivity::controlL, 'x'});
    keyboard.handle(Qt::ControlModifier, Qt::Key_X);
    scheduler.advance(3s);
    EXPECT_EQ(field->text, "");
    EXPECT_FALSE(keyboard.chords.contains("Ctrl+Z"));

    // The hold of a program that read its keys ends without a fetch; a key of the user's ends the
    // watch over its field, and their own select-all there stays.
    keyboard.pagesInOtherProcesses = false;
    keyboard.refusesPaste = false;
    keyboard.fetchesPasteLater = true;
    watching.laterCommandIn(editor.windowId);
    field->setText("draft", {5, 0});
    auto focused = std::make_shared<bool>(false);
    ClipboardFallbacks::PasteChecks checks = watchedField(field, "draft");
    checks.fieldFocused = [focused]() -> QCoro::Task<bool> { co_return *focused; };
    ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, std::move(checks))));
    scheduler.advance(ClipboardFallbacks::pasteHoldLimit + 1s);
    ASSERT_FALSE(watching.hasPendingRestore());
    ASSERT_TRUE(watching.watchesForLatePaste());
    field->selection = {2, 0};  // the user is back in the field and selects all of it
    keys.chord({test::FakeUserKeyActivity::controlL, 'a'});
    field->selection = {0, 5};
    *focused = true;
    scheduler.advance(3 * ClipboardFallbacks::latePasteWatchPoll);
    EXPECT_FALSE(watching.watchesForLatePaste());
    EXPECT_EQ(field->selection, AccessibleTextRange(0, 5));
}

// A page busy on the key while the copy window is in front may insert nothing over our select-all
// (Chromium): the user's text is gone though they did nothing. It comes back with the program's
// own undo once they are back in the window, as long as the field holds exactly what that paste
// left and nothing is pressed there; a key of theirs in the window leaves the field as it is.
TEST_F(ClipboardFallbacksTest, APasteThatLandsLateWithNothingIsUndoneOnlyInAnUntouchedField) {
    test::FakeUserKeyActivity keys{scheduler};
    ClipboardFallbacks watching{clipboard, gate, scheduler, 300ms, &keyboard, &keyboard, &keys};
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    const FrontApplication copyWindow{99, QString("tavrolin"), 7099};
    for (const bool userPressesAKey : {false, true}) {
        watching.laterCommandIn(editor.windowId);
        keyboard.chords.clear();
        field->setText("draft", {5, 0});
        ClipboardFallbacks::PasteChecks checks = watchedField(field, "draft");
        checks.fieldText = [this]() -> QCoro::Task<std::optional<QString>> { co_return field->text; };
        checks.fieldFocused = [this]() -> QCoro::Task<bool> {
            co_return front.frontApplication() && front.frontApplication()->windowId == editor.windowId;
        };
        ASSERT_TRUE(run(watching.pasteFallback("result", true, editor, std::move(checks))));
        front.set(copyWindow);
        scheduler.advance(8s);
        clipboard.fetchBy(editor.processId, editor.windowId);  // the page wakes and inserts nothing
        keyboard.edited();
        field->setText("", {0, 0});
        keyboard.afterEdit = field->text;
        scheduler.advance(2s);
        keys.chord({0xff1b});  // Escape closes the copy window
        front.set(editor);
        if (userPressesAKey) {
            scheduler.advance(ClipboardFallbacks::latePasteWatchPoll);
            keys.chord({0xff53});  // Right
        }
        scheduler.advance(4 * ClipboardFallbacks::latePasteWatchPoll + ClipboardFallbacks::undoShowBound);
        EXPECT_EQ(field->text, userPressesAKey ? "" : "draft") << userPressesAKey;
        EXPECT_EQ(keyboard.chords.contains("Ctrl+Z"), !userPressesAKey) << userPressesAKey;
        EXPECT_FALSE(watching.watchesForLatePaste());
    }
}

// A browser stopped right after our keys has not read its Control+V: however long it stays stopped,
// its paste keeps the result for it, and resumed it pastes that.
TEST_F(ClipboardFallbacksTest, AStoppedBrowserKeepsItsPastesHoldUntilItRuns) {
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    field->setText("draft", {5, 0});
    ASSERT_TRUE(run(fallbacks.pasteFallback("result", true, editor, watchedField(field, "draft"))));
    keyboard.stopped = true;
    scheduler.advance(3 * ClipboardFallbacks::unfetchedPutBackAfter);
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    keyboard.resume();
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "result");
    scheduler.advance(ClipboardFallbacks::fieldCheckInterval + 20ms);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A sandbox numbers its processes its own way: the paste's request comes from another process
// than the window's, but from the window's own X client, which gets the pasted text; a reader of
// another client gets the user's clipboard.
TEST_F(ClipboardFallbacksTest, ThePastedTextGoesToTheTargetWindowsClientWhateverItsProcess) {
    keyboard.fetchingProcessId = 2;
    field->setText("draft", {0, 5});
    EXPECT_TRUE(run(fallbacks.pasteFallback("result", false, editor)));
    EXPECT_EQ(field->text, "result");
    EXPECT_EQ(clipboard.fetchBy(2), "the user's text");
    scheduler.advance(3s);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(2, editor.windowId), "the user's text");
}

// A paste held for a stopped or busy program must not stop the user's next command elsewhere,
// nor give its text to that command, nor lose it for its own program.
TEST_F(ClipboardFallbacksTest, OperationsForOtherWindowsGoOnBesideAHeldPaste) {
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;  // its page is busy: the paste is fetched much later
    field->setText("draft", {0, 5});
    EXPECT_TRUE(run(fallbacks.pasteFallback("first result", false, editor)));

    const FrontApplication other{88, QString("kate"), 7005};
    const std::shared_ptr<test::FakeField> otherField = test::makeField("other words", {0, 5});
    front.set(other);
    keyboard.field = otherField;
    keyboard.fetchesPasteLater = false;
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, other)), "other");
    EXPECT_TRUE(run(fallbacks.pasteFallback("second", false, other)));
    EXPECT_EQ(otherField->text, "second words");
    EXPECT_EQ(clipboard.fetchBy(4242), "the user's text") << "a clipboard manager";
    EXPECT_EQ(took(), 0ms) << "nothing waited for the first paste";

    front.set(editor);
    keyboard.field = field;
    keyboard.processId = editor.processId;
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "first result");
    settle();
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// A run that started while the one before was still pasting into the same window makes its own
// offer there once that paste is done: the earlier paste's hold, ending after it, withdraws only
// its own, and the next paste, fetched after that, still gets its text.
TEST_F(ClipboardFallbacksTest, AHoldEndingAfterTheNextPasteToItsWindowLeavesThatPastesOffer) {
    field->setText("old", {0, 3});
    int runs = 0;
    // The first paste lands at once; the page is busy with the second's keys.
    fallbacks.setOnWillUseClipboardFallback([&] { keyboard.fetchesPasteLater = ++runs > 1; });
    auto results = std::make_shared<std::vector<bool>>();
    auto capture = [](QCoro::Task<bool> task, std::shared_ptr<std::vector<bool>> out) -> QCoro::Task<void> {
        out->push_back(co_await std::move(task));
    };
    // The first run's target check takes a moment: the second run comes meanwhile and waits for
    // the queue, past the look for a paste held for its window.
    ClipboardFallbacks::PasteChecks checks;
    checks.target = [this]() -> QCoro::Task<bool> {
        co_await sleepFor(scheduler, 10ms);
        co_return true;
    };
    auto first = capture(fallbacks.pasteFallback("first", false, editor, std::move(checks)), results);
    auto second = capture(fallbacks.pasteFallback(" second", false, editor), results);
    for (int i = 0; i < 60 && results->size() < 2; ++i) {
        QCoreApplication::processEvents();
        scheduler.advance(10ms);
    }
    ASSERT_EQ(*results, std::vector<bool>({true, true}));
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V", "Ctrl+V"}));
    EXPECT_EQ(field->text, "first");
    // The first paste's hold ends a restore delay after its fetch.
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents();
        scheduler.advance(10ms);
    }
    keyboard.fetchPaste();
    EXPECT_EQ(field->text, "first second") << "the second paste got its own text, not the user's clipboard";
    settle();
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.textFor(editor.processId), "the user's text");
    EXPECT_EQ(clipboard.formats, userClipboard);
}

// Putting text cut out of a field back while another paste waits for its program: the waiting
// paste keeps its text, and the user's clipboard comes back in the end.
TEST_F(ClipboardFallbacksTest, PuttingCutTextBackKeepsAWaitingPasteAndTheUsersClipboard) {
    front.set(cuttingEditor);
    field->setText("precious text");
    run(fallbacks.readTextViaClipboard(cuttingEditor));
    ASSERT_EQ(field->text, "");

    const std::shared_ptr<test::FakeField> browserField = test::makeField("draft", {0, 5});
    front.set(editor);
    keyboard.field = browserField;
    keyboard.pagesInOtherProcesses = true;
    keyboard.fetchesPasteLater = true;
    EXPECT_TRUE(run(fallbacks.pasteFallback("result", false, editor)));

    front.set(cuttingEditor);
    keyboard.field = field;
    keyboard.fetchesPasteLater = false;
    keyboard.pagesInOtherProcesses = false;
    EXPECT_TRUE(run(fallbacks.restoreCutText()));
    EXPECT_EQ(field->text, "precious text");
    settle();
    EXPECT_TRUE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);

    keyboard.field = browserField;
    keyboard.processId = editor.processId;
    keyboard.fetchPaste();
    EXPECT_EQ(browserField->text, "result");
    settle();
    EXPECT_FALSE(fallbacks.hasPendingRestore());
    EXPECT_EQ(clipboard.formats, userClipboard);
}

TEST_F(ClipboardFallbacksTest, NoKeyGoesToATerminalAndNothingOfItsClipboardIsTouched) {
    keyboard.terminal = true;
    const FrontApplication terminal{5151, QString("XTerm"), 7010};
    front.set(terminal);
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, terminal)), std::nullopt);
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(terminal)), std::nullopt);
    EXPECT_FALSE(run(fallbacks.pasteFallback("text", false, terminal)));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(keyboard.interrupts, 0);
    EXPECT_EQ(clipboard.writes, 0);
}

TEST_F(ClipboardFallbacksTest, AClipboardThatCouldNotBeSavedIsLeftAloneAndNoKeyIsSent) {
    test::ScopedLogCapture logs;
    field->setText("some words", {5, 5});
    clipboard.ownerAnswers = false;  // the owner never hands the clipboard over
    EXPECT_EQ(run(fallbacks.readTextViaClipboard(editor)), std::nullopt);
    EXPECT_EQ(run(fallbacks.readSelectedTextViaClipboard(false, editor)), std::nullopt);
    EXPECT_FALSE(run(fallbacks.pasteFallback("new", false, editor)));
    settle();
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(clipboard.writes, 0) << "no marker, no text of ours";
    EXPECT_EQ(clipboard.formats, userClipboard);
    EXPECT_EQ(field->text, "some words");
    int skipped = 0;
    for (const test::LogRecord& record : logs.records()) {
        skipped += record.message.startsWith("clipboard fallback skipped: the clipboard could not be saved");
    }
    EXPECT_EQ(skipped, 3);
}

TEST_F(ClipboardFallbacksTest, APasteWhoseTargetIsRefusedSendsNothingAndLeavesTheClipboard) {
    field->setText("some words", {5, 5});
    bool asked = false;
    ClipboardFallbacks::PasteTargetCheck refuse = [&asked]() -> QCoro::Task<bool> {
        asked = true;
        co_return false;
    };
    ClipboardFallbacks::PasteChecks checks;
    checks.target = refuse;
    EXPECT_FALSE(run(fallbacks.pasteFallback("new", true, editor, std::move(checks))));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(clipboard.writes, 0);
    EXPECT_FALSE(fallbacks.hasPendingRestore());
}

// An editor that reads by cutting holds nothing while the command runs, and copying it again
// gives nothing: that shows nothing of whether its program handled the keys. The paste goes only
// where a ping answered after them proves it (never where the window's process answers for pages).
TEST_F(ClipboardFallbacksTest, APasteIntoAFieldThatCopiesNothingNeedsAnAnswerThatProvesTheKeysWereRead) {
    front.set(cuttingEditor);
    field->setText("precious text");
    const std::optional<ClipboardFallbacks::CopiedField> read = run(fallbacks.copyFieldText(cuttingEditor));
    ASSERT_TRUE(read && read->afterSelectAll);
    for (const bool pingProves : {false, true}) {
        keyboard.pagesInOtherProcesses = !pingProves;
        keyboard.chords.clear();
        ClipboardFallbacks::PasteChecks checks;
        checks.readBefore = read;
        EXPECT_EQ(run(fallbacks.pasteFallback("result", true, cuttingEditor, std::move(checks))), pingProves);
        const QStringList copyAgain{"Ctrl+A", "Ctrl+C"};
        EXPECT_EQ(keyboard.chords, pingProves ? copyAgain + QStringList{"Ctrl+V"} : copyAgain);
        EXPECT_EQ(field->text, pingProves ? "result" : "");
        settle();
        EXPECT_EQ(clipboard.formats, userClipboard);
    }
}

}  // namespace
}  // namespace tavrolin
