#pragma once

#include "platform/accessibility.h"

#include <QStringList>

#include <functional>
#include <map>
#include <memory>

namespace tavrolin::test {

// A text field of a pretend application: its text and selection change as accessibility
// writes and keystrokes (FakeKeyboardApplication) act on it.
class FakeField final : public AccessibleElement {
public:
    std::optional<AccessibleRole> role = AccessibleRole::textField;
    bool hasText = true;  // false: no accessible text at all (value and selection absent)
    QString text;
    AccessibleTextRange selection;  // UTF-16; length 0 is the caret
    // What the field reports instead of its real selection, when set.
    std::optional<std::optional<AccessibleTextRange>> reportedRange;
    std::optional<std::optional<QString>> reportedSelectedText;
    std::optional<QRectF> frame = QRectF(100, 200, 300, 30);
    // What boundsForRange() answers instead of the frame, when set.
    std::optional<std::optional<QRectF>> rangeBounds;
    bool chromium = false;
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
    // A line edit's maximum length: a longer text written or pasted is cut to it, and the write
    // answered as done.
    std::optional<qsizetype> maximumLength;

    QString selectedText() const { return text.mid(selection.location, selection.length); }
    void setText(const QString& value, AccessibleTextRange sel = {}) {
        text = value;
        selection = sel;
    }
    void replaceSelection(const QString& value) {
        const qsizetype room =
            maximumLength ? std::max<qsizetype>(0, *maximumLength - (text.size() - selection.length)) : value.size();
        const QString kept = value.left(room);
        text.replace(selection.location, selection.length, kept);
        selection = {selection.location + kept.size(), 0};
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
        return f && f->hasText ? std::optional<QString>(f->text) : std::nullopt;
    }
    std::optional<QString> selectedText(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        return f->reportedSelectedText ? *f->reportedSelectedText : std::optional<QString>(f->selectedText());
    }
    std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        if (!f || !f->hasText) {
            return std::nullopt;
        }
        return f->reportedRange ? *f->reportedRange : std::optional<AccessibleTextRange>(f->selection);
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
    bool isEditable(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->settable;
    }
    bool isPartOfLargerText(const AccessibleElementHandle& e) override {
        const FakeField* f = field(e);
        return f && f->otherParagraphs.has_value();
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
        f->replaceSelection(text);
        return true;
    }
    bool setSelectedRange(const AccessibleElementHandle& e, AccessibleTextRange range) override {
        calls << QString("setSelectedRange:%1,%2").arg(range.location).arg(range.length);
        FakeField* f = field(e);
        if (!f || !f->hasText) {
            return false;
        }
        f->selection = range;
        return true;
    }

private:
    static FakeField* field(const AccessibleElementHandle& e) { return dynamic_cast<FakeField*>(e.get()); }
    std::map<qint64, int> applicationQueries_;
};

}  // namespace tavrolin::test
