#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace tavrolin {

// The scratchpad's editor: a plain-text editor bound to a text it does not own. Texts set from
// outside replace the contents as one edit of the document, so the user's undo history survives
// them; what the user types, undoes or redoes comes back through textEdited().
class TextView final : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TextView(QWidget* parent = nullptr);

    // Shows `text` unless it is already shown. The selection is kept where it was, limited to
    // the new length. Consecutive outside changes (the words of one dictation) make one undo
    // step; after markUndoStep() or an edit of the user the next one starts a step of its own.
    void setBoundText(const QString& text);
    // The contents now on screen are a step the user can go back to.
    void markUndoStep();
    // Forgets the undo history: a new presentation does not go back into the last one.
    void startFreshHistory();

    void setEditable(bool editable);
    bool isEditable() const { return !isReadOnly(); }

Q_SIGNALS:
    // The user changed the text (typing, pasting, undo, redo).
    void textEdited(const QString& text);

private:
    void handleContentsChanged();

    bool applyingBoundText_ = false;
    bool lastStepWasOutside_ = false;
};

}  // namespace tavrolin
