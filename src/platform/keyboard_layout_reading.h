#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tavrolin {

// The layouts of the keyboard as the X keyboard extension names them: the layout and variant
// names of its rules ("us", "ru", ...), in group order, and the group that is active now.
struct KeyboardLayouts {
    QStringList layouts;
    QStringList variants;
    int activeGroup = 0;

    bool operator==(const KeyboardLayouts&) const = default;

    // The layout name of the active group, empty when the group has none.
    QString activeLayout() const {
        return activeGroup >= 0 && activeGroup < layouts.size() ? layouts.at(activeGroup) : QString();
    }
};

// Reads the keyboard's layouts and key mapping. Implementations are safe to call from any
// thread (they never hop to the main thread, so a caller the main thread waits for cannot
// deadlock it).
class KeyboardLayoutReading {
public:
    virtual ~KeyboardLayoutReading() = default;

    // None when the keyboard cannot be read (no display, or the server refused).
    virtual std::optional<KeyboardLayouts> currentLayouts() = 0;

    // The keysyms a hardware key produces without Shift or other level modifiers: the active
    // group's first, then those of the other groups in group order, without repeats. Empty
    // for an unknown key or when the keyboard cannot be read.
    virtual QList<quint32> unshiftedKeysyms(quint32 keycode) = 0;
    // The same for the key's shifted level (the digits of French or Czech layouts live there).
    virtual QList<quint32> shiftedKeysyms(quint32 keycode) = 0;
};

}  // namespace tavrolin
