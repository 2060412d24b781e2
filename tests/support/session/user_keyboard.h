#pragma once

#include <initializer_list>
#include <memory>

namespace tavrolin::test {

// The user's own keyboard on $DISPLAY. Every key a program sends through XTest comes from an
// XTEST device, which is how Tavrolin tells its own and other programs' keys from a person's; this
// sends through the display's keyboard itself (Xvfb's), with XTest's per-device form, so the
// server reports the key as coming from that keyboard, as a person's would.
class UserKeyboard {
public:
    UserKeyboard();
    ~UserKeyboard();
    UserKeyboard(const UserKeyboard&) = delete;
    UserKeyboard& operator=(const UserKeyboard&) = delete;

    // False without a display, XInput 2 or a keyboard device that is not an XTEST one.
    bool isValid() const;
    // Presses and releases the key whose first symbol is `letter` (a lowercase ASCII letter or a
    // digit); false when nothing could be sent.
    bool type(char letter) { return press({static_cast<unsigned int>(letter)}); }
    // Presses the keys (X keysyms, each the first symbol of its key: a letter is its lowercase
    // character, Control_L 0xffe3, Shift_L 0xffe1) in order, each held over those after it, then
    // releases them in reverse; false when one could not be sent.
    bool press(std::initializer_list<unsigned int> keysyms);

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

}  // namespace tavrolin::test
