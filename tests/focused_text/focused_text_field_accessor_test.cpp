#include "focused_text/focused_text_field_accessor.h"

#include "core/capture_workflow_error.h"
#include "language/focused_field_service_support.h"
#include "language/focused_text_replacement_fallback.h"
#include "platform/scheduler_sleep.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_primary_selection.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fake_user_key_activity.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/fakes/memory_log_sink.h"
#include "support/virtual_time_task.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;

constexpr qint64 appPid = 4242;

class FocusedTextFieldAccessorTest : public ::testing::Test {
protected:
    FocusedTextFieldAccessorTest() {
        clipboard.formats = {{"text/plain", "user clipboard"}};
        front.setIdentifier("gedit", appPid);
        keyboard.keyboardFocus = &front;
    }

    template <typename T>
    T run(QCoro::Task<T> task) {
        return test::runOnVirtualTime(std::move(task), scheduler);
    }
    // The case of the CaptureWorkflowError a task throws; fails when it throws none.
    template <typename T>
    std::optional<Case> failure(QCoro::Task<T> task) {
        try {
            run(std::move(task));
        } catch (const CaptureWorkflowError& error) {
            return error.errorCase();
        }
        ADD_FAILURE() << "no CaptureWorkflowError";
        return std::nullopt;
    }
    void focus(const std::shared_ptr<test::FakeField>& f) {
        ax.systemFocused = f;
        keyboard.field = f;
    }
    void settle() { scheduler.advance(1s); }
    // The text a replacement could not place, handed back for the copy window; absent when the
    // replacement reported success. `offeredForChangedField` keeps whether it said the field had
    // changed since it was read.
    std::optional<QString> offeredForCopying(const QString& text, const FocusedTextFieldSnapshot& snapshot) {
        offeredForChangedField.reset();
        try {
            run(accessor.replaceFocusedFieldTextOrPresentCopyFallback(text, snapshot));
        } catch (const FocusedTextReplacementFallback& fallback) {
            offeredForChangedField = fallback.fieldChangedMeanwhile;
            return fallback.text;
        }
        return std::nullopt;
    }
    std::optional<bool> offeredForChangedField;
    std::optional<QString> offeredForCopyingBy(FocusedTextFieldAccessor& by, const QString& text,
                                               const FocusedTextFieldSnapshot& snapshot) {
        try {
            run(by.replaceFocusedFieldTextOrPresentCopyFallback(text, snapshot));
        } catch (const FocusedTextReplacementFallback& fallback) {
            return fallback.text;
        }
        return std::nullopt;
    }

    test::FakeClock clock;
    test::ManualScheduler scheduler{&clock};
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard};
    test::FakeFrontApplicationProvider front;
    bool ownWindowHasKeyboard = false;
    FocusedTextFieldAccessor accessor{{calls, clipboard, front, scheduler, [this] { return ownWindowHasKeyboard; },
                                       nullptr, &keyboard, &keyboard, &clock},
                                      keyboard,
                                      0.3};
};

class SelectionProbeTest : public FocusedTextFieldAccessorTest {
protected:
    test::FakePrimarySelection primary;
    FocusedTextFieldAccessor prober{{calls, clipboard, front, scheduler, {}, &primary}, keyboard, 0.3};

    // Nothing may be typed into the front program or put on its clipboard.
    void expectUntouched() {
        EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
        EXPECT_EQ(clipboard.formats, (ClipboardContents{{"text/plain", "user clipboard"}}));
    }
};

TEST_F(SelectionProbeTest, WithoutAnAccessibleElementPrimaryDecidesAtOnce) {
    front.setIdentifier("XTerm", appPid);
    keyboard.field = test::makeField("typed into the terminal", {0, 5});
    primary.hold(QStringLiteral("hello"), appPid);
    const auto start = scheduler.elapsed();
    FocusedTextFieldSnapshot snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.element, nullptr);
    EXPECT_EQ(snapshot.selectedText, "hello");
    EXPECT_EQ(snapshot.selectedRange, (TextRange{0, 5}));

    primary.read->lastPrimaryButtonPressAt = 120;  // a click cleared it since
    snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.element, nullptr);
    EXPECT_EQ(snapshot.selectedText, std::nullopt);
    // No focus poll: no virtual time passed. The program was asked for its tree once, so that
    // a program that publishes it only on request (Chromium) shows its fields next time.
    EXPECT_EQ(scheduler.elapsed(), start);
    EXPECT_EQ(ax.calls.count(QStringLiteral("requestAccessibilityTree:%1").arg(appPid)), 1);
    expectUntouched();
}

TEST_F(SelectionProbeTest, ATextFieldAnswersAloneWhateverPrimaryHolds) {
    primary.hold(QStringLiteral("an old selection"), appPid);
    auto field = test::makeField("nothing selected", {3, 0});
    focus(field);
    FocusedTextFieldSnapshot snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.element, field);
    EXPECT_TRUE(!snapshot.selectedText || snapshot.selectedText->isEmpty());
    EXPECT_EQ(primary.reads, 0);

    field->selection = {0, 7};
    snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.selectedText, "nothing");
    EXPECT_EQ(snapshot.selectedRange, (TextRange{0, 7}));
    expectUntouched();
}

TEST_F(SelectionProbeTest, ADocumentsSelectionComesFromPrimaryNeverAsAPlaceholder) {
    front.setIdentifier("firefox-esr", appPid);
    auto document = test::makeField(QStringLiteral("\uFFFC"), {0, 1});
    document->role = AccessibleRole::other;
    document->settable = false;
    focus(document);
    primary.hold(QStringLiteral("The weather is nice."), appPid);
    FocusedTextFieldSnapshot snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.element, document);
    EXPECT_EQ(snapshot.selectedText, "The weather is nice.");

    // Another program's selection, or none: no selection, not the placeholder.
    primary.read->ownerProcessId = 99;
    snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.selectedText, std::nullopt);
    primary.read.reset();
    snapshot = run(prober.probeFocusedSelection());
    EXPECT_EQ(snapshot.selectedText, std::nullopt);
    expectUntouched();
}

// An office text that reports a selection made backward as its caret alone: the PRIMARY
// selection, when the text right after the caret is what it holds, is the selection, and Write
// replaces it alone; PRIMARY left over from an earlier selection elsewhere (the office keeps
// owning it after the user deselects) is no selection, and the whole text is replaced.
TEST_F(SelectionProbeTest, ABackwardSelectionShownOnlyByPrimaryIsWhatIsReplaced) {
    auto box = test::makeField(QStringLiteral("I have a red car"), {9, 0});
    box->backwardSelectionAsCaret = true;
    focus(box);
    primary.hold(QStringLiteral("red car"), appPid);
    FocusedTextFieldSnapshot snapshot = run(prober.prepareFocusedFieldWithRetry(0, 0));
    EXPECT_EQ(snapshot.selectedText, "red car");
    EXPECT_EQ(snapshot.selectedRange, (TextRange{9, 7}));
    EXPECT_EQ(offeredForCopyingBy(prober, QStringLiteral("coche rojo"), snapshot), std::nullopt);
    EXPECT_EQ(box->text, "I have a coche rojo");

    // The caret after the words PRIMARY holds: a forward selection would have been reported.
    box->text = QStringLiteral("I have a red car");
    box->selection = {16, 0};
    snapshot = run(prober.prepareFocusedFieldWithRetry(0, 0));
    EXPECT_TRUE(!snapshot.selectedText || snapshot.selectedText->isEmpty());
    EXPECT_EQ(offeredForCopyingBy(prober, QStringLiteral("Tengo un coche rojo"), snapshot), std::nullopt);
    EXPECT_EQ(box->text, "Tengo un coche rojo");
}

// --- reading the whole field ---

TEST_F(FocusedTextFieldAccessorTest, ReadsValueSelectionRangeAndFrame) {
    const QString text = QString::fromUtf8("Grüße 😀 und mehr");
    auto field = test::makeField(text, {6, 2});
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.element, field);
    EXPECT_EQ(snapshot.fullText, text);
    EXPECT_EQ(snapshot.selectedText, QString::fromUtf8("😀"));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{6, 2}));
    EXPECT_EQ(snapshot.screenFrame, QRectF(100, 200, 300, 30));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(scheduler.elapsed(), 0ms);
}

TEST_F(FocusedTextFieldAccessorTest, TinyFramesAndRangesOutsideTheTextAreDropped) {
    const struct {
        QRectF frame;
        std::optional<AccessibleTextRange> reported;
        bool frameKept;
        bool rangeKept;
    } cases[] = {
        {QRectF(0, 0, 1, 50), AccessibleTextRange{0, 4}, false, true},
        {QRectF(0, 0, 50, 1), AccessibleTextRange{4, 0}, false, true},
        {QRectF(0, 0, 1.5, 1.5), AccessibleTextRange{5, 0}, true, false},
        {QRectF(0, 0, 20, 20), AccessibleTextRange{-1, 2}, true, false},
        {QRectF(0, 0, 20, 20), AccessibleTextRange{2, std::numeric_limits<qsizetype>::max()}, true, false},
    };
    for (const auto& c : cases) {
        auto field = test::makeField("text");
        field->frame = c.frame;
        field->reportedRange = c.reported;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        EXPECT_EQ(snapshot.screenFrame.has_value(), c.frameKept) << c.frame.width() << "x" << c.frame.height();
        EXPECT_EQ(snapshot.selectedRange.has_value(), c.rangeKept) << c.reported->location;
    }
}

// A sheet that shows no text of its own (its cursor's cell not known) is never copied: the copy
// would leave the sheet's "copied" mark, and the user's next Return would paste their clipboard
// into the cell.
TEST_F(FocusedTextFieldAccessorTest, ASheetWithoutAKnownCellIsNeverCopied) {
    auto sheet = test::makeField(QString(), {0, 0});
    sheet->hasText = false;
    sheet->role = AccessibleRole::other;
    sheet->sheet = true;
    focus(sheet);
    keyboard.field = test::makeField(QStringLiteral("I have a red car"), {0, 0});
    EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(0, 0)), Case::noFocusedTextField);
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
}

TEST_F(FocusedTextFieldAccessorTest, WithoutTrustNothingIsRead) {
    ax.trusted = false;
    focus(test::makeField("text"));
    EXPECT_EQ(failure(accessor.readFocusedField()), Case::accessibilityPermissionDenied);
    EXPECT_EQ(failure(accessor.readFocusedSelection(false)), Case::accessibilityPermissionDenied);
    EXPECT_TRUE(ax.calls.isEmpty());
    EXPECT_EQ(clipboard.reads, 0);
}

TEST_F(FocusedTextFieldAccessorTest, FocusIsFoundInTheFrontApplicationWithoutWaiting) {
    auto field = test::makeField("in the app");
    ax.applicationFocus[appPid] = field;
    EXPECT_EQ(run(accessor.readFocusedField()).element, field);
    EXPECT_EQ(scheduler.elapsed(), 0ms);
    EXPECT_FALSE(ax.calls.contains(QString("requestAccessibilityTree:%1").arg(appPid)));
}

TEST_F(FocusedTextFieldAccessorTest, ALazyApplicationIsAskedForItsTreeAndPolled) {
    auto field = test::makeField("built late");
    ax.applicationFocus[appPid] = field;
    ax.applicationFocusFromQuery[appPid] = 3;  // the first query, then the first poll miss
    EXPECT_EQ(run(accessor.readFocusedField()).element, field);
    EXPECT_TRUE(ax.calls.contains(QString("requestAccessibilityTree:%1").arg(appPid)));
    EXPECT_EQ(scheduler.elapsed(), 400ms);
}

TEST_F(FocusedTextFieldAccessorTest, AFocusHandedBackByAnEventIsTakenWithinAStepNotAfterThePolls) {
    // GTK 4 takes the focus off its field while the shortcut's grab lasts and tells only by an
    // event that the field has it again; its own search finds nothing. Another program's focus
    // event meanwhile is not the front program's field.
    auto behind = test::makeField("another program's field");
    behind->processId = 99;
    auto field = test::makeField("gtk 4 text view");
    const auto other = scheduler.scheduleAfter(30ms, [&] { ax.systemFocused = behind; });
    const auto handedBack = scheduler.scheduleAfter(50ms, [&] { ax.systemFocused = field; });
    EXPECT_EQ(run(accessor.readFocusedField()).element, field);
    EXPECT_EQ(scheduler.elapsed(), 60ms);
    EXPECT_EQ(ax.calls.count(QString("focusedElementOfApplication:%1").arg(appPid)), 1);
}

TEST_F(FocusedTextFieldAccessorTest, AfterFivePollsTheActiveWindowIsAsked) {
    auto field = test::makeField("in the window");
    ax.activeWindowFocus[appPid] = field;
    EXPECT_EQ(run(accessor.readFocusedField()).element, field);
    EXPECT_EQ(scheduler.elapsed(), 1000ms);
    EXPECT_EQ(ax.calls.count(QString("focusedElementOfApplication:%1").arg(appPid)), 6);

    ax.activeWindowFocus.clear();
    EXPECT_EQ(failure(accessor.readFocusedField()), Case::noFocusedTextField);
}

TEST_F(FocusedTextFieldAccessorTest, TheLastFocusedFieldOfAProgramBehindTheFrontOneIsNeverUsed) {
    // The desktop's last focus event names a field of another program (or one whose program
    // cannot be told): the front application's own focus is looked up instead.
    for (const std::optional<qint64> owner : {std::optional<qint64>(99), std::optional<qint64>()}) {
        auto behind = test::makeField("behind the front window");
        behind->processId = owner;
        ax.systemFocused = behind;
        auto inFront = test::makeField("in front");
        ax.applicationFocus[appPid] = inFront;
        EXPECT_EQ(run(accessor.readFocusedField()).element, inFront);
        EXPECT_EQ(run(accessor.readFocusedSelection(false)).element, inFront);

        // A front program that shows no focus at all: the field behind stays untouched.
        ax.applicationFocus.clear();
        keyboard.field = nullptr;
        EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(4, 0.12)), Case::noFocusedTextField);
        EXPECT_EQ(behind->text, "behind the front window");
        EXPECT_FALSE(ax.calls.contains("setValue"));
    }

    // A field found while another window came to the front is no longer the front program's,
    // and that other window gets no keystroke copy either.
    auto late = test::makeField("found too late");
    ax.systemFocused = nullptr;
    ax.applicationFocusFromQuery[appPid] = ax.calls.count(QString("focusedElementOfApplication:%1").arg(appPid)) + 2;
    ax.applicationFocus[appPid] = late;
    const auto switched = scheduler.scheduleAfter(100ms, [&] { front.setIdentifier("another-editor", 5151); });
    keyboard.field = test::makeField("the other window's text");
    keyboard.chords.clear();
    EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(4, 0.12)), Case::noFocusedTextField);
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
}

TEST_F(FocusedTextFieldAccessorTest, AProgramWithoutAccessibleFocusIsPolledOnceThenReadAndWrittenByKeyboard) {
    // The program's field answers only to keystrokes (a Chromium program that publishes no tree).
    auto field = test::makeField("message in a chat box", {21, 0});
    keyboard.field = field;
    const FocusedTextFieldSnapshot snapshot = run(accessor.prepareFocusedFieldWithRetry(4, 0.12));
    EXPECT_EQ(ax.calls.count(QString("requestAccessibilityTree:%1").arg(appPid)), 1);
    // One 1 s poll, four 0.12 s retries that only look, then copy (nothing), select all, copy.
    EXPECT_EQ(scheduler.elapsed(), 1000ms + 480ms + 250ms);
    EXPECT_EQ(keyboard.chords, (QStringList{"Ctrl+C", "Ctrl+A", "Ctrl+C", "Ctrl+End"}));
    EXPECT_EQ(field->selection, (AccessibleTextRange{21, 0})) << "not left selected whole";
    EXPECT_EQ(snapshot.element, nullptr);
    EXPECT_TRUE(snapshot.readByKeyboard);
    EXPECT_EQ(snapshot.fullText, "message in a chat box");
    EXPECT_EQ(clipboard.text(), "user clipboard");

    // The whole field was copied after select-all, and nothing shows whether it is still
    // selected when the result comes (a click put the caret at the end): selected again.
    field->selection = {21, 0};
    keyboard.chords.clear();
    run(accessor.replaceFocusedFieldText("mensaje", snapshot));
    settle();
    EXPECT_EQ(field->text, "mensaje");
    // Copied again first, its select-all ended before the clipboard is taken back and made again
    // with the paste's key; once the program has fetched the paste, copied once more the same
    // way to see that the field holds the result, the caret then put back at its end.
    EXPECT_EQ(keyboard.chords,
              (QStringList{"Ctrl+A", "Ctrl+C", "Ctrl+End", "Ctrl+A", "Ctrl+V", "Ctrl+A", "Ctrl+C", "Ctrl+End"}));
    EXPECT_EQ(field->selection, (AccessibleTextRange{7, 0}));
    EXPECT_EQ(clipboard.text(), "user clipboard");

    // A snapshot without element that was not read by keyboard still cannot be written.
    FocusedTextFieldSnapshot copiedSelection = snapshot;
    copiedSelection.readByKeyboard = false;
    EXPECT_EQ(failure(accessor.replaceFocusedFieldText("x", copiedSelection)),
              Case::failedToReplaceFocusedTextFieldText);
}

// Keys queued to a stopped program would act when it resumes: select its whole field (the next
// key typed replaces it), copy it over the user's clipboard, or cut it for good.
TEST_F(FocusedTextFieldAccessorTest, AStoppedProgramWithoutAccessibleTextGetsNoKeys) {
    for (const char* program : {"gedit", "jetbrains-idea"}) {
        front.setIdentifier(program, appPid, 5001);
        auto field = test::makeField("the user's draft", {16, 0});
        keyboard.field = field;
        keyboard.chords.clear();
        keyboard.stopped = true;
        EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(4, 0.12)), Case::noFocusedTextField) << program;
        EXPECT_TRUE(keyboard.chords.isEmpty()) << program << ": " << keyboard.chords.join(' ').toStdString();
        keyboard.resume();
        settle();
        EXPECT_EQ(field->text, "the user's draft") << program;
        EXPECT_EQ(field->selection, (AccessibleTextRange{16, 0})) << program;
        EXPECT_EQ(clipboard.text(), "user clipboard") << program;
    }
}

// What the user types while the result is being made is not written over: a field read by
// copying is copied again the same way just before the paste.
TEST_F(FocusedTextFieldAccessorTest, AFieldReadByKeyboardThatChangedMeanwhileIsNotWritten) {
    auto field = test::makeField("message in a chat box", {21, 0});
    keyboard.field = field;
    const FocusedTextFieldSnapshot whole = run(accessor.prepareFocusedFieldWithRetry(4, 0.12));
    ASSERT_TRUE(whole.wholeFieldCopied);
    field->setText("message in a chat box, typed", {28, 0});
    keyboard.chords.clear();
    {
        test::ScopedLogCapture log;
        EXPECT_EQ(offeredForCopying("mensaje", whole), "mensaje");
        EXPECT_EQ(offeredForChangedField, true);
        EXPECT_EQ(log.messages(LogCategory::app).filter("focused field changed since it was read").size(), 1);
    }
    EXPECT_EQ(field->text, "message in a chat box, typed");
    EXPECT_EQ(keyboard.chords, (QStringList{"Ctrl+A", "Ctrl+C", "Ctrl+End"}));
    EXPECT_EQ(field->selection, (AccessibleTextRange{28, 0})) << "what the user typed stays theirs";
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");

    // The user's own selection was copied as it stood, then typed over.
    field->setText("one two three", {4, 3});
    const FocusedTextFieldSnapshot selection = run(accessor.prepareFocusedFieldWithRetry(4, 0.12));
    ASSERT_FALSE(selection.wholeFieldCopied);
    field->replaceSelection("2");
    EXPECT_EQ(offeredForCopying("dos", selection), "dos");
    EXPECT_EQ(offeredForChangedField, true);
    EXPECT_EQ(field->text, "one 2 three");
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");

    // An editor that reads by cutting holds nothing during the command; what is typed into it
    // stays, and the cut text goes back after it.
    front.setIdentifier("jetbrains-idea", appPid);
    field->setText("fun main() {}", {13, 0});
    const FocusedTextFieldSnapshot cut = run(accessor.prepareFocusedFieldWithRetry(4, 0.12));
    ASSERT_EQ(field->text, "");
    field->setText("// typed", {8, 0});
    EXPECT_EQ(offeredForCopying("fun main() = Unit", cut), "fun main() = Unit");
    EXPECT_EQ(offeredForChangedField, true);
    run(accessor.restoreCutTextIfUnreplaced());
    EXPECT_EQ(field->text, "// typedfun main() {}");
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

TEST_F(FocusedTextFieldAccessorTest, NoKeystrokeGoesToATerminalOrToThisProgram) {
    const FrontApplication fronts[] = {
        {appPid, QStringLiteral("XTerm")},
        {QCoreApplication::applicationPid(), QStringLiteral("tavrolin")},
    };
    for (const FrontApplication& app : fronts) {
        front.set(app);
        keyboard.field = test::makeField("text");
        keyboard.chords.clear();
        const auto start = scheduler.elapsed();
        EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(4, 0.12)), Case::noFocusedTextField);
        EXPECT_TRUE(keyboard.chords.isEmpty()) << app.applicationIdentifier->toStdString();
        // A terminal is known to have no field: no poll for one.
        if (app.processId == appPid) {
            EXPECT_EQ(scheduler.elapsed() - start, 480ms);
        }
    }
}

TEST_F(FocusedTextFieldAccessorTest, NoFrontApplicationAndNoFocusMeansNoFieldAtOnce) {
    front.set(std::nullopt);
    EXPECT_EQ(failure(accessor.readFocusedField()), Case::noFocusedTextField);
    EXPECT_EQ(scheduler.elapsed(), 0ms);
    EXPECT_EQ(clipboard.reads, 0);
}

TEST_F(FocusedTextFieldAccessorTest, EmptyFieldsByRole) {
    const struct {
        AccessibleRole role;
        Case expected;
    } cases[] = {
        {AccessibleRole::textField, Case::focusedTextFieldEmpty},
        {AccessibleRole::textArea, Case::focusedTextFieldEmpty},
        {AccessibleRole::comboBox, Case::focusedTextFieldEmpty},
        {AccessibleRole::searchField, Case::focusedTextFieldEmpty},
        {AccessibleRole::secureTextField, Case::noFocusedTextField},
        {AccessibleRole::staticText, Case::noFocusedTextField},
        {AccessibleRole::other, Case::noFocusedTextField},
    };
    for (const auto& c : cases) {
        auto field = test::makeField("");
        field->role = c.role;
        focus(field);
        keyboard.chords.clear();
        EXPECT_EQ(failure(accessor.readFocusedField()), c.expected) << static_cast<int>(c.role);
        // The clipboard was tried first, and the user's clipboard is back; a password entry is
        // never copied.
        const QStringList expectedChords = c.role == AccessibleRole::secureTextField
                                               ? QStringList()
                                               : QStringList({"Ctrl+C", "Ctrl+A", "Ctrl+C", "Ctrl+End"});
        EXPECT_EQ(keyboard.chords, expectedChords) << static_cast<int>(c.role);
        EXPECT_EQ(clipboard.text(), "user clipboard");
    }
}

TEST_F(FocusedTextFieldAccessorTest, AFieldWithoutAccessibleTextIsReadByCopying) {
    auto field = test::makeField(QString::fromUtf8("custom 😀 editor"));
    field->hasText = false;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.element, field);
    EXPECT_EQ(snapshot.fullText, QString::fromUtf8("custom 😀 editor"));
    EXPECT_EQ(snapshot.selectedText, snapshot.fullText);
    EXPECT_EQ(snapshot.selectedRange, (TextRange{0, 16}));  // UTF-16 units
    EXPECT_EQ(clipboard.text(), "user clipboard");

    keyboard.field = nullptr;  // copies nothing
    EXPECT_EQ(failure(accessor.readFocusedField()), Case::noFocusedTextField);
}

TEST_F(FocusedTextFieldAccessorTest, CallbackRunsBeforeAWholeFieldCopy) {
    int calls = 0;
    accessor.setOnWillUseClipboardFallback([&] { ++calls; });
    ASSERT_TRUE(accessor.onWillUseClipboardFallback());
    auto field = test::makeField("text");
    field->hasText = false;
    focus(field);
    run(accessor.readFocusedField());
    EXPECT_EQ(calls, 1);
}

// --- reading the selection ---

TEST_F(FocusedTextFieldAccessorTest, SelectionWithoutElementComesFromTheClipboard) {
    // The front program shows no accessible focus.
    auto hidden = test::makeField(QString::fromUtf8("copied 😀"), {0, 9});
    keyboard.field = hidden;
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedSelection(true));
    EXPECT_EQ(snapshot.element, nullptr);
    EXPECT_EQ(snapshot.fullText, "");
    EXPECT_EQ(snapshot.selectedText, QString::fromUtf8("copied 😀"));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{0, 9}));
    EXPECT_EQ(snapshot.screenFrame, std::nullopt);

    hidden->selection = {0, 0};
    EXPECT_EQ(failure(accessor.readFocusedSelection(true)), Case::noFocusedTextField);
}

TEST_F(FocusedTextFieldAccessorTest, SelectionIsDerivedFromTheRangeWhenTheTextIsMissing) {
    auto field = test::makeField("abcdefg");
    field->reportedSelectedText = QString();
    field->reportedRange = AccessibleTextRange{2, 3};
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedSelection(false));
    EXPECT_EQ(snapshot.selectedText, "cde");
    EXPECT_EQ(snapshot.selectedRange, (TextRange{2, 3}));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(clipboard.reads, 0);
}

TEST_F(FocusedTextFieldAccessorTest, RangesThatDoNotFitDeriveNothing) {
    const AccessibleTextRange ranges[] = {
        {5, 3},
        {-2, 3},
        {3, 0},
        {std::numeric_limits<qsizetype>::max(), 2},
        {2, std::numeric_limits<qsizetype>::max()},
        {std::numeric_limits<qsizetype>::max(), std::numeric_limits<qsizetype>::max()},
    };
    for (const AccessibleTextRange range : ranges) {
        auto field = test::makeField("abcdefg");
        field->reportedSelectedText = QString();
        field->reportedRange = range;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedSelection(false));
        EXPECT_TRUE(!snapshot.selectedText || snapshot.selectedText->isEmpty())
            << range.location << "," << range.length;
    }
}

TEST_F(FocusedTextFieldAccessorTest, AnEmptySelectionAsksTheClipboardToo) {
    auto field = test::makeField("nothing selected", {3, 0});
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedSelection(false));
    EXPECT_EQ(snapshot.element, field);
    EXPECT_EQ(snapshot.fullText, "nothing selected");
    EXPECT_EQ(snapshot.selectedText, QString());
    EXPECT_EQ(snapshot.selectedRange, (TextRange{3, 0}));
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
}

TEST_F(FocusedTextFieldAccessorTest, BrowsersKeepTheCopiedSelectionWhenItHasMoreLines) {
    const struct {
        const char* name;
        QString identifier;
        bool chromium;
        QString accessibleSelection;
        QString copiedHtml;
        QString expected;
        int chords;
    } cases[] = {
        {"browser, copy has more lines", "firefox", false, "one two three", "<p>one</p><p>two</p><p>three</p>",
         "one\ntwo\nthree", 1},
        {"browser, same lines", "firefox", false, "one\ntwo", "<p>one</p><p>two</p>", "one\ntwo", 1},
        {"chromium control", "some-app", true, "a b", "<div>a</div><div>b</div>", "a\nb", 1},
        {"native field", "gedit", false, "one two three", "<p>one</p><p>two</p>", "one two three", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        front.setIdentifier(c.identifier, appPid);
        auto field = test::makeField(c.accessibleSelection, {0, c.accessibleSelection.size()});
        field->chromium = c.chromium;
        focus(field);
        keyboard.copiedHtml = c.copiedHtml;
        keyboard.chords.clear();
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedSelection(false));
        EXPECT_EQ(snapshot.selectedText, c.expected);
        EXPECT_EQ(snapshot.selectedRange, (TextRange{0, c.accessibleSelection.size()}));
        EXPECT_EQ(keyboard.chords.size(), c.chords);
    }
}

// --- replacing ---

TEST_F(FocusedTextFieldAccessorTest, ASnapshotWithoutElementCannotBeReplaced) {
    FocusedTextFieldSnapshot snapshot;
    snapshot.selectedText = "copied";
    EXPECT_EQ(failure(accessor.replaceFocusedFieldText("new", snapshot)), Case::failedToReplaceFocusedTextFieldText);
    try {
        run(accessor.replaceFocusedFieldTextOrPresentCopyFallback("new", snapshot));
        ADD_FAILURE() << "no fallback";
    } catch (const FocusedTextReplacementFallback& fallback) {
        EXPECT_EQ(fallback.text, "new");
        EXPECT_EQ(fallback.underlyingError.errorCase(), Case::failedToReplaceFocusedTextFieldText);
        EXPECT_EQ(fallback.errorDescription(), fallback.underlyingError.errorDescription());
    }
    EXPECT_TRUE(keyboard.chords.isEmpty());
}

TEST_F(FocusedTextFieldAccessorTest, ASelectionIsReplacedInPlaceWithoutTheClipboard) {
    auto field = test::makeField("keep this and that", {5, 4});
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    const int writes = clipboard.writes;
    run(accessor.replaceFocusedFieldText(QString::fromUtf8("😀"), snapshot));
    EXPECT_EQ(field->text, QString::fromUtf8("keep 😀 and that"));
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(clipboard.writes, writes);
}

TEST_F(FocusedTextFieldAccessorTest, ARefusedSelectionWriteIsPastedOverTheSelection) {
    auto field = test::makeField("keep this and that", {5, 4});
    field->acceptsSelectedText = false;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    run(accessor.replaceFocusedFieldText("THAT", snapshot));
    EXPECT_EQ(field->text, "keep THAT and that");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

TEST_F(FocusedTextFieldAccessorTest, WithoutSelectionTheValueIsSetAndTheCaretGoesToTheEnd) {
    auto field = test::makeField("old", {1, 0});
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    run(accessor.replaceFocusedFieldText(QString::fromUtf8("brand new 😀"), snapshot));
    EXPECT_EQ(field->text, QString::fromUtf8("brand new 😀"));
    EXPECT_EQ(field->selection, (AccessibleTextRange{12, 0}));
    EXPECT_TRUE(keyboard.chords.isEmpty());
}

TEST_F(FocusedTextFieldAccessorTest, AValueThatCannotBeSetIsReplacedBySelectAllAndPaste) {
    auto field = test::makeField("old text", {2, 0});
    field->settable = false;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    run(accessor.replaceFocusedFieldText("pasted", snapshot));
    EXPECT_EQ(field->text, "pasted");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+V"}));
    // Back as soon as the field shows the paste.
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

// A word processor's paragraph whose write did not take (its program busy past the call bound):
// select-all there would take in the whole document, so the result is offered for copying and
// the other paragraphs stay. A selection in it is still pasted over, without select-all.
TEST_F(FocusedTextFieldAccessorTest, AParagraphOfALargerTextIsNeverReplacedBySelectAllAndPaste) {
    auto paragraph = test::makeField("second paragraph", {16, 0});
    paragraph->role = AccessibleRole::textArea;
    paragraph->otherParagraphs = QStringLiteral("first paragraph");
    paragraph->settable = false;
    paragraph->acceptsSelectedText = false;
    focus(paragraph);
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("result", snapshot), "result");
    EXPECT_EQ(offeredForChangedField, false) << "nothing the user did";
    EXPECT_EQ(paragraph->otherParagraphs, "first paragraph");
    EXPECT_EQ(paragraph->text, "second paragraph");
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
    EXPECT_EQ(clipboard.text(), "user clipboard");

    paragraph->selection = {0, 6};
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("third", snapshot), std::nullopt);
    EXPECT_EQ(paragraph->text, "third paragraph");
    EXPECT_EQ(paragraph->otherParagraphs, "first paragraph");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
}

TEST_F(FocusedTextFieldAccessorTest, ChromiumControlsAreAlwaysPasted) {
    auto field = test::makeField("chromium box", {0, 8});
    field->chromium = true;
    focus(field);
    run(accessor.replaceFocusedFieldText(
        "Firefox", {field, "chromium box", QString("chromium"), TextRange{0, 8}, {}, front.frontApplication()}));
    EXPECT_EQ(field->text, "Firefox box");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
    EXPECT_FALSE(ax.calls.contains("setSelectedText"));

    keyboard.chords.clear();
    run(accessor.replaceFocusedFieldText(
        "all new", {field, "Firefox box", QString(), TextRange{3, 0}, {}, front.frontApplication()}));
    EXPECT_EQ(field->text, "all new");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+V"}));
    EXPECT_FALSE(ax.calls.contains("setValue"));
}

// A spreadsheet cell being edited shows a write through accessibility in its editor and keeps its
// old text once the edit ends: the result goes in through the editor's own input, as a paste
// does, over the selection or over select-all, and the cell holds it.
TEST_F(FocusedTextFieldAccessorTest, ACellBeingEditedGetsTheResultThroughItsEditorsInput) {
    auto cell = test::makeField("I have a red car", {16, 0});
    cell->role = AccessibleRole::textArea;
    cell->cellWillHold = cell->text;
    focus(cell);
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("Tengo un coche rojo", snapshot), std::nullopt);
    EXPECT_EQ(cell->cellWillHold, "Tengo un coche rojo");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+V"}));
    EXPECT_FALSE(ax.calls.contains("setValue"));

    keyboard.chords.clear();
    cell->selection = {0, 5};
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("Yo tengo", snapshot), std::nullopt);
    EXPECT_EQ(cell->cellWillHold, "Yo tengo un coche rojo");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
    EXPECT_FALSE(ax.calls.contains("setSelectedText"));
}

// --- a focus that rests on a container without text for a moment ---

// A panel or frame of the front program: focusable, without any accessible text.
std::shared_ptr<test::FakeField> makeContainer() {
    auto container = test::makeField();
    container->role = AccessibleRole::other;
    container->hasText = false;
    return container;
}

TEST_F(FocusedTextFieldAccessorTest, AFocusPassingThroughAContainerIsFollowedToTheField) {
    // As Firefox does when the grab of our shortcut ends: its panel is focused, then its field.
    auto panel = makeContainer();
    auto field = test::makeField("typed in the page", {17, 0});
    ax.systemFocused = panel;
    keyboard.field = field;
    const auto back = scheduler.scheduleAfter(50ms, [&] { ax.systemFocused = field; });
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.element, field);
    EXPECT_EQ(snapshot.fullText, "typed in the page");
    // Found at the first look after it came back, without copying by keystrokes.
    EXPECT_EQ(scheduler.elapsed(), 60ms);
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
}

TEST_F(FocusedTextFieldAccessorTest, AContainerThatKeepsTheFocusIsCopiedOnceTheLookIsOver) {
    // Meanwhile a field of the program behind takes the desktop's focus: never the front one's.
    auto panel = makeContainer();
    ax.systemFocused = panel;
    ax.applicationFocus[appPid] = panel;
    auto behind = test::makeField("the program behind");
    behind->processId = 99;
    const auto elsewhere = scheduler.scheduleAfter(40ms, [&] { ax.systemFocused = behind; });
    keyboard.field = test::makeField("drawn by a custom editor");
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.element, panel);
    EXPECT_EQ(snapshot.fullText, "drawn by a custom editor");
    EXPECT_EQ(scheduler.elapsed(), FocusResolver::focusSettleBound + 250ms);
    EXPECT_EQ(behind->text, "the program behind");

    // One look per run: the retries of a run that finds nothing copy again without waiting.
    keyboard.field = nullptr;
    const auto start = scheduler.elapsed();
    EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(2, 0.12)), Case::noFocusedTextField);
    EXPECT_EQ(scheduler.elapsed() - start, FocusResolver::focusSettleBound + 3 * 450ms + 2 * 120ms);
}

TEST_F(FocusedTextFieldAccessorTest, APasteWaitsForTheFocusToComeBackFromAContainer) {
    for (const bool comesBack : {true, false}) {
        auto field = test::makeField("old text", {8, 0});
        field->settable = false;  // only a paste replaces its text
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        ax.systemFocused = makeContainer();
        std::unique_ptr<ScheduledCall> back;
        if (comesBack) {
            back = scheduler.scheduleAfter(50ms, [&] { ax.systemFocused = field; });
        }
        keyboard.chords.clear();
        const int writes = clipboard.writes;
        const auto start = scheduler.elapsed();
        if (comesBack) {
            run(accessor.replaceFocusedFieldText("new text", snapshot));
            EXPECT_EQ(field->text, "new text");
            EXPECT_LT(scheduler.elapsed() - start, FocusResolver::focusSettleBound);
        } else {
            // The user's focus stayed on the panel: nothing is pasted anywhere.
            EXPECT_THROW(run(accessor.replaceFocusedFieldText("new text", snapshot)), FocusedTextReplacementFallback);
            EXPECT_EQ(field->text, "old text");
            EXPECT_TRUE(keyboard.chords.isEmpty());
            EXPECT_EQ(clipboard.writes, writes);
            EXPECT_GE(scheduler.elapsed() - start, FocusResolver::focusSettleBound);
        }
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard");
    }
}

TEST_F(FocusedTextFieldAccessorTest, ARunLogsTheTimeOfEachOfItsSteps) {
    // A program that builds its tree late (two looks, 0.4 s) and a service that takes 0.25 s:
    // each wait is logged in the step that made it, the service's as what the steps leave.
    auto field = test::makeField("hello");
    ax.applicationFocus[appPid] = field;
    ax.applicationFocusFromQuery[appPid] = 3;
    const auto shared = std::shared_ptr<FocusedTextFieldAccessing>(&accessor, [](FocusedTextFieldAccessing*) {});
    const auto translate = [this](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<bool> {
        co_await sleepFor(scheduler, 250ms);
        co_await accessor.replaceFocusedFieldText(QStringLiteral("hola"), std::move(snapshot));
        co_return true;
    };
    test::ScopedLogCapture log;
    EXPECT_TRUE(run(runOnFocusedField<bool>(shared, 0, 0.0, std::nullopt, {}, translate)));
    EXPECT_EQ(field->text, "hola");

    // No accessible field at all: the second of looks is the focus step's, the keystroke copy
    // that then finds nothing the field step's, and the run failed.
    ax.applicationFocus.clear();
    ax.systemFocused = nullptr;
    keyboard.field = nullptr;
    EXPECT_EQ(failure(runOnFocusedField<bool>(shared, 0, 0.0, std::nullopt, {}, translate)), Case::noFocusedTextField);
    EXPECT_EQ(log.messages(LogCategory::app).filter("focused field steps"),
              (QStringList{"focused field steps focus_ms=400 field_ms=0 service_ms=250 write_ms=0 check_ms=0 "
                           "total_ms=650 result=done",
                           "focused field steps focus_ms=1000 field_ms=450 service_ms=0 write_ms=0 check_ms=0 "
                           "total_ms=1450 result=failed"}));
}

TEST_F(FocusedTextFieldAccessorTest, APasteIntoAnObjectWithoutTextIsCheckedInNoLongerThanItsRead) {
    // A sheet that publishes no text for its cells (Gnumeric): the selected cell is read by its
    // copy and pasted over; asking the sheet for the result would find nothing however long.
    auto sheet = makeContainer();
    ax.systemFocused = sheet;
    ax.applicationFocus[appPid] = sheet;
    auto cell = test::makeField("el coche rojo", {0, 13});
    keyboard.field = cell;
    const auto shared = std::shared_ptr<FocusedTextFieldAccessing>(&accessor, [](FocusedTextFieldAccessing*) {});
    const auto translate = [this](FocusedTextFieldSnapshot snapshot) -> QCoro::Task<bool> {
        co_await accessor.replaceFocusedFieldText(QStringLiteral("the red car"), std::move(snapshot));
        co_return true;
    };
    test::ScopedLogCapture log;
    EXPECT_TRUE(run(runOnFocusedField<bool>(shared, 0, 0.0, std::nullopt, {}, translate)));
    EXPECT_EQ(cell->text, "the red car");
    const QStringList steps = log.messages(LogCategory::app).filter("focused field steps");
    ASSERT_EQ(steps.size(), 1);
    const auto ms = [&](const char* step) {
        return QRegularExpression(QLatin1String(step) + QStringLiteral("=(\\d+)")).match(steps[0]).captured(1).toInt();
    };
    EXPECT_GT(ms("field_ms"), 0);
    EXPECT_LE(ms("check_ms"), ms("field_ms")) << steps[0].toStdString();
}

// --- retries ---

TEST_F(FocusedTextFieldAccessorTest, PrepareRetriesOnlyWhileNoFieldIsFound) {
    front.set(std::nullopt);  // no window: nothing to wait for, and no keys to send
    const struct {
        int retryCount;
        double retryDelay;
        int reads;
        std::chrono::milliseconds elapsed;
    } cases[] = {
        {4, 0.12, 5, 480ms},
        {0, 0.12, 1, 0ms},
        {-1, 0.12, 1, 0ms},
        {2, -3.0, 3, 0ms},
    };
    for (const auto& c : cases) {
        const int looks = front.queries();
        const auto start = scheduler.elapsed();
        EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(c.retryCount, c.retryDelay)), Case::noFocusedTextField);
        // One look at the front window per read (no window: no keyboard copy follows).
        EXPECT_EQ(front.queries() - looks, c.reads) << c.retryCount;
        EXPECT_EQ(scheduler.elapsed() - start, c.elapsed) << c.retryCount;
    }
}

TEST_F(FocusedTextFieldAccessorTest, PrepareStopsAtTheFirstFieldOrOtherError) {
    auto field = test::makeField("finally");
    // The field shows up between the second and the third read: the first waits a second for
    // a tree to appear (watching the focus events meanwhile), the others follow 120 ms apart (at
    // 1120 and 1240 ms).
    const auto appear = scheduler.scheduleAfter(1200ms, [&] { focus(field); });
    ax.calls.clear();
    EXPECT_EQ(run(accessor.prepareFocusedFieldWithRetry(4, 0.12)).fullText, "finally");
    EXPECT_EQ(ax.calls.count("systemFocusedElement"), 3 + 1000ms / FocusResolver::focusSettleStep);

    auto empty = test::makeField("");
    focus(empty);
    keyboard.field = nullptr;
    keyboard.chords.clear();
    EXPECT_EQ(failure(accessor.prepareFocusedFieldWithRetry(4, 0.12)), Case::focusedTextFieldEmpty);
    // One read, whose copy by keys found nothing either: not read again.
    EXPECT_EQ(keyboard.chords, (QStringList{"Ctrl+C", "Ctrl+A", "Ctrl+C", "Ctrl+End"}));
}

// --- text cut out of a field ---

TEST_F(FocusedTextFieldAccessorTest, CutTextComesBackWhenNoReplacementFollows) {
    front.setIdentifier("jetbrains-idea", appPid);
    auto field = test::makeField("fun main() {}");
    field->hasText = false;  // the editor offers no accessible text
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, "fun main() {}");
    EXPECT_EQ(field->text, "");
    run(accessor.restoreCutTextIfUnreplaced());
    EXPECT_EQ(field->text, "fun main() {}");
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");

    // The focus moved to another field of the editor meanwhile: the text is not pasted there,
    // it stays on the clipboard.
    run(accessor.readFocusedField());
    ASSERT_EQ(field->text, "");
    auto other = test::makeField("another file");
    other->hasText = false;
    focus(other);
    run(accessor.restoreCutTextIfUnreplaced());
    EXPECT_EQ(other->text, "another file");
    settle();
    EXPECT_EQ(clipboard.text(), "fun main() {}");
}

TEST_F(FocusedTextFieldAccessorTest, CutTextIsForgottenOnceReplaced) {
    front.setIdentifier("jetbrains-idea", appPid);
    auto field = test::makeField("fun main() {}");
    field->hasText = false;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    run(accessor.replaceFocusedFieldText("fun main() = Unit", snapshot));
    EXPECT_EQ(field->text, "fun main() = Unit");
    keyboard.chords.clear();
    run(accessor.restoreCutTextIfUnreplaced());
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(field->text, "fun main() = Unit");
}

// A rich field read by keystrokes whose copy holds a list: a paste of plain text would flatten it,
// so nothing is pasted and the result goes to the copy window.
TEST_F(FocusedTextFieldAccessorTest, AFieldReadByKeysWhoseCopyHoldsAListIsNotPastedOver) {
    auto field = test::makeField("one\ntwo", {7, 0});
    keyboard.field = field;
    keyboard.copiedHtml = QStringLiteral("<ul><li>one</li><li>two</li></ul>");
    const FocusedTextFieldSnapshot snapshot = run(accessor.prepareFocusedFieldWithRetry(0, 0));
    ASSERT_TRUE(snapshot.readByKeyboard);
    keyboard.chords.clear();
    EXPECT_THROW(run(accessor.replaceFocusedFieldText("uno\ndos", snapshot)), FocusedTextReplacementFallback);
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
    EXPECT_EQ(field->text, "one\ntwo");
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

// --- failures that must not pass for success, terminals, hung applications ---

TEST_F(FocusedTextFieldAccessorTest, APasteThatCannotBeSentHandsTheTextBack) {
    struct Scenario {
        const char* name;
        bool selection;
        bool settable;
        bool acceptsSelectedText;
        bool canSendAtAll;
    } cases[] = {
        {"no Latin v on the keyboard, whole field", false, false, true, true},
        {"no Latin v on the keyboard, selection", true, true, false, true},
        {"no synthetic input at all", false, false, true, false},
    };
    for (const Scenario& c : cases) {
        auto field = test::makeField("old text", c.selection ? AccessibleTextRange{0, 3} : AccessibleTextRange{});
        field->settable = c.settable;
        field->acceptsSelectedText = c.acceptsSelectedText;
        focus(field);
        keyboard.canSendV = false;
        keyboard.canSend = c.canSendAtAll;
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        try {
            run(accessor.replaceFocusedFieldTextOrPresentCopyFallback("finished text", snapshot));
            ADD_FAILURE() << c.name << ": reported success";
        } catch (const FocusedTextReplacementFallback& fallback) {
            EXPECT_EQ(fallback.text, "finished text") << c.name;
            EXPECT_EQ(fallback.underlyingError.errorCase(), Case::failedToReplaceFocusedTextFieldText) << c.name;
        }
        EXPECT_EQ(field->text, "old text") << c.name;
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard") << c.name;  // nothing waits for a fetch
    }
}

TEST_F(FocusedTextFieldAccessorTest, AWriteIsReadBackAndWhatTheFieldDidNotTakeIsPasted) {
    // Like a browser: every accessibility write is answered as done and changes nothing.
    for (const bool selection : {false, true}) {
        auto field = test::makeField("old text", selection ? AccessibleTextRange{0, 3} : AccessibleTextRange{8, 0});
        field->ignoresWrites = true;
        focus(field);
        keyboard.chords.clear();
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        run(accessor.replaceFocusedFieldText("new", snapshot));
        EXPECT_EQ(field->text, selection ? "new text" : "new") << selection;
        EXPECT_EQ(keyboard.chords, selection ? QStringList({"Ctrl+V"}) : QStringList({"Ctrl+A", "Ctrl+V"}))
            << selection;
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard");
    }
    // The program is known now: its next replacement pastes without trying a write first.
    auto field = test::makeField("old text", {8, 0});
    field->ignoresWrites = true;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    ax.calls.clear();
    run(accessor.replaceFocusedFieldText("new", snapshot));
    EXPECT_EQ(field->text, "new");
    EXPECT_FALSE(ax.calls.contains("setValue")) << ax.calls.join(' ').toStdString();
    settle();
}

TEST_F(FocusedTextFieldAccessorTest, AWriteTheFieldDoesNotShowIsAFailureNotASuccess) {
    struct Scenario {
        const char* name;
        int selectAllsLost;
        bool keysReachNothing;
        std::optional<QString> offered;  // absent: success
        QString field;
        QStringList chords;
    } cases[] = {
        // The select-all went elsewhere, or nothing took the keys: the field never shows it, and
        // no paste follows (it would land after the original, or whenever the program wakes).
        {"select-all lost", 1, false, QString("new"), "old text", {"Ctrl+A"}},
        {"keys reach nothing", 0, true, QString("new"), "old text", {"Ctrl+A"}},
    };
    for (const Scenario& c : cases) {
        auto field = test::makeField("old text", {8, 0});
        field->ignoresWrites = true;  // like a browser: only a paste changes the text
        focus(field);
        keyboard.chords.clear();
        keyboard.selectAllsLost = c.selectAllsLost;
        if (c.keysReachNothing) {
            keyboard.field = nullptr;
        }
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        EXPECT_EQ(offeredForCopying("new", snapshot), c.offered) << c.name;
        EXPECT_EQ(offeredForChangedField, c.offered ? std::optional(false) : std::nullopt) << c.name;
        EXPECT_EQ(field->text, c.field) << c.name;
        EXPECT_EQ(keyboard.chords, c.chords) << c.name;
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard") << c.name;
    }
}

// A page puts the caret at the end of its field on the paste key: the result lands after the
// user's text. Without a key or a click of the user's since, the result alone is selected and
// deleted, the caret goes back, and the result is offered; with one, the field stays as it is (the
// user may have made it).
TEST_F(FocusedTextFieldAccessorTest, AResultPastedBesideTheUsersTextIsTakenOutUnlessTheUserActed) {
    test::FakeUserKeyActivity userKeys{scheduler};
    FocusedTextFieldAccessor withKeys{
        {calls, clipboard, front, scheduler, {}, nullptr, &keyboard, &keyboard, &clock, &userKeys}, keyboard, 0.3};
    for (const bool userClicks : {false, true}) {
        auto field = test::makeField("old text", {8, 0});
        field->ignoresWrites = true;  // like a browser: only a paste changes the text
        focus(field);
        keyboard.chords.clear();
        keyboard.pasteKeyMovesCaretToEnd = true;
        keyboard.afterPaste = [&] {
            if (userClicks) {
                userKeys.click();
            }
        };
        const FocusedTextFieldSnapshot snapshot = run(withKeys.readFocusedField());
        EXPECT_EQ(offeredForCopyingBy(withKeys, "new", snapshot), "new") << userClicks;
        EXPECT_EQ(field->text, userClicks ? "old textnew" : "old text") << userClicks;
        EXPECT_EQ(keyboard.chords,
                  userClicks ? QStringList({"Ctrl+A", "Ctrl+V"}) : QStringList({"Ctrl+A", "Ctrl+V", "Del"}))
            << userClicks;
        if (!userClicks) {
            EXPECT_EQ(field->selection, (AccessibleTextRange{8, 0}));
        }
        keyboard.afterPaste = {};
        settle();
    }
    // A field read and checked by copying alone, in a program that edits its own fields: its undo
    // takes the paste back, and the field is copied again.
    auto field = test::makeField("old text", {8, 0});
    keyboard.field = field;
    ax.systemFocused = nullptr;
    keyboard.chords.clear();
    const FocusedTextFieldSnapshot snapshot = run(withKeys.prepareFocusedFieldWithRetry(0, 0));
    ASSERT_TRUE(snapshot.readByKeyboard);
    EXPECT_EQ(offeredForCopyingBy(withKeys, "new", snapshot), "new");
    EXPECT_EQ(field->text, "old text");
    EXPECT_EQ(keyboard.chords.mid(keyboard.chords.indexOf("Ctrl+V")),
              QStringList({"Ctrl+V", "Ctrl+A", "Ctrl+C", "Ctrl+End", "Ctrl+Z", "Ctrl+A", "Ctrl+C", "Ctrl+End"}));
    settle();
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

// A line edit with a maximum length keeps what fits and answers as if it took everything: the
// user's own text goes back in (written the way the result went in), the result whole to the copy
// window, and the cut copy is never taken for the user's typing.
TEST_F(FocusedTextFieldAccessorTest, AFieldThatCutsTheResultGetsTheUsersTextBack) {
    const QString original = "Good morning team, how are you";
    const QString result = "[de] GOOD MORNING TEAM, HOW ARE YOU";
    struct Scenario {
        const char* name;
        bool writesTaken;  // false: like a browser, only a paste changes the text
        bool accessible;   // false: read and written by keyboard only
        QStringList chords;
    } cases[] = {
        {"accessibility write", true, true, {}},
        {"paste", false, true, {"Ctrl+A", "Ctrl+V", "Ctrl+A", "Ctrl+V"}},
        {"keyboard only", true, false, {"Ctrl+C",   "Ctrl+A", "Ctrl+C", "Ctrl+End", "Ctrl+A",   "Ctrl+C",  "Ctrl+End",
                                        "Ctrl+A",   "Ctrl+V", "Ctrl+A", "Ctrl+C",   "Ctrl+End", "Ctrl+A",  "Ctrl+C",
                                        "Ctrl+End", "Ctrl+A", "Ctrl+V", "Ctrl+A",   "Ctrl+C",   "Ctrl+End"}},
    };
    for (const Scenario& c : cases) {
        test::ScopedLogCapture log;
        front.setIdentifier(c.writesTaken ? "qt-line-edit" : "firefox-esr", appPid + (c.writesTaken ? 0 : 1), 6001);
        auto field = test::makeField(original, {30, 0});
        field->maximumLength = 30;
        field->ignoresWrites = !c.writesTaken;
        field->processId = appPid + (c.writesTaken ? 0 : 1);
        keyboard.field = field;
        ax.systemFocused = c.accessible ? field : nullptr;
        keyboard.chords.clear();
        const FocusedTextFieldSnapshot snapshot = run(accessor.prepareFocusedFieldWithRetry(0, 0));
        EXPECT_EQ(offeredForCopying(result, snapshot), result) << c.name;
        EXPECT_EQ(field->text, original) << c.name;
        EXPECT_EQ(keyboard.chords, c.chords) << c.name;
        EXPECT_TRUE(log.messages(LogCategory::app).filter("focused field put back as it was").size() == 1) << c.name;
        EXPECT_TRUE(log.messages(LogCategory::app).filter("changed since it was read").isEmpty()) << c.name;
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard") << c.name;
    }
}

// What the user typed or selected meanwhile stays, and the text offered instead says so (its
// copy window leaves the user the keyboard).
TEST_F(FocusedTextFieldAccessorTest, AFieldChangedSinceItWasReadIsNeverWritten) {
    struct Scenario {
        const char* name;
        AccessibleTextRange selection;
        bool settable;
        bool chromium;
        bool typed;  // false: the selection moved, the text did not change
    } cases[] = {
        {"value write, typed", {8, 0}, true, false, true},
        {"paste, typed", {8, 0}, false, false, true},
        {"Chromium, typed", {8, 0}, true, true, true},
        {"selection write, typed", {0, 3}, true, false, true},
        {"selection write, selection moved", {0, 3}, true, false, false},
        {"selection paste, selection moved", {0, 3}, true, true, false},
    };
    for (const Scenario& c : cases) {
        auto field = test::makeField("old text", c.selection);
        field->settable = c.settable;
        field->chromium = c.chromium;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        if (c.typed) {
            field->text += " and more";  // the user typed on while the server thought
        } else {
            field->selection = {4, 4};
        }
        const QString before = field->text;
        keyboard.chords.clear();
        ax.calls.clear();
        EXPECT_EQ(offeredForCopying("new", snapshot), QString("new")) << c.name;
        EXPECT_EQ(offeredForChangedField, true) << c.name;
        EXPECT_EQ(field->text, before) << c.name;
        EXPECT_TRUE(keyboard.chords.isEmpty()) << c.name << ": " << keyboard.chords.join(' ').toStdString();
        EXPECT_FALSE(ax.calls.contains("setValue") || ax.calls.contains("setSelectedText")) << c.name;
        settle();
        EXPECT_EQ(clipboard.text(), "user clipboard") << c.name;
    }
}

// A program busy elsewhere may answer a read of its field with no text: the field is read again,
// and only an answer that stays so counts as a change.
TEST_F(FocusedTextFieldAccessorTest, AnEmptyReadIsMadeAgainBeforeItCountsAsAChange) {
    struct Scenario {
        const char* name;
        bool settable;  // false: written by a paste
        int emptyReads;
        bool written;
    } cases[] = {
        {"value write, read once empty", true, 1, true},
        {"paste, read empty three times", false, 3, true},
        {"value write, read empty every time", true, 100, false},
    };
    for (const Scenario& c : cases) {
        test::ScopedLogCapture log;
        auto field = test::makeField("old text", {8, 0});
        field->settable = c.settable;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        field->emptyReads = c.emptyReads;
        EXPECT_EQ(!offeredForCopying("new", snapshot), c.written) << c.name;
        EXPECT_EQ(field->text, c.written ? "new" : "old text") << c.name;
        EXPECT_EQ(log.messages(LogCategory::app).filter("changed since it was read").size(), c.written ? 0 : 1)
            << c.name;
    }
}

TEST_F(FocusedTextFieldAccessorTest, OnlyASelectionBorneOutByItsRangeIsReplacedAlone) {
    // The field reports selected text that its selection range does not hold: the whole field
    // is the command's, and it is replaced whole, whatever the caret does meanwhile.
    auto field = test::makeField("whole text of the field", {23, 0});
    field->ignoresWrites = true;
    field->reportedSelectedText = QString("whole text of the field");
    focus(field);
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.selectedText.value_or(QString()), QString());
    run(accessor.replaceFocusedFieldText("result", snapshot));
    EXPECT_EQ(field->text, "result");
    settle();

    // A field without accessible text copied after select-all: it is selected and copied again
    // instead of trusting that the first copy's selection is still there, and selected again
    // with the paste's key.
    auto opaque = test::makeField("copied whole");
    opaque->hasText = false;
    focus(opaque);
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, "copied whole");
    opaque->selection = {12, 0};  // a click in the field meanwhile
    keyboard.chords.clear();
    run(accessor.replaceFocusedFieldText("result", snapshot));
    EXPECT_EQ(opaque->text, "result");
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+A", "Ctrl+C", "Ctrl+End", "Ctrl+A", "Ctrl+V"}));
    settle();
}

TEST_F(FocusedTextFieldAccessorTest, TextIsReadAsTheUserSeesIt) {
    // Firefox's text after an emoji and an embedded image; "very" selected.
    const QString reported = QString::fromUtf8("car 😀\uFEFF\uFFFC very much");
    auto field = test::makeField(reported, {9, 4});
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, QString::fromUtf8("car 😀 very much"));
    EXPECT_EQ(snapshot.selectedText, QString("very"));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{7, 4}));
    const FocusedTextFieldSnapshot selection = run(accessor.readFocusedSelection(false));
    EXPECT_EQ(selection.fullText, snapshot.fullText);
    EXPECT_EQ(selection.selectedText, QString("very"));
}

// --- rich-text fields: objects embedded in the text ---

const QString linkSentence = QStringLiteral("I would like to meet my good friend tomorrow at the station.");

// A rich-text field holding `linkSentence` with "my good friend" a link, as a browser reports it.
std::shared_ptr<test::FakeField> makeFieldWithLink(AccessibleTextRange selection) {
    auto field = test::makeField(linkSentence, selection);
    field->role = AccessibleRole::textArea;
    field->embedded = {{21, 14, true}};
    return field;
}

TEST_F(FocusedTextFieldAccessorTest, ALinksWordsAreReadWrittenAndCheckedWithTheField) {
    // Nothing selected: the whole field, the link's words included, is the command's.
    auto field = makeFieldWithLink({60, 0});
    focus(field);
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, linkSentence);
    EXPECT_EQ(snapshot.selectedRange, (TextRange{60, 0}));
    run(accessor.replaceFocusedFieldText("whole result", snapshot));
    EXPECT_EQ(field->text, "whole result");

    // "good friend tomorrow", begun inside the link: an accessibility write would take the whole
    // link ("my" too), the paste takes what is selected, and the field is checked as it reads.
    field = makeFieldWithLink({24, 20});
    focus(field);
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.selectedText, QStringLiteral("good friend tomorrow"));
    EXPECT_EQ(snapshot.selectedRange, (TextRange{24, 20}));
    keyboard.chords.clear();
    ax.calls.clear();
    EXPECT_EQ(offeredForCopying("X", snapshot), std::nullopt);
    EXPECT_EQ(field->text, QStringLiteral("I would like to meet my X at the station."));
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+V"}));
    EXPECT_FALSE(ax.calls.contains("setSelectedText"));
    settle();

    // The whole link and words around it selected: written in place.
    field = makeFieldWithLink({16, 28});
    focus(field);
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.selectedText, QStringLiteral("meet my good friend tomorrow"));
    keyboard.chords.clear();
    EXPECT_EQ(offeredForCopying("X", snapshot), std::nullopt);
    EXPECT_EQ(field->text, QStringLiteral("I would like to X at the station."));
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
}

// A list written item by item whose second item's write fails midway: its program, busy
// elsewhere for a moment, refuses the selection and then answers reads empty. The item written
// already goes back (the reads made again), and the field ends exactly as the user had it.
TEST_F(FocusedTextFieldAccessorTest, AListWhoseLineWriteFailsMidwayEndsAsTheUserHadIt) {
    const QString items = QStringLiteral("I have a red car.\nThe house is big.");
    auto field = test::makeField(items, {5, 0});
    field->role = AccessibleRole::textArea;
    field->embedded = {{0, 17, true, true, true}, {18, 17, true, true, true}};
    int selections = 0;
    field->takesSelectionInObject = [&] {
        if (++selections != 2) {
            return true;
        }
        field->emptyReads = 2;
        return false;
    };
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    ASSERT_EQ(snapshot.listItems, 2);
    const QString result = QStringLiteral("Tengo un coche rojo.\nLa casa es grande.");
    EXPECT_EQ(offeredForCopying(result, snapshot), result);
    EXPECT_EQ(field->text, items);
    EXPECT_EQ(field->selection, (AccessibleTextRange{5, 0}));
    EXPECT_EQ(field->embedded.size(), 2u) << "both items kept";
}

// Firefox shows a line selected inside a paragraph, then moves its caret to the field's start as
// its focus follows the selection: each line is selected again before its paste, and written.
TEST_F(FocusedTextFieldAccessorTest, ALineWhoseSelectionTheProgramMovesAwayIsSelectedAgainAndWritten) {
    const QString items = QStringLiteral("I have a red car.\nThe house is big.");
    auto field = test::makeField(items, {35, 0});
    field->role = AccessibleRole::textArea;
    field->embedded = {{0, 17, true, true, true}, {18, 17, true, true, true}};
    field->selectionsMovedAway = 2;
    focus(field);
    const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    ASSERT_EQ(snapshot.listItems, 2);
    const QString result = QStringLiteral("Tengo un coche rojo.\nLa casa es grande.");
    EXPECT_EQ(offeredForCopying(result, snapshot), std::nullopt);
    EXPECT_EQ(field->text, result);
    EXPECT_EQ(field->selectionsMovedAway, 0);
}

// The user clicks into the field once its first line is written: nothing more of ours goes there,
// neither the next line, nor what the field held, nor a selection; the result is offered.
TEST_F(FocusedTextFieldAccessorTest, AClickOfTheUsersEndsAWriteLineByLine) {
    test::FakeUserKeyActivity userKeys{scheduler};
    FocusedTextFieldAccessor withKeys{
        {calls, clipboard, front, scheduler, {}, nullptr, &keyboard, &keyboard, &clock, &userKeys}, keyboard, 0.3};
    auto field = test::makeField(QStringLiteral("I have a red car.\nThe house is big."), {35, 0});
    field->role = AccessibleRole::textArea;
    field->embedded = {{0, 17, true, true, true}, {18, 17, true, true, true}};
    focus(field);
    keyboard.afterPaste = [&] {
        userKeys.click();
        field->selection = AccessibleTextRange{3, 0};
    };
    const FocusedTextFieldSnapshot snapshot = run(withKeys.readFocusedField());
    const QString result = QStringLiteral("Tengo un coche rojo.\nLa casa es grande.");
    EXPECT_EQ(offeredForCopyingBy(withKeys, result, snapshot), result);
    EXPECT_EQ(field->text, QStringLiteral("Tengo un coche rojo.\nThe house is big."));
    EXPECT_EQ(field->selection, (AccessibleTextRange{3, 0}));
    keyboard.afterPaste = {};
    settle();
}

TEST_F(FocusedTextFieldAccessorTest, NothingIsWrittenOverAnImageInTheField) {
    // "See <img>below and here.": the image stands before "below".
    auto field = test::makeField(QStringLiteral("See below and here."), {19, 0});
    field->role = AccessibleRole::textArea;
    field->embedded = {{4, 0, false}};
    focus(field);
    test::ScopedLogCapture log;
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(snapshot.fullText, QStringLiteral("See below and here."));
    EXPECT_EQ(offeredForCopying("whole result", snapshot), "whole result");
    EXPECT_EQ(field->reportedText(), QStringLiteral("See \uFFFCbelow and here."));
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
    EXPECT_EQ(log.messages(LogCategory::app).filter("holds an object without text").size(), 1);

    // A selection that takes the image in is not written either; one beside it is.
    field->selection = {0, 9};  // "See below"
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("X", snapshot), "X");
    field->selection = {14, 4};  // "here"
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("there", snapshot), std::nullopt);
    EXPECT_EQ(field->reportedText(), QStringLiteral("See \uFFFCbelow and there."));
}

// A browser on a busy machine may leave an object of a rich-text field unread, its characters
// unmeasured, or show room between them while it lays its text out anew, in one read: the field
// is looked at again, and refused only for what was seen (room: seen twice).
TEST_F(FocusedTextFieldAccessorTest, AnObjectNotSeenInOneReadIsLookedAtAgainBeforeTheFieldIsRefused) {
    struct Scenario {
        const char* name;
        int unreadObjectReads;
        int unmeasuredReads;
        int passingRoomReads;
        int measuredReadsFirst;
        bool picture;
        const char* refusal;  // null: written
    } cases[] = {
        {"a link unread once", 1, 0, 0, 0, false, nullptr},
        {"the text unmeasured twice", 0, 2, 0, 0, false, nullptr},
        {"room between characters in one read only", 0, 0, 1, 0, false, nullptr},
        {"room in one read, the look again cut short twice", 0, 2, 1, 1, false, nullptr},
        {"a link unread every time", 100, 0, 0, 0, false,
         "objects_without_text=1 showing_no_text=0 unnamed=1 room=0 unread=1 unmeasured=false"},
        {"a picture", 0, 0, 0, 0, true,
         "objects_without_text=1 showing_no_text=1 unnamed=0 room=0 unread=0 unmeasured=false"},
    };
    const QString sentence = QStringLiteral("Hello Anna, see the report.");
    const QString result = QStringLiteral("Hola Anna, mira el informe.");
    for (const Scenario& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScopedLogCapture log;
        auto field = test::makeField(sentence, {27, 0});
        field->role = AccessibleRole::textArea;
        field->embedded = {{16, 10}};  // a link: "the report"
        if (c.picture) {
            field->embedded.insert(field->embedded.begin(), test::FakeEmbeddedObject{11, 0, false});
        }
        field->unreadObjectReads = c.unreadObjectReads;
        field->unmeasuredReads = c.unmeasuredReads;
        field->measuredReadsFirst = c.measuredReadsFirst;
        field->passingRoomReads = c.passingRoomReads;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        if (!c.refusal) {
            EXPECT_EQ(snapshot.fullText, sentence);
            EXPECT_EQ(offeredForCopying(result, snapshot), std::nullopt);
            EXPECT_EQ(field->text, result);
            continue;
        }
        EXPECT_EQ(offeredForCopying(result, snapshot), result);
        EXPECT_EQ(field->text, sentence);
        const QStringList lines = log.messages(LogCategory::app).filter("holds an object without text");
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines.first().endsWith(QString::fromLatin1(c.refusal))) << lines.first().toStdString();
    }
}

TEST_F(FocusedTextFieldAccessorTest, APictureThatPublishesNoObjectIsNeitherWrittenOverNorLost) {
    // "The red car <img> is fast." with a picture without alternative text, which a browser reports
    // as if it were not there; only the room it takes tells where it is.
    const QString sentence = QStringLiteral("The red car  is fast.");
    const auto fieldWithPicture = [&](AccessibleTextRange selection) {
        auto field = test::makeField(sentence, selection);
        field->role = AccessibleRole::textArea;
        field->embedded = {{12, 0, false, false}};
        focus(field);
        return field;
    };
    test::ScopedLogCapture log;
    // The whole field, and a selection that reaches the picture (it may belong to either side):
    // offered for copying, the field as it was.
    for (const AccessibleTextRange selection :
         {AccessibleTextRange{21, 0}, AccessibleTextRange{0, 21}, AccessibleTextRange{8, 4}}) {
        auto field = fieldWithPicture(selection);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        EXPECT_EQ(snapshot.fullText, sentence);
        EXPECT_EQ(field->reportedText(), sentence);
        EXPECT_EQ(offeredForCopying("result", snapshot), "result") << selection.location << "+" << selection.length;
        EXPECT_EQ(field->text, sentence);
        EXPECT_EQ(field->embedded.size(), 1u);
    }
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
    EXPECT_EQ(log.messages(LogCategory::app).filter("holds an object without text").size(), 3);

    // A selection beside it is written, and the picture stays.
    auto field = fieldWithPicture({8, 3});  // "car"
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("bike", snapshot), std::nullopt);
    EXPECT_EQ(field->text, QStringLiteral("The red bike  is fast."));
    EXPECT_EQ(field->embedded.size(), 1u);

    // A composer that drops the picture on any change: the text reads right, but the run fails.
    field = fieldWithPicture({8, 3});
    field->rebuildsOnChange = true;
    snapshot = run(accessor.readFocusedField());
    EXPECT_EQ(offeredForCopying("bike", snapshot), "bike");
    EXPECT_EQ(field->text, QStringLiteral("The red bike  is fast."));
    EXPECT_EQ(log.messages(LogCategory::app).filter("found=object_lost").size(), 1);
}

TEST_F(FocusedTextFieldAccessorTest, ReadBackForgivesOnlyWhatFieldsDoToText) {
    EXPECT_TRUE(FocusedTextFieldAccessor::fieldHoldsText("one\ntwo", "one\r\ntwo"));
    EXPECT_TRUE(FocusedTextFieldAccessor::fieldHoldsText(QString("a") + QChar(0x00A0) + "b\n", "a b"));
    EXPECT_FALSE(FocusedTextFieldAccessor::fieldHoldsText("a  b", "a b"));  // a correction of spaces
    EXPECT_FALSE(FocusedTextFieldAccessor::fieldHoldsText("old text", "new text"));
    EXPECT_FALSE(FocusedTextFieldAccessor::fieldHoldsText("", "new"));
}

TEST_F(FocusedTextFieldAccessorTest, KeysGoOnlyToTheWindowAndFieldTheTextWasReadFrom) {
    const FrontApplication reader{appPid, QString("gedit"), 11};
    const FrontApplication other{777, QString("Mousepad"), 22};
    auto otherField = test::makeField("the other program's text", {24, 0});
    struct Scenario {
        const char* name;
        bool settable;  // false: only a paste can replace the text
        bool chromium;
        std::optional<FrontApplication> frontAtWrite;
        bool focusMovedInWindow;  // same window, another element focused
        bool written;             // the field got the text through accessibility
    } cases[] = {
        {"another program in front, field writable", true, false, other, false, true},
        {"another program in front, paste needed", false, false, other, false, false},
        {"another program in front, Chromium field", true, true, other, false, false},
        {"the field's program has gone", false, false, std::nullopt, false, false},
        {"another window of the same program", false, false, FrontApplication{appPid, QString("gedit"), 12}, false,
         false},
        {"the focus moved to another field", false, false, reader, true, false},
    };
    for (const Scenario& c : cases) {
        front.set(reader);
        auto field = test::makeField("old text", {2, 0});
        field->settable = c.settable;
        field->chromium = c.chromium;
        focus(field);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        front.set(c.frontAtWrite);
        keyboard.field = otherField;  // keys would land in what is in front now
        if (c.focusMovedInWindow) {
            ax.systemFocused = otherField;
        }
        keyboard.chords.clear();
        const int writes = clipboard.writes;
        if (c.written) {
            run(accessor.replaceFocusedFieldTextOrPresentCopyFallback("new text", snapshot));
            EXPECT_EQ(field->text, "new text") << c.name;
        } else {
            EXPECT_THROW(run(accessor.replaceFocusedFieldTextOrPresentCopyFallback("new text", snapshot)),
                         FocusedTextReplacementFallback)
                << c.name;
            EXPECT_EQ(field->text, "old text") << c.name;
        }
        EXPECT_TRUE(keyboard.chords.isEmpty()) << c.name;
        EXPECT_EQ(otherField->text, "the other program's text") << c.name;
        EXPECT_EQ(clipboard.writes, writes) << c.name;
    }
    // Still in front with the same field: the paste goes ahead.
    front.set(reader);
    auto field = test::makeField("old text", {2, 0});
    field->settable = false;
    focus(field);
    run(accessor.replaceFocusedFieldText("new text", run(accessor.readFocusedField())));
    EXPECT_EQ(field->text, "new text");

    // The program replaced the field's object: the new one, focused with the text that was
    // read, is the same field when the old one is gone or when it lies where the field was
    // read; with another text, or elsewhere beside an old object that still answers, it is not.
    struct Replaced {
        const char* name;
        bool oldGone;
        bool sameText;
        bool sameFrame;
        bool pasted;
    } replacedCases[] = {
        {"old object gone, same text", true, true, false, true},
        {"old object gone, other text", true, false, true, false},
        {"old object answers, same text and place", false, true, true, true},
        {"old object answers, same text elsewhere", false, true, false, false},
    };
    for (const Replaced& c : replacedCases) {
        auto before = test::makeField("old text", {2, 0});
        before->settable = false;
        focus(before);
        const FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
        before->hasText = !c.oldGone;
        auto replacement = test::makeField(c.sameText ? "old text" : "other text", {2, 0});
        if (!c.sameFrame) {
            replacement->frame = QRectF(100, 400, 300, 30);
        }
        focus(replacement);
        if (c.pasted) {
            run(accessor.replaceFocusedFieldText("new text", snapshot));
            EXPECT_EQ(replacement->text, "new text") << c.name;
        } else {
            EXPECT_THROW(run(accessor.replaceFocusedFieldText("new text", snapshot)), FocusedTextReplacementFallback)
                << c.name;
            EXPECT_NE(replacement->text, "new text") << c.name;
        }
        settle();
    }
}

TEST_F(FocusedTextFieldAccessorTest, WhileOurWindowHasTheKeyboardNoPasteIsSent) {
    auto field = test::makeField("old text", {2, 0});
    focus(field);
    FocusedTextFieldSnapshot snapshot = run(accessor.readFocusedField());
    ownWindowHasKeyboard = true;  // say, the selection popup's keyboard grab
    run(accessor.replaceFocusedFieldText("written", snapshot));
    EXPECT_EQ(field->text, "written") << "accessibility writes do not go through the keyboard";

    field->settable = false;
    snapshot = run(accessor.readFocusedField());
    EXPECT_THROW(run(accessor.replaceFocusedFieldText("pasted", snapshot)), FocusedTextReplacementFallback);
    EXPECT_TRUE(keyboard.chords.isEmpty());
    EXPECT_EQ(field->text, "written");
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

TEST_F(SelectionProbeTest, NoKeyEverGoesToATerminalItsSelectionIsItsPrimary) {
    front.setIdentifier("XTerm", appPid);
    keyboard.terminal = true;
    auto screen = test::makeField("$ sleep 60", {2, 5});
    screen->hasText = false;  // like most terminals: nothing through accessibility
    keyboard.field = screen;
    EXPECT_EQ(failure(prober.prepareFocusedFieldWithRetry(4, 0.12)), Case::noFocusedTextField);

    // xterm's copy chord is Control+C to the program: the highlighted text is read from PRIMARY.
    primary.hold("sleep", appPid);
    const FocusedTextFieldSnapshot selection = run(prober.readFocusedSelection(false));
    EXPECT_EQ(selection.selectedText, "sleep");
    // And a terminal is never written: the text is handed back for copying.
    EXPECT_THROW(run(prober.replaceFocusedFieldText("wake", selection)), CaptureWorkflowError);
    primary.read.reset();
    EXPECT_EQ(failure(prober.readFocusedSelection(false)), Case::noFocusedTextField);
    settle();
    expectUntouched();
    EXPECT_EQ(keyboard.interrupts, 0);
    EXPECT_EQ(screen->text, "$ sleep 60");
}

TEST_F(FocusedTextFieldAccessorTest, AnApplicationThatStopsAnsweringEndsTheReadWithoutAField) {
    auto field = test::makeField("text");
    focus(field);
    ax.applicationFocus[appPid] = field;
    calls.answers = false;  // every query misses its bound
    // No answer is not a refusal: the read goes on, finds nothing and says so, without
    // sending the user to the accessibility settings and without touching the clipboard.
    EXPECT_EQ(failure(accessor.readFocusedField()), Case::noFocusedTextField);
    EXPECT_TRUE(keyboard.chords.isEmpty()) << keyboard.chords.join(' ').toStdString();
    // Without an element a selection read asks the clipboard, as it always does.
    EXPECT_EQ(failure(accessor.readFocusedSelection(false)), Case::noFocusedTextField);
    EXPECT_EQ(keyboard.chords, QStringList({"Ctrl+C"}));
    EXPECT_EQ(clipboard.text(), "user clipboard");
}

}  // namespace
}  // namespace tavrolin
