#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace tavrolin {

// Modifier keys of a global key grab, by the names a Linux keyboard gives them.
struct GlobalKeyModifiers {
    bool control = false;
    bool shift = false;
    bool alt = false;
    bool super = false;

    bool operator==(const GlobalKeyModifiers&) const = default;
};

enum class GlobalKeyGrabStatus {
    grabbed,
    alreadyInUse,  // another client (or another id of ours) holds the combination
    noKeyCode,     // no key of the current keyboard map produces the keysym
    failed,        // no display, or the display refused the grab for another reason
};

// System-wide key grabs: a combination grabbed under an id is delivered to this process
// wherever the keyboard focus is, and reported by id on the main thread.
//
// The keyboard map can change under the grabs (another layout, a key from another keyboard): the
// grabber then follows each combination to the keys that produce its keysym now, grabbing the
// new ones before it releases the old and leaving untouched what did not move, so that a
// combination is never without its grab. A letter that no layout of the keyboard has (Russian
// alone) is grabbed on the key where the US layout has it. A combination no key can make waits,
// ungrabbed, for the next change while the others stay. When another program holds a
// combination's new key, nothing stays grabbed and the lost callback names that id and why.
class GlobalKeyGrabbing {
public:
    using PressedCallback = std::function<void(quint32 id)>;
    using GrabsLostCallback = std::function<void(quint32 id, GlobalKeyGrabStatus status)>;

    virtual ~GlobalKeyGrabbing() = default;

    // Grabs the key that produces `keysym` (in the current keyboard map; where none does, the key
    // where the US layout has it) with exactly these modifiers, whatever the state of Caps Lock
    // and Num Lock. An earlier grab under the same id is released first. Anything but `grabbed`
    // leaves nothing grabbed under `id`.
    virtual GlobalKeyGrabStatus grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) = 0;
    virtual void release(quint32 id) = 0;
    virtual void releaseAll() = 0;

    // Called from the main event loop (never from inside event processing) once per press of
    // a grabbed combination; the key's autorepeat does not call it again.
    virtual void setPressedCallback(PressedCallback callback) = 0;
    // Called from the main event loop when a keyboard change took every grab away.
    virtual void setGrabsLostCallback(GrabsLostCallback callback) = 0;
};

}  // namespace tavrolin
