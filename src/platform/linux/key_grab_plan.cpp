#include "platform/linux/key_grab_plan.h"

#include <X11/keysym.h>
#include <algorithm>
#include <iterator>
#include <string_view>

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

std::optional<std::string> usKeyPosition(quint32 keysym) {
    // The rows of the US layout from the left, with the name of their row.
    static constexpr struct {
        std::string_view keys;
        std::string_view row;
    } rows[] = {{"1234567890", "AE"}, {"qwertyuiop", "AD"}, {"asdfghjkl", "AC"}, {"zxcvbnm", "AB"}};
    const auto place = [](std::string_view row, std::size_t index) {
        std::string name(row);
        name += char('0' + (index + 1) / 10);
        name += char('0' + (index + 1) % 10);
        return name;
    };
    for (const auto& [keys, row] : rows) {
        if (keysym < 0x80) {
            if (const std::size_t index = keys.find(char(keysym)); index != std::string_view::npos) {
                return place(row, index);
            }
        }
    }
    if (keysym >= XK_F1 && keysym <= XK_F12) {
        return place("FK", keysym - XK_F1);
    }
    return std::nullopt;
}

}  // namespace tavrolin::x11
