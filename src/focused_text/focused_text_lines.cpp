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

// A part of a line written with one paste: `from` and `length` in the line's seen text, and the
// words that go there.
struct LinePiece {
    qsizetype from = 0;
    qsizetype length = 0;
    QString text;
};

// An inline object of a line (a link, a formatted span) whose words the line's result keeps.
struct KeptObject {
    TextRange inLine;
    qsizetype inTarget = 0;
};

// The parts of `line` between the objects kept, each with the part of `target` that goes there.
std::vector<LinePiece> piecesBetween(const AccessibleLine& line, const QString& target,
                                     const std::vector<KeptObject>& kept) {
    std::vector<LinePiece> pieces;
    qsizetype lineFrom = 0;
    qsizetype targetFrom = 0;
    for (std::size_t k = 0; k <= kept.size(); ++k) {
        const qsizetype lineTo = k < kept.size() ? kept[k].inLine.location : line.text.size();
        const qsizetype targetTo = k < kept.size() ? kept[k].inTarget : target.size();
        pieces.push_back(LinePiece{lineFrom, lineTo - lineFrom, target.mid(targetFrom, targetTo - targetFrom)});
        if (k < kept.size()) {
            lineFrom = lineTo + kept[k].inLine.length;
            targetFrom = targetTo + kept[k].inLine.length;
        }
    }
    return pieces;
}

// Where `words` stand in `target` from `from` on as words of their own (not the end of a longer
// word, nor its start); -1 where they do not.
qsizetype wholeWordsAt(const QString& target, const QString& words, qsizetype from) {
    const auto letter = [](QChar c) { return c.isLetterOrNumber(); };
    for (qsizetype at = target.indexOf(words, from); at >= 0; at = target.indexOf(words, at + 1)) {
        const qsizetype end = at + words.size();
        const bool startsWord = at == 0 || !letter(words.front()) || !letter(target.at(at - 1));
        const bool endsWord = end == target.size() || !letter(words.back()) || !letter(target.at(end));
        if (startsWord && endsWord) {
            return at;
        }
    }
    return -1;
}

// The inline objects of `line` whose words `target` holds in the same order: they stay as they
// are, with their link or formatting, and only the words between them are pasted over. One is
// given up where a part beside it would have to be pasted over nothing or with nothing (a paste
// of nothing is none, and one at a caret replaces no selection to check).
std::vector<KeptObject> keptObjects(const AccessibleLine& line, const QString& target) {
    std::vector<KeptObject> kept;
    qsizetype from = 0;
    for (const TextRange& object : line.inlineObjects) {
        const QString words = line.text.mid(object.location, object.length);
        const bool overlaps =
            !kept.empty() && object.location < kept.back().inLine.location + kept.back().inLine.length;
        const qsizetype found = words.trimmed().isEmpty() || overlaps ? -1 : wholeWordsAt(target, words, from);
        if (found >= 0) {
            kept.push_back({object, found});
            from = found + words.size();
        }
    }
    for (bool givenUp = true; givenUp && !kept.empty();) {
        givenUp = false;
        const std::vector<LinePiece> pieces = piecesBetween(line, target, kept);
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const LinePiece& piece = pieces[k];
            const QString was = line.text.mid(piece.from, piece.length);
            if (was != piece.text && (was.isEmpty() || piece.text.isEmpty())) {
                kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(k < kept.size() ? k : k - 1));
                givenUp = true;
                break;
            }
        }
    }
    return kept;
}

// What writing each line's result over it keeps of the lines' inline objects (links and formatted
// spans): those whose words the result keeps where they stand stay, with their addresses and
// formatting; the others go with the words pasted over them.
struct InlineObjectsKept {
    qsizetype formatting = 0;  // objects that hold no link (bold, italic, a mention)
    qsizetype formattingKept = 0;
    qsizetype linksKept = 0;
};

InlineObjectsKept inlineObjectsKept(const std::vector<AccessibleLine>& lines, const QStringList& results) {
    InlineObjectsKept count;
    for (std::size_t i = 0; i < lines.size() && static_cast<qsizetype>(i) < results.size(); ++i) {
        const AccessibleLine& line = lines[i];
        const QString& result = results[static_cast<qsizetype>(i)];
        QString same = line.text;
        same.replace(QChar(0x00A0), QLatin1Char(' '));
        const bool unchanged = same == QString(result).replace(QChar(0x00A0), QLatin1Char(' '));
        const std::vector<KeptObject> kept = unchanged ? std::vector<KeptObject>{} : keptObjects(line, result);
        for (std::size_t k = 0; k < line.inlineObjects.size(); ++k) {
            const bool stays = unchanged || std::any_of(kept.begin(), kept.end(), [&](const KeptObject& object) {
                                   return object.inLine == line.inlineObjects[k];
                               });
            const qsizetype links = k < line.inlineLinks.size() ? line.inlineLinks[k] : 0;
            count.formatting += links == 0 ? 1 : 0;
            count.formattingKept += links == 0 && stays ? 1 : 0;
            count.linksKept += stays ? links : 0;
        }
    }
    return count;
}

// The last part of `line` that its result `target` changes (the whole line where it keeps none of
// its objects); absent when the line holds its result.
std::optional<LinePiece> lastChangedPiece(AccessibleLine line, QString target) {
    // A browser makes a blank beside the words it pastes a no-break space where its layout needs
    // one (Firefox before a bold word): the line holds its result all the same.
    line.text.replace(QChar(0x00A0), QLatin1Char(' '));
    target.replace(QChar(0x00A0), QLatin1Char(' '));
    if (line.text == target) {
        return std::nullopt;
    }
    const std::vector<LinePiece> pieces = piecesBetween(line, target, keptObjects(line, target));
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        if (line.text.mid(piece->from, piece->length) != piece->text) {
            return *piece;
        }
    }
    return LinePiece{0, line.text.size(), target};
}

// `piece` of `line` without the whole words at its start and end that stay the same, one word at
// least left of each side: those keep their formatting (a bold word that is no object of its own).
LinePiece withoutSharedWords(const LinePiece& piece, const QString& line) {
    const QString was = line.mid(piece.from, piece.length);
    const QString& becomes = piece.text;
    qsizetype start = 0;
    while (start + 1 < was.size() && start + 1 < becomes.size() && was.at(start) == becomes.at(start)) {
        ++start;
    }
    while (start > 0 && !was.at(start - 1).isSpace()) {
        --start;
    }
    qsizetype end = 0;
    while (end + 1 < was.size() - start && end + 1 < becomes.size() - start &&
           was.at(was.size() - 1 - end) == becomes.at(becomes.size() - 1 - end)) {
        ++end;
    }
    while (end > 0 && !was.at(was.size() - end).isSpace()) {
        --end;
    }
    return LinePiece{piece.from + start, piece.length - start - end, becomes.mid(start, becomes.size() - start - end)};
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
        if (!co_await writeLine(snapshot, targets, i)) {
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> FocusedTextFieldAccessor::writeLine(FocusedTextFieldSnapshot snapshot, QStringList targets,
                                                      qsizetype i) {
    for (std::size_t pasted = 0;; ++pasted) {
        if (userActedSinceWrite()) {
            AppLog::app().notice(
                QStringLiteral("focused field lines no longer written: the user pressed a key or a button since the "
                               "write began line=%1")
                    .arg(i));
            co_return false;
        }
        // Read again before each paste: the lines and pieces before it have changed, and with
        // them where this one lies.
        const FieldLines now = linesOf(co_await readLinesOf(snapshot.element, true));
        if (!now.lines || static_cast<qsizetype>(now.lines->size()) != targets.size()) {
            AppLog::app().notice(QStringLiteral("focused field lines changed while written line=%1").arg(i));
            co_return false;
        }
        AccessibleLine line = (*now.lines)[i];
        const std::optional<LinePiece> piece = lastChangedPiece(line, targets[i]);
        if (!piece) {
            co_return true;
        }
        if (pasted > line.inlineObjects.size()) {
            AppLog::app().notice(QStringLiteral("focused field line does not take its pieces line=%1").arg(i));
            co_return false;
        }
        qsizetype at = 0;
        for (qsizetype j = 0; j < i; ++j) {
            at += (*now.lines)[j].text.size() + 1;
        }
        // The words the piece keeps at its ends stay, where its ends lie in the line's own object.
        const auto place = [&](const LinePiece& part) -> std::optional<TextRange> {
            if (part.from == 0 && part.length == line.text.size()) {
                return line.range;
            }
            const std::optional<SeenAccessibleText::Place> start = now.text->reportedPlace(at + part.from);
            const std::optional<SeenAccessibleText::Place> end = now.text->reportedPlace(at + part.from + part.length);
            if (!start || !end || start->path != line.path || end->path != line.path || end->offset < start->offset) {
                return std::nullopt;
            }
            return TextRange{start->offset, end->offset - start->offset};
        };
        LinePiece part = withoutSharedWords(*piece, line.text);
        std::optional<TextRange> range = place(part);
        if (!range) {
            part = *piece;
            range = place(part);
        }
        if (!range) {
            AppLog::app().notice(QStringLiteral("focused field line piece lies in no object line=%1").arg(i));
            co_return false;
        }
        line.range = *range;
        line.beforeBlock = line.beforeBlock && part.from + part.length == line.text.size();
        line.text = line.text.mid(part.from, part.length);
        at += part.from;
        if (!co_await writeLinePiece(snapshot, now.seen, now.text, line, at, part.text, i)) {
            co_return false;
        }
    }
}

QCoro::Task<bool> FocusedTextFieldAccessor::selectLine(AccessibleElementHandle element, AccessibleLine line,
                                                       QString seen, TextRange inSeen, qsizetype i) {
    const std::vector<qsizetype> path = line.path;
    const AccessibleTextRange range{line.range.location, line.range.length};
    const auto select = [element, path, range](Accessibility& ax) {
        return ax.setSelectedRangeInEmbedded(element, path, range);
    };
    if (userActedSinceWrite()) {
        co_return false;  // replaceLineByLine() tells why
    }
    const bool selected = co_await ask(platform_.accessibility, select);
    if (!selected) {
        AppLog::app().notice(QStringLiteral("focused field line could not be selected line=%1").arg(i));
        co_return false;
    }
    // The program shows the selection a moment later, and reports one made inside an object
    // with the line breaks around it: the paste waits until the line shows selected. Asked for a
    // selection inside a paragraph, Firefox moves its focus there and then may put the caret at
    // the field's start, 50-100 ms later: a line inside an object must still show selected a
    // moment after it first did, and is selected again where it shows moved or long unselected.
    const bool mayMove = !path.empty();
    int selections = 1;
    std::chrono::milliseconds selectedAt{0};
    std::optional<std::chrono::milliseconds> shownAt;
    for (std::chrono::milliseconds waited{0};; waited += lineSelectionPoll) {
        const FieldNow field = co_await readFieldNow(element, true);
        const bool unchanged = field.text && *field.text == seen;
        const bool shown = unchanged && field.selection && selectsLine(*field.text, *field.selection, inSeen);
        if (shown && !shownAt) {
            shownAt = waited;
        }
        if (shown && (!mayMove || waited - *shownAt >= lineSelectionSettle)) {
            co_return true;
        }
        // Only the selection moved (text typed meanwhile is the user's: nothing is selected there).
        // A selection the user moved (a click, an arrow key) is theirs: it is never selected over.
        if (!shown && unchanged && mayMove && (shownAt || waited - selectedAt >= lineSelectionSettle)) {
            if (userActedSinceWrite()) {
                AppLog::app().notice(QStringLiteral("focused field line not selected again: the user pressed a key "
                                                    "or a button since the write began line=%1")
                                         .arg(i));
                co_return false;
            }
            if (selections == lineSelectionAttempts || !co_await ask(platform_.accessibility, select)) {
                AppLog::app().notice(QStringLiteral("focused field line selection did not stay line=%1").arg(i));
                co_return false;
            }
            ++selections;
            selectedAt = waited;
            shownAt.reset();
        }
        if (waited >= lineSelectionBound) {
            AppLog::app().notice(QStringLiteral("focused field line did not show selected line=%1").arg(i));
            co_return false;
        }
        co_await sleepFor(platform_.scheduler, lineSelectionPoll);
    }
}

QCoro::Task<bool> FocusedTextFieldAccessor::writeLinePiece(FocusedTextFieldSnapshot snapshot, QString seen,
                                                           std::shared_ptr<const SeenAccessibleText> text,
                                                           AccessibleLine line, qsizetype at, QString target,
                                                           qsizetype i) {
    if (line.beforeBlock) {
        // A selection ending right before a nested list ends, for Chromium, at the start of its
        // first item, and the paste then joins the two. The line's end that the result shares
        // stays: the selection ends inside the line's own text.
        const qsizetype kept = sharedEnd(line.text, target);
        const std::optional<SeenAccessibleText::Place> end =
            kept > 0 ? text->reportedPlace(at + line.text.size() - kept) : std::nullopt;
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
    if (!co_await selectLine(snapshot.element, line, seen, TextRange{at, line.text.size()}, i)) {
        co_return false;
    }
    FocusedTextFieldSnapshot step = snapshot;
    step.fullText = seen;
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
    const qsizetype links = before.text->links();
    const InlineObjectsKept kept = inlineObjectsKept(*before.lines, results);
    refuseWhereLinksGo(links, kept.linksKept, newText);
    bool linksLost = false;
    bool written = co_await writeLines(snapshot, results);
    steps_.mark(FieldStepClock::Step::write);
    if (userActedSinceWrite()) {
        // What the field holds now may be the user's: nothing of ours goes over it, neither the
        // rest of the lines nor what it held before, nor a selection. Written whole, the result is
        // there beside their doing; else it is offered for copying.
        steps_.mark(FieldStepClock::Step::check);
        AppLog::app().notice(QStringLiteral("focused field left as it is: the user pressed a key or a button since "
                                            "the write began lines=%1 written=%2")
                                 .arg(results.size())
                                 .arg(written ? QStringLiteral("true") : QStringLiteral("false")));
        if (written) {
            co_return true;
        }
        // The copy window leaves them the keyboard: their next keys are meant for the field.
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
                                             /*fieldChangedMeanwhile=*/true);
    }
    if (written) {
        const FieldLines after = linesOf(co_await readLinesOf(snapshot.element, false));
        linksLost = !after.text || after.text->links() < links;
        written = fieldHoldsText(after.seen, newText) && after.listItems == before.listItems && !linksLost;
        if (!written) {
            AppLog::app().notice(QStringLiteral("focused field lines written but the field differs: length=%1 found=%2 "
                                                "items=%3 found_items=%4 links=%5 found_links=%6")
                                     .arg(newText.size())
                                     .arg(after.seen.size())
                                     .arg(before.listItems)
                                     .arg(after.listItems)
                                     .arg(links)
                                     .arg(after.text ? after.text->links() : 0));
        }
    }
    steps_.mark(FieldStepClock::Step::check);
    if (written) {
        // A formatted span whose words the result does not keep where they stood loses its
        // formatting: written all the same, and told.
        AppLog::app().info(QStringLiteral("focused field written line by line lines=%1 items=%2 links=%3 "
                                          "links_kept=%4 formatting_kept=%5 formatting_lost=%6")
                               .arg(results.size())
                               .arg(before.listItems)
                               .arg(links)
                               .arg(kept.linksKept)
                               .arg(kept.formattingKept)
                               .arg(kept.formatting - kept.formattingKept));
        co_return true;
    }
    // What the user had goes back the same way, line by line, lists and markers kept.
    const bool back = co_await writeLines(snapshot, originals);
    const FieldLines now = linesOf(co_await readLinesOf(snapshot.element, false));
    // The caret and selection go back too (or at least nothing stays selected), unless the user
    // has put them somewhere meanwhile.
    if (!userActedSinceWrite()) {
        co_await putSelectionBack(snapshot);
    }
    if (back && fieldHoldsText(now.seen, snapshot.fullText) && now.listItems == before.listItems) {
        AppLog::app().notice(
            QStringLiteral("focused field put back as it was length=%1").arg(snapshot.fullText.size()));
    } else {
        AppLog::app().notice(QStringLiteral("focused field could not be put back length=%1 found_length=%2")
                                 .arg(snapshot.fullText.size())
                                 .arg(now.seen.size()));
    }
    throw FocusedTextReplacementFallback(
        newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText), false,
        linksLost ? std::optional(FocusedTextReplacementFallback::linkNotKeptReason) : std::nullopt);
}

}  // namespace tavrolin
