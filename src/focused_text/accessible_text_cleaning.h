#pragma once

#include "core/text_units.h"
#include "platform/accessibility.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// What another program's accessibility layer reports as a field's text is not always what the
// user sees: Firefox puts a zero-width no-break space (U+FEFF) after each emoji and each
// embedded object, and web engines stand one object replacement character (U+FFFC) for each
// object embedded in a rich-text field (a link, a mention, a formatted span, an image), whose
// text the object itself holds. Used as text, U+FEFF reaches the server and comes back into the
// field, where it splits an emoji from its skin-tone modifier; a dropped U+FFFC takes the link's
// words with it.

// The text the user sees of a reported text and the objects embedded in it: each object stands
// with its own text (the objects embedded in that in turn), a paragraph on lines of its own,
// U+FEFF is gone, and an object without text (an image, a control, or one that could not be
// read) adds nothing, nor does one that stands at no U+FFFC (`unpublished`: a picture that
// publishes no object, before the reported offsets given). Ranges of the reported text map onto it.
class SeenAccessibleText {
public:
    // `marker`: the units at the start of `reported` that a list item's marker takes, which the
    // user sees but never typed: no part of the text.
    SeenAccessibleText(const QString& reported, const std::vector<AccessibleEmbeddedObject>& objects,
                       const std::vector<qsizetype>& unpublished = {}, qsizetype marker = 0);

    const QString& text() const { return text_; }
    // Whether the text holds an object without text, which text() leaves out: writing text over
    // it removes it.
    bool holdsObjectWithoutText() const { return objectsWithoutText_ > 0; }
    // How many such objects it holds, nested ones too: a write that leaves fewer took some away.
    qsizetype objectsWithoutText() const { return objectsWithoutText_; }
    // How many list items it holds (nested ones too), each a line of text() without its marker.
    // A paste of lines over them makes them plain lines, or items of one list, their markers typed.
    qsizetype listItems() const { return listItems_; }
    // How many paragraphs (objects of text on lines of their own: paragraphs, list items) it
    // holds, nested ones too. A paste of lines over several of them makes its line breaks line
    // breaks inside one paragraph (Firefox), or paragraphs of the browser's own.
    qsizetype paragraphs() const { return paragraphs_; }
    // How many links it holds, nested ones too (in a formatted span, a list item).
    qsizetype links() const { return links_; }

    // A range of the reported text as the same range of the seen text. A range that begins or
    // ends inside an object is reported as taking in the object's whole U+FFFC; the object's own
    // selection (or caret) tells where inside it the range begins or ends. Absent when the range
    // does not lie within the reported text.
    std::optional<TextRange> seenRange(TextRange reported) const;

    // What a range of the reported text takes in besides plain text.
    struct Span {
        bool objectWithoutText = false;
        // It begins or ends inside an object's text: replacing the reported range (whole U+FFFC
        // characters) would take in more than the seen range.
        bool partOfObject = false;
        // How many links it takes in, whole or in part: text written over them is plain text.
        qsizetype links = 0;
    };
    Span span(TextRange reported) const;

    // Where an offset of the seen text lies in what the program reports: the offsets of the
    // U+FFFC standing for each object from this text down (empty: this text itself), and the
    // offset in that object's reported text (after any U+FEFF, after a list item's marker). An
    // offset at the edge of an inline object (a link) lies beside it, one at the edge of a
    // paragraph inside it. Absent when the offset lies outside the text.
    struct Place {
        std::vector<qsizetype> path;
        qsizetype offset = 0;
        bool operator==(const Place&) const = default;
    };
    std::optional<Place> reportedPlace(qsizetype seen) const;
    // Where the words of the object at the reported `offset` stand in the seen text; absent when
    // no object with text stands there.
    std::optional<TextRange> objectWords(qsizetype offset) const;
    // How many links the object at the reported `offset` is or holds.
    qsizetype objectLinks(qsizetype offset) const;

private:
    struct Embedded {
        qsizetype offset = 0;
        std::shared_ptr<const SeenAccessibleText> seen;  // null: an object without text
        std::optional<AccessibleTextRange> selection;
        qsizetype leading = 0;  // the line break put before a paragraph's text
        bool block = false;
        bool link = false;
    };
    const Embedded* embeddedAt(qsizetype offset) const;
    qsizetype reportedSize() const { return static_cast<qsizetype>(before_.size()) - 1; }
    // Where a range that begins at the reported `offset` begins in the seen text, and where one
    // that ends there ends.
    qsizetype seenStart(qsizetype offset) const;
    qsizetype seenEnd(qsizetype offset) const;

    QString text_;
    qsizetype objectsWithoutText_ = 0;
    qsizetype listItems_ = 0;
    qsizetype paragraphs_ = 0;
    qsizetype links_ = 0;
    // The seen units before each reported unit, and before the end.
    std::vector<qsizetype> before_;
    std::vector<Embedded> embedded_;      // by offset
    std::vector<qsizetype> unpublished_;  // reported offsets, in order
};

// One line of a rich-text field, as the one object whose text holds it: `path` holds the offsets
// of the U+FFFC standing for each object from the field's text down (empty: the field's own
// text), `range` the part of that object's reported text the line takes (a list item's marker
// left out), and `text` the line as the user sees it.
struct AccessibleLine {
    std::vector<qsizetype> path;
    TextRange range;
    QString text;
    // A block stands right after it in the same object (a list nested in the item whose line this
    // is): a selection ending at the line's end ends, for a web engine, at the block's start.
    bool beforeBlock = false;
    // Where in `text` the words of each inline object of the line stand (a link, a formatted
    // span), in order: a write that keeps them keeps the object.
    std::vector<TextRange> inlineObjects;
    // How many links each of those is or holds, in the same order.
    std::vector<qsizetype> inlineLinks;
    bool operator==(const AccessibleLine&) const = default;
};

// The lines of a reported text with its objects, each within one object, so that each can be
// selected and written on its own and the objects that make it a list or a paragraph stay.
// Absent when the seen text cannot be cut that way (a line running across blocks, an empty one).
std::optional<std::vector<AccessibleLine>> accessibleLines(const QString& reported,
                                                           const std::vector<AccessibleEmbeddedObject>& objects,
                                                           const std::vector<qsizetype>& unpublished = {});

// Whether `selection` of `text` is the line at `line`, with at most the line breaks around it (a
// line selected inside the object that holds it, as browsers report it on the field).
bool selectsLine(const QString& text, TextRange selection, TextRange line);

// The seen text of a reported text whose objects are not known: each U+FFFC counts as an object
// without text.
QString cleanAccessibleText(const QString& reported);

}  // namespace tavrolin
