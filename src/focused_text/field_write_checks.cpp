// What a write left in the field: the result judged where it was put, a field put back as it was
// when the write cut or mangled it, and the failure logged and handed back for copying.
#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "focused_text/accessible_text_cleaning.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/focused_text_replacement_fallback.h"
#include "platform/scheduler_sleep.h"

#include <QElapsedTimer>

#include <chrono>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

}  // namespace

FocusedTextFieldAccessor::WriteExpectation::WriteExpectation(const QString& newText,
                                                             const FocusedTextFieldSnapshot& snapshot,
                                                             bool replacedSelection)
    : result(newText), expected(newText), before(snapshot.fullText), replacedSelection(replacedSelection) {
    // A selection read without its range (copied only) is judged by the result showing in a
    // changed field: where in the text it went is not known.
    placeUnknown = replacedSelection && !snapshot.selectedRange;
    if (replacedSelection && snapshot.selectedRange) {
        expected = snapshot.fullText;
        expected.replace(snapshot.selectedRange->location, snapshot.selectedRange->length, newText);
    }
}

bool FocusedTextFieldAccessor::WriteExpectation::shows(const QString& text) const {
    if (placeUnknown) {
        return !fieldHoldsText(text, before) && text.contains(result);
    }
    return fieldHoldsText(text, expected);
}

QCoro::Task<std::optional<QString>> FocusedTextFieldAccessor::readFieldAfterWrite(FocusedTextFieldSnapshot snapshot,
                                                                                  WriteExpectation expectation) {
    std::optional<QString> found = (co_await readSnapshotFieldNow(snapshot, false)).text;
    if (found && !expectation.shows(*found)) {
        // The program may have put a new object in the field's place, the old one still
        // answering with the old text: the focused one shows what the write did.
        const AccessibleElementHandle focused = co_await focusedOtherElement(snapshot);
        if (focused) {
            const std::optional<QString> shown = (co_await readFieldNow(focused, false)).text;
            if (shown && expectation.shows(*shown)) {
                found = shown;
            }
        }
    }
    co_return found;
}

ClipboardFallbacks::FieldAfterPaste FocusedTextFieldAccessor::fieldAfterPaste(const std::optional<QString>& found,
                                                                              const WriteExpectation& expectation) {
    using Seen = ClipboardFallbacks::FieldAfterPaste;
    if (!found) {
        return Seen::unknown;
    }
    if (expectation.shows(*found)) {
        return Seen::showsResult;
    }
    return fieldHoldsText(*found, expectation.before) ? Seen::unchanged : Seen::changed;
}

FocusedTextFieldAccessor::WriteProblem FocusedTextFieldAccessor::judgeWrite(const QString& found,
                                                                            const WriteExpectation& expectation) {
    WriteProblem problem{QString(), expectation.expected.size(), found.size(), found};
    if (fieldHoldsText(found, expectation.before)) {
        problem.found = QStringLiteral("unchanged");
    } else if (!expectation.replacedSelection && fieldHoldsText(found, expectation.before + expectation.result)) {
        problem.found = QStringLiteral("original_then_result");
    } else {
        problem.found = QStringLiteral("other");
    }
    return problem;
}

QCoro::Task<std::optional<FocusedTextFieldAccessor::WriteProblem>> FocusedTextFieldAccessor::checkReplacement(
    QString newText, FocusedTextFieldSnapshot snapshot, bool replacedSelection, bool pasted) {
    if (pasted && snapshot.readByKeyboard && !snapshot.wholeFieldCopied) {
        // Its object published no text when it was read (a Gnumeric sheet, its selected cell
        // copied): asking it again shows nothing however long it is asked, and only its program's
        // fetch tells, as for a selection read by keys without an object. A field copied whole
        // (AbiWord) is still given the time to show the paste before its fetch decides: a copy of
        // it right after the paste let AbiWord beside a clipboard manager paste the user's
        // clipboard (2 runs in 10).
        co_return co_await checkCopiedReplacement(newText, snapshot);
    }
    const WriteExpectation expectation(newText, snapshot, replacedSelection);
    // A paste shows once its program has fetched the text and handled it: looked for a while.
    std::optional<QString> found;
    std::chrono::milliseconds waited{0};
    bool collapsed = false;
    for (;;) {
        // A read left unanswered (a program busy for a moment) takes nothing from what the field
        // showed before it.
        std::optional<QString> read = co_await readFieldAfterWrite(snapshot, expectation);
        if (read) {
            found = std::move(read);
        }
        if (pasted && !replacedSelection && !collapsed && found && !expectation.shows(*found) &&
            !fieldHoldsText(*found, expectation.before)) {
            collapsed = co_await collapseSelectAllBeside(snapshot, *found, waited);
        }
        // A field read through accessibility that has not answered at all since is asked for longer
        // before its program's fetch is all there is to go by: a program busy for a moment shows a
        // paste it mangled later. One whose text only copying reads never answers.
        const bool answersReads = !snapshot.readByKeyboard;
        const std::chrono::milliseconds bound = found || !answersReads ? pasteShowBound : pasteReadBound;
        if ((found && expectation.shows(*found)) || !pasted || waited >= bound) {
            break;
        }
        co_await sleepFor(platform_.scheduler, pasteShowPoll);
        waited += pasteShowPoll;
    }
    if (pasted) {
        // What the field shows decides when the user's clipboard comes back.
        fallbacks_.pasteSeenInField(fieldAfterPaste(found, expectation));
    }
    if (found) {
        if (expectation.shows(*found)) {
            co_return std::nullopt;
        }
        co_return judgeWrite(*found, expectation);
    }
    WriteProblem problem{QString(), expectation.expected.size(), std::nullopt, std::nullopt};
    if (pasted) {
        // Nothing accessible shows the field: that its program took the pasted text must do.
        const bool fetched = co_await fallbacks_.waitForPasteFetch(pasteShowBound);
        if (fetched) {
            co_return std::nullopt;
        }
        problem.found = QStringLiteral("not_fetched");
    } else {
        problem.found = QStringLiteral("unreadable");
    }
    co_return problem;
}

QCoro::Task<bool> FocusedTextFieldAccessor::collapseSelectAllBeside(FocusedTextFieldSnapshot snapshot, QString found,
                                                                    std::chrono::milliseconds sincePaste) {
    if (snapshot.readByKeyboard || !snapshot.element || userActedSinceWrite()) {
        co_return false;
    }
    // A page that inserts the paste itself (beside the select-all, at the end) may leave the
    // user's whole text selected: their next key would replace it, and the result with it.
    const FieldNow now = co_await readSnapshotFieldNow(snapshot, true);
    const QString held = snapshot.fullText.trimmed();
    if (held.isEmpty() || !now.text || *now.text != found || !now.selection || now.selection->length == 0 ||
        !now.text->mid(now.selection->location, now.selection->length).contains(held) || userActedSinceWrite()) {
        co_return false;
    }
    const TextRange caret{now.selection->location + now.selection->length, 0};
    QElapsedTimer collapsing;
    collapsing.start();
    PutBackOutcome outcome =
        co_await putSelectionBackInField(platform_.accessibility, platform_.scheduler, now.element, found, caret);
    if (outcome == PutBackOutcome::notPlaced && !userActedSinceWrite()) {
        // The program may have put a new object in the field's place (Firefox).
        const AccessibleElementHandle replaced = co_await focusedOtherElement(snapshot);
        if (replaced) {
            outcome =
                co_await putSelectionBackInField(platform_.accessibility, platform_.scheduler, replaced, found, caret);
        }
    }
    AppLog::app().notice(QStringLiteral("focused field select-all left beside the paste collapsed outcome=%1 "
                                        "since_paste=%2ms")
                             .arg(describePutBack(outcome))
                             .arg(sincePaste.count() + collapsing.elapsed()));
    co_return true;
}

bool FocusedTextFieldAccessor::isPartialWrite(const WriteProblem& problem, const QString& newText) {
    // A field that holds the result whole beside something else took it; only a cut or mangled
    // copy of it is undone.
    return problem.found == QStringLiteral("other") && problem.foundText && !problem.foundText->contains(newText);
}

QCoro::Task<void> FocusedTextFieldAccessor::putBackValue(FocusedTextFieldSnapshot snapshot, QString partial) {
    const ValueWrite back = co_await writeValue(snapshot.fullText, snapshot.element, partial, 0);
    if (back.outcome == ValueWrite::written) {
        AppLog::app().notice(
            QStringLiteral("focused field put back as it was length=%1").arg(snapshot.fullText.size()));
    } else {
        AppLog::app().notice(QStringLiteral("focused field could not be put back length=%1 found_length=%2")
                                 .arg(snapshot.fullText.size())
                                 .arg(back.readBack ? QString::number(back.readBack->size()) : QStringLiteral("none")));
    }
}

std::optional<TextRange> FocusedTextFieldAccessor::insertedResult(const QString& found, const QString& before,
                                                                  const QString& result) {
    if (result.isEmpty() || found.size() != before.size() + result.size()) {
        return std::nullopt;
    }
    for (qsizetype at = found.indexOf(result); at >= 0; at = found.indexOf(result, at + 1)) {
        if (QStringView(found).left(at) == QStringView(before).left(at) &&
            QStringView(found).mid(at + result.size()) == QStringView(before).mid(at)) {
            return TextRange{at, result.size()};
        }
    }
    return std::nullopt;
}

QCoro::Task<void> FocusedTextFieldAccessor::putBackAfterPaste(FocusedTextFieldSnapshot snapshot, QString result,
                                                              QString found, std::uint64_t userInputAtWrite) {
    const auto userActed = [&] { return fallbacks_.userInput() != userInputAtWrite; };
    if (userActed()) {
        // What the field holds may be the user's own doing.
        AppLog::app().notice(QStringLiteral("focused field left as the paste left it: the user pressed a key or a "
                                            "button since the write began length=%1")
                                 .arg(found.size()));
        co_return;
    }
    if (snapshot.sourceWindow) {
        // The field is this step's now: no watch for a late paste takes it back meanwhile.
        fallbacks_.laterCommandIn(snapshot.sourceWindow->windowId);
    }
    const std::optional<TextRange> inserted = insertedResult(found, snapshot.fullText, result);
    if (!inserted) {
        co_await putBackByPaste(snapshot, found);
        co_return;
    }
    if (snapshot.element) {
        co_await takeOutPastedResult(snapshot, found, *inserted, userInputAtWrite);
    } else {
        co_await undoPasteByKeys(snapshot, found, userInputAtWrite);
    }
}

QCoro::Task<void> FocusedTextFieldAccessor::takeOutPastedResult(FocusedTextFieldSnapshot snapshot, QString found,
                                                                TextRange inserted, std::uint64_t userInputAtWrite) {
    // The result went in beside the user's text, its select-all lost. Undo is no way back: a page
    // that inserts pasted text in script (many mail and chat editors) keeps no history of it, and
    // its undo would take the user's last typing instead. The result's own range is selected,
    // read back as selected in a field that holds exactly what the paste left, and only then
    // deleted: nothing but the result can go.
    const auto userActed = [&] { return fallbacks_.userInput() != userInputAtWrite; };
    AccessibilityCalls& calls = platform_.accessibility;
    AccessibleElementHandle element = snapshot.element;
    PutBackOutcome selected = co_await putSelectionBackInField(calls, platform_.scheduler, element, found, inserted);
    if (selected == PutBackOutcome::notPlaced) {
        // The program may have put a new object in the field's place (Firefox).
        const AccessibleElementHandle replaced = co_await focusedOtherElement(snapshot);
        if (replaced) {
            element = replaced;
            selected = co_await putSelectionBackInField(calls, platform_.scheduler, element, found, inserted);
        }
    }
    const FieldNow now = co_await readFieldNow(element, true);
    const bool onlyResultSelected =
        selected == PutBackOutcome::placed && now.text == found && now.selection == std::optional<TextRange>(inserted);
    bool sent = false;
    if (onlyResultSelected && !userActed() && snapshot.sourceWindow) {
        sent = co_await gate_.sendChord(*snapshot.sourceWindow, Qt::NoModifier, Qt::Key_Delete);
    }
    std::optional<QString> after;
    for (std::chrono::milliseconds waited{0}; sent; waited += fieldReadRetryDelay) {
        co_await sleepFor(platform_.scheduler, fieldReadRetryDelay);
        after = (co_await readFieldNow(element, false)).text;
        if ((after && fieldHoldsText(*after, snapshot.fullText)) || waited >= pasteShowBound) {
            break;
        }
    }
    if (after && fieldHoldsText(*after, snapshot.fullText)) {
        co_await putSelectionBack(snapshot);
        AppLog::app().notice(QStringLiteral("focused field put back as it was: the result pasted beside its text "
                                            "taken out length=%1")
                                 .arg(snapshot.fullText.size()));
        co_return;
    }
    if (!sent && selected != PutBackOutcome::notPlaced && !userActed()) {
        // Nothing was taken out: the caret goes where the paste left it rather than stay on a
        // selection of ours.
        FocusedTextFieldSnapshot caret = snapshot;
        caret.fullText = found;
        caret.selectedRange = TextRange{inserted.location + inserted.length, 0};
        co_await putSelectionBack(caret);
    }
    AppLog::app().notice(QStringLiteral("focused field left as the paste left it: the result beside its text "
                                        "could not be shown selected alone length=%1 selected=%2 delete_sent=%3 "
                                        "found_length=%4")
                             .arg(snapshot.fullText.size())
                             .arg(describePutBack(selected))
                             .arg(sent ? QStringLiteral("true") : QStringLiteral("false"))
                             .arg(after ? QString::number(after->size()) : QStringLiteral("none")));
}

QCoro::Task<void> FocusedTextFieldAccessor::undoPasteByKeys(FocusedTextFieldSnapshot snapshot, QString found,
                                                            std::uint64_t userInputAtWrite) {
    const auto userActed = [&] { return fallbacks_.userInput() != userInputAtWrite; };
    if (!snapshot.sourceWindow) {
        co_return;
    }
    const FrontApplication window = *snapshot.sourceWindow;
    // Nothing accessible shows where the result lies: only the program's own undo takes it out,
    // and only where the program edits its own fields. There a paste is its own undo step, made by
    // the program's paste itself; a page (a browser's, an Electron program's) may insert pasted
    // text in script, outside any history, and its undo takes the user's last typing.
    const bool ownsItsEdits = co_await fallbacks_.pingProvesKeysRead(window);
    if (!ownsItsEdits) {
        AppLog::app().notice(QStringLiteral("focused field left as the paste left it: its program may keep pastes "
                                            "out of its undo length=%1")
                                 .arg(found.size()));
        co_return;
    }
    // Copied again (its copy was just made) while nothing is pressed: the field must still hold
    // exactly what the paste left, which makes the paste its last edit.
    bool sent = false;
    if (!userActed()) {
        sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_Z);
    }
    std::optional<QString> now;
    for (std::chrono::milliseconds waited{0}; sent; waited += undoCopyPoll) {
        co_await sleepFor(platform_.scheduler, undoCopyPoll);
        now = co_await fallbacks_.copyFieldAfterPaste(window);
        if ((now && fieldHoldsText(*now, snapshot.fullText)) || waited >= pasteShowBound) {
            break;
        }
    }
    if (now && fieldHoldsText(*now, snapshot.fullText)) {
        AppLog::app().notice(QStringLiteral("focused field put back as it was: the result pasted beside its text "
                                            "undone length=%1")
                                 .arg(snapshot.fullText.size()));
    } else {
        AppLog::app().notice(
            QStringLiteral("focused field could not be put back length=%1 undo_sent=%2 found_length=%3")
                .arg(snapshot.fullText.size())
                .arg(sent ? QStringLiteral("true") : QStringLiteral("false"))
                .arg(now ? QString::number(now->size())
                         : (sent ? QStringLiteral("none") : QString::number(found.size()))));
    }
}

QCoro::Task<void> FocusedTextFieldAccessor::putBackByPaste(FocusedTextFieldSnapshot snapshot, QString partial) {
    // The field as it is now: the paste goes in only while it still shows what the write left.
    FocusedTextFieldSnapshot now = snapshot;
    now.fullText = partial;
    now.selectedText.reset();
    now.selectedRange.reset();
    now.wholeFieldCopied = snapshot.readByKeyboard;
    std::optional<WriteProblem> problem;
    try {
        if (snapshot.partOfLargerText) {
            // Select-all would take in the whole document.
            throw FocusedTextReplacementFallback(snapshot.fullText,
                                                 CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
        }
        co_await pasteOrGiveBack(snapshot.fullText, true, now);
        if (snapshot.readByKeyboard) {
            problem = co_await checkCopiedReplacement(snapshot.fullText, now);
        } else {
            problem = co_await checkReplacement(snapshot.fullText, now, false, true);
        }
    } catch (const FocusedTextReplacementFallback&) {
        problem = WriteProblem{QStringLiteral("not_sent"), snapshot.fullText.size(), std::nullopt, std::nullopt};
    }
    if (!problem) {
        AppLog::app().notice(
            QStringLiteral("focused field put back as it was length=%1").arg(snapshot.fullText.size()));
    } else {
        AppLog::app().notice(QStringLiteral("focused field could not be put back length=%1 found=%2")
                                 .arg(snapshot.fullText.size())
                                 .arg(problem->found));
    }
}

QCoro::Task<std::optional<FocusedTextFieldAccessor::WriteProblem>> FocusedTextFieldAccessor::checkCopiedReplacement(
    QString newText, FocusedTextFieldSnapshot snapshot) {
    const bool fetched = co_await fallbacks_.waitForPasteFetch(pasteShowBound);
    if (!fetched) {
        co_return WriteProblem{QStringLiteral("not_fetched"), newText.size(), std::nullopt, std::nullopt};
    }
    if (!snapshot.wholeFieldCopied || !snapshot.sourceWindow) {
        // A selection pasted over cannot be copied again as it was read: its program's fetch is
        // all there is to go by.
        AppLog::app().info(
            QStringLiteral("focused field write shown by its program's fetch only length=%1").arg(newText.size()));
        co_return std::nullopt;
    }
    // Copied again the way it was read: select-all and copy.
    const std::optional<QString> copied = co_await fallbacks_.copyFieldAfterPaste(*snapshot.sourceWindow);
    if (!copied) {
        AppLog::app().info(
            QStringLiteral("focused field write shown by its program's fetch only: it could not be copied again "
                           "length=%1")
                .arg(newText.size()));
        co_return std::nullopt;
    }
    const WriteExpectation expectation(newText, snapshot, false);
    if (expectation.shows(*copied)) {
        co_return std::nullopt;
    }
    co_return judgeWrite(*copied, expectation);
}

QCoro::Task<bool> FocusedTextFieldAccessor::keepsObjectsWithoutText(FocusedTextFieldSnapshot snapshot) {
    const ReportedFieldText now = co_await readReportedSeeingObjects(snapshot.element, false);
    if (!now.value) {
        co_return false;
    }
    const SeenAccessibleText seen(*now.value, now.objects, now.unpublishedObjects);
    co_return seen.objectsWithoutText() >= snapshot.objectsWithoutText;
}

void FocusedTextFieldAccessor::failReplacement(const QString& newText, const WriteProblem& problem) {
    AppLog::app().notice(
        QStringLiteral("focused field write check failed found=%1 expected_length=%2 found_length=%3")
            .arg(problem.found)
            .arg(problem.expectedLength)
            .arg(problem.foundLength ? QString::number(*problem.foundLength) : QStringLiteral("none")));
    throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
}

}  // namespace tavrolin
