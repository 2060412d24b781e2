#pragma once

#include "platform/synthetic_input.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"

#include <QKeySequence>
#include <QStringList>

#include <memory>

namespace tavrolin::test {

// Synthetic input that lands in a pretend application: the chords act on `field` through the
// clipboard the way a text editor reacts to Control+A, C, X and V. Every chord is recorded
// ("Ctrl+C").
class FakeKeyboardApplication final : public SyntheticInput {
    FakeClipboard& clipboard_;

public:
    explicit FakeKeyboardApplication(FakeClipboard& clipboard, std::shared_ptr<FakeField> target = nullptr)
        : clipboard_(clipboard), field(std::move(target)) {}

    std::shared_ptr<FakeField> field;   // null: the keystrokes reach nothing
    bool canSend = true;                // false: no display, nothing can be sent
    std::optional<QString> copiedHtml;  // copied beside the plain text, when set
    QStringList chords;
    std::optional<QPoint> pointer = QPoint(10, 10);
    // The Latin "v" is missing from the keyboard map: Control+V cannot be sent.
    bool canSendV = true;
    // true: like an X11 program, the application fetches a paste later, in fetchPaste().
    bool fetchesPasteLater = false;
    // The application reacts to Control+Shift+C and Control+Shift+V as a terminal does.
    bool terminal = false;
    // Control+C reached a terminal: the program running there was interrupted.
    int interrupts = 0;

    // A paste deferred by fetchesPasteLater arrives now.
    void fetchPaste() {
        if (pendingPastes > 0) {
            --pendingPastes;
            paste();
        }
    }
    int pendingPastes = 0;

    bool sendKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key) override {
        if (!canSend || (key == Qt::Key_V && !canSendV)) {
            return false;
        }
        chords << QKeySequence(static_cast<int>(modifiers) | key).toString();
        if (terminal) {
            if (modifiers == Qt::ControlModifier && key == Qt::Key_C) {
                ++interrupts;
                return true;
            }
            if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && (key == Qt::Key_C || key == Qt::Key_V)) {
                modifiers = Qt::ControlModifier;  // the terminal's copy and paste
            } else {
                return true;
            }
        }
        if (!field || modifiers != Qt::ControlModifier) {
            return true;
        }
        switch (key) {
        case Qt::Key_A:
            field->selection = {0, field->text.size()};
            break;
        case Qt::Key_C:
            if (field->selection.length > 0) {
                clipboard_.copy(field->selectedText(), copiedHtml);
            }
            break;
        case Qt::Key_X:
            if (field->selection.length > 0) {
                clipboard_.copy(field->selectedText(), copiedHtml);
                field->replaceSelection(QString());
            }
            break;
        case Qt::Key_V:
            if (fetchesPasteLater) {
                ++pendingPastes;
            } else {
                paste();
            }
            break;
        default:
            break;
        }
        return true;
    }
    std::optional<QPoint> pointerPosition() override { return pointer; }

    void paste() {
        ++clipboard_.fetches;
        if (const std::optional<QString> text = clipboard_.text()) {
            field->replaceSelection(*text);
        }
    }
    bool movePointerTo(QPoint position) override {
        pointer = position;
        return canSend;
    }
};

}  // namespace tavrolin::test
