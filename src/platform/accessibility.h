#pragma once

#include <QRectF>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One object of another application's accessibility tree (a text field, a window, ...).
// Opaque: only the Accessibility implementation that produced it can look inside.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;

protected:
    AccessibleElement() = default;
};
using AccessibleElementHandle = std::shared_ptr<AccessibleElement>;

// The kinds of element the focused-field code tells apart.
enum class AccessibleRole {
    textField,  // single-line entry
    textArea,   // multi-line text
    comboBox,
    searchField,
    secureTextField,  // password entry
    staticText,       // label
    image,
    button,
    link,
    terminal,  // a terminal emulator's screen: its input is the running program's
    other,
};

// A range of UTF-16 units of an element's text.
struct AccessibleTextRange {
    qsizetype location = 0;
    qsizetype length = 0;
    // A selection made backward, the caret at its start (Shift+Left): read where the program
    // tells its caret, and asked for where it lets a selection be made so.
    bool backward = false;
    bool operator==(const AccessibleTextRange&) const = default;
};

// An object embedded in an element's text: a link, a highlighted or formatted span, a mention of
// a rich-text field (web engines), or an image or a control. The text that holds it shows one
// U+FFFC where it stands.
struct AccessibleEmbeddedObject {
    qsizetype offset = 0;  // of its U+FFFC in the text that holds it (UTF-16 units)
    // Its own text, with a U+FFFC for each object embedded in it in turn; absent when it shows
    // something other than text (an image, a control) or its text could not be read.
    std::optional<QString> text;
    // The part of its own text that the selection takes in, or its caret, as its program reports
    // them (UTF-16 units of `text`); absent when it reports neither.
    std::optional<AccessibleTextRange> selection;
    std::vector<AccessibleEmbeddedObject> objects;  // embedded in `text`
    // It stands on lines of its own (a paragraph, a block of a rich-text field), though the text
    // that holds it shows no line break around its U+FFFC.
    bool block = false;
    // Pictures and the like that publish no object and so stand at no U+FFFC of `text` (see
    // AccessibleRichText::unpublishedObjects).
    std::vector<qsizetype> unpublishedObjects;
    // A list item's marker ("• ", "1. "), which web engines put at the start of its `text`: the
    // UTF-16 units it takes there; 0 for anything else. The program draws it, the user never
    // typed it, and it is no part of what a write replaces.
    qsizetype marker = 0;
    // A link's address ("" when its program tells none); absent for anything that is no link.
    std::optional<QString> link;
    bool operator==(const AccessibleEmbeddedObject&) const = default;
};

// An element's text and the objects embedded in it, read together.
struct AccessibleRichText {
    QString text;
    // The objects its program names at U+FFFC characters of `text`, in order; a U+FFFC without
    // one stands for an object that could not be read.
    std::vector<AccessibleEmbeddedObject> objects;
    // Where something that shows no text and publishes no object of its own stands in `text` (a
    // picture without alternative text in a web page's editable region): each the offset of the
    // character it stands before (UTF-16 units; the text's size: at its end). Such a thing shows
    // only in the room it takes between characters; where that could not be measured, the first
    // place left unmeasured counts as one.
    std::vector<qsizetype> unpublishedObjects;
    // What this read could not see, and so counts as objects without text: the objects whose
    // read failed or ran out of time (nested ones too; their U+FFFC names no object), and
    // whether measuring for unpublished objects stopped before the end of the text (its budget
    // or its time ran out; the first place left is one of `unpublishedObjects`). A read made
    // again may see them.
    int unreadObjects = 0;
    bool unmeasured = false;
    bool operator==(const AccessibleRichText&) const = default;
};

// Reading and writing the elements of other applications. Every query that fails, times
// out or finds an unexpected kind of value answers "absent" (or false); none throws. Text
// offsets are UTF-16 units of the element's text, rectangles are screen coordinates in
// logical pixels (origin at the top-left of the desktop, y downward).
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether other applications' accessibility objects can be reached at all.
    virtual bool isTrusted() = 0;

    // The element that last took the keyboard focus anywhere on the desktop, while it still
    // has it; null otherwise. It may belong to a program behind the front window (programs keep
    // their focused element when another program comes to the front): check processIdOf().
    virtual AccessibleElementHandle systemFocusedElement() = 0;
    // The process of the application that owns the element; absent when it cannot be told.
    virtual std::optional<qint64> processIdOf(const AccessibleElementHandle& element) = 0;
    // The focused element inside the application with this process id; null when none.
    virtual AccessibleElementHandle focusedElementOfApplication(qint64 pid) = 0;
    // The focused element inside that application's active window; null when none.
    virtual AccessibleElementHandle focusedElementOfActiveWindow(qint64 pid) = 0;
    // Asks an application that builds its accessibility tree lazily to build it now (and
    // switches the desktop's accessibility switch on where it is off). The request is not
    // undone afterwards; an application that has taken it is not asked again.
    virtual void requestAccessibilityTree(qint64 pid) = 0;

    virtual std::optional<AccessibleRole> role(const AccessibleElementHandle& element) = 0;
    // The element's whole text; absent when it has no text.
    virtual std::optional<QString> value(const AccessibleElementHandle& element) = 0;
    // The element's whole text with the objects embedded in it (nested ones too, to a bound) and
    // the places of those that publish no object; absent when it has no text.
    virtual std::optional<AccessibleRichText> richText(const AccessibleElementHandle& element) = 0;
    // richText() measuring for unpublished objects `scale` times as many characters, for `scale`
    // times as long: a look again at a text whose first read could not measure it all.
    virtual std::optional<AccessibleRichText> richTextMeasuringLonger(const AccessibleElementHandle& element,
                                                                      int scale) {
        (void)scale;
        return richText(element);
    }
    // The selected text; "" when the element has text but nothing is selected.
    virtual std::optional<QString> selectedText(const AccessibleElementHandle& element) = 0;
    // The selection; a caret without selection is a range of length 0 at the caret.
    virtual std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& element) = 0;
    virtual std::optional<QRectF> frame(const AccessibleElementHandle& element) = 0;
    // The screen rectangle around a range of the element's text.
    virtual std::optional<QRectF> boundsForRange(const AccessibleElementHandle& element, AccessibleTextRange range) = 0;
    // Elements of Chromium-based applications, whose writes through accessibility are unreliable.
    virtual bool isChromiumControl(const AccessibleElementHandle& element) = 0;
    // Whether the user can edit the element's text.
    virtual bool isEditable(const AccessibleElementHandle& element) = 0;
    // Whether the element is one part of a larger editable text (a paragraph of a word
    // processor's document), so that select-all in its program selects more than its own text.
    virtual bool isPartOfLargerText(const AccessibleElementHandle& element) = 0;
    // Whether the element edits a spreadsheet cell, and the edit still lasts: its text is the
    // editor's copy of what the cell will hold once the edit ends, and accessibility writes change
    // that copy alone (the editor's own input, a paste, reaches the cell). While it lasts the editor
    // has the keyboard, whichever element of the sheet its program last reported focused.
    virtual bool isSpreadsheetCellEditor(const AccessibleElementHandle& element) {
        (void)element;
        return false;
    }
    // The name of the toolkit the element's program reports for itself ("GTK", "Qt", "Gecko",
    // "Chromium", "VCL", ...); absent when it tells none.
    virtual std::optional<QString> toolkitName(const AccessibleElementHandle& element) {
        (void)element;
        return std::nullopt;
    }
    // The cell a spreadsheet's cursor is on, when `element` is that sheet (focused while a cell is
    // only selected, not edited) or that cell; null otherwise. The cell's text is what the cell
    // shows; the cell cannot be written through accessibility: only a paste reaches it.
    virtual AccessibleElementHandle spreadsheetCursorCell(const AccessibleElementHandle& element) {
        (void)element;
        return nullptr;
    }
    // Whether the element is a spreadsheet's sheet (or one of its cells): a copy from it leaves
    // the sheet's "copied" mark, which the user's next Return pastes.
    virtual bool isSpreadsheet(const AccessibleElementHandle& element) {
        (void)element;
        return false;
    }
    // Whether the element's program reports a selection made backward (the caret at its start)
    // as no selection at all, only the caret (LibreOffice's text): the selection then shows only
    // in the PRIMARY selection.
    virtual bool reportsBackwardSelectionAsCaret(const AccessibleElementHandle& element) {
        (void)element;
        return false;
    }
    // Whether the whole text can be replaced through setValue().
    virtual bool isValueSettable(const AccessibleElementHandle& element) = 0;

    // Some applications answer a write as done without changing anything: setValue()'s answer
    // says only that the call was accepted, so the caller reads the field back.
    virtual bool setValue(const AccessibleElementHandle& element, const QString& text) = 0;
    // Replaces the current selection with `text` (the caret ends after it). Answers true only
    // when the field, read back, holds `text` where the selection was; otherwise whatever the
    // write left in the selection's place is selected, for a paste to go over it.
    virtual bool setSelectedText(const AccessibleElementHandle& element, const QString& text) = 0;
    // Selects a range; a length of 0 places the caret.
    virtual bool setSelectedRange(const AccessibleElementHandle& element, AccessibleTextRange range) = 0;
    // Selects `range` (UTF-16 units of that object's own text) in an object embedded in the
    // element's text: `path` holds the offsets of the U+FFFC standing for each object in the text
    // of the one before, the element's first (AccessibleRichText, AccessibleEmbeddedObject). A
    // length of 0 places the caret there. False when an object along the path is missing or the program refuses.
    virtual bool setSelectedRangeInEmbedded(const AccessibleElementHandle& element, const std::vector<qsizetype>& path,
                                            AccessibleTextRange range) {
        (void)element;
        (void)path;
        (void)range;
        return false;
    }

    // Whether two handles, possibly found apart, name the same object of the same application.
    virtual bool isSameElement(const AccessibleElementHandle& a, const AccessibleElementHandle& b) {
        return a && a == b;
    }
};

}  // namespace tavrolin
