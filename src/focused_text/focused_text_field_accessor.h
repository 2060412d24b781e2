#pragma once

#include "focused_text/accessible_field_read.h"
#include "focused_text/accessible_text_cleaning.h"
#include "focused_text/clipboard_fallbacks.h"
#include "focused_text/field_step_clock.h"
#include "focused_text/focus_resolver.h"
#include "focused_text/late_select_all_guard.h"
#include "focused_text/selection_put_back.h"
#include "focused_text/synthetic_input_gate.h"
#include "language/focused_text_field_accessing.h"
#include "platform/accessibility_calls.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/primary_selection.h"
#include "platform/synthetic_input.h"
#include "platform/user_key_activity.h"
#include "platform/window_ping.h"

#include <QSet>

#include <chrono>
#include <memory>
#include <set>

namespace tavrolin {

// The one object through which the application reads the focused text field of another
// application and writes text back: accessibility first, the clipboard with synthetic
// keystrokes as fallback. Lives on the main thread; shared by every focused-text workflow and
// service. Every accessibility query is awaited through AccessibilityCalls, so another
// application never holds the main thread. The field is always one of the program in front,
// found through its FocusResolver (which the selection buttons share), and every keystroke goes
// through its SyntheticInputGate.
class FocusedTextFieldAccessor final : public FocusedTextFieldAccessing {
public:
    struct Platform {
        AccessibilityCalls& accessibility;
        Clipboard& clipboard;
        FrontApplicationProviding& frontApplications;
        Scheduler& scheduler;
        // Whether one of our own windows or keyboard grabs has the keyboard now (synthetic
        // keys would reach us, not the field). Unset: never.
        std::function<bool()> ownWindowHasKeyboard = {};
        // The X11 PRIMARY selection: the Translate command's probe, and a terminal's selection
        // (no key is ever sent to a terminal); none: not read.
        PrimarySelectionReading* primarySelection = nullptr;
        // Whether a paste's program reads its events; none: it is taken to.
        WindowPinging* windowPing = nullptr;
        // Which programs answer the ping from another process than the one reading their keys,
        // and which hold a pseudo-terminal master (terminal emulators); none: no program does.
        ProcessTable* processes = nullptr;
        // What the steps of a run are timed by (virtual time in tests); none: the monotonic clock.
        const Clock* clock = nullptr;
        // When the user last typed, anywhere: no chord goes out while they type; none: only the
        // keys down tell.
        UserKeyActivity* keyActivity = nullptr;
    };

    // How long a paste may take to show in its field before it counts as not placed.
    static constexpr std::chrono::milliseconds pasteShowBound{1500};
    static constexpr std::chrono::milliseconds pasteShowPoll{20};
    // How long a field that answers no read at all after a paste is asked.
    static constexpr std::chrono::milliseconds pasteReadBound{4500};
    // How often a field read by copying is copied again after an undo, until `pasteShowBound`.
    static constexpr std::chrono::milliseconds undoCopyPoll{300};
    // How long a line selected for writing on its own may take to show selected.
    static constexpr std::chrono::milliseconds lineSelectionBound{1000};
    static constexpr std::chrono::milliseconds lineSelectionPoll{30};
    // How long a line selected inside an object must keep showing selected before its paste, and
    // how often it is selected while it does not.
    static constexpr std::chrono::milliseconds lineSelectionSettle{150};
    static constexpr int lineSelectionAttempts = 3;
    // How often a field is read, `fieldReadRetryDelay` apart, before a read that a busy program
    // left unanswered (or answered with no text where the field held some) counts as a change.
    static constexpr int fieldReadAttempts = 4;
    static constexpr std::chrono::milliseconds fieldReadRetryDelay{150};

    // How long the Translate probe waits for a program to take the request for its tree.
    static constexpr std::chrono::milliseconds treeRequestBound{100};

    // Browsers, whose accessible selection flattens paragraphs (WM_CLASS class names).
    static const QSet<QString>& knownWebContentApplicationIdentifiers();

    // `keys`: the synthetic keyboard, which only the accessor's input gate ever holds.
    // `clipboardRestoreDelay` in seconds: how long after a paste the clipboard comes back
    // (the application uses 0.3).
    FocusedTextFieldAccessor(Platform platform, SyntheticInput& keys, double clipboardRestoreDelay);

    // The desktop facilities it reads with; other readers of the focused element share them.
    // The keys are not among them: they go out only through inputGate().
    const Platform& platform() const { return platform_; }
    // Which element of the front program has the focus, for every reader of another program.
    FocusResolver& focusResolver() { return resolver_; }
    SyntheticInputGate& inputGate() { return gate_; }

    ClipboardFallbackCallback onWillUseClipboardFallback() const override;
    void setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) override;

    QCoro::Task<FocusedTextFieldSnapshot> readFocusedField() override;
    QCoro::Task<FocusedTextFieldSnapshot> readFocusedSelection(bool notifyClipboardFallback) override;
    QCoro::Task<void> replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot snapshot) override;

    // The Translate command's probe: the focused selection without any key or clipboard. A
    // text element answers through accessibility alone (none selected means none, whatever
    // PRIMARY still holds); where the tree cannot tell (no accessible focused element, or a
    // document whose selection lies in its descendants) the PRIMARY selection is read when the
    // front application holds it. No focus poll: the snapshot comes back at once, without an
    // element when the front application shows no accessible focused element.
    QCoro::Task<FocusedTextFieldSnapshot> probeFocusedSelection();
    QCoro::Task<FocusedTextFieldSnapshot> prepareFocusedFieldWithRetry(int retryCount, double retryDelay) override;

    // To be called at every end of a workflow run that did not replace the field's text: when
    // the run's whole-field read had to cut the text out of the field (editors that copy
    // nothing without a selection), the text is pasted back, or, when that is impossible,
    // left on the clipboard. Does nothing otherwise.
    QCoro::Task<void> restoreCutTextIfUnreplaced() override;
    std::optional<FieldStepTimes> takeStepTimes() override { return steps_.take(); }

    // Replaces the element's whole text through accessibility and puts the caret at its end;
    // the field is read back. `notTaken` when the value cannot be set or the field still holds
    // `before` (some applications answer the write as done and change nothing: such an
    // application, `processId`, 0: unknown, is remembered, and later replacements in it paste at
    // once); `tookOtherText` when it holds something else (a part of the text, cut to the
    // field's maximum length).
    struct ValueWrite {
        enum Outcome { written, notTaken, tookOtherText } outcome = notTaken;
        std::optional<QString> readBack;  // the field's text after the write, as the user sees it
    };
    QCoro::Task<ValueWrite> writeValue(QString text, AccessibleElementHandle element, QString before,
                                       qint64 processId = 0);

    // Whether a field holds a text written to it, as far as fields can tell: line ends and
    // no-break spaces as the field stores them, a trailing line break added by rich-text
    // fields, are not differences.
    static bool fieldHoldsText(const QString& fieldText, const QString& written);

    ClipboardFallbacks& clipboardFallbacks() { return fallbacks_; }

    // Whether another program's window than the one the last command read from or wrote to is in
    // front now: the user went on there, and keys they type are meant for it.
    bool userMovedAwayFromTarget() const;

private:
    // What the reads of one command saw of a front program without a focused element.
    struct WithoutElement {
        bool seen = false;  // the last read found no focused element
        std::optional<FrontApplication> firstWindow;
        std::optional<FrontApplication> lastWindow;
    };
    // readFocusedField(); `pollForFocus`: wait for a lazily built tree (one run polls once, not
    // once per read; that first read records the window the command started on).
    QCoro::Task<FocusedTextFieldSnapshot> readWholeField(bool pollForFocus,
                                                         std::shared_ptr<WithoutElement> withoutElement);
    // The field of a program in front that publishes no focused element, copied with keystrokes
    // (never in a terminal or in this program's own windows).
    QCoro::Task<FocusedTextFieldSnapshot> readFieldByKeyboard(FrontApplication window);
    // The field's text copied by keys, with the select-all only where it takes the field alone.
    QCoro::Task<std::optional<ClipboardFallbacks::CopiedField>> copyWithinField(std::optional<FrontApplication> front);
    // The selection as a copy through the clipboard gives it; a terminal's (no key ever goes
    // there) as its PRIMARY selection. `focusedRole`: that of the focused element, when one was
    // found.
    QCoro::Task<std::optional<QString>> readSelectionOutsideAccessibility(bool notifyClipboardFallback,
                                                                          std::optional<FrontApplication> front,
                                                                          std::optional<AccessibleRole> focusedRole);
    QCoro::Task<bool> shouldProbeClipboardForStructuredSelection(std::optional<FrontApplication> front,
                                                                 AccessibleElementHandle element);
    static std::optional<QRectF> validScreenFrame(const std::optional<QRectF>& frame);
    QCoro::Task<void> requireTrust();
    // The front application's PRIMARY selection when it is current; absent otherwise.
    QCoro::Task<std::optional<QString>> readPrimarySelection(std::optional<FrontApplication> front);
    // What accessibility says of a focused element's text and selection (a selection reported
    // only as a range is cut from the text); a password field is no field.
    struct AccessibleSelectionRead {
        std::optional<AccessibleRole> role;
        std::optional<QString> value;
        std::optional<TextRange> range;
        std::optional<QString> selected;
        std::optional<QRectF> frame;
    };
    QCoro::Task<AccessibleSelectionRead> readAccessibleSelection(AccessibleElementHandle element);
    // An element's text, its embedded objects and (when asked) its selection, read in one job;
    // nothing when unanswered.
    QCoro::Task<ReportedFieldText> readReported(AccessibleElementHandle element, bool withSelection,
                                                int measuringScale = 1);
    // readReported(), made again (`fieldReadRetryDelay` apart, at most `fieldReadAttempts` reads,
    // measuring longer each time) while it could not see all of the field's objects, so that
    // only what was seen counts as an object without text. A read that changed the text ends
    // the looks: the last read that showed the text stands.
    QCoro::Task<ReportedFieldText> readReportedSeeingObjects(AccessibleElementHandle element, bool withSelection);
    // One accessibility query through the accessibility thread, "absent" when unanswered.
    template <typename Result>
    QCoro::Task<Result> askAbout(AccessibleElementHandle element,
                                 Result (Accessibility::*query)(const AccessibleElementHandle&));
    // The paste path of a replacement; a paste that cannot be sent, or that would not reach the
    // snapshot's field, leaves the text unplaced.
    // `lineSelected`: the snapshot's selection is a line selected inside the object that holds
    // it, which browsers may report with the line breaks around it: so it counts as unmoved.
    QCoro::Task<void> pasteOrGiveBack(QString newText, bool replacingAllText, FocusedTextFieldSnapshot snapshot,
                                      bool lineSelected = false);
    // Whether keystrokes sent now reach the field the snapshot was read from: the window read
    // from is still in front, and its focused element is still the snapshot's (the input gate
    // checks the window again as each key goes).
    QCoro::Task<bool> pasteReachesField(FocusedTextFieldSnapshot snapshot);
    // A field's text (and, when asked, its selection) now, as the user sees them; no text when
    // it has none.
    struct FieldNow {
        std::optional<QString> text;
        std::optional<TextRange> selection;
        // The object that answered, and what it reported.
        AccessibleElementHandle element;
        ReportedFieldText reported;
    };
    QCoro::Task<FieldNow> readFieldNow(AccessibleElementHandle element, bool withSelection);
    // Whether a whole-field paste's select-all can show in the field: its whole text is not
    // selected already. `before` gets the field as the user has it right before (to put back a
    // select-all handled late), and the object the keys go to.
    QCoro::Task<bool> readBeforeSelectAll(FocusedTextFieldSnapshot snapshot, std::shared_ptr<FieldNow> before);
    // The focused element of the snapshot's window when it is another object than the snapshot's;
    // null otherwise.
    QCoro::Task<AccessibleElementHandle> focusedOtherElement(FocusedTextFieldSnapshot snapshot);
    // The field's selection as it was read (the caret at the end when it was not known), after
    // its program refused a paste or its lines were put back: our select-all must not stay for
    // the user's next key (putSelectionBackInField()).
    QCoro::Task<void> putSelectionBack(FocusedTextFieldSnapshot snapshot);
    // Whether the snapshot's field has the keyboard focus now: its window in front and the field,
    // or an object in its place, its focused element.
    QCoro::Task<bool> hasFocus(FocusedTextFieldSnapshot snapshot);
    // The snapshot's field now; when its object no longer answers, the focused element of its
    // window.
    QCoro::Task<FieldNow> readSnapshotFieldNow(FocusedTextFieldSnapshot snapshot, bool withSelection);
    // What changed in the field since the snapshot was read ("text", or "selection" when
    // `selectionToo`), logged; absent when nothing did or nothing accessible can tell.
    QCoro::Task<std::optional<QString>> changeSinceRead(FocusedTextFieldSnapshot snapshot, bool selectionToo,
                                                        bool lineSelected = false);
    // What a field showed after a write instead of the result: "unchanged",
    // "original_then_result", "other", "unreadable", or "not_fetched" (nothing shows the field
    // and its program did not take the paste).
    struct WriteProblem {
        QString found;
        qsizetype expectedLength = 0;
        std::optional<qsizetype> foundLength;
        std::optional<QString> foundText;
    };
    // What a write of `result` should leave in the field the snapshot was read from: the result
    // over the selection, or as the whole text.
    struct WriteExpectation {
        WriteExpectation(const QString& newText, const FocusedTextFieldSnapshot& snapshot, bool replacedSelection);
        bool shows(const QString& text) const;
        QString result;
        QString expected;  // the whole field, where the place is known
        QString before;    // the field when it was read
        bool replacedSelection = false;
        bool placeUnknown = false;
    };
    // The snapshot's field after a write: its object, or the object its program put in its place.
    QCoro::Task<std::optional<QString>> readFieldAfterWrite(FocusedTextFieldSnapshot snapshot,
                                                            WriteExpectation expectation);
    static ClipboardFallbacks::FieldAfterPaste fieldAfterPaste(const std::optional<QString>& found,
                                                               const WriteExpectation& expectation);
    // What a field that does not show the result shows instead.
    static WriteProblem judgeWrite(const QString& found, const WriteExpectation& expectation);
    // Whether the field shows `newText` where it was put (over the selection, or as the whole
    // text), waiting a while after a paste; where nothing accessible shows the field, whether its
    // program fetched the paste. Absent when it does.
    QCoro::Task<std::optional<WriteProblem>> checkReplacement(QString newText, FocusedTextFieldSnapshot snapshot,
                                                              bool replacedSelection, bool pasted);
    // The same for a field that only copying reads: its program's fetch, then, for a field copied
    // whole, the field copied again.
    QCoro::Task<std::optional<WriteProblem>> checkCopiedReplacement(QString newText, FocusedTextFieldSnapshot snapshot);
    QCoro::Task<void> replaceFieldReadByKeyboard(QString newText, FocusedTextFieldSnapshot snapshot,
                                                 std::uint64_t userInputAtWrite);
    // A spreadsheet cell that is selected, not edited: one line pasted onto it, read back.
    QCoro::Task<void> replaceSelectedCell(QString newText, FocusedTextFieldSnapshot snapshot);
    // Where the element reports no selection but only a caret, and its program reports a
    // selection made backward that way: the PRIMARY selection, when the front program holds it
    // and its text stands right after the caret, is the selection. `reported` then says so;
    // true when it was changed.
    QCoro::Task<bool> takeSelectionFromPrimary(AccessibleElementHandle element, ReportedFieldText& reported,
                                               std::optional<FrontApplication> front);
    // A field left holding a cut or mangled copy of the result (not the result whole).
    static bool isPartialWrite(const WriteProblem& problem, const QString& newText);
    // The field gets back the text it was read with, written the way the result went in (through
    // accessibility, or by pasting), and read back; `partial` is what the write left there.
    QCoro::Task<void> putBackValue(FocusedTextFieldSnapshot snapshot, QString partial);
    QCoro::Task<void> putBackByPaste(FocusedTextFieldSnapshot snapshot, QString partial);
    // Where `found` is the field's text `before` with `result` inserted whole at one place (a paste
    // whose select-all was lost lands at the caret): that place.
    static std::optional<TextRange> insertedResult(const QString& found, const QString& before, const QString& result);
    // A paste left `found`, neither the result nor the user's text: the field gets the user's text
    // back, unless the user has pressed a key or a button since `userInputAtWrite`. A result beside
    // the user's text is taken out (takeOutPastedResult(), undoPasteByKeys()); other text is pasted
    // over with the user's text. Either is read back.
    QCoro::Task<void> putBackAfterPaste(FocusedTextFieldSnapshot snapshot, QString result, QString found,
                                        std::uint64_t userInputAtWrite);
    // The result, `inserted` in the accessible field's `found`, selected alone and read back so,
    // then deleted; else the field stays as the paste left it.
    QCoro::Task<void> takeOutPastedResult(FocusedTextFieldSnapshot snapshot, QString found, TextRange inserted,
                                          std::uint64_t userInputAtWrite);
    // A field that only copying reads: the paste undone by its program's own undo, only where that
    // program edits its own fields (no page of a browser's or an Electron program's); copied again.
    QCoro::Task<void> undoPasteByKeys(FocusedTextFieldSnapshot snapshot, QString found, std::uint64_t userInputAtWrite);
    // After a whole-field paste that the field shows as `found`, neither the result nor what it
    // held: where the text it held still stands selected whole (the paste went in beside it), the
    // selection is collapsed to its end at once, unless the user has acted since the write began.
    // Whether it was looked at.
    QCoro::Task<bool> collapseSelectAllBeside(FocusedTextFieldSnapshot snapshot, QString found,
                                              std::chrono::milliseconds sincePaste);
    // Whether the field still holds every object without text it was read with: a write whose
    // text reads right may still have taken a picture away. Not when it cannot be read.
    QCoro::Task<bool> keepsObjectsWithoutText(FocusedTextFieldSnapshot snapshot);
    // A field holding lists or paragraphs, written whole: each line of the result goes over its
    // line alone (selected in the object that holds it, and pasted), so that list items stay items
    // and paragraphs paragraphs; where that fails midway the field gets back the text it was read
    // with. A result whose lines do not match the field's is not written, and the field left as
    // it was: with lists at stake (`lists`) the result is offered for copying, else the answer is
    // false and the field is written as a whole instead.
    QCoro::Task<bool> replaceLineByLine(QString newText, FocusedTextFieldSnapshot snapshot, bool lists);
    // Whether the user pressed a key or a pointer button since the current write began: from then
    // on the field is theirs, and no step of ours selects, pastes or puts back anything there.
    bool userActedSinceWrite() const { return fallbacks_.userInput() != userInputAtWrite_; }
    // A link's address goes with the words written over them as plain text: where fewer than
    // `links` of the field's would stay (`kept`), the field is left as the user wrote it and
    // `newText` offered for copying, with that reason.
    static void refuseWhereLinksGo(qsizetype links, qsizetype kept, const QString& newText);
    // readReported() for a line write, asked again when unanswered.
    QCoro::Task<ReportedFieldText> readLinesOf(AccessibleElementHandle element, bool withSelection);
    // Writes `targets` over the field's lines one by one; whether every line now holds its own.
    QCoro::Task<bool> writeLines(FocusedTextFieldSnapshot snapshot, QStringList targets);
    // Writes line `index` of `targets` over its line, piece by piece between the inline objects
    // the result keeps; whether the line now holds it.
    QCoro::Task<bool> writeLine(FocusedTextFieldSnapshot snapshot, QStringList targets, qsizetype index);
    // Selects `line` (its range in the object it lies in) and waits until the field shows it
    // selected, at `inSeen` in the field's seen text `seen`, and still does a moment later where
    // its program may move the selection away; whether it does.
    QCoro::Task<bool> selectLine(AccessibleElementHandle element, AccessibleLine line, QString seen, TextRange inSeen,
                                 qsizetype index);
    // Pastes `target` over `line` (or the piece of it given), `at` in the field's seen text
    // `seen`, once the field shows it selected, and reads it back.
    QCoro::Task<bool> writeLinePiece(FocusedTextFieldSnapshot snapshot, QString seen,
                                     std::shared_ptr<const SeenAccessibleText> text, AccessibleLine line, qsizetype at,
                                     QString target, qsizetype index);
    // Logs what a write left and hands the text back for copying.
    [[noreturn]] static void failReplacement(const QString& newText, const WriteProblem& problem);
    // Whether a focused element is the field the snapshot was read from: the same object, or the
    // object a program put in its place.
    QCoro::Task<bool> isSnapshotField(AccessibleElementHandle focused, FocusedTextFieldSnapshot snapshot);

    Platform platform_;
    FocusResolver resolver_;
    SyntheticInputGate gate_;
    ClipboardFallbacks fallbacks_;
    LateSelectAllGuard lateSelectAll_;
    // The element a whole-field read cut its text out of (null: none known).
    AccessibleElementHandle cutElement_;
    // The window the last command read its field from, or was to write to.
    std::optional<FrontApplication> targetWindow_;
    // Programs (by process) that answered an accessibility write as done and kept their text.
    std::set<qint64> writesNotTaken_;
    FieldStepClock steps_;
    // The user's presses counted when the current write began (replaceFocusedFieldText()).
    std::uint64_t userInputAtWrite_ = 0;
};

// In the header: every file of the accessor's members asks through it.
template <typename Result>
QCoro::Task<Result> FocusedTextFieldAccessor::askAbout(AccessibleElementHandle element,
                                                       Result (Accessibility::*query)(const AccessibleElementHandle&)) {
    const auto work = [element, query](Accessibility& ax) { return (ax.*query)(element); };
    co_return co_await ask(platform_.accessibility, work);
}

}  // namespace tavrolin
