#pragma once

#include "focused_text/focus_resolver.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/process_table.h"
#include "platform/synthetic_input.h"
#include "platform/user_key_activity.h"
#include "platform/window_ping.h"

#include <QCoroTask>
#include <QSet>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// The one way a key chord reaches another program, and the one place that decides what a
// terminal is. Keys go to whatever has the keyboard when they arrive, so each chord is checked
// at the moment it is sent: the window in front must be the one the command works on, must not
// be ours and must not be a terminal (Control+C and even Control+Shift+C interrupt the program
// running there); and it waits, within a bound, until the user's keys are up and none of our
// grabs holds the keyboard (while a shortcut's key is down its grab takes every key, so a chord
// would reach us), and looks at the keys once more right before the chord. The window's
// program must also show that it reads its events (it answers the desktop's ping): keys sent to
// a stopped or hung program wait in its queue and act, when it resumes, on whatever it and the
// clipboard hold by then. Otherwise nothing is sent.
//
// A terminal is known by what it is, not by its name alone: a terminal emulator's process holds
// a pseudo-terminal master open (its name, when on the list below, saves the look), and a
// terminal widget publishes the accessibility role "terminal" (an editor's terminal panel too).
// A terminal emulator's window takes keys only while its focused element is a text field, such
// as the editor beside a terminal panel.
//
// A program that nothing vouches for is unknown, and unknown is never safe: its window's client
// runs on another machine, the process it claims is not the one the X server knows (a sandbox
// with its own process numbering), or its process cannot be read (another user's, root's). It
// could be a terminal as well as anything else, so it is held to a terminal emulator's rule: keys
// only while its focused element is an accessible text field that is no terminal.
//
// Some programs give Control+A, C and V other meanings (in Vim Control+A adds one to the number
// under the cursor; in Emacs it goes to the line's start, and Control+C is a prefix key): they
// get no keys at all, known by name as terminals are (they are built on GTK, like programs that
// take the keys as everyone does). Beyond those, keys go only to programs whose toolkit is
// known to give the chords their usual meaning (GTK, Qt, LibreOffice, Firefox, Chromium and
// Electron, Java, and editors checked one by one), known by the libraries their process has
// loaded: Tk goes to the line's start on Control+A and pastes beside the selection, and a
// program on plain Xlib may do anything.
//
// Keys land where the X input focus is, and may reach a program whose window is embedded in the
// front one (a terminal inside `tabbed`, in a GtkSocket): every such program is judged as well,
// on its own, by every rule above.
class SyntheticInputGate {
public:
    struct Environment {
        SyntheticInput& input;
        FrontApplicationProviding& frontApplications;
        Scheduler& scheduler;
        // Whether one of our keyboard grabs or windows has the keyboard now. Unset: never.
        std::function<bool()> ownKeyboardInUse = {};
        // Whether a window's program reads its events; none: every program is taken to.
        WindowPinging* windowPing = nullptr;
        // Whether a window's program holds a pseudo-terminal master; none: terminals are known
        // by name and focused element alone.
        ProcessTable* processes = nullptr;
        // The focused element of the window in front; none: not asked.
        FocusResolver* focus = nullptr;
        // When the user last typed; none: only the keys down now tell.
        UserKeyActivity* keyActivity = nullptr;
    };

    // How long a chord waits for the user's keys to come up and our grabs to end.
    static constexpr std::chrono::milliseconds keyboardFreeBound{1000};
    static constexpr std::chrono::milliseconds keyboardFreePoll{10};
    // How long after their last key press the user still counts as typing: a typist's keys are
    // down a fraction of the time, and a chord or a window taking the keyboard between two of
    // their letters would mix with the next.
    static constexpr std::chrono::milliseconds typingLasts{1000};
    // How long a program may take to answer the ping. One that misses it is asked once more, for
    // longer, before its window gets no keys: a program that is alive but slowed down (serving a
    // clipboard manager's reads on a loaded machine) answers that one; a stopped or hung one
    // answers neither.
    static constexpr std::chrono::milliseconds responsivenessBound{1000};
    static constexpr std::chrono::milliseconds responsivenessSecondBound{2000};
    // How long an answer covers the chords that follow to the same window (one burst: a copy,
    // a paste), so that a command pings once rather than once per key.
    static constexpr std::chrono::milliseconds responsivenessLasts{1000};

    // Terminal emulators known by name (WM_CLASS class names): no look at their process needed.
    static const QSet<QString>& terminalApplicationIdentifiers();
    // Programs whose Control+A, C and V are no select-all, copy and paste (WM_CLASS class names).
    static const QSet<QString>& otherKeyMeaningApplicationIdentifiers();
    // Whether `window`'s program gives the clipboard chords other meanings: it gets no keys.
    static bool keysMeanOtherThings(const std::optional<FrontApplication>& window);
    // Whether programs built on `toolkit` take Control+A, C and V as select-all, copy and paste.
    static bool keysMeanTheUsual(ProgramToolkit toolkit);
    // The toolkit an accessible application's toolkit name ("GTK", "Qt", "Gecko", ...) stands
    // for; absent for a name not known.
    static std::optional<ProgramToolkit> toolkitNamed(const QString& name);

    explicit SyntheticInputGate(Environment environment);
    SyntheticInputGate(const SyntheticInputGate&) = delete;
    SyntheticInputGate& operator=(const SyntheticInputGate&) = delete;

    // Whether `window` is a terminal emulator's: its name is on the list, or its process holds a
    // pseudo-terminal master (its open files, read off the GUI thread): no other program is asked.
    QCoro::Task<bool> isTerminalWindow(std::optional<FrontApplication> window);
    // Whether nothing vouches for `window`'s program: the window's flag says so, or its process
    // cannot be read. Such a program takes keys only at an accessible text field, and its answer
    // to the ping proves nothing.
    QCoro::Task<bool> isUnknownProgram(FrontApplication window);
    // The rule every path follows: whether keys and writes must keep out of a window, knowing
    // whether it is a terminal emulator's and the role of its focused element (absent: none, or
    // not known). A terminal element never takes them; a terminal emulator's window only at a
    // text field.
    static bool isTerminal(bool terminalWindow, const std::optional<AccessibleRole>& focusedRole);
    // The same, with the element the desktop last reported focused in that window, asked now
    // through the accessibility thread (no search through the program: this runs before every
    // key).
    QCoro::Task<bool> isTerminal(std::optional<FrontApplication> window);
    // Whether keys may go to this window at all: it names a process, not ours, not a terminal,
    // not a program whose keys mean other things, and, for an unknown program, its focused
    // element is an accessible text field.
    QCoro::Task<bool> acceptsKeys(std::optional<FrontApplication> window);
    // The window in front now.
    std::optional<FrontApplication> frontWindow() const;
    // The keys down now, as the display server keeps them: one look, nothing sent, no wait.
    std::optional<SyntheticInput::HeldKeys> heldKeys() const { return environment_.input.heldKeys(); }

    // Whether the user is typing: a key of theirs went down within typingLasts, or a key is down
    // now. A window of ours that comes then must leave them the keyboard.
    bool userTyping() const;

    // Waits until no key is down, the user has not typed for typingLasts and our grabs and
    // windows have let the keyboard go, at most keyboardFreeBound; no wait when that is so
    // already. Answers false when a key other than a modifier is still down, the user is still
    // typing or we still have the keyboard (modifiers alone are lifted by the chord itself).
    QCoro::Task<bool> waitForFreeKeyboard();
    // Sends `modifiers` with `key` to `target` once the keyboard is free, and only
    // while `target` is the window in front and accepts keys. Answers whether it was sent.
    QCoro::Task<bool> sendChord(FrontApplication target, Qt::KeyboardModifiers modifiers, Qt::Key key);
    // Two chords sent as sendChord() sends one, the second right after the first with nothing
    // asked of any program between them: the program reads them one after the other, before
    // anything another program asks of it because of the first.
    QCoro::Task<bool> sendChords(FrontApplication target, Qt::KeyboardModifiers firstModifiers, Qt::Key firstKey,
                                 Qt::KeyboardModifiers modifiers, Qt::Key key);

    // Runs `onSent` on the main thread right after each chord has gone out, before the desktop's
    // report of its keys can reach any watcher in this process: a watcher of the desktop's keys
    // knows by it which keys are ours. The watch lasts as long as the returned handle.
    [[nodiscard]] std::shared_ptr<void> watchSentChords(std::function<void()> onSent);

private:
    // The chord out now, its watchers told.
    bool sendNow(Qt::KeyboardModifiers modifiers, Qt::Key key);
    // A window that names a process other than ours.
    static bool isOtherProgramsWindow(const std::optional<FrontApplication>& window);
    // Whether a key of the user's went down within typingLasts.
    bool userTypedLately() const;
    // Whether a key other than a modifier is down, the user is typing, or one of our grabs or
    // windows has the keyboard, now.
    bool keyboardTaken(const std::optional<SyntheticInput::HeldKeys>& held) const;
    // What a window's name and its process's open files (one look) tell of its program.
    struct ProgramLook {
        bool terminalWindow = false;  // a terminal emulator's
        bool unknown = false;         // nothing vouches for it
    };
    QCoro::Task<ProgramLook> lookAt(std::optional<FrontApplication> window);
    // Whether the parent or a child of the process holds a pseudo-terminal master.
    QCoro::Task<bool> relativeHoldsTerminal(qint64 processId);
    // isTerminal() for a window held to a terminal emulator's rule, or not.
    QCoro::Task<bool> isTerminal(std::optional<FrontApplication> window, bool keysOnlyAtTextField);
    // Why the keys may never go to `window`'s program as it is now ("terminal",
    // "keys_mean_other_things", "unknown_program", "keys_meaning_unknown"), or to another
    // program that may get the keys typed into it (the same, after "key_receiver_"); absent when
    // they may. `application`, where given, is set to the class of the program judged last.
    QCoro::Task<std::optional<QString>> programRefusal(std::optional<FrontApplication> window,
                                                       QString* application = nullptr);
    // The same for one window's own program alone.
    QCoro::Task<std::optional<QString>> windowProgramRefusal(std::optional<FrontApplication> window);
    // Why keys may not go to `target`, its window no longer the one in `front`; absent when they may.
    static std::optional<QString> refusal(const FrontApplication& target, const std::optional<FrontApplication>& front);
    // Why `target`'s program may not get keys now although its window is fine: it did not answer
    // the ping, or the window is gone; absent when it answered lately, or takes no part in the
    // ping (nothing then says it is stopped).
    QCoro::Task<std::optional<QString>> unresponsiveness(FrontApplication target);

    Environment environment_;
    // The window whose program last answered, while that answer still covers its chords.
    quint64 answeredWindow_ = 0;
    std::unique_ptr<ScheduledCall> answerCovers_;
    // Process id -> (when its parent and children were looked at, whether one holds a terminal).
    std::map<qint64, std::pair<std::chrono::steady_clock::time_point, bool>> relativesLooked_;
    // The window last found to be no terminal, while that answer still covers its chords.
    quint64 notTerminalWindow_ = 0;
    std::unique_ptr<ScheduledCall> notTerminalCovers_;
    std::vector<std::weak_ptr<std::function<void()>>> sentChordWatchers_;
};

}  // namespace tavrolin
