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

// What a grab does with a combination whose key another program holds.
enum class WhenKeyTaken {
    refuse,    // nothing stays requested under the id
    setAside,  // the id stays requested and is grabbed as soon as its key is free
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
// no key can make waits ungrabbed for the next change while the others stay; one whose key
// another program holds is set aside, tried again now and then, and the lost callback names it.
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
    // As grab(), but a combination whose key another program holds is set aside rather than
    // refused (alreadyInUse is still answered): it stays requested, is tried again every few
    // seconds and at every keyboard change, and the lost callback names it, as after a keyboard
    // change. Other refusals leave nothing requested, as with grab().
    virtual GlobalKeyGrabStatus grabOrSetAside(quint32 id, quint32 keysym, GlobalKeyModifiers modifiers) = 0;
    // Whether `id` is requested but set aside because another program holds its key.
    virtual bool isSetAside(quint32 id) const = 0;
    virtual void release(quint32 id) = 0;
    virtual void releaseAll() = 0;

    // Called from the main event loop (never from inside event processing) once per press of
    // a grabbed combination; the key's autorepeat does not call it again.
    virtual void setPressedCallback(PressedCallback callback) = 0;
    // Called from the main event loop when a combination is set aside because another program
    // holds its key (after a keyboard change, or at a grab that sets aside); the id stays
    // requested and is grabbed as soon as the key is free. Called once for one combination on one
    // key: not again for that key until the combination has been grabbed on it in between.
    virtual void setGrabsLostCallback(GrabsLostCallback callback) = 0;
};

}  // namespace tavrolin
