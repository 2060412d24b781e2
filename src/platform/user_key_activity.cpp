#include "platform/user_key_activity.h"

namespace tavrolin {

namespace {

// Control_L, Control_R, and Meta_L .. Hyper_R (Alt and Super among them). Shift types capitals and
// AltGr (ISO_Level3_Shift) the third symbol of a key: with those held the user still types.
bool isCommandModifierKeysym(unsigned int keysym) {
    return keysym == 0xffe3 || keysym == 0xffe4 || (keysym >= 0xffe7 && keysym <= 0xffee);
}

// Keys that write or edit text, by their first symbol: a character (Latin-1, the other legacy
// character sets, Unicode), a dead key that starts one, Return, BackSpace, Delete, Tab and the
// keypad's characters and Enter.
bool isTypingKeysym(unsigned int keysym) {
    const bool character = (keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym < 0xfd00) ||
                           (keysym >= 0x01000100 && keysym <= 0x0110ffff);
    const bool deadKey = keysym >= 0xfe50 && keysym <= 0xfe8f;
    const bool editing = keysym == 0xff0d /* Return */ || keysym == 0xff08 /* BackSpace */ ||
                         keysym == 0xffff /* Delete */ || keysym == 0xff09 /* Tab */ ||
                         keysym == 0xfe20 /* ISO_Left_Tab */ || keysym == 0xff0a /* Linefeed */;
    const bool keypad = keysym == 0xff80 /* KP_Space */ || keysym == 0xff89 /* KP_Tab */ ||
                        keysym == 0xff8d /* KP_Enter */ || keysym == 0xff9f /* KP_Delete */ ||
                        (keysym >= 0xffaa && keysym <= 0xffb9) /* KP_Multiply .. KP_9 */ ||
                        keysym == 0xffbd /* KP_Equal */;
    return character || deadKey || editing || keypad;
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
    return isTypingKeysym(keysym) && heldCommandModifiers_.empty();
}

void TypingKeyPresses::release(Source source, unsigned int keysym) {
    if (source == Source::user) {
        heldCommandModifiers_.erase(keysym);
    }
}

UserPressesInWindow::UserPressesInWindow(const UserKeyActivity* keys) : keys_(keys), at_(count()) {}

std::uint64_t UserPressesInWindow::count() const {
    return keys_ ? keys_->userPresses() : 0;
}

bool UserPressesInWindow::pressedIn(bool inFront) {
    const std::uint64_t now = count();
    const bool pressed = now > at_;
    steady_ = inFront && inFront_;
    pressedNear_ = pressedNear_ || (pressed && (inFront || inFront_));
    inFront_ = inFront;
    at_ = now;
    return steady_ && pressed;
}

bool UserPressesInWindow::pressedSinceLook() const {
    return count() > at_;
}

}  // namespace tavrolin
