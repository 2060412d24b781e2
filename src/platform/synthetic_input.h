#pragma once

#include <QPoint>
#include <QtGlobal>

#include <optional>

namespace tavrolin {

// Pointer motion sent to the desktop as if the user had made it: all that anti-sleep's nudge
// needs, and all it is given, so that no key can go out that way.
class SyntheticPointerInput {
public:
    virtual ~SyntheticPointerInput() = default;

    // The pointer's position in screen coordinates; absent when it cannot be read.
    virtual std::optional<QPoint> pointerPosition() = 0;
    // Moves the pointer to a screen position, producing a motion event. Answers false when
    // nothing could be sent.
    virtual bool movePointerTo(QPoint position) = 0;
};

// Keyboard and pointer events sent to the desktop as if the user had made them. They go to
// whatever window has the keyboard focus (keys) or lies under the pointer (motion). Only the
// input gate (focused_text/synthetic_input_gate.h) holds this face: every key chord to another
// program goes through its checks.
class SyntheticInput : public SyntheticPointerInput {
public:
    ~SyntheticInput() override = default;

    // Presses the modifiers, presses and releases `key`, then releases the modifiers. Modifier
    // keys the user still holds (for example those of the shortcut that started us) are
    // released first, so Control+C never arrives as Control+Shift+C. `key` is a letter or a
    // digit (Qt::Key_A ... Qt::Key_Z, Qt::Key_0 ... Qt::Key_9), End or Delete. Answers false when the chord
    // could not be sent at all (no display, key not on the keyboard map).
    virtual bool sendKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key) = 0;

    // The keys that are down now, as the display server sees them (the user's and any sent
    // by a program): modifier keys (Control, Shift, Alt, Super, the lock keys' own presses)
    // apart from all others. While a shortcut's key is down, its grab sends every key to the
    // program that grabbed it.
    struct HeldKeys {
        bool modifiers = false;
        bool others = false;
        bool any() const { return modifiers || others; }
    };
    // Absent when the keyboard cannot be read.
    virtual std::optional<HeldKeys> heldKeys() = 0;
};

}  // namespace tavrolin
