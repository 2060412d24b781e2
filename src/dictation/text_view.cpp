#include "dictation/text_view.h"

#include <QFont>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tavrolin {

namespace {

// Laying out a wrapped run of characters with no place to break costs time that grows with the
// square of the run: a pasted megabyte without spaces froze the editor for half a minute.
// Such texts are shown unwrapped, with a horizontal scroll bar.
constexpr qsizetype longestWrappedRun = 10000;

qsizetype longestUnbrokenRun(const QString& text) {
    qsizetype longest = 0;
    qsizetype current = 0;
    for (const QChar c : text) {
        current = c.isSpace() ? 0 : current + 1;
        longest = std::max(longest, current);
    }
    return longest;
}

}  // namespace

TextView::TextView(QWidget* parent) : QPlainTextEdit(parent) {
    QFont editorFont = font();
    editorFont.setPointSize(14);
    setFont(editorFont);
    setUndoRedoEnabled(true);
    setTextInteractionFlags(Qt::TextEditorInteraction);
    connect(this, &QPlainTextEdit::textChanged, this, &TextView::handleContentsChanged);
}

void TextView::setBoundText(const QString& text) {
    if (toPlainText() == text) {
        return;
    }
    const QTextCursor current = textCursor();
    const int anchor = current.anchor();
    const int position = current.position();

    setLineWrapMode(longestUnbrokenRun(text) > longestWrappedRun ? NoWrap : WidgetWidth);
    QTextCursor edit(document());
    if (lastStepWasOutside_) {
        edit.joinPreviousEditBlock();
    } else {
        edit.beginEditBlock();
    }
    edit.select(QTextCursor::Document);
    applyingBoundText_ = true;
    edit.insertText(text);
    edit.endEditBlock();
    applyingBoundText_ = false;
    lastStepWasOutside_ = true;

    // The document's length counts a final paragraph separator the text does not have.
    const int length = document()->characterCount() - 1;
    QTextCursor restored(document());
    restored.setPosition(std::clamp(anchor, 0, length));
    restored.setPosition(std::clamp(position, 0, length), QTextCursor::KeepAnchor);
    setTextCursor(restored);
}

void TextView::markUndoStep() {
    lastStepWasOutside_ = false;
}

void TextView::startFreshHistory() {
    document()->clearUndoRedoStacks();
    lastStepWasOutside_ = false;
}

void TextView::setEditable(bool editable) {
    setReadOnly(!editable);
}

void TextView::handleContentsChanged() {
    if (applyingBoundText_) {
        return;
    }
    lastStepWasOutside_ = false;
    Q_EMIT textEdited(toPlainText());
}

}  // namespace tavrolin
