#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>

namespace tavrolin {

// When the user last typed: key presses anywhere on the desktop, whichever program had the
// keyboard, as the display server saw them arrive. The keys we sent are ours; every other key is
// the user's, from their keyboards or typed for them by another program (an on-screen keyboard,
// keyboard sharing, a VNC server, a text expander). A key types when it writes or edits text: a
// character, Return, BackSpace, Delete, Tab. A key without a symbol, a modifier, any other key
// (arrows, function keys, Escape), and a key pressed while Control, Alt or Super is held (a
// shortcut: the one that started a command, or a program's own) type nothing.
class UserKeyActivity {
public:
    virtual ~UserKeyActivity() = default;
    // The time since that press, by a monotonic clock; absent when the user typed nothing since
    // the watch began.
    virtual std::optional<std::chrono::milliseconds> sinceLastUserKeyPress() const = 0;
    // How many presses of any key of the user's (every key but ours: modifiers, chords such as
    // Control+BackSpace or Control+Z, paste keys) the display has seen since the watch began. 0
    // where nothing is watched.
    virtual std::uint64_t userKeyPresses() const { return 0; }
    // How many presses of a pointer's buttons the display has seen since the watch began, from
    // every pointer (the wheel's turns are no presses): the user edits with them too (a
    // middle-click paste, a drop, a menu's Paste). 0 where nothing is watched.
    virtual std::uint64_t pointerButtonPresses() const { return 0; }
    // Every press of the user's that may edit a field: any key, any pointer button.
    std::uint64_t userPresses() const { return userKeyPresses() + pointerButtonPresses(); }
};

// The user's presses made in one window, told from those made elsewhere by looking at intervals:
// the presses between two looks that both found the window in front were made in it; those of an
// interval with another window in front at either end (our copy window, closed with Escape or a
// click) are taken for that window's.
class UserPressesInWindow {
public:
    // Counts from now, the window not yet seen in front. `keys` none: nothing is ever pressed.
    explicit UserPressesInWindow(const UserKeyActivity* keys = nullptr);
    // A look, with the window in front or not: whether the user pressed anything in it since the
    // last look.
    bool pressedIn(bool inFront);
    // Whether the last two looks both found the window in front.
    bool steadyInFront() const { return steady_; }
    // Whether the user pressed anything anywhere since the last look.
    bool pressedSinceLook() const;
    // Whether any press since counting began came between two looks one of which found the window
    // in front: it may have been made there.
    bool mayHavePressedIn() const { return pressedNear_; }

private:
    std::uint64_t count() const;

    const UserKeyActivity* keys_;
    std::uint64_t at_;
    bool inFront_ = false;
    bool steady_ = false;
    bool pressedNear_ = false;
};

// Tells, from a stream of raw key presses and releases, which presses are the user typing. Keys
// are named by their keysym (the key's first symbol on the keyboard map).
class TypingKeyPresses {
public:
    enum class Source { user, ours };
    // Records a press; answers whether it was typing.
    bool press(Source source, unsigned int keysym);
    void release(Source source, unsigned int keysym);
    // Forgets the modifiers held (a keyboard was removed: its releases never come).
    void reset() { heldCommandModifiers_.clear(); }

private:
    // The user's Control, Alt, Super (Meta, Hyper) keys down now.
    std::set<unsigned int> heldCommandModifiers_;
};

}  // namespace tavrolin
