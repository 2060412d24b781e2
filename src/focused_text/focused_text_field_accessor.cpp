#include "focused_text/focused_text_field_accessor.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "focused_text/accessible_field_read.h"
#include "focused_text/clipboard_selection_text.h"
#include "language/focused_text_replacement_fallback.h"
#include "platform/scheduler_sleep.h"
#include "platform/selection_replacement_check.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <memory>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

bool isEmpty(const std::optional<QString>& text) {
    return !text || text->isEmpty();
}

bool isTextRole(const std::optional<AccessibleRole>& role) {
    return role == AccessibleRole::textField || role == AccessibleRole::textArea || role == AccessibleRole::comboBox ||
           role == AccessibleRole::searchField;
}

std::chrono::milliseconds secondsToDuration(double seconds) {
    if (!(seconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::milliseconds(std::llround(std::min(seconds, 3600.0) * 1000.0));
}

// Whether a select-all in `window` would take more than the field the user is in: the office's
// fields are parts of one document (a text's paragraphs, a sheet's cells, a slide's text boxes),
// and its select-all takes the whole document, which a paste over it would replace.
bool selectAllTakesMoreThanField(const std::optional<FrontApplication>& window) {
    if (!window || !window->applicationIdentifier) {
        return false;
    }
    const QString& identifier = *window->applicationIdentifier;
    return identifier.startsWith(QStringLiteral("libreoffice"), Qt::CaseInsensitive) ||
           identifier.compare(QStringLiteral("soffice"), Qt::CaseInsensitive) == 0;
}

}  // namespace

const QSet<QString>& FocusedTextFieldAccessor::knownWebContentApplicationIdentifiers() {
    static const QSet<QString> applications = {
        "firefox",
        "Firefox",
        "firefox-esr",
        "firefoxdeveloperedition",
        "firefox-aurora",
        "zen",
        "Google-chrome",
        "Google-chrome-beta",
        "Google-chrome-unstable",
        "Chromium",
        "chromium",
        "Brave-browser",
        "Brave-browser-beta",
        "Microsoft-edge",
        "Microsoft-edge-beta",
        "Microsoft-edge-dev",
    };
    return applications;
}

FocusedTextFieldAccessor::FocusedTextFieldAccessor(Platform platform, SyntheticInput& keys,
                                                   double clipboardRestoreDelay)
    : platform_(platform),
      resolver_({platform.accessibility, platform.frontApplications, platform.scheduler}),
      gate_({keys, platform.frontApplications, platform.scheduler, platform.ownWindowHasKeyboard, platform.windowPing,
             platform.processes, &resolver_, platform.keyActivity}),
      fallbacks_(platform.clipboard, gate_, platform.scheduler, secondsToDuration(clipboardRestoreDelay),
                 platform.windowPing, platform.processes, platform.keyActivity),
      lateSelectAll_(platform.accessibility, platform.scheduler, resolver_, platform.keyActivity, platform.clock),
      steps_(platform.clock) {}

FocusedTextFieldAccessing::ClipboardFallbackCallback FocusedTextFieldAccessor::onWillUseClipboardFallback() const {
    return fallbacks_.onWillUseClipboardFallback();
}

void FocusedTextFieldAccessor::setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) {
    fallbacks_.setOnWillUseClipboardFallback(std::move(callback));
}

QCoro::Task<ReportedFieldText> FocusedTextFieldAccessor::readReported(AccessibleElementHandle element,
                                                                      bool withSelection, int measuringScale) {
    const auto read = [element, withSelection, measuringScale](Accessibility& ax) {
        return readReportedFieldText(ax, element, withSelection, measuringScale);
    };
    const ReportedFieldText unanswered;
    co_return co_await ask(platform_.accessibility, read, unanswered, reportedFieldTextBound * measuringScale);
}

QCoro::Task<ReportedFieldText> FocusedTextFieldAccessor::readReportedSeeingObjects(AccessibleElementHandle element,
                                                                                   bool withSelection) {
    ReportedFieldText reported = co_await readReported(element, withSelection);
    int reads = 1;
    int scale = 1;
    // A busy program may leave an object unanswered, or its characters unmeasured within the
    // read's time: each look measures twice as long as the one before, up to four times.
    while (reported.value && !reported.sawEverything() && reads < fieldReadAttempts) {
        co_await sleepFor(platform_.scheduler, fieldReadRetryDelay);
        scale = 1 << std::min(reads, 2);
        ++reads;
        ReportedFieldText again = co_await readReported(element, withSelection, scale);
        if (!again.value) {
            continue;  // unanswered this time
        }
        if (again.value != reported.value) {
            break;  // the user changed the field meanwhile
        }
        reported = std::move(again);
    }
    // Room between characters' boxes measured while the program laid its text out anew may be
    // no picture at all: where a read saw some, it counts only where a second read sees it too.
    // That read measures as long as the one that saw everything, and a look the busy program
    // leaves short is made again, longer: room seen once is no reason to refuse the field.
    if (reported.value && reported.sawEverything() && holdsRoomWithoutCharacters(reported)) {
        for (int looks = 0; looks < fieldReadAttempts - 1; ++looks) {
            co_await sleepFor(platform_.scheduler, fieldReadRetryDelay);
            ++reads;
            const ReportedFieldText again = co_await readReported(element, withSelection, scale);
            if (again.value && again.value != reported.value) {
                break;  // the user changed the field meanwhile
            }
            if (again.value && again.sawEverything()) {
                keepRoomSeenTwice(reported, again);
                break;
            }
            scale = std::min(scale * 2, 4);
        }
    }
    if (reads > 1) {
        AppLog::app().info(QStringLiteral("focused field objects looked at again reads=%1 unread=%2 unmeasured=%3")
                               .arg(reads)
                               .arg(reported.unreadObjects)
                               .arg(reported.unmeasured ? QStringLiteral("true") : QStringLiteral("false")));
    }
    co_return reported;
}

QCoro::Task<void> FocusedTextFieldAccessor::requireTrust() {
    // Only a "no" counts: a check that got no answer in time (the accessibility thread still
    // busy with a slow program) is no reason to send the user to the accessibility settings;
    // the read then goes on and finds what it can.
    const auto query = [](Accessibility& ax) { return ax.isTrusted(); };
    const bool trusted = co_await ask(platform_.accessibility, query, true);
    if (!trusted) {
        throw CaptureWorkflowError(Case::accessibilityPermissionDenied);
    }
}

std::optional<QRectF> FocusedTextFieldAccessor::validScreenFrame(const std::optional<QRectF>& frame) {
    if (!frame || !(frame->width() > 1.0) || !(frame->height() > 1.0)) {
        return std::nullopt;
    }
    return frame;
}

QCoro::Task<bool> FocusedTextFieldAccessor::shouldProbeClipboardForStructuredSelection(
    std::optional<FrontApplication> front, AccessibleElementHandle element) {
    const bool chromium = co_await askAbout(element, &Accessibility::isChromiumControl);
    if (chromium) {
        co_return true;
    }
    co_return front &&
        front->applicationIdentifier&& knownWebContentApplicationIdentifiers().contains(*front->applicationIdentifier);
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readFocusedField() {
    co_return co_await readWholeField(true, std::make_shared<WithoutElement>());
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readWholeField(
    bool pollForFocus, std::shared_ptr<WithoutElement> withoutElement) {
    withoutElement->seen = false;
    co_await requireTrust();
    const std::optional<FrontApplication> front = co_await resolver_.frontWindowOffThread();
    targetWindow_ = front;
    if (pollForFocus) {
        withoutElement->firstWindow = front;
    }
    // A terminal's "field" is its whole screen and scrollback, and the keys that would select
    // and copy it interrupt or reach the program running there. A terminal emulator's window is
    // not waited for: an editor with a terminal panel has its tree up already.
    const bool terminalWindow = co_await gate_.isTerminalWindow(front);
    AccessibleElementHandle element;
    if (pollForFocus && !terminalWindow) {
        element = co_await resolver_.focusedElementWaitingForTree(front);
    } else {
        element = co_await resolver_.focusedElement(front);
    }
    steps_.mark(FieldStepClock::Step::focus);
    if (!element && terminalWindow) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    if (!element) {
        withoutElement->seen = true;
        withoutElement->lastWindow = front;
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    // A spreadsheet whose cell is only selected has its sheet focused: the cell under its cursor
    // is read (a copy would leave the sheet's "copied" mark, which the user's next Return pastes).
    const AccessibleElementHandle cursorCell = co_await askAbout(element, &Accessibility::spreadsheetCursorCell);
    if (cursorCell) {
        element = cursorCell;
    }
    std::optional<AccessibleRole> role;
    ReportedFieldText reported;
    for (bool firstLook = true;; firstLook = false) {
        role = co_await askAbout(element, &Accessibility::role);
        if (role == AccessibleRole::secureTextField) {
            // A password entry offers only its bullets, and its secret must never be copied.
            throw CaptureWorkflowError(Case::noFocusedTextField);
        }
        reported = co_await readReportedSeeingObjects(element, true);
        if (cursorCell || !firstLook || !pollForFocus || reported.value || reported.selectedText || isTextRole(role)) {
            break;
        }
        // A container without any text has the focus: its program may be handing the focus back
        // to its field (looked for once per run), else the keystroke copy below reads it.
        const AccessibleElementHandle field = co_await resolver_.focusedElementWithText(front);
        if (!field) {
            break;
        }
        element = field;
    }
    if (SyntheticInputGate::isTerminal(terminalWindow, role)) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    const std::optional<QRectF> reportedFrame = co_await askAbout(element, &Accessibility::frame);
    const std::optional<QRectF> frame = validScreenFrame(reportedFrame);
    // A selection its range does not bear out is dropped there: the command then takes the whole
    // field, and replaces it whole.
    const bool fromPrimary = !cursorCell && co_await takeSelectionFromPrimary(element, reported, front);
    FocusedTextFieldSnapshot read =
        snapshotFromAccessibleRead(element, reported, UnconfirmedSelection::dropped, frame, front);
    read.selectionReportedAsCaret = fromPrimary && !isEmpty(read.selectedText);
    if (cursorCell) {
        read.selectedSpreadsheetCell = true;
        read.selectedText.reset();
        read.selectedRange.reset();
        if (read.fullText.isEmpty()) {
            // An empty cell: nothing to read, and no copy is sent to find out.
            throw CaptureWorkflowError(Case::focusedTextFieldEmpty);
        }
    }
    if (!read.fullText.isEmpty() || !isEmpty(read.selectedText)) {
        // Asked while the program answers: a write that later goes unanswered must not fall
        // back to a select-all that takes in the rest of the document.
        if (role == AccessibleRole::textArea) {
            read.partOfLargerText = co_await askAbout(element, &Accessibility::isPartOfLargerText);
        }
        steps_.mark(FieldStepClock::Step::field);
        co_return read;
    }
    if (co_await askAbout(element, &Accessibility::isSpreadsheet)) {
        // A sheet whose cursor's cell is not known (it has not moved since we started): a copy
        // would leave the sheet's "copied" mark for the user's next Return to paste.
        AppLog::app().notice(QStringLiteral("focused field is a spreadsheet whose cursor cell is unknown: not copied"));
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    // Nothing readable through accessibility: the field may still hold text that only a copy
    // reaches (custom editors).
    const std::optional<ClipboardFallbacks::CopiedField> copied = co_await copyWithinField(front);
    steps_.mark(FieldStepClock::Step::field);
    if (fallbacks_.unreplacedCutText()) {
        cutElement_ = element;
    }
    if (copied && !copied->text.isEmpty()) {
        FocusedTextFieldSnapshot snapshot{element, copied->text, copied->text, TextRange{0, copied->text.size()},
                                          frame,   front};
        snapshot.wholeFieldCopied = copied->afterSelectAll;
        snapshot.readByKeyboard = true;
        snapshot.copyHoldsListsOrTables = copied->html && htmlHoldsListsOrTables(*copied->html);
        snapshot.links = copied->html ? htmlLinks(*copied->html) : 0;
        co_return snapshot;
    }
    if (!reported.value && !reported.selectedText) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    throw CaptureWorkflowError(isTextRole(role) ? Case::focusedTextFieldEmpty : Case::noFocusedTextField);
}

QCoro::Task<FocusedTextFieldAccessor::AccessibleSelectionRead> FocusedTextFieldAccessor::readAccessibleSelection(
    AccessibleElementHandle element) {
    AccessibleSelectionRead read;
    read.role = co_await askAbout(element, &Accessibility::role);
    if (read.role == AccessibleRole::secureTextField) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    const ReportedFieldText reported = co_await readReported(element, true);
    const std::optional<QRectF> reportedFrame = co_await askAbout(element, &Accessibility::frame);
    read.frame = validScreenFrame(reportedFrame);
    const FocusedTextFieldSnapshot seen =
        snapshotFromAccessibleRead(element, reported, UnconfirmedSelection::kept, read.frame, std::nullopt);
    read.value = reported.value ? std::optional<QString>(seen.fullText) : std::nullopt;
    read.range = seen.selectedRange;
    read.selected = seen.selectedText;
    if (isEmpty(read.selected) && read.range && !isEmpty(read.value) &&
        isValidRange(*read.range, read.value->size(), 1)) {
        read.selected = read.value->mid(read.range->location, read.range->length);
    }
    co_return read;
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readFocusedSelection(bool notifyClipboardFallback) {
    co_await requireTrust();
    const std::optional<FrontApplication> front = co_await resolver_.frontWindowOffThread();
    targetWindow_ = front;
    const AccessibleElementHandle element = co_await resolver_.focusedElementWaitingForTree(front);
    if (!element) {
        const std::optional<QString> copied =
            co_await readSelectionOutsideAccessibility(notifyClipboardFallback, front, std::nullopt);
        if (!copied) {
            throw CaptureWorkflowError(Case::noFocusedTextField);
        }
        co_return FocusedTextFieldSnapshot{nullptr,      QString(), copied, TextRange{0, copied->size()},
                                           std::nullopt, front};
    }
    const AccessibleSelectionRead read = co_await readAccessibleSelection(element);
    const std::optional<QString>& value = read.value;
    const std::optional<TextRange>& range = read.range;
    const std::optional<QRectF>& frame = read.frame;
    std::optional<QString> selected = read.selected;
    if (selected && isPlaceholderOnlySelection(*selected)) {
        // A web document's stand-in for a selection that lies in its paragraphs.
        selected = QString();
    }
    bool probeClipboard = true;
    if (!isEmpty(selected)) {
        probeClipboard = co_await shouldProbeClipboardForStructuredSelection(front, element);
    }
    if (!probeClipboard) {
        co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame, front};
    }
    // Nothing selected as far as accessibility knows, or a browser that flattens paragraphs:
    // ask the clipboard too and keep the text with more of its structure.
    const std::optional<QString> copied =
        co_await readSelectionOutsideAccessibility(notifyClipboardFallback, front, read.role);
    if (copied) {
        if (isEmpty(selected) || selectionStructureScore(*copied) > selectionStructureScore(*selected)) {
            selected = copied;
        }
    }
    co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame, front};
}

bool FocusedTextFieldAccessor::userMovedAwayFromTarget() const {
    const std::optional<FrontApplication> front = resolver_.frontWindow();
    // Nothing in front, or a window of ours (a card, an alert, the copy window itself): the
    // user chose no other program.
    if (!front || !targetWindow_ || front->processId == QCoreApplication::applicationPid()) {
        return false;
    }
    return front->processId != targetWindow_->processId || front->windowId != targetWindow_->windowId;
}

bool FocusedTextFieldAccessor::fieldHoldsText(const QString& fieldText, const QString& written) {
    const auto normalized = [](const QString& text) {
        QString result = withUnixLineEnds(text);
        result.replace(QChar(0x00A0), QLatin1Char(' '));
        while (result.endsWith(QLatin1Char('\n'))) {
            result.chop(1);
        }
        return result;
    };
    return normalized(fieldText) == normalized(written);
}

QCoro::Task<std::optional<QString>> FocusedTextFieldAccessor::readPrimarySelection(
    std::optional<FrontApplication> front) {
    if (!platform_.primarySelection || !front) {
        co_return std::nullopt;
    }
    const std::optional<PrimarySelectionRead> read = co_await platform_.primarySelection->readPrimarySelection();
    co_return read ? currentSelectionText(*read, front) : std::nullopt;
}

QCoro::Task<bool> FocusedTextFieldAccessor::takeSelectionFromPrimary(AccessibleElementHandle element,
                                                                     ReportedFieldText& reported,
                                                                     std::optional<FrontApplication> front) {
    if (!platform_.primarySelection || !reported.value || !reported.selectedRange ||
        reported.selectedRange->length != 0 || !isEmpty(reported.selectedText)) {
        co_return false;
    }
    const bool backwardHidden = co_await askAbout(element, &Accessibility::reportsBackwardSelectionAsCaret);
    if (!backwardHidden) {
        co_return false;
    }
    const std::optional<QString> primary = co_await readPrimarySelection(front);
    if (!primary || primary->isEmpty()) {
        co_return false;
    }
    // A selection made backward ends at the caret's right; the office keeps owning PRIMARY after
    // the user deselects, so only text that stands right there counts.
    const qsizetype caret = reported.selectedRange->location;
    const QString& text = *reported.value;
    if (caret < 0 || caret > text.size() || text.mid(caret, primary->size()) != *primary) {
        co_return false;
    }
    AppLog::app().info(
        QStringLiteral("focused field selection shown only by PRIMARY: taken length=%1").arg(primary->size()));
    reported.selectedRange = AccessibleTextRange{caret, primary->size()};
    reported.selectedText = *primary;
    co_return true;
}

QCoro::Task<std::optional<QString>> FocusedTextFieldAccessor::readSelectionOutsideAccessibility(
    bool notifyClipboardFallback, std::optional<FrontApplication> front, std::optional<AccessibleRole> focusedRole) {
    const bool terminalWindow = co_await gate_.isTerminalWindow(front);
    if (SyntheticInputGate::isTerminal(terminalWindow, focusedRole)) {
        // Its copy chords reach the running program as Control+C; what it highlights is its
        // PRIMARY selection.
        co_return co_await readPrimarySelection(front);
    }
    co_return co_await fallbacks_.readSelectedTextViaClipboard(notifyClipboardFallback, front);
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::probeFocusedSelection() {
    co_await requireTrust();
    const std::optional<FrontApplication> front = co_await resolver_.frontWindowOffThread();
    const AccessibleElementHandle element = co_await resolver_.focusedElement(front);
    if (!element) {
        if (front) {
            // Chromium and Electron programs publish their tree only once asked: asked now, the
            // next command finds their fields. Not waited for: the probe decides at once.
            co_await resolver_.requestTreeOnce(front->processId, treeRequestBound);
        }
        const std::optional<QString> primary = co_await readPrimarySelection(front);
        if (!primary) {
            co_return FocusedTextFieldSnapshot{nullptr, QString(), std::nullopt, std::nullopt, std::nullopt, front};
        }
        co_return FocusedTextFieldSnapshot{nullptr,      QString(), primary, TextRange{0, primary->size()},
                                           std::nullopt, front};
    }
    const AccessibleSelectionRead read = co_await readAccessibleSelection(element);
    const std::optional<AccessibleRole>& role = read.role;
    const std::optional<QString>& value = read.value;
    const std::optional<TextRange>& range = read.range;
    const std::optional<QRectF>& frame = read.frame;
    const std::optional<QString>& selected = read.selected;
    if (!isEmpty(selected) && !isPlaceholderOnlySelection(*selected)) {
        co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame, front};
    }
    bool textElement = isTextRole(role);
    if (!textElement) {
        textElement = co_await askAbout(element, &Accessibility::isEditable);
    }
    if (!textElement) {
        // A document or container: the selection may lie in its descendants, out of its sight.
        const std::optional<QString> primary = co_await readPrimarySelection(front);
        if (primary) {
            co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), primary, std::nullopt, frame, front};
        }
    }
    co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), std::nullopt, range, frame, front};
}

QCoro::Task<FocusedTextFieldAccessor::ValueWrite> FocusedTextFieldAccessor::writeValue(QString text,
                                                                                       AccessibleElementHandle element,
                                                                                       QString before,
                                                                                       qint64 processId) {
    AccessibilityCalls& calls = platform_.accessibility;
    const auto setValue = [element, text](Accessibility& ax) { return ax.setValue(element, text); };
    const bool settable = co_await askAbout(element, &Accessibility::isValueSettable);
    if (!settable) {
        co_return ValueWrite{ValueWrite::notTaken, std::nullopt};
    }
    const bool set = co_await ask(calls, setValue);
    steps_.mark(FieldStepClock::Step::write);
    if (!set) {
        co_return ValueWrite{ValueWrite::notTaken, std::nullopt};
    }
    // An accepted write is no proof: the field is read back (an unanswered read proves nothing
    // either, and counts as not written).
    const ReportedFieldText after = co_await readReported(element, false);
    const std::optional<QString> seen = seenValue(after);
    if (!seen || !fieldHoldsText(*seen, text)) {
        AppLog::app().notice(QStringLiteral("focused field write not taken length=%1 read_back=%2")
                                 .arg(text.size())
                                 .arg(seen ? QString::number(seen->size()) : QStringLiteral("none")));
        if (!seen) {
            co_return ValueWrite{ValueWrite::notTaken, std::nullopt};
        }
        if (fieldHoldsText(*seen, before)) {
            if (processId > 0) {
                // A program that answers writes as done and keeps its text (Firefox) does so for
                // every field: its next replacements go straight to the paste.
                writesNotTaken_.insert(processId);
            }
            co_return ValueWrite{ValueWrite::notTaken, seen};
        }
        // The field took something else (a part of the text, cut to its maximum length).
        co_return ValueWrite{ValueWrite::tookOtherText, seen};
    }
    const AccessibleTextRange caret{after.value->size(), 0};
    const auto placeCaret = [element, caret](Accessibility& ax) { return ax.setSelectedRange(element, caret); };
    co_await ask(calls, placeCaret);
    steps_.mark(FieldStepClock::Step::check);
    co_return ValueWrite{ValueWrite::written, seen};
}

QCoro::Task<void> FocusedTextFieldAccessor::replaceFieldReadByKeyboard(QString newText,
                                                                       FocusedTextFieldSnapshot snapshot,
                                                                       std::uint64_t userInputAtWrite) {
    // Nothing accessible shows this field. A whole field copied after select-all is selected
    // again (its selection may be long gone); a selection the user made was copied as it
    // stood, and the paste goes over it.
    co_await pasteOrGiveBack(newText, snapshot.wholeFieldCopied, snapshot);
    steps_.mark(FieldStepClock::Step::write);
    fallbacks_.forgetCutText();
    const std::optional<WriteProblem> problem = co_await checkCopiedReplacement(newText, snapshot);
    steps_.mark(FieldStepClock::Step::check);
    if (problem && problem->foundText && problem->found != QStringLiteral("unchanged")) {
        // Neither the result nor the user's text: the user's text goes back before the result is
        // offered.
        co_await putBackAfterPaste(snapshot, newText, *problem->foundText, userInputAtWrite);
    }
    if (problem) {
        failReplacement(newText, *problem);
    }
}

void FocusedTextFieldAccessor::refuseWhereLinksGo(qsizetype links, qsizetype kept, const QString& newText) {
    if (kept >= links) {
        return;
    }
    AppLog::app().notice(QStringLiteral("focused field holds links the result would not keep: not written links=%1 "
                                        "links_kept=%2 length=%3")
                             .arg(links)
                             .arg(kept)
                             .arg(newText.size()));
    throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
                                         false, FocusedTextReplacementFallback::linkNotKeptReason);
}

QCoro::Task<void> FocusedTextFieldAccessor::replaceFocusedFieldText(QString newText,
                                                                    FocusedTextFieldSnapshot snapshot) {
    steps_.skip();
    targetWindow_ = snapshot.sourceWindow;
    const std::uint64_t userInputAtWrite = fallbacks_.userInput();
    userInputAtWrite_ = userInputAtWrite;
    if (snapshot.sourceWindow) {
        fallbacks_.laterCommandIn(snapshot.sourceWindow->windowId);
    }
    if (snapshot.readByKeyboard && snapshot.copyHoldsListsOrTables) {
        // Its lists and tables would become plain lines: the user's field is left as it is.
        AppLog::app().notice(
            QStringLiteral("focused field read by keyboard holds lists or tables: not written length=%1")
                .arg(newText.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    if (snapshot.readByKeyboard) {
        // Its links' addresses would go with the words pasted over them.
        refuseWhereLinksGo(snapshot.links, 0, newText);
    }
    if (!snapshot.element && snapshot.readByKeyboard) {
        co_await replaceFieldReadByKeyboard(newText, snapshot, userInputAtWrite);
        co_return;
    }
    if (!snapshot.element) {
        throw CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText);
    }
    const AccessibleElementHandle element = snapshot.element;
    // Only a selection read with the text, from the same element, is replaced alone; a whole
    // field copied after select-all is replaced whole.
    const bool hasSelection = !isEmpty(snapshot.selectedText) && !snapshot.wholeFieldCopied;
    if (hasSelection ? snapshot.selectionHoldsObjectWithoutText : snapshot.holdsObjectWithoutText) {
        // An image or a control in the field shows in no text: whatever is written over it, by
        // accessibility or a paste, takes it away.
        // The log tells what the read saw: how many objects without text the field holds, and
        // how many of them are only what could not be seen.
        AppLog::app().notice(
            QStringLiteral("focused field holds an object without text where the result would go: not written "
                           "selection=%1 length=%2 objects_without_text=%3 %4 unread=%5 unmeasured=%6")
                .arg(hasSelection ? QStringLiteral("true") : QStringLiteral("false"))
                .arg(newText.size())
                .arg(snapshot.objectsWithoutText)
                .arg(snapshot.objectsWithoutTextSeen)
                .arg(snapshot.unreadObjects)
                .arg(snapshot.unmeasuredText ? QStringLiteral("true") : QStringLiteral("false")));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    if (snapshot.selectedSpreadsheetCell) {
        co_await replaceSelectedCell(newText, snapshot);
        co_return;
    }
    if (hasSelection) {
        refuseWhereLinksGo(snapshot.selectionLinks, 0, newText);
    }
    if (snapshot.listItems > 0 && !hasSelection) {
        co_await replaceLineByLine(newText, snapshot, true);
        co_return;
    }
    if ((snapshot.paragraphs > 1 || snapshot.links > 0) && !hasSelection) {
        // A paste of lines would make the paragraphs lines of one (Firefox) or the browser's own;
        // a paste over a whole paragraph would take its links away, where written piece by piece
        // those whose words the result keeps stay.
        const bool written = co_await replaceLineByLine(newText, snapshot, false);
        if (written) {
            co_return;
        }
        refuseWhereLinksGo(snapshot.links, 0, newText);
    }
    if (snapshot.listItems > 0 && snapshot.selectedText->contains(QLatin1Char('\n'))) {
        // Lines pasted over list items become plain lines, or items of one list with their
        // markers typed in: the user's lists are left as they are, and the result offered.
        AppLog::app().notice(
            QStringLiteral("focused field holds a list where the result would go: not written items=%1 length=%2")
                .arg(snapshot.listItems)
                .arg(newText.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    AccessibilityCalls& calls = platform_.accessibility;
    if (hasSelection && snapshot.selectionReportedAsCaret && snapshot.selectedRange &&
        !co_await changeSinceRead(snapshot, false)) {
        // Selected again forward, so that its program reports it, to the write and to the checks.
        const AccessibleTextRange range{snapshot.selectedRange->location, snapshot.selectedRange->length};
        const auto select = [element, range](Accessibility& ax) { return ax.setSelectedRange(element, range); };
        co_await ask(calls, select);
    }
    // Accessibility writes reach the field wherever its window is; keystrokes only go to what
    // is in front, so they come last and only after checking where they would land.
    bool placed = false;
    const qint64 processId = snapshot.sourceWindow ? snapshot.sourceWindow->processId : 0;
    const bool writesIgnored = processId > 0 && writesNotTaken_.contains(processId);
    bool chromium = false;
    bool cellEditor = false;
    if (!writesIgnored) {
        chromium = co_await askAbout(element, &Accessibility::isChromiumControl);
    }
    if (!writesIgnored && !chromium) {
        cellEditor = co_await askAbout(element, &Accessibility::isSpreadsheetCellEditor);
    }
    if (writesIgnored || snapshot.wholeFieldCopied) {
        // Known to answer accessibility writes as done and keep its text, or without text of
        // its own to write.
    } else if (chromium) {
        // Accessibility writes into Chromium's text boxes do not reach the page reliably.
    } else if (cellEditor) {
        // A write would show in the cell's editor and read back as written, yet the cell keeps
        // its old text once the edit ends: only the editor's own input reaches the cell.
        AppLog::app().info(QStringLiteral("focused field edits a spreadsheet cell: pasted into its editor length=%1")
                               .arg(newText.size()));
    } else if (co_await changeSinceRead(snapshot, hasSelection)) {
        // Nothing the user typed since the read is written over: the result is offered instead.
        // (A paste makes the same check right before its keys.)
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
                                             /*fieldChangedMeanwhile=*/true);
    } else if (hasSelection && snapshot.selectionSplitsObject) {
        // The selection begins or ends inside a link or a span: an accessibility write would
        // replace the whole object, a paste replaces what is selected.
    } else if (hasSelection) {
        const auto replaceSelection = [element, newText](Accessibility& ax) {
            return ax.setSelectedText(element, newText);
        };
        placed = co_await ask(calls, replaceSelection);
    } else {
        const ValueWrite write = co_await writeValue(newText, element, snapshot.fullText, processId);
        if (write.outcome == ValueWrite::tookOtherText) {
            // The field kept only part of the result (a maximum length): the user's text goes
            // back in, and the result to the copy window. Nothing may take our own partial
            // write for the user's change later.
            const WriteProblem problem{QStringLiteral("other"), newText.size(), write.readBack->size(), write.readBack};
            if (isPartialWrite(problem, newText)) {
                co_await putBackValue(snapshot, *write.readBack);
            }
            failReplacement(newText, problem);
        }
        placed = write.outcome == ValueWrite::written;
    }
    if (!placed && !hasSelection && snapshot.partOfLargerText) {
        // Select-all would take in the rest of the document, and the paste would replace it.
        AppLog::app().notice(
            QStringLiteral("focused field is part of a larger text: not pasted over select-all length=%1")
                .arg(newText.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    if (!placed) {
        co_await pasteOrGiveBack(newText, !hasSelection, snapshot);
    }
    steps_.mark(FieldStepClock::Step::write);
    fallbacks_.forgetCutText();
    if (placed && !hasSelection) {
        co_return;  // the value written was read back as it was written
    }
    std::optional<WriteProblem> problem = co_await checkReplacement(newText, snapshot, hasSelection, !placed);
    steps_.mark(FieldStepClock::Step::check);
    if (!problem && snapshot.objectsWithoutText > 0 && !co_await keepsObjectsWithoutText(snapshot)) {
        problem = WriteProblem{QStringLiteral("object_lost"), newText.size(), std::nullopt, std::nullopt};
    }
    if (problem && placed && isPartialWrite(*problem, newText)) {
        // A cut or mangled copy of the result: the field gets back what the user had, the same
        // way the result went in.
        co_await putBackValue(snapshot, *problem->foundText);
    } else if (problem && !placed && problem->foundText && problem->found != QStringLiteral("unchanged")) {
        // A paste that left neither the result nor the user's text (its select-all lost, the result
        // beside the user's text): the user's text goes back before the result is offered.
        co_await putBackAfterPaste(snapshot, newText, *problem->foundText, userInputAtWrite);
    }
    if (problem) {
        failReplacement(newText, *problem);
    }
}

QCoro::Task<void> FocusedTextFieldAccessor::replaceSelectedCell(QString newText, FocusedTextFieldSnapshot snapshot) {
    if (newText.contains(QLatin1Char('\n')) || newText.contains(QLatin1Char('\r')) || newText.contains(QChar(0x2028)) ||
        newText.contains(QChar(0x2029))) {
        // Lines pasted onto a selected cell go to the cells below it, through the office's import
        // dialog: the result is offered for copying, the cell left as it is.
        AppLog::app().notice(
            QStringLiteral("focused field is a selected spreadsheet cell and the result has several lines: not "
                           "written length=%1")
                .arg(newText.size()));
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText));
    }
    if (co_await changeSinceRead(snapshot, false)) {
        throw FocusedTextReplacementFallback(newText, CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText),
                                             /*fieldChangedMeanwhile=*/true);
    }
    // Pasted onto the cell, which the paste replaces whole.
    co_await pasteOrGiveBack(newText, false, snapshot);
    steps_.mark(FieldStepClock::Step::write);
    const std::optional<WriteProblem> problem = co_await checkReplacement(newText, snapshot, false, true);
    steps_.mark(FieldStepClock::Step::check);
    if (problem) {
        failReplacement(newText, *problem);
    }
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::prepareFocusedFieldWithRetry(int retryCount,
                                                                                             double retryDelay) {
    // The first read waits for a lazily built tree; the retries only look again, so a window
    // without accessible text ends the run in about 1.5 s rather than 1 s per read.
    const auto withoutElement = std::make_shared<WithoutElement>();
    const auto reads = std::make_shared<int>(0);
    const auto read = [this, withoutElement, reads] { return readWholeField((*reads)++ == 0, withoutElement); };
    bool keyboard = false;
    try {
        co_return co_await readFocusedFieldWithRetry(read, retryCount, retryDelay, platform_.scheduler);
    } catch (const CaptureWorkflowError& error) {
        if (error.errorCase() != Case::noFocusedTextField || !withoutElement->seen) {
            throw;
        }
        keyboard = true;
    }
    // Only into the window the command started on, still in front for every read.
    const std::optional<FrontApplication> window = withoutElement->firstWindow;
    if (keyboard && window && withoutElement->lastWindow &&
        window->processId == withoutElement->lastWindow->processId &&
        window->windowId == withoutElement->lastWindow->windowId) {
        co_return co_await readFieldByKeyboard(*window);
    }
    throw CaptureWorkflowError(Case::noFocusedTextField);
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readFieldByKeyboard(FrontApplication front) {
    // Not into a terminal (the keys reach the program running there), not into our own windows.
    const bool acceptsKeys = co_await gate_.acceptsKeys(front);
    if (!acceptsKeys) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    const std::optional<ClipboardFallbacks::CopiedField> copied = co_await copyWithinField(front);
    steps_.mark(FieldStepClock::Step::field);
    if (fallbacks_.unreplacedCutText()) {
        cutElement_ = nullptr;
    }
    if (!copied || copied->text.isEmpty()) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    AppLog::app().info(QStringLiteral("focused field read by keyboard length=%1").arg(copied->text.size()));
    FocusedTextFieldSnapshot snapshot{nullptr, copied->text, copied->text, TextRange{0, copied->text.size()},
                                      std::nullopt};
    snapshot.readByKeyboard = true;
    snapshot.wholeFieldCopied = copied->afterSelectAll;
    snapshot.copyHoldsListsOrTables = copied->html && htmlHoldsListsOrTables(*copied->html);
    snapshot.links = copied->html ? htmlLinks(*copied->html) : 0;
    snapshot.sourceWindow = front;
    co_return snapshot;
}

QCoro::Task<std::optional<ClipboardFallbacks::CopiedField>> FocusedTextFieldAccessor::copyWithinField(
    std::optional<FrontApplication> front) {
    // In a document whose select-all takes more than the field, only the user's selection is
    // copied: with none, the command fails rather than select, and paste over, the whole document.
    const bool selectAllAllowed = !selectAllTakesMoreThanField(front);
    std::optional<ClipboardFallbacks::CopiedField> copied = co_await fallbacks_.copyFieldText(front, selectAllAllowed);
    if (!copied && !selectAllAllowed) {
        AppLog::app().notice(QStringLiteral("focused field not found in a document: no select-all sent"));
    }
    co_return copied;
}

QCoro::Task<void> FocusedTextFieldAccessor::restoreCutTextIfUnreplaced() {
    if (!fallbacks_.unreplacedCutText()) {
        co_return;
    }
    // Back into the field it came from, never into whatever else of that program has the focus.
    FocusedTextFieldSnapshot field;
    field.element = std::exchange(cutElement_, nullptr);
    field.sourceWindow = fallbacks_.cutTextWindow();
    ClipboardFallbacks::PasteTargetCheck targetCheck = [this, field] { return pasteReachesField(field); };
    co_await fallbacks_.restoreCutText(std::move(targetCheck));
}

}  // namespace tavrolin
