#include "platform/user_key_activity.h"

#include "platform/global_mouse_monitoring.h"

namespace tavrolin {

namespace {

// Control_L, Control_R, and Meta_L .. Hyper_R (Alt and Super among them). Shift types capitals and
// AltGr (ISO_Level3_Shift) the third symbol of a key: with those held the user still types.
bool isCommandModifierKeysym(unsigned int keysym) {
    return keysym == 0xffe3 || keysym == 0xffe4 || (keysym >= 0xffe7 && keysym <= 0xffee);
}

}  // namespace

bool TypingKeyPresses::press(Source source, unsigned int keysym) {
    if (source != Source::user) {
        return false;
    }
    if (isCommandModifierKeysym(keysym)) {
        heldCommandModifiers_.insert(keysym);
        return false;
    }
    return !isModifierKeysym(keysym) && heldCommandModifiers_.empty();
}

void TypingKeyPresses::release(Source source, unsigned int keysym) {
    if (source == Source::user) {
        heldCommandModifiers_.erase(keysym);
    }
}

namespace {

bool isControlKeysym(unsigned int keysym) {
    return keysym == 0xffe3 || keysym == 0xffe4;
}

bool isShiftKeysym(unsigned int keysym) {
    return keysym == 0xffe1 || keysym == 0xffe2;
}

}  // namespace

bool PasteKeyPresses::press(unsigned int keysym) {
    if (isControlKeysym(keysym) || isShiftKeysym(keysym)) {
        held_.insert(keysym);
        return false;
    }
    const bool control = held_.count(0xffe3) || held_.count(0xffe4);
    const bool shift = held_.count(0xffe1) || held_.count(0xffe2);
    // A key's first symbol is its lowercase letter; Insert is 0xff63.
    return (control && keysym == 'v') || (shift && !control && keysym == 0xff63);
}

void PasteKeyPresses::release(unsigned int keysym) {
    held_.erase(keysym);
}

}  // namespace tavrolin
