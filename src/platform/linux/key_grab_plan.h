#pragma once

#include "platform/global_key_grabbing.h"

#include <QtGlobal>

#include <compare>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tavrolin::x11 {

// Where the keyboard's modifier map puts Alt, Super and Num Lock (each on one of Mod1..Mod5);
// 0: the keyboard has no such key.
struct ModifierMasks {
    quint16 alt = 0;
    quint16 super = 0;
    quint16 numLock = 0;

    bool operator==(const ModifierMasks&) const = default;
};

// One passive grab as the server holds it: a keycode with the full modifier state, Caps Lock and
// Num Lock included.
struct KeyCombination {
    quint8 keycode = 0;
    quint16 modifiers = 0;

    auto operator<=>(const KeyCombination&) const = default;
};

// The modifier state of a shortcut's modifiers on this keyboard, without the locks.
quint16 modifierState(GlobalKeyModifiers modifiers, const ModifierMasks& masks);

// The lock states a press can come with: none, Caps Lock, and with a Num Lock key, Num Lock and
// both.
std::vector<quint16> lockStates(const ModifierMasks& masks);

// The grabs one shortcut needs: each key that produces its keysym, in every lock state.
std::vector<KeyCombination> combinationsFor(const std::vector<quint8>& keycodes, GlobalKeyModifiers modifiers,
                                            const ModifierMasks& masks);

// What a keyboard change asks of the grabs held: the combinations to grab that are not held yet,
// and those held that are no longer wanted. Both empty when the change left the shortcuts' keys
// where they were.
struct KeyGrabChanges {
    std::vector<KeyCombination> grab;
    std::vector<KeyCombination> release;

    bool empty() const { return grab.empty() && release.empty(); }
};
KeyGrabChanges keyGrabChanges(const std::set<KeyCombination>& held, const std::set<KeyCombination>& wanted);

// Where the US layout puts the key of `keysym` (a lowercase Latin letter, a digit, F1 to F12), by
// the name XKB gives that place on every keyboard: "AD02" for w, the second key of the top letter
// row. Absent for every other keysym.
std::optional<std::string> usKeyPosition(quint32 keysym);

}  // namespace tavrolin::x11
