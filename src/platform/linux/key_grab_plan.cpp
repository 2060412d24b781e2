#include "platform/linux/key_grab_plan.h"

#include <algorithm>
#include <iterator>

namespace tavrolin::x11 {

namespace {

// The core protocol's modifier bits.
constexpr quint16 shiftMask = 1u << 0;
constexpr quint16 lockMask = 1u << 1;
constexpr quint16 controlMask = 1u << 2;

}  // namespace

quint16 modifierState(GlobalKeyModifiers modifiers, const ModifierMasks& masks) {
    quint16 state = 0;
    if (modifiers.control) {
        state |= controlMask;
    }
    if (modifiers.shift) {
        state |= shiftMask;
    }
    if (modifiers.alt) {
        state |= masks.alt;
    }
    if (modifiers.super) {
        state |= masks.super;
    }
    return state;
}

std::vector<quint16> lockStates(const ModifierMasks& masks) {
    std::vector<quint16> states{0, lockMask};
    if (masks.numLock) {
        states.push_back(masks.numLock);
        states.push_back(quint16(masks.numLock | lockMask));
    }
    return states;
}

std::vector<KeyCombination> combinationsFor(const std::vector<quint8>& keycodes, GlobalKeyModifiers modifiers,
                                            const ModifierMasks& masks) {
    const quint16 state = modifierState(modifiers, masks);
    std::vector<KeyCombination> combinations;
    for (const quint8 keycode : keycodes) {
        for (const quint16 locks : lockStates(masks)) {
            combinations.push_back({keycode, quint16(state | locks)});
        }
    }
    return combinations;
}

KeyGrabChanges keyGrabChanges(const std::set<KeyCombination>& held, const std::set<KeyCombination>& wanted) {
    KeyGrabChanges changes;
    std::set_difference(wanted.begin(), wanted.end(), held.begin(), held.end(), std::back_inserter(changes.grab));
    std::set_difference(held.begin(), held.end(), wanted.begin(), wanted.end(), std::back_inserter(changes.release));
    return changes;
}

}  // namespace tavrolin::x11
