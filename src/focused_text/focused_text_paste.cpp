// The paste path of a replacement: whether the keys would reach the field the snapshot was read
// from, what the field shows right before them, and the selection put back where a write did not go as asked.
#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "focused_text/accessible_text_cleaning.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/focused_text_replacement_fallback.h"
#include "platform/scheduler_sleep.h"

#include <memory>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

}  // namespace

QCoro::Task<bool> FocusedTextFieldAccessor::pasteReachesField(FocusedTextFieldSnapshot snapshot) {
    const std::optional<FrontApplication>& source = snapshot.sourceWindow;
    if (!resolver_.isInFront(source)) {
        AppLog::app().notice(QStringLiteral("focused field paste withheld: the field's window is no longer in front"));
        co_return false;
    }
    if (!snapshot.element) {
        co_return true;
    }
    AccessibleElementHandle focused = co_await resolver_.focusedElement(source);
    if (!focused) {
        focused = co_await resolver_.focusedElementOfActiveWindow(source);
    }
    if (!focused) {
        if (!resolver_.isInFront(source)) {
            AppLog::app().notice(
                QStringLiteral("focused field paste withheld: the field's window is no longer in front"));
            co_return false;
        }
        // Some programs (browsers) report their focus only now and then; the window is the
        // one the text came from, and nothing says its focus moved.
        AppLog::app().info(QStringLiteral("focused field paste: focus unknown, the field's window is in front"));
        co_return true;
    }
    bool stillFocused = co_await isSnapshotField(focused, snapshot);
    if (!stillFocused) {
        const bool focusedHasText = co_await resolver_.hasText(focused);
        if (!focusedHasText) {
            // A container without text, perhaps for the moment its program hands the focus back
            // to the field: the field counts only once it has the focus again.
            const AccessibleElementHandle field = co_await resolver_.focusedElementWithText(source);
            if (field) {
                stillFocused = co_await isSnapshotField(field, snapshot);
            }
        }
    }
    if (!stillFocused) {
        // A spreadsheet reports its sheet focused beside the editor of the cell being edited,
        // which keeps the keyboard as long as the edit lasts.
        stillFocused = co_await askAbout(snapshot.element, &Accessibility::isSpreadsheetCellEditor);
    }
    if (!stillFocused) {
        AppLog::app().notice(QStringLiteral("focused field paste withheld: the field no longer has the focus"));
    }
    co_return stillFocused;
}

QCoro::Task<bool> FocusedTextFieldAccessor::isSnapshotField(AccessibleElementHandle focused,
                                                            FocusedTextFieldSnapshot snapshot) {
    const AccessibleElementHandle element = snapshot.element;
    if (snapshot.selectedSpreadsheetCell) {
        // Its sheet has the focus: the field is the cell under the sheet's cursor.
        const AccessibleElementHandle cursor = co_await askAbout(focused, &Accessibility::spreadsheetCursorCell);
        const auto same = [cursor, element](Accessibility& ax) { return ax.isSameElement(cursor, element); };
        co_return cursor&& co_await ask(platform_.accessibility, same);
    }
    const auto same = [focused, element](Accessibility& ax) { return ax.isSameElement(focused, element); };
    const bool sameElement = co_await ask(platform_.accessibility, same);
    if (sameElement) {
        co_return true;
    }
    // Some programs (Firefox) replace a field's object after a write or a script's change:
    // a focused object holding the text that was read is that field when the old object no
    // longer answers, or when it lies where the field was read.
    const ReportedFieldText reported = co_await readReported(focused, false);
    const std::optional<QString> now = seenValue(reported);
    if (!now || !fieldHoldsText(*now, snapshot.fullText)) {
        co_return false;
    }
    const std::optional<QString> old = co_await askAbout(element, &Accessibility::value);
    if (!old) {
        co_return true;
    }
    if (!snapshot.screenFrame) {
        co_return false;
    }
    const std::optional<QRectF> reportedFrame = co_await askAbout(focused, &Accessibility::frame);
    co_return validScreenFrame(reportedFrame) == snapshot.screenFrame;
}

QCoro::Task<void> FocusedTextFieldAccessor::pasteOrGiveBack(QString newText, bool replacingAllText,
                                                            FocusedTextFieldSnapshot snapshot, bool lineSelected) {
    const std::optional<FrontApplication> front = snapshot.sourceWindow;
    if (front) {
        lateSelectAll_.stopIn(front->windowId);  // this paste's select-all is its own
    }
    ClipboardFallbacks::PasteChecks checks;
    const auto fieldChanged = std::make_shared<bool>(false);
    // Where the field can be read, its paste goes only once it shows the select-all.
    const bool seeSelectAll = replacingAllText && snapshot.element && !snapshot.readByKeyboard;
    const auto beforeSelectAll = std::make_shared<FieldNow>();
    // Checked once the clipboard is saved and the keyboard free, right before the keys.
    checks.target = [this, snapshot, replacingAllText, fieldChanged, seeSelectAll, beforeSelectAll,
                     lineSelected]() -> QCoro::Task<bool> {
        if (lineSelected && userActedSinceWrite()) {
            // The line selected for it may be the user's selection now, or their letters.
            AppLog::app().notice(
                QStringLiteral("focused field line paste withheld: the user pressed a key or a "
                               "button since the write began"));
            co_return false;
        }
        const bool reaches = co_await pasteReachesField(snapshot);
        if (!reaches) {
            co_return false;
        }
        const std::optional<QString> change = co_await changeSinceRead(snapshot, !replacingAllText, lineSelected);
        *fieldChanged = change.has_value();
        if (change || !seeSelectAll) {
            co_return !change;
        }
        co_return co_await readBeforeSelectAll(snapshot, beforeSelectAll);
    };
    if (snapshot.readByKeyboard) {
        // A field read by copying shows nothing accessible of what the user typed since: it is
        // copied again right before the paste.
        checks.readBefore = ClipboardFallbacks::CopiedField{snapshot.fullText, snapshot.wholeFieldCopied};
    } else if (snapshot.element) {
        // The paste's text stays on the clipboard until the field shows it.
        const WriteExpectation expectation(newText, snapshot, !replacingAllText);
        checks.fieldAfter = [this, snapshot, expectation]() -> QCoro::Task<ClipboardFallbacks::FieldAfterPaste> {
            const std::optional<QString> found = co_await readFieldAfterWrite(snapshot, expectation);
            co_return fieldAfterPaste(found, expectation);
        };
        checks.putFieldBack = [this, snapshot]() -> QCoro::Task<void> { co_await putSelectionBack(snapshot); };
        checks.fieldFocused = [this, snapshot]() -> QCoro::Task<bool> { co_return co_await hasFocus(snapshot); };
        checks.fieldText = [this, snapshot, expectation] { return readFieldAfterWrite(snapshot, expectation); };
    }
    if (seeSelectAll) {
        checks.selectAllShown = [this, beforeSelectAll]() -> QCoro::Task<bool> {
            co_return selectsWholeText((co_await readFieldNow(beforeSelectAll->element, true)).reported);
        };
    }
    const bool sent = co_await fallbacks_.pasteFallback(newText, replacingAllText, front, std::move(checks));
    if (!sent) {
        const ReportedFieldText& before = beforeSelectAll->reported;
        if (front && fallbacks_.lastPasteSelectedAllOnly()) {
            // Its program may handle the select-all late and leave the whole text selected.
            lateSelectAll_.watch(*front, beforeSelectAll->element, before);
        }
        // Nothing reached the field: the text is handed back so it can be offered for copying.
        AppLog::app().notice(QStringLiteral("focused field paste not sent length=%1").arg(newText.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
                                             *fieldChanged || fallbacks_.lastPasteFoundFieldChanged());
    }
}

QCoro::Task<bool> FocusedTextFieldAccessor::hasFocus(FocusedTextFieldSnapshot snapshot) {
    if (!resolver_.isInFront(snapshot.sourceWindow)) {
        co_return false;
    }
    const AccessibleElementHandle focused = co_await resolver_.focusedElement(snapshot.sourceWindow);
    if (!focused) {
        co_return false;
    }
    const AccessibleElementHandle element = snapshot.element;
    const auto same = [focused, element](Accessibility& ax) { return ax.isSameElement(focused, element); };
    const bool sameElement = co_await ask(platform_.accessibility, same);
    if (sameElement) {
        co_return true;
    }
    // A new object in the field's place (Firefox replaces one whose text changed): where it lies,
    // whatever it holds now.
    if (!snapshot.screenFrame) {
        co_return false;
    }
    const std::optional<QRectF> frame = co_await askAbout(focused, &Accessibility::frame);
    co_return validScreenFrame(frame) == snapshot.screenFrame;
}

QCoro::Task<FocusedTextFieldAccessor::FieldNow> FocusedTextFieldAccessor::readFieldNow(AccessibleElementHandle element,
                                                                                       bool withSelection) {
    const ReportedFieldText reported = co_await readReported(element, withSelection);
    if (!reported.value) {
        co_return FieldNow{};
    }
    const SeenAccessibleText seen(*reported.value, reported.objects);
    const std::optional<AccessibleTextRange>& range = reported.selectedRange;
    co_return FieldNow{seen.text(), range ? seen.seenRange(TextRange{range->location, range->length}) : std::nullopt,
                       element, reported};
}

QCoro::Task<bool> FocusedTextFieldAccessor::readBeforeSelectAll(FocusedTextFieldSnapshot snapshot,
                                                                std::shared_ptr<FieldNow> before) {
    // The keys go to the focused element, which may be a new object the program put in the
    // field's place (pasteReachesField() made sure it is the field); else to the object read.
    const AccessibleElementHandle replaced = co_await focusedOtherElement(snapshot);
    if (replaced) {
        *before = co_await readFieldNow(replaced, true);
    }
    if (!before->reported.value) {
        *before = co_await readFieldNow(snapshot.element, true);
        before->element = snapshot.element;
    }
    ReportedFieldText& reported = before->reported;
    if (!reported.selectedRange && snapshot.selectedRange && reported.value) {
        // Firefox tells no caret while its focus is away for a moment (our shortcut's grab): the
        // selection read with the field stands for it, counted as the program counts it (a
        // rich-text field reports each link as one character).
        const SeenAccessibleText seen(*reported.value, reported.objects, reported.unpublishedObjects);
        const TextRange was = *snapshot.selectedRange;
        const std::optional<SeenAccessibleText::Place> start = seen.reportedPlace(was.location);
        const std::optional<SeenAccessibleText::Place> end = seen.reportedPlace(was.location + was.length);
        if (seen.text() == snapshot.fullText && start && end && start->path.empty() && end->path.empty()) {
            reported.selectedRange = AccessibleTextRange{start->offset, end->offset - start->offset};
        }
    }
    if (reported.value && !reported.value->isEmpty() && selectsWholeText(reported)) {
        // A select-all would change nothing there, and so show nothing.
        AppLog::app().notice(QStringLiteral("focused field paste withheld: its whole text is selected already"));
        co_return false;
    }
    co_return true;
}

QCoro::Task<AccessibleElementHandle> FocusedTextFieldAccessor::focusedOtherElement(FocusedTextFieldSnapshot snapshot) {
    if (!snapshot.sourceWindow) {
        co_return AccessibleElementHandle{};
    }
    const AccessibleElementHandle focused = co_await resolver_.focusedElement(snapshot.sourceWindow);
    if (!focused) {
        co_return AccessibleElementHandle{};
    }
    const AccessibleElementHandle element = snapshot.element;
    const auto same = [focused, element](Accessibility& ax) { return ax.isSameElement(focused, element); };
    const bool sameElement = co_await ask(platform_.accessibility, same);
    co_return sameElement ? AccessibleElementHandle{} : focused;
}

QCoro::Task<void> FocusedTextFieldAccessor::putSelectionBack(FocusedTextFieldSnapshot snapshot) {
    const TextRange was = snapshot.selectedRange.value_or(TextRange{snapshot.fullText.size(), 0});
    AccessibilityCalls& calls = platform_.accessibility;
    Scheduler& scheduler = platform_.scheduler;
    // A field that shows no change is watched, and asked again (LateSelectAllGuard).
    const bool mayAskAgain = snapshot.sourceWindow.has_value();
    const bool backward = snapshot.selectionBackward;
    PutBackOutcome outcome = co_await putSelectionBackInField(calls, scheduler, snapshot.element, snapshot.fullText,
                                                              was, mayAskAgain, backward);
    if (outcome == PutBackOutcome::notPlaced) {
        // The program may have put a new object in the field's place (Firefox).
        const AccessibleElementHandle replaced = co_await focusedOtherElement(snapshot);
        if (replaced) {
            outcome = co_await putSelectionBackInField(calls, scheduler, replaced, snapshot.fullText, was, mayAskAgain,
                                                       backward);
        }
    }
    AppLog::app().info(QStringLiteral("focused field selection put back outcome=%1").arg(describePutBack(outcome)));
    const bool placed = outcome == PutBackOutcome::placed || outcome == PutBackOutcome::collapsed;
    if (placed && snapshot.sourceWindow && !userActedSinceWrite()) {
        // A page that refused the paste may select its whole text again for a while.
        const ReportedFieldText now = co_await readReported(snapshot.element, true);
        if (now.value && now.selectedRange && !selectsWholeText(now)) {
            lateSelectAll_.watchPutBack(*snapshot.sourceWindow, snapshot.element, now);
        }
    }
    if (!placed && snapshot.sourceWindow) {
        // Asked again a moment later, and once its window is in front, while its whole text is
        // still selected.
        const ReportedFieldText now = co_await readReported(snapshot.element, true);
        const bool asRead = now.value && SeenAccessibleText(*now.value, now.objects, now.unpublishedObjects).text() ==
                                             snapshot.fullText;
        if (asRead && selectsWholeText(now)) {
            lateSelectAll_.watchFailedPutBack(*snapshot.sourceWindow, snapshot.element, now, snapshot.fullText, was);
        }
    }
}

QCoro::Task<FocusedTextFieldAccessor::FieldNow> FocusedTextFieldAccessor::readSnapshotFieldNow(
    FocusedTextFieldSnapshot snapshot, bool withSelection) {
    const FieldNow now = co_await readFieldNow(snapshot.element, withSelection);
    if (now.text) {
        co_return now;
    }
    // The object read no longer answers (Firefox replaces a field's object when its text
    // changes): the field is the focused element of its window, when that is another object.
    const AccessibleElementHandle focused = co_await focusedOtherElement(snapshot);
    if (!focused) {
        co_return now;
    }
    co_return co_await readFieldNow(focused, withSelection);
}

QCoro::Task<std::optional<QString>> FocusedTextFieldAccessor::changeSinceRead(FocusedTextFieldSnapshot snapshot,
                                                                              bool selectionToo, bool lineSelected) {
    if (!snapshot.element) {
        co_return std::nullopt;  // nothing accessible to read it by
    }
    FieldNow now = co_await readSnapshotFieldNow(snapshot, selectionToo);
    // A busy program may answer a read with no text at all (AbiWord and Gnumeric under load):
    // only text other than the field's shows a change, and an empty answer is asked again.
    int reads = 1;
    while (now.text && now.text->isEmpty() && !snapshot.fullText.isEmpty() && reads < fieldReadAttempts) {
        co_await sleepFor(platform_.scheduler, fieldReadRetryDelay);
        FieldNow again = co_await readSnapshotFieldNow(snapshot, selectionToo);
        now = std::move(again);
        ++reads;
    }
    if (!now.text) {
        co_return std::nullopt;  // a field without accessible text: only its keystroke copy read it
    }
    if (!fieldHoldsText(*now.text, snapshot.fullText)) {
        AppLog::app().notice(
            QStringLiteral("focused field changed since it was read: not written length=%1 now=%2 reads=%3")
                .arg(snapshot.fullText.size())
                .arg(now.text->size())
                .arg(reads));
        co_return QStringLiteral("text");
    }
    const bool selectionKept =
        now.selection == snapshot.selectedRange || (lineSelected && now.selection && snapshot.selectedRange &&
                                                    selectsLine(*now.text, *now.selection, *snapshot.selectedRange));
    if (selectionToo && !selectionKept) {
        AppLog::app().notice(QStringLiteral("focused field selection moved since it was read: not written"));
        co_return QStringLiteral("selection");
    }
    co_return std::nullopt;
}

}  // namespace tavrolin
