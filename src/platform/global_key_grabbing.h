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
    alreadyInUse,  // another client holds the combination
    noKeyCode,     // no key of the current keyboard map produces the keysym
    failed,        // no display, or the display refused the grab for another reason
};

// System-wide key grabs: a combination grabbed under an id is delivered to this process
// wherever the keyboard focus is, and reported by id on the main thread.
//
// The keyboard map and the layout in use can change under the grabs (another layout, a switch
// between the layouts of one keyboard, a key from another keyboard): the grabber then follows
// each combination to the key that produces its keysym in the layout in use, grabbing the new
// ones before it releases the old and leaving untouched what did not move, so that a combination
// is never without its grab. A letter the layout in use does not have (Russian) is grabbed on the
// key where the US layout has it, unless a letter of ours the layout has is there. A combination
// no key can make, or whose key another program holds, waits ungrabbed for the next change while
// the others stay; the lost callback names each one another program took.
class GlobalKeyGrabbing {
public:
    using PressedCallback = std::function<void(quint32 id)>;
    using GrabsLostCallback = std::function<void(quint32 id, GlobalKeyGrabStatus status)>;

    virtual ~GlobalKeyGrabbing() = default;

    // Grabs the key that produces `keysym` (in the layout in use; where none does, the key where
    // the US layout has it) with exactly these modifiers, whatever the state of Caps Lock and Num
    // Lock. An earlier grab under the same id is released first. `grabbed` also when another id
    // of ours has the key for now (it follows at the next change); anything else leaves nothing
    // grabbed under `id`.
    virtual GlobalKeyGrabStatus grab(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) = 0;
    virtual void release(quint32 id) = 0;
    virtual void releaseAll() = 0;

    // Called from the main event loop (never from inside event processing) once per press of
    // a grabbed combination; the key's autorepeat does not call it again.
    virtual void setPressedCallback(PressedCallback callback) = 0;
    // Called from the main event loop when a keyboard change gave a combination's key to another
    // program; the id stays requested and is grabbed again at a later change that frees it.
    virtual void setGrabsLostCallback(GrabsLostCallback callback) = 0;
};

}  // namespace tavrolin
