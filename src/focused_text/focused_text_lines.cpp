// A rich-text field with lists or paragraphs written line by line: a paste of several lines over a
// select-all turns list items into plain lines (or into items of one list with their markers typed
// in) and paragraphs into lines of one paragraph, so each line of the result goes over its own
// line, inside the object that holds it.
#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "focused_text/accessible_text_cleaning.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/focused_text_replacement_fallback.h"
#include "language/message_lines.h"
#include "platform/scheduler_sleep.h"
#include "platform/selection_replacement_check.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

struct FieldLines {
    QString seen;
    qsizetype listItems = 0;
    std::optional<std::vector<AccessibleLine>> lines;
    std::shared_ptr<const SeenAccessibleText> text;  // null when unanswered
};

FieldLines linesOf(const ReportedFieldText& reported) {
    if (!reported.value) {
        return FieldLines{};
    }
    auto seen =
        std::make_shared<const SeenAccessibleText>(*reported.value, reported.objects, reported.unpublishedObjects);
    return FieldLines{seen->text(), seen->listItems(),
                      accessibleLines(*reported.value, reported.objects, reported.unpublishedObjects), seen};
}

// How many characters at the end of `line` the result of it ends with too, one at least of each
// left to select and to paste.
qsizetype sharedEnd(const QString& line, const QString& result) {
    qsizetype shared = 0;
    while (shared + 1 < line.size() && shared + 1 < result.size() &&
           line.at(line.size() - 1 - shared) == result.at(result.size() - 1 - shared)) {
        ++shared;
    }
    // Never half a surrogate pair.
    if (shared > 0 && line.at(line.size() - shared).isLowSurrogate()) {
        --shared;
    }
    return shared;
}

}  // namespace

QCoro::Task<ReportedFieldText> FocusedTextFieldAccessor::readLinesOf(AccessibleElementHandle element,
                                                                     bool withSelection) {
    // A program busy elsewhere may leave a read unanswered, or answer it with no text: that is no
    // change of its lines (a field written line by line holds a list).
    ReportedFieldText reported;
    for (int attempt = 1;; ++attempt) {
        reported = co_await readReported(element, withSelection);
        if ((reported.value && !reported.value->isEmpty()) || attempt == fieldReadAttempts) {
            co_return reported;
        }
        co_await sleepFor(platform_.scheduler, fieldReadRetryDelay);
    }
}

QCoro::Task<bool> FocusedTextFieldAccessor::writeLines(FocusedTextFieldSnapshot snapshot, QStringList targets) {
    for (qsizetype i = 0; i < targets.size(); ++i) {
        // Read again before each line: the lines before it have changed, and with them where
        // this one lies.
        const FieldLines now = linesOf(co_await readLinesOf(snapshot.element, true));
        if (!now.lines || static_cast<qsizetype>(now.lines->size()) != targets.size()) {
            AppLog::app().notice(QStringLiteral("focused field lines changed while written line=%1").arg(i));
            co_return false;
        }
        AccessibleLine line = (*now.lines)[i];
        QString target = targets[i];
        if (line.text == target) {
            continue;
        }
        qsizetype at = 0;
        for (qsizetype j = 0; j < i; ++j) {
            at += (*now.lines)[j].text.size() + 1;
        }
        if (line.beforeBlock) {
            // A selection ending right before a nested list ends, for Chromium, at the start of its
            // first item, and the paste then joins the two. The line's end that the result shares
            // stays: the selection ends inside the line's own text.
            const qsizetype kept = sharedEnd(line.text, target);
            const std::optional<SeenAccessibleText::Place> end =
                kept > 0 ? now.text->reportedPlace(at + line.text.size() - kept) : std::nullopt;
            if (!end || end->path != line.path || end->offset <= line.range.location) {
                AppLog::app().notice(
                    QStringLiteral("focused field line before a nested block shares no end with its result line=%1")
                        .arg(i));
                co_return false;
            }
            line.text.chop(kept);
            line.range.length = end->offset - line.range.location;
            target.chop(kept);
        }
        const AccessibleElementHandle element = snapshot.element;
        const std::vector<qsizetype> path = line.path;
        const AccessibleTextRange range{line.range.location, line.range.length};
        const auto select = [element, path, range](Accessibility& ax) {
            return ax.setSelectedRangeInEmbedded(element, path, range);
        };
        const bool selected = co_await ask(platform_.accessibility, select);
        if (!selected) {
            AppLog::app().notice(QStringLiteral("focused field line could not be selected line=%1").arg(i));
            co_return false;
        }
        // The program shows the selection a moment later, and reports one made inside an object
        // with the line breaks around it: the paste waits until the line shows selected.
        for (std::chrono::milliseconds waited{0};; waited += lineSelectionPoll) {
            const FieldNow field = co_await readFieldNow(element, true);
            if (field.text && *field.text == now.seen && field.selection &&
                selectsLine(*field.text, *field.selection, TextRange{at, line.text.size()})) {
                break;
            }
            if (waited >= lineSelectionBound) {
                AppLog::app().notice(QStringLiteral("focused field line did not show selected line=%1").arg(i));
                co_return false;
            }
            co_await sleepFor(platform_.scheduler, lineSelectionPoll);
        }
        FocusedTextFieldSnapshot step = snapshot;
        step.fullText = now.seen;
        step.selectedText = line.text;
        step.selectedRange = TextRange{at, line.text.size()};
        step.listItems = 0;
        step.holdsObjectWithoutText = false;
        step.objectsWithoutText = 0;
        try {
            co_await pasteOrGiveBack(target, false, step, true);
        } catch (const FocusedTextReplacementFallback&) {
            co_return false;
        }
        fallbacks_.forgetCutText();
        const std::optional<WriteProblem> problem = co_await checkReplacement(target, step, true, true);
        if (problem) {
            AppLog::app().notice(
                QStringLiteral("focused field line not written line=%1 found=%2").arg(i).arg(problem->found));
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> FocusedTextFieldAccessor::replaceLineByLine(QString newText, FocusedTextFieldSnapshot snapshot,
                                                              bool lists) {
    const FieldLines before = linesOf(co_await readLinesOf(snapshot.element, true));
    QStringList results = withUnixLineEnds(newText).split(QLatin1Char('\n'));
    QStringList originals;
    if (before.lines) {
        for (const AccessibleLine& line : *before.lines) {
            originals << line.text;
        }
    }
    if (originals.size() == results.size()) {
        for (qsizetype i = 0; i < results.size(); ++i) {
            results[i] = asLineOf(results[i], originals[i]);
        }
        newText = results.join(QLatin1Char('\n'));
    }
    if (!lists && (!before.lines || originals.size() != results.size())) {
        AppLog::app().info(QStringLiteral("focused field paragraphs do not match the result line by line: written "
                                          "whole lines=%1 result_lines=%2")
                               .arg(before.lines ? QString::number(originals.size()) : QStringLiteral("none"))
                               .arg(results.size()));
        co_return false;
    }
    if (!before.lines || !fieldHoldsText(before.seen, snapshot.fullText) || originals.size() != results.size()) {
        // Nothing tells which line of the result goes into which item.
        AppLog::app().notice(QStringLiteral("focused field holds a list its result does not match line by line: not "
                                            "written items=%1 lines=%2 result_lines=%3")
                                 .arg(snapshot.listItems)
                                 .arg(originals.size())
                                 .arg(results.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    bool written = co_await writeLines(snapshot, results);
    steps_.mark(FieldStepClock::Step::write);
    if (written) {
        const FieldLines after = linesOf(co_await readLinesOf(snapshot.element, false));
        written = fieldHoldsText(after.seen, newText) && after.listItems == before.listItems;
        if (!written) {
            AppLog::app().notice(QStringLiteral("focused field lines written but the field differs: length=%1 found=%2 "
                                                "items=%3 found_items=%4")
                                     .arg(newText.size())
                                     .arg(after.seen.size())
                                     .arg(before.listItems)
                                     .arg(after.listItems));
        }
    }
    steps_.mark(FieldStepClock::Step::check);
    if (written) {
        AppLog::app().info(QStringLiteral("focused field written line by line lines=%1 items=%2")
                               .arg(results.size())
                               .arg(before.listItems));
        co_return true;
    }
    // What the user had goes back the same way, line by line, lists and markers kept.
    const bool back = co_await writeLines(snapshot, originals);
    const FieldLines now = linesOf(co_await readLinesOf(snapshot.element, false));
    // The caret and selection go back too (or at least nothing stays selected).
    co_await putSelectionBack(snapshot);
    if (back && fieldHoldsText(now.seen, snapshot.fullText) && now.listItems == before.listItems) {
        AppLog::app().notice(
            QStringLiteral("focused field put back as it was length=%1").arg(snapshot.fullText.size()));
    } else {
        AppLog::app().notice(QStringLiteral("focused field could not be put back length=%1 found_length=%2")
                                 .arg(snapshot.fullText.size())
                                 .arg(now.seen.size()));
    }
    throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
}

}  // namespace tavrolin
