#pragma once

#include "core/text_units.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/front_application.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

namespace tavrolin {

// What one read of the focused text field of another application found.
struct FocusedTextFieldSnapshot {
    // The focused element; null when the text came from the clipboard without any focused
    // element (such a snapshot cannot be written back).
    AccessibleElementHandle element;
    // The field's whole text; "" when it cannot be read.
    QString fullText;
    // The selected text; may be absent or empty.
    std::optional<QString> selectedText;
    // The selection in UTF-16 units of `fullText`, as the field reported it.
    std::optional<TextRange> selectedRange;
    // The field's screen rectangle (logical pixels, y downward); only when it is wider and
    // taller than one pixel.
    std::optional<QRectF> screenFrame;
    // The window that was in front when the text was read (its application and window id);
    // absent when none was. Keystrokes meant for the field may go only to this window.
    std::optional<FrontApplication> sourceWindow;
    // The text was copied out of the front application with keystrokes, because it shows no
    // accessible focused element (no element then) or its element no text: it is written back
    // by pasting over what that copy left selected, once a second copy shows it unchanged.
    bool readByKeyboard = false;
    // The text was copied with keystrokes after select-all (it is the whole field, and nothing
    // shows whether the field is still selected when the result comes): it is written back by
    // select-all and paste, whatever `selectedText` says.
    bool wholeFieldCopied = false;
    // The element is one part of a larger editable text (a paragraph of a document), where
    // select-all takes in more than the element: it is never replaced by select-all and paste.
    bool partOfLargerText = false;
    // The field's text holds an object without text (an image, a control of a rich-text field,
    // or one that could not be read), which `fullText` leaves out: writing over the whole field
    // would remove it.
    bool holdsObjectWithoutText = false;
    // How many such objects it holds (nested ones too): the field still holds them all after a
    // write that succeeded.
    qsizetype objectsWithoutText = 0;
    // Of those, what the read could not see even when looked at again: objects that could not be
    // read, and text left unmeasured for pictures (which counts as one). Told in the log.
    int unreadObjects = 0;
    bool unmeasuredText = false;
    // Those it saw, by kind, for the log ("showing_no_text=1 unnamed=0 room=0"); empty when it
    // holds none.
    QString objectsWithoutTextSeen;
    // How many list items the field holds (a rich-text field's bulleted or numbered lists):
    // each is a line of `fullText` without its marker, and stays an item only while what is
    // written over it is written into it alone.
    qsizetype listItems = 0;
    // How many paragraphs the field holds (a rich-text field's paragraphs and list items, each on
    // lines of its own): a paste of several lines over them keeps no paragraph of the user's.
    qsizetype paragraphs = 0;
    // How many links the field holds (a rich-text field's, nested ones too; read by keystrokes,
    // those of what its program copied as HTML), and how many of them the selection takes in:
    // plain text written over a link's words takes its address away.
    qsizetype links = 0;
    qsizetype selectionLinks = 0;
    // The same for the selection: it takes in such an object.
    bool selectionHoldsObjectWithoutText = false;
    // The selection begins or ends inside the text of an embedded object (a link): a write
    // through accessibility replaces whole objects, so only a paste replaces just the selection.
    bool selectionSplitsObject = false;
    // The element is a spreadsheet's cell that is selected, not being edited: its text was read
    // through accessibility, and only a paste onto the cell (no select-all, which would take in
    // the whole sheet) writes it.
    bool selectedSpreadsheetCell = false;
    // The selection showed only in the PRIMARY selection (its program reports a selection made
    // backward as a caret): it is selected again, forward, before it is written over.
    bool selectionReportedAsCaret = false;
    // The selection was made backward (the caret at its start), as the field reported it: it is
    // put back so where the program lets it be.
    bool selectionBackward = false;
    // Read by keystrokes, and what its program copied as HTML holds lists or tables: a paste of
    // plain text over them leaves plain lines, so the result is offered for copying instead.
    bool copyHoldsListsOrTables = false;

    bool operator==(const FocusedTextFieldSnapshot&) const = default;
};

// How long the steps of reading and writing a field took, in milliseconds: finding the focused
// element (with the waits for a tree built late and between retries), reading its text,
// selection and frame (or copying them by keyboard), writing the result (through
// accessibility, or the paste with its checks), and reading the field back after the write;
// and the whole time they were counted in, steps or not.
struct FieldStepTimes {
    qint64 focusMs = 0;
    qint64 fieldMs = 0;
    qint64 writeMs = 0;
    qint64 checkMs = 0;
    qint64 totalMs = 0;
};

// Told the frame of the field a service has just read (none when the field gave none), before
// the service works on its text: the caller puts its loading card there.
using FieldFrameCallback = std::function<void(const std::optional<QRectF>& fieldFrame)>;

// Reading and replacing the text of the focused field of another application. Implemented by
// the focused-text accessor and by the onboarding's practice accessor. Failures are
// CaptureWorkflowError exceptions; everything runs on the main thread.
class FocusedTextFieldAccessing {
public:
    using ClipboardFallbackCallback = std::function<void()>;

    virtual ~FocusedTextFieldAccessing() = default;

    // Runs just before a clipboard fallback touches the clipboard; unset by default.
    virtual ClipboardFallbackCallback onWillUseClipboardFallback() const = 0;
    virtual void setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) = 0;

    // The whole field (for operations on the selection or else the whole text).
    virtual QCoro::Task<FocusedTextFieldSnapshot> readFocusedField() = 0;
    // The current selection; the result may hold an absent or empty selection.
    virtual QCoro::Task<FocusedTextFieldSnapshot> readFocusedSelection(bool notifyClipboardFallback) = 0;
    // Puts `newText` over the selection when the snapshot had a non-empty one, else over the
    // whole field. Throws failedToReplaceFocusedTextFieldText when the snapshot has no element
    // and was not read by keyboard; a FocusedTextReplacementFallback carrying `newText` when the
    // field no longer holds what was read (nothing is written then) or, written, does not show
    // the result.
    virtual QCoro::Task<void> replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot snapshot) = 0;
    // readFocusedField(), read again after `retryDelay` seconds while no focused field is found,
    // at most 1 + max(retryCount, 0) reads in all.
    virtual QCoro::Task<FocusedTextFieldSnapshot> prepareFocusedFieldWithRetry(int retryCount, double retryDelay) = 0;
    // At every end of a run that did not replace the field's text: puts back a text the run's
    // whole-field read had to cut out of the field. Nothing for an accessor that never cuts.
    virtual QCoro::Task<void> restoreCutTextIfUnreplaced() { co_return; }

    // The time each step took since the last call, and the whole time since then (whatever ran
    // between a read and a write, the service, belongs to no step); counting starts anew. None
    // from an accessor that does not measure.
    virtual std::optional<FieldStepTimes> takeStepTimes() { return std::nullopt; }
    // replaceFocusedFieldText(), except that the failures which leave the text unplaced
    // (noFocusedTextField, focusedTextFieldReadOnly, failedToReplaceFocusedTextFieldText)
    // become a FocusedTextReplacementFallback carrying `newText`, so the caller can offer the
    // text for copying. Every other error passes through unchanged.
    QCoro::Task<void> replaceFocusedFieldTextOrPresentCopyFallback(QString newText, FocusedTextFieldSnapshot snapshot);
};

// The retry loop behind prepareFocusedFieldWithRetry(), shared by every implementation: calls
// `read`; on noFocusedTextField waits max(retryDelay, 0) seconds on `scheduler` and reads
// again, at most 1 + max(retryCount, 0) reads; any other error is rethrown at once.
QCoro::Task<FocusedTextFieldSnapshot> readFocusedFieldWithRetry(
    std::function<QCoro::Task<FocusedTextFieldSnapshot>()> read, int retryCount, double retryDelay,
    Scheduler& scheduler);

}  // namespace tavrolin
