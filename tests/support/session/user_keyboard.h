#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin::test {

// A keyboard of the user's on $DISPLAY. Every key a program sends through XTest comes from the
// XTEST device; `display` sends through the display's keyboard itself (Xvfb's), with XTest's
// per-device form, so the server reports the key as coming from that keyboard, as a person's
// would. `xtest` sends as an on-screen keyboard or a keyboard-sharing program does. Keys from the
// one after keys from the other make the server announce a new keyboard, as a second keyboard's
// do.
class UserKeyboard {
public:
    enum class Device { display, xtest };
    explicit UserKeyboard(Device device = Device::display);
    ~UserKeyboard();
    UserKeyboard(const UserKeyboard&) = delete;
    UserKeyboard& operator=(const UserKeyboard&) = delete;

    // False without a display, XInput 2 or (for `display`) a keyboard device that is not an XTEST
    // one.
    bool isValid() const;
    // Presses and releases the key whose first symbol is `letter` (a lowercase ASCII letter or a
    // digit); false when nothing could be sent.
    bool type(char letter) { return press({static_cast<unsigned int>(letter)}); }
    // Presses the keys (X keysyms, each the first symbol of its key: a letter is its lowercase
    // character, Control_L 0xffe3, Shift_L 0xffe1) in order, each held over those after it, then
    // releases them in reverse; false when one could not be sent. `beforeLast` passes between
    // the press of the last key but one and the last (a chord's modifiers, then its letter).
    bool press(std::initializer_list<unsigned int> keysyms,
               std::chrono::microseconds beforeLast = std::chrono::microseconds(0));
    // Presses and releases a key by its keycode, whatever the keyboard map gives it (none).
    bool tap(unsigned char keycode);
    // As press(), by keycodes: the keys where they sit, whatever the layout makes them.
    bool pressKeycodes(const std::vector<unsigned char>& keycodes,
                       std::chrono::microseconds beforeLast = std::chrono::microseconds(0));
    // The key whose first symbol is `keysym` in the keyboard map of now; 0 for none.
    unsigned char keycodeOf(unsigned int keysym);

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

// A key of the display's keyboard map without any symbol (a vendor key the layout leaves out);
// absent when there is none or no display.
std::optional<unsigned char> keycodeWithoutSymbol();

}  // namespace tavrolin::test
