#pragma once

#include "platform/front_application.h"
#include "platform/process_table.h"
#include "platform/synthetic_input.h"
#include "platform/window_ping.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"

#include <QKeySequence>
#include <QStringList>

#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace tavrolin::test {

// Synthetic input that lands in a pretend application: the chords act on `field` through the
// clipboard the way a text editor reacts to Control+A, C, X and V. Every chord is recorded
// ("Ctrl+C"). It answers the desktop's ping as the program would: a stopped program queues the
// keys sent to it and answers nothing until it is resumed, then handles them against whatever
// the clipboard holds at that moment. A browser whose page is busy in a script answers the ping
// from its window's process while the page still has the keys queued; one may become busy on
// the select-all it is sent.
class FakeKeyboardApplication final : public SyntheticInput, public WindowPinging, public ProcessTable {
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
    // The application is a terminal (xterm, urxvt, st): Control+C and Control+Shift+C both
    // reach the program running there as an interrupt.
    bool terminal = false;
    // Control+C reached a terminal: the program running there was interrupted.
    int interrupts = 0;
    // The keys down on the keyboard (the user's); absent: the keyboard cannot be read.
    std::optional<HeldKeys> held = HeldKeys{};
    // Stopped (SIGSTOP): chords wait in `queued` and pings go unanswered until resume().
    bool stopped = false;
    // Its pages run in processes of their own (a browser): the window's process answers pings.
    bool pagesInOtherProcesses = false;
    // A page busy in a script: chords wait in `queued` until resume(), pings are answered.
    bool pageBusy = false;
    // The page cancels pastes: the program fetches the clipboard for the page's paste event and
    // inserts nothing.
    bool refusesPaste = false;
    // The paste is fetched by this process rather than the window's (a sandbox numbers its
    // processes its own way, a program may fetch from a helper process).
    std::optional<qint64> fetchingProcessId;
    // The page's handler of the next Control+A runs a long script (a key handler that spins):
    // the page is busy from that key on, which waits with the rest until resume().
    bool busyOnNextSelectAll = false;
    // Where the keys go, as on the desktop: the front window, whose program then fetches the
    // paste (`processId` and `windowId` are set to it with each chord). None: they stay as the
    // test set them.
    const FrontApplicationProviding* keyboardFocus = nullptr;
    qint64 processId = 0;
    quint64 windowId = 0;  // the window that got the keys, whose X client asks for the paste
    QList<std::pair<Qt::KeyboardModifiers, Qt::Key>> queued;
    // The window takes part in the ping; false: it answers nothing ever ("unsupported").
    bool takesPing = true;
    bool windowGone = false;
    // Slowed down (busy serving other programs' requests): a ping is answered only after this
    // long, so one with a shorter bound goes unanswered.
    std::chrono::milliseconds answersAfter{0};
    int pings = 0;
    // Runs while a ping is out: what the user does meanwhile (a key pressed).
    std::function<void()> whilePinged;
    // The next select-alls never reach the field (something else had the keyboard for that
    // moment, as our own shortcut's grab had before keys waited for it): its caret stays.
    int selectAllsLost = 0;
    // The page's script puts the caret at the end of the field on the paste key: the paste lands
    // after the text, whatever was selected.
    bool pasteKeyMovesCaretToEnd = false;
    // Runs once a paste has landed: what the user does right then (a click).
    std::function<void()> afterPaste;

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
        if (keyboardFocus) {
            if (const std::optional<FrontApplication> front = keyboardFocus->frontApplication()) {
                // The program that got the keys fetches the paste.
                processId = front->processId;
                windowId = front->windowId;
            }
        }
        if (busyOnNextSelectAll && modifiers == Qt::ControlModifier && key == Qt::Key_A) {
            busyOnNextSelectAll = false;
            pageBusy = true;
        }
        if (stopped || pageBusy) {
            queued.append({modifiers, key});
        } else {
            handle(modifiers, key);
        }
        return true;
    }
    std::optional<HeldKeys> heldKeys() override { return held; }

    QCoro::Task<Answer> ping(quint64, std::chrono::milliseconds bound) override {
        ++pings;
        if (whilePinged) {
            whilePinged();
        }
        if (windowGone) {
            co_return Answer::windowGone;
        }
        if (!takesPing) {
            co_return Answer::unsupported;
        }
        co_return stopped || bound < answersAfter ? Answer::unanswered : Answer::answered;
    }
    // SIGCONT, or the page's script ends: the queued keys are handled now.
    void resume() {
        stopped = false;
        pageBusy = false;
        const auto keys = std::exchange(queued, {});
        for (const auto& [modifiers, key] : keys) {
            handle(modifiers, key);
        }
    }

    void handle(Qt::KeyboardModifiers modifiers, Qt::Key key) {
        if (terminal) {
            // xterm's default translations (urxvt's and st's alike) send ^C for Control+Shift+C.
            if (modifiers.testFlag(Qt::ControlModifier) && key == Qt::Key_C) {
                ++interrupts;
            }
            return;
        }
        if (field && modifiers == Qt::NoModifier && key == Qt::Key_Delete) {
            // What is selected goes, else the character after the caret.
            edited();
            if (field->selection.length == 0 && field->selection.location < field->text.size()) {
                field->selection.length = 1;
            }
            field->replaceSelection(QString());
            afterEdit = field->text;
            return;
        }
        if (!field || modifiers != Qt::ControlModifier) {
            return;
        }
        switch (key) {
        case Qt::Key_A:
            if (selectAllsLost > 0) {
                --selectAllsLost;
                break;
            }
            field->selection = {0, field->text.size()};
            field->wholeDocumentSelected = field->otherParagraphs.has_value();
            break;
        case Qt::Key_C:
            if (field->selection.length > 0) {
                clipboard_.copy(field->selectedText(), copiedHtml);
            }
            break;
        case Qt::Key_X:
            if (field->selection.length > 0) {
                clipboard_.copy(field->selectedText(), copiedHtml);
                edited();
                field->replaceSelection(QString());
                afterEdit = field->text;
            }
            break;
        case Qt::Key_End:
            field->selection = {field->text.size(), 0};
            break;
        case Qt::Key_Z:
            // Undo takes the field's last edit back, whoever made it: the user's own (a test
            // changing the field) as well as a paste or a cut.
            undo();
            break;
        case Qt::Key_V:
            if (pasteKeyMovesCaretToEnd) {
                field->selection = {field->text.size(), 0};
            }
            if (fetchesPasteLater) {
                ++pendingPastes;
            } else {
                paste();
            }
            break;
        default:
            break;
        }
    }
    std::optional<QPoint> pointerPosition() override { return pointer; }

    bool runsProcessesOfItsOwnProgram(qint64) override { return pagesInOtherProcesses; }
    // A terminal emulator holds the master of the terminal its program runs in.
    QCoro::Task<std::optional<bool>> holdsPseudoTerminalMaster(qint64) override { co_return terminal; }
    QCoro::Task<std::vector<qint64>> parentAndChildren(qint64) override { co_return std::vector<qint64>{}; }
    // What the program is built on: Qt, unless a test says otherwise.
    ProgramToolkit toolkit = ProgramToolkit::qt;
    QCoro::Task<std::optional<ProgramToolkit>> toolkitOf(qint64) override { co_return toolkit; }

    void paste() {
        const std::optional<QString> text = clipboard_.fetchBy(fetchingProcessId.value_or(processId), windowId);
        if (refusesPaste) {
            return;
        }
        if (text) {
            edited();
            if (std::exchange(field->wholeDocumentSelected, false)) {
                field->otherParagraphs = QString();
            }
            field->replaceSelection(*text);
            if (field->cellWillHold) {
                field->cellWillHold = field->text;
            }
            afterEdit = field->text;
            if (afterPaste) {
                afterPaste();
            }
        }
    }
    // The field before each edit the keys made, the last one last, and its text after the last
    // one: a field that holds other text now was edited since by someone else (the user).
    std::vector<std::pair<QString, AccessibleTextRange>> undoSteps;
    std::optional<QString> afterEdit;
    void edited() {
        if (afterEdit && field->text != *afterEdit) {
            undoSteps.emplace_back(*afterEdit, AccessibleTextRange{afterEdit->size(), 0});
        }
        undoSteps.emplace_back(field->text, field->selection);
    }
    void undo() {
        if (afterEdit && field->text != *afterEdit) {
            // The user's edit came last: that is what goes, the field's text as the keys left it.
            field->text = *afterEdit;
            field->selection = {field->text.size(), 0};
            return;
        }
        if (undoSteps.empty()) {
            return;
        }
        std::tie(field->text, field->selection) = undoSteps.back();
        undoSteps.pop_back();
        afterEdit = field->text;
    }
    bool movePointerTo(QPoint position) override {
        pointer = position;
        return canSend;
    }
};

}  // namespace tavrolin::test
