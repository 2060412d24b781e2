#pragma once

#include "core/hot_key_action.h"
#include "core/hot_key_key.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <Qt>

#include <array>
#include <optional>

namespace tavrolin {

// A global shortcut: a key plus modifier flags. The flags keep their stored names so that
// saved settings stay readable; on this platform `option` is the Alt key (Mod1) and
// `command` the Super key (Mod4).
struct HotKeyShortcut {
    HotKeyKey key = HotKeyKey::a;
    bool command = false;
    bool option = false;
    bool shift = false;
    bool control = false;

    bool operator==(const HotKeyShortcut&) const = default;

    bool hasModifier() const { return command || option || shift || control; }

    // The words of the set modifiers, always in the order Control, Alt, Shift, Super.
    QStringList modifierDisplayNames() const;
    // Their symbols, in the same order.
    QStringList modifierSymbols() const;
    // Modifier words and the key's label joined with "+": "Control+Shift+T", "Super+F5".
    // The one way a shortcut is named in words (menus, alerts, hints, registration errors).
    QString displayName() const;

    // The X modifier mask to grab: ShiftMask, ControlMask, Mod1Mask (Alt), Mod4Mask (Super).
    quint16 x11ModifierMask() const;
    // A shortcut from a key and the Qt modifiers of a key press (Meta is Super on X11).
    static HotKeyShortcut fromQtModifiers(HotKeyKey key, Qt::KeyboardModifiers modifiers);

    // JSON: {"key": "T", "command": false, "option": false, "shift": true, "control": true}.
    // Decoding needs all five keys with the right types and one of the 48 key strings.
    QJsonObject toJson() const;
    static std::optional<HotKeyShortcut> fromJson(const QJsonValue& value);
};

using HotKeyShortcuts = std::array<HotKeyShortcut, allHotKeyActions.size()>;

// Control+Shift with T, W, E, R, F, D, P, in action order.
const HotKeyShortcuts& defaultHotKeyShortcuts();
HotKeyShortcut defaultShortcut(HotKeyAction action);

// Turns any seven stored shortcuts (action order) into a usable set: each keeps its value when
// it has a modifier and no earlier action holds it; otherwise it takes its own default, or the
// first default (in action order) that is still free. Earlier actions win conflicts.
HotKeyShortcuts resolveHotKeyShortcuts(const HotKeyShortcuts& stored);

}  // namespace tavrolin
