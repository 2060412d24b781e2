#pragma once

#include "platform/accessibility.h"

#include <QStringList>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace tavrolin::test {

// An object embedded in a rich-text field: a link or a highlighted span, whose words are
// `length` characters of the field's text from `at` on, or an image or a control (`hasText`
// false, `length` 0), which stands before the character at `at`. A picture without alternative
// text in a web page (`published` false) publishes no object: no U+FFFC stands for it, only the
// room it takes between characters tells where it is.
struct FakeEmbeddedObject {
    qsizetype at = 0;
    qsizetype length = 0;
    bool hasText = true;
    bool published = true;
    // A list item: a block on a line of its own whose reported text begins with the marker its
    // program draws ("• "); a selection inside it, and a paste over its words, stay in it.
    bool listItem = false;
    // The U+FFFC characters it stands as in the reported text.
    qsizetype markers() const { return published ? 1 : 0; }
    qsizetype marker() const { return listItem ? 2 : 0; }
};

// A text field of a pretend application: its text and selection change as accessibility
// writes and keystrokes (FakeKeyboardApplication) act on it. `text` and `selection` are what the
// user sees and selected; a field with embedded objects reports them as web engines do (see
// reportedText()).
class FakeField final : public AccessibleElement {
public:
    std::optional<AccessibleRole> role = AccessibleRole::textField;
    bool hasText = true;  // false: no accessible text at all (value and selection absent)
    QString text;
    AccessibleTextRange selection;             // UTF-16; length 0 is the caret
    std::vector<FakeEmbeddedObject> embedded;  // by position, apart
    // What the field reports instead of its real selection, when set.
    std::optional<std::optional<AccessibleTextRange>> reportedRange;
    std::optional<std::optional<QString>> reportedSelectedText;
    std::optional<QRectF> frame = QRectF(100, 200, 300, 30);
    // What boundsForRange() answers instead of the frame, when set.
    std::optional<std::optional<QRectF>> rangeBounds;
    bool chromium = false;
    // The toolkit its program reports for itself.
    std::optional<QString> toolkit = QStringLiteral("Qt");
    // The process that owns the field (4242 is the tests' usual front application); absent
    // when the owner cannot be told.
    std::optional<qint64> processId = 4242;
    bool settable = true;
    bool acceptsSelectedText = true;
    // Answers writes of the whole text as done and keeps its text (a selection write then
    // reports what a read-back finds: not placed).
    bool ignoresWrites = false;
    // The field is one paragraph of a larger editable text (a word processor's document) that
    // also holds these paragraphs: select-all there takes them in, and a paste then replaces them
    // along with the field's own text.
    std::optional<QString> otherParagraphs;
    bool wholeDocumentSelected = false;
    // Set: the field is the editor of a spreadsheet cell being edited, and this is what the cell
    // will hold once the edit ends. Accessibility writes change only the editor's text; the
    // editor's own input (a paste) reaches the cell too.
    std::optional<QString> cellWillHold;
    // Its program reports a selection made backward as a caret (LibreOffice's text).
    bool backwardSelectionAsCaret = false;
    // A spreadsheet's sheet (whose cursor's cell is not known).
    bool sheet = false;
    // A line edit's maximum length: a longer text written or pasted is cut to it, and the write
    // answered as done.
    std::optional<qsizetype> maximumLength;
    // A composer that builds its content anew on every change and keeps only the pictures it
    // published: any write takes the unpublished ones away.
    bool rebuildsOnChange = false;
    // The next reads of its text answer it empty, as a program busy elsewhere may.
    mutable int emptyReads = 0;
    // The next reads of its rich text leave its objects unread (their U+FFFC names none), or stop
    // measuring for pictures at its start, as a program busy elsewhere may.
    mutable int unreadObjectReads = 0;
    mutable int unmeasuredReads = 0;
    // Reads measured in full before the unmeasured ones begin.
    mutable int measuredReadsFirst = 0;
    // The next reads find room without characters at its start, as a program laying its text out
    // anew may show for a moment.
    mutable int passingRoomReads = 0;
    // The next selections asked of it are answered as made and change nothing, as a program busy
    // elsewhere may answer.
    int selectionsNotApplied = 0;
    // Whether its program takes a selection made inside one of its objects now (none: it does).
    std::function<bool()> takesSelectionInObject;
    // The next selections made inside one of its objects show for one read of its text; then the
    // program puts the caret at the field's start, as Firefox does when it moves its focus there.
    int selectionsMovedAway = 0;
    mutable int readsBeforeMove = 0;

    QString selectedText() const { return text.mid(selection.location, selection.length); }
    // A plain text: no embedded objects.
    void setText(const QString& value, AccessibleTextRange sel = {}) {
        text = value;
        selection = sel;
        embedded.clear();
    }
    void replaceSelection(const QString& value) {
        const qsizetype room =
            maximumLength ? std::max<qsizetype>(0, *maximumLength - (text.size() - selection.length)) : value.size();
        const QString kept = value.left(room);
        replaceRange(selection, kept);
        selection = {selection.location + kept.size(), 0};
    }
    // Replaces text as an editor does: objects inside the range go, objects it cuts keep their
    // words outside it, and the new text is plain.
    void replaceRange(AccessibleTextRange range, const QString& value) {
        const qsizetype end = range.location + range.length;
        const qsizetype shift = value.size() - range.length;
        std::vector<FakeEmbeddedObject> kept;
        for (FakeEmbeddedObject object : embedded) {
            const qsizetype objectEnd = object.at + object.length;
            if (!object.hasText) {
                if (object.at < range.location || object.at >= end) {
                    object.at += object.at >= end ? shift : 0;
                    kept.push_back(object);
                }
            } else if (objectEnd <= range.location) {
                kept.push_back(object);
            } else if (object.at >= end) {
                object.at += shift;
                kept.push_back(object);
            } else {
                const qsizetype before = std::max<qsizetype>(range.location - object.at, 0);
                const qsizetype after = std::max<qsizetype>(objectEnd - end, 0);
                if ((before > 0 && after > 0) || (object.listItem && range.location >= object.at && end <= objectEnd)) {
                    object.length += shift;
                    kept.push_back(object);
                } else if (before > 0) {
                    object.length = before;
                    kept.push_back(object);
                } else if (after > 0) {
                    object.at = range.location + value.size();
                    object.length = after;
                    kept.push_back(object);
                }
            }
        }
        text.replace(range.location, range.length, value);
        if (rebuildsOnChange) {
            std::erase_if(kept, [](const FakeEmbeddedObject& object) { return !object.published; });
        }
        embedded = std::move(kept);
    }

    // What the field reports as its text, as Firefox and Chromium report a rich-text field: one
    // U+FFFC in place of each embedded object.
    QString reportedText() const {
        QString reported;
        qsizetype from = 0;
        for (const FakeEmbeddedObject& object : embedded) {
            reported += text.mid(from, object.at - from) + QString(object.markers(), QChar(0xFFFC));
            from = object.at + object.length;
        }
        return reported + text.mid(from);
    }
    // A position of `text` in the reported text. One inside an object's words lies on its
    // U+FFFC when a range starts (or the caret is) there, after it when a range ends there.
    qsizetype reportedOffset(qsizetype position, bool rangeEnd) const {
        qsizetype shift = 0;
        for (const FakeEmbeddedObject& object : embedded) {
            if (position <= object.at) {
                break;
            }
            if (position >= object.at + object.length) {
                shift += object.markers() - object.length;
                continue;
            }
            return object.at + shift + (rangeEnd ? 1 : 0);
        }
        return position + shift;
    }
    // A reported offset as a position of `text` (an object's U+FFFC: before its words).
    qsizetype seenOffset(qsizetype reported) const {
        qsizetype shift = 0;
        for (const FakeEmbeddedObject& object : embedded) {
            if (reported <= object.at + shift) {
                break;
            }
            shift += object.markers() - object.length;
        }
        return reported - shift;
    }
    AccessibleTextRange reportedSelection() const {
        const qsizetype start = reportedOffset(selection.location, false);
        if (selection.length == 0) {
            return {start, 0};
        }
        return {start, reportedOffset(selection.location + selection.length, true) - start, selection.backward};
    }
    // Each object with its own text, and the part of it that the selection takes in (or the
    // caret inside it).
    std::vector<AccessibleEmbeddedObject> reportedObjects() const {
        std::vector<AccessibleEmbeddedObject> objects;
        qsizetype shift = 0;
        for (const FakeEmbeddedObject& object : embedded) {
            if (!object.published) {
                continue;
            }
            AccessibleEmbeddedObject reported;
            reported.offset = object.at + shift;
            shift += 1 - object.length;
            if (object.hasText) {
                const qsizetype marker = object.marker();
                reported.text = QStringLiteral("\u2022 ").left(marker) + text.mid(object.at, object.length);
                reported.block = object.listItem;
                reported.marker = marker;
                const qsizetype end = selection.location + selection.length;
                const qsizetype start = std::max(selection.location, object.at);
                const qsizetype stop = std::min(end, object.at + object.length);
                if (selection.length == 0 && selection.location > object.at &&
                    selection.location < object.at + object.length) {
                    reported.selection = AccessibleTextRange{marker + selection.location - object.at, 0};
                } else if (selection.length > 0 && start < stop) {
                    reported.selection = AccessibleTextRange{marker + start - object.at, stop - start};
                }
            }
            objects.push_back(std::move(reported));
        }
        return objects;
    }
    // The object whose U+FFFC stands at `reported` in the reported text.
    FakeEmbeddedObject* objectAt(qsizetype reported) {
        qsizetype shift = 0;
        for (FakeEmbeddedObject& object : embedded) {
            if (object.published && object.at + shift == reported) {
                return &object;
            }
            shift += object.markers() - object.length;
        }
        return nullptr;
    }
    // Where the unpublished pictures stand in the reported text.
    std::vector<qsizetype> reportedUnpublished() const {
        std::vector<qsizetype> places;
        qsizetype shift = 0;
        for (const FakeEmbeddedObject& object : embedded) {
            if (!object.published) {
                places.push_back(object.at + shift);
            }
            shift += object.markers() - object.length;
        }
        return places;
    }
};

inline std::shared_ptr<FakeField> makeField(const QString& text = {}, AccessibleTextRange selection = {}) {
    auto field = std::make_shared<FakeField>();
    field->setText(text, selection);
    return field;
}

class FakeAccessibility final : public Accessibility {
public:
    bool trusted = true;
    AccessibleElementHandle systemFocused;
    std::map<qint64, AccessibleElementHandle> applicationFocus;
    std::map<qint64, AccessibleElementHandle> activeWindowFocus;
    // Runs when asked to build an application's tree (tests make a focus appear later).
    std::function<void(qint64)> onRequestTree;
    // Answers focusedElementOfApplication() from the n-th call on (1-based; 0: always).
    std::map<qint64, int> applicationFocusFromQuery;
    QStringList calls;

    bool isTrusted() override { return trusted; }
    AccessibleElementHandle systemFocusedElement() override {
        calls << "systemFocusedElement";
        return systemFocused;
    }
    std::optional<qint64> processIdOf(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f ? f->processId : std::nullopt;
    }
    AccessibleElementHandle focusedElementOfApplication(qint64 pid) override {
        calls << QString("focusedElementOfApplication:%1").arg(pid);
        const int query = ++applicationQueries_[pid];
        if (applicationFocusFromQuery.count(pid) && query < applicationFocusFromQuery[pid]) {
            return nullptr;
        }
        return applicationFocus.count(pid) ? applicationFocus[pid] : nullptr;
    }
    AccessibleElementHandle focusedElementOfActiveWindow(qint64 pid) override {
        calls << QString("focusedElementOfActiveWindow:%1").arg(pid);
        return activeWindowFocus.count(pid) ? activeWindowFocus[pid] : nullptr;
    }
    void requestAccessibilityTree(qint64 pid) override {
        calls << QString("requestAccessibilityTree:%1").arg(pid);
        if (onRequestTree) {
            onRequestTree(pid);
        }
    }

    std::optional<AccessibleRole> role(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f ? f->role : std::nullopt;
    }
    std::optional<QString> value(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        if (f->emptyReads > 0) {
            --f->emptyReads;
            return QString();
        }
        return f->reportedText();
    }
    std::optional<AccessibleRichText> richText(const AccessibleElementHandle& e) override {
        FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        if (f->readsBeforeMove > 0 && --f->readsBeforeMove == 0) {
            f->selection = {0, 0};
        }
        if (f->emptyReads > 0) {
            --f->emptyReads;
            return AccessibleRichText{};
        }
        AccessibleRichText rich{f->reportedText(), f->reportedObjects(), f->reportedUnpublished()};
        if (f->unreadObjectReads > 0) {
            --f->unreadObjectReads;
            rich.unreadObjects = static_cast<int>(rich.objects.size());
            rich.objects.clear();
        }
        if (f->passingRoomReads > 0) {
            --f->passingRoomReads;
            rich.unpublishedObjects.insert(rich.unpublishedObjects.begin(), 0);
        }
        if (f->measuredReadsFirst > 0) {
            --f->measuredReadsFirst;
        } else if (f->unmeasuredReads > 0) {
            --f->unmeasuredReads;
            rich.unmeasured = true;
            rich.unpublishedObjects.insert(rich.unpublishedObjects.begin(), 0);
        }
        return rich;
    }
    std::optional<QString> selectedText(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        if (f->reportedSelectedText) {
            return *f->reportedSelectedText;
        }
        const AccessibleTextRange range = f->reportedSelection();
        return f->reportedText().mid(range.location, range.length);
    }
    std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        return f->reportedRange ? *f->reportedRange : std::optional<AccessibleTextRange>(f->reportedSelection());
    }
    std::optional<QRectF> frame(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f ? f->frame : std::nullopt;
    }
    std::optional<QRectF> boundsForRange(const AccessibleElementHandle& e, AccessibleTextRange range) override {
        calls << QString("boundsForRange:%1,%2").arg(range.location).arg(range.length);
        const FakeField* f = field(e);
        return f && f->rangeBounds ? *f->rangeBounds : frame(e);
    }
    bool isChromiumControl(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->chromium;
    }
    std::optional<QString> toolkitName(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f ? f->toolkit : std::nullopt;
    }
    bool isEditable(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->settable;
    }
    bool isPartOfLargerText(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->otherParagraphs.has_value();
    }
    bool isSpreadsheetCellEditor(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->cellWillHold.has_value();
    }
    bool isSpreadsheet(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->sheet;
    }
    bool reportsBackwardSelectionAsCaret(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->backwardSelectionAsCaret;
    }
    bool isValueSettable(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->hasText && f->settable;
    }
    bool setValue(const AccessibleElementHandle& e, const QString& text) override {
        calls << "setValue";
        FakeField* f = field(e);
        if (!f || !f->hasText || !f->settable) {
            return false;
        }
        if (!f->ignoresWrites) {
            f->setText(f->maximumLength ? text.left(*f->maximumLength) : text);
        }
        return true;
    }
    bool setSelectedText(const AccessibleElementHandle& e, const QString& text) override {
        calls << "setSelectedText";
        FakeField* f = field(e);
        if (!f || !f->hasText || !f->acceptsSelectedText || f->ignoresWrites) {
            return false;
        }
        // Deletes the reported selection and inserts at its start: an object whose U+FFFC the
        // selection takes in goes whole, wherever inside its words the user's selection began.
        const AccessibleTextRange reported = f->reportedSelection();
        const qsizetype start = f->seenOffset(reported.location);
        f->replaceRange({start, f->seenOffset(reported.location + reported.length) - start}, text);
        f->selection = {start + text.size(), 0};
        return true;
    }
    bool setSelectedRange(const AccessibleElementHandle& e, AccessibleTextRange range) override {
        calls << QString("setSelectedRange:%1,%2").arg(range.location).arg(range.length);
        FakeField* f = field(e);
        if (!f || !f->hasText) {
            return false;
        }
        if (f->selectionsNotApplied > 0) {
            --f->selectionsNotApplied;
            return true;
        }
        const qsizetype start = f->seenOffset(range.location);
        const qsizetype length = f->seenOffset(range.location + range.length) - start;
        f->selection = {start, length, range.backward && length > 0};
        return true;
    }

    bool setSelectedRangeInEmbedded(const AccessibleElementHandle& e, const std::vector<qsizetype>& path,
                                    AccessibleTextRange range) override {
        calls << QString("setSelectedRangeInEmbedded:%1,%2").arg(range.location).arg(range.length);
        FakeField* f = field(e);
        FakeEmbeddedObject* object = f && f->hasText && path.size() == 1 ? f->objectAt(path.front()) : nullptr;
        if (!object || !object->hasText || (f->takesSelectionInObject && !f->takesSelectionInObject())) {
            return false;
        }
        const qsizetype start = std::clamp<qsizetype>(range.location - object->marker(), 0, object->length);
        const qsizetype end =
            std::clamp<qsizetype>(range.location + range.length - object->marker(), start, object->length);
        f->selection = {object->at + start, end - start};
        if (f->selectionsMovedAway > 0) {
            --f->selectionsMovedAway;
            f->readsBeforeMove = 2;
        }
        return true;
    }

private:
    static FakeField* field(const AccessibleElementHandle& e) { return dynamic_cast<FakeField*>(e.get()); }
    std::map<qint64, int> applicationQueries_;
};

}  // namespace tavrolin::test
