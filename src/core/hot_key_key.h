#pragma once

#include "core/raw_value.h"

#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace tavrolin {

class KeyboardLayoutReading;

// The 48 keys a shortcut may use. The raw value doubles as the key's label and JSON form:
// "0" to "9", "A" to "Z", "F1" to "F12".
enum class HotKeyKey : quint8 {
    digit0,
    digit1,
    digit2,
    digit3,
    digit4,
    digit5,
    digit6,
    digit7,
    digit8,
    digit9,
    a,
    b,
    c,
    d,
    e,
    f,
    g,
    h,
    i,
    j,
    k,
    l,
    m,
    n,
    o,
    p,
    q,
    r,
    s,
    t,
    u,
    v,
    w,
    x,
    y,
    z,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
};

inline constexpr std::size_t hotKeyKeyCount = 48;

const std::array<HotKeyKey, hotKeyKeyCount>& allHotKeyKeys();

// JSON holds the raw value string (rawValueToJson / rawValueFromJson<HotKeyKey>).
QString rawValue(HotKeyKey key);
// Exact, case-sensitive match of the 48 raw values ("t", "F0", "F13" give none).
template <>
std::optional<HotKeyKey> fromRawValue<HotKeyKey>(QStringView raw);

// The X11 keysym that identifies the key on this platform: XK_0..XK_9, XK_a..XK_z (the
// lower-case letter), XK_F1..XK_F12. Registration grabs the keycode that produces it.
quint32 keysym(HotKeyKey key);

// The key a keysym names: digits, letters of either case, F1 to F12. Keypad digits,
// punctuation, arrows, F13 and above and every other keysym give none.
std::optional<HotKeyKey> hotKeyKeyFromKeysym(quint32 keysym);

// The key a Qt key code names (Qt::Key_0..9, Key_A..Z, Key_F1..F12); none for the rest.
std::optional<HotKeyKey> hotKeyKeyFromQtKey(int qtKey);

// One key press as a recorder sees it (QKeyEvent's nativeScanCode, nativeVirtualKey, key).
struct KeyPress {
    quint32 nativeScanCode = 0;
    quint32 nativeVirtualKey = 0;
    int qtKey = 0;
};

// The key of a press as a shortcut recorder must take it: the key without Shift (Shift+1 is
// the key 1, not "!"), and on a non-Latin layout the Latin key of another group (T, not the
// Cyrillic letter on the same key). It asks the keyboard for the hardware key's unshifted
// symbols first, then for a digit on its shifted level (the top row of French, Belgian and
// Czech layouts); only a key the keyboard does not know falls back to the press's own keysym
// and Qt key.
std::optional<HotKeyKey> hotKeyKeyForKeyPress(const KeyPress& press, KeyboardLayoutReading* keyboard);

}  // namespace tavrolin
