#include "platform/linux/xtest_synthetic_input.h"

#include "platform/desktop_backend.h"
#include "platform/linux/sent_keys.h"
#include "platform/linux/x11_pixels.h"

#include <X11/keysym.h>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace tavrolin {

struct XTestSyntheticInput::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = 0;
    xcb_key_symbols_t* symbols = nullptr;
    bool hasXTest = false;

    Connection() {
        int screenNumber = 0;
        xcb = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(xcb)) {
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(xcb));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
            xcb_screen_next(&it);
        }
        if (it.rem > 0) {
            root = it.data->root;
        }
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(xcb, &xcb_test_id);
        hasXTest = ext && ext->present && root != 0;
        symbols = xcb_key_symbols_alloc(xcb);
    }
    ~Connection() {
        if (symbols) {
            xcb_key_symbols_free(symbols);
        }
        if (xcb) {
            xcb_disconnect(xcb);
        }
    }
    bool usable() const { return xcb && !xcb_connection_has_error(xcb) && hasXTest && symbols; }

    // The keyboard map may have changed since the last chord (layout switch).
    void refreshKeyboardMap() {
        if (symbols) {
            xcb_key_symbols_free(symbols);
        }
        symbols = xcb_key_symbols_alloc(xcb);
    }

    xcb_keycode_t keycodeFor(xcb_keysym_t keysym) const {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        if (!codes) {
            return 0;
        }
        const xcb_keycode_t first = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
        std::free(codes);
        return first;
    }

    // Recorded before it goes: the key watch may see it come back before this returns.
    void fakeKey(uint8_t type, xcb_keycode_t keycode) {
        x11::sentKeys().sent(keycode, type == XCB_KEY_PRESS);
        xcb_test_fake_input(xcb, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, XCB_NONE);
    }

    // Waits until the server has handled everything sent so far.
    void sync() { std::free(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr)); }

    // The keycodes that are down now, and those of them that are modifiers. False when the
    // server did not answer.
    bool keysDown(std::vector<xcb_keycode_t>& modifiersDown, std::vector<xcb_keycode_t>& othersDown) {
        // Both asked before either answer is awaited: one round trip.
        const xcb_query_keymap_cookie_t keymapCookie = xcb_query_keymap(xcb);
        const xcb_get_modifier_mapping_cookie_t mappingCookie = xcb_get_modifier_mapping(xcb);
        xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(xcb, keymapCookie, nullptr);
        xcb_get_modifier_mapping_reply_t* mapping = xcb_get_modifier_mapping_reply(xcb, mappingCookie, nullptr);
        const bool answered = keymap && mapping;
        if (answered) {
            const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping);
            const int count = xcb_get_modifier_mapping_keycodes_length(mapping);
            const auto isModifier = [&](xcb_keycode_t code) {
                for (int i = 0; i < count; ++i) {
                    if (codes[i] == code) {
                        return true;
                    }
                }
                return false;
            };
            for (int code = 8; code < 256; ++code) {
                if ((keymap->keys[code / 8] & (1 << (code % 8))) == 0) {
                    continue;
                }
                (isModifier(static_cast<xcb_keycode_t>(code)) ? modifiersDown : othersDown)
                    .push_back(static_cast<xcb_keycode_t>(code));
            }
        }
        std::free(keymap);
        std::free(mapping);
        return answered;
    }

    // Keycodes of modifier keys that are down right now.
    std::vector<xcb_keycode_t> heldModifierKeys() {
        std::vector<xcb_keycode_t> modifiers;
        std::vector<xcb_keycode_t> others;
        keysDown(modifiers, others);
        return modifiers;
    }
};

namespace {

std::optional<xcb_keysym_t> keysymForKey(Qt::Key key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return XK_a + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return XK_0 + (key - Qt::Key_0);
    }
    if (key == Qt::Key_End) {
        return XK_End;
    }
    if (key == Qt::Key_Delete) {
        return XK_Delete;
    }
    return std::nullopt;
}

}  // namespace

XTestSyntheticInput::XTestSyntheticInput() : connection_(std::make_unique<Connection>()) {}

XTestSyntheticInput::~XTestSyntheticInput() = default;

bool XTestSyntheticInput::isAvailable() const {
    return connection_->usable();
}

bool XTestSyntheticInput::sendKeyChord(Qt::KeyboardModifiers modifiers, Qt::Key key) {
    Connection& c = *connection_;
    const std::optional<xcb_keysym_t> keysym = keysymForKey(key);
    if (!c.usable() || !keysym) {
        return false;
    }
    c.refreshKeyboardMap();
    const xcb_keycode_t keyCode = c.keycodeFor(*keysym);
    if (keyCode == 0) {
        return false;
    }
    std::vector<xcb_keycode_t> modifierCodes;
    const std::pair<Qt::KeyboardModifier, xcb_keysym_t> modifierKeys[] = {
        {Qt::ControlModifier, XK_Control_L},
        {Qt::ShiftModifier, XK_Shift_L},
        {Qt::AltModifier, XK_Alt_L},
        {Qt::MetaModifier, XK_Super_L},
    };
    for (const auto& [modifier, sym] : modifierKeys) {
        if (modifiers.testFlag(modifier)) {
            const xcb_keycode_t code = c.keycodeFor(sym);
            if (code == 0) {
                return false;
            }
            modifierCodes.push_back(code);
        }
    }

    // The user may still hold the shortcut's modifiers: lift them, or they join the chord.
    // They are not pressed again afterwards: the physical release that follows would
    // otherwise leave them stuck when the user has already let go.
    for (xcb_keycode_t held : c.heldModifierKeys()) {
        c.fakeKey(XCB_KEY_RELEASE, held);
    }
    for (xcb_keycode_t code : modifierCodes) {
        c.fakeKey(XCB_KEY_PRESS, code);
    }
    c.fakeKey(XCB_KEY_PRESS, keyCode);
    c.fakeKey(XCB_KEY_RELEASE, keyCode);
    for (auto it = modifierCodes.rbegin(); it != modifierCodes.rend(); ++it) {
        c.fakeKey(XCB_KEY_RELEASE, *it);
    }
    c.sync();
    return !xcb_connection_has_error(c.xcb);
}

std::optional<SyntheticInput::HeldKeys> XTestSyntheticInput::heldKeys() {
    Connection& c = *connection_;
    if (!c.usable()) {
        return std::nullopt;
    }
    std::vector<xcb_keycode_t> modifiers;
    std::vector<xcb_keycode_t> others;
    if (!c.keysDown(modifiers, others)) {
        return std::nullopt;
    }
    return HeldKeys{!modifiers.empty(), !others.empty()};
}

std::optional<QPoint> XTestSyntheticInput::pointerPosition() {
    Connection& c = *connection_;
    if (!c.usable()) {
        return std::nullopt;
    }
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(c.xcb, xcb_query_pointer(c.xcb, c.root), nullptr);
    if (!reply) {
        return std::nullopt;
    }
    const QPoint device(reply->root_x, reply->root_y);
    std::free(reply);
    return x11::devicePointToLogical(device);
}

bool XTestSyntheticInput::movePointerTo(QPoint position) {
    Connection& c = *connection_;
    if (!c.usable()) {
        return false;
    }
    const QPoint device = x11::logicalPointToDevice(position);
    xcb_test_fake_input(c.xcb, XCB_MOTION_NOTIFY, 0 /* absolute */, XCB_CURRENT_TIME, c.root,
                        static_cast<int16_t>(device.x()), static_cast<int16_t>(device.y()), XCB_NONE);
    c.sync();
    return !xcb_connection_has_error(c.xcb);
}

namespace {

// The pointer alone, over an X connection opened only when first used.
class DeferredXTestPointer final : public SyntheticPointerInput {
public:
    bool isAvailable() { return input().isAvailable(); }
    std::optional<QPoint> pointerPosition() override { return input().pointerPosition(); }
    bool movePointerTo(QPoint position) override { return input().movePointerTo(position); }

private:
    XTestSyntheticInput& input() {
        if (!input_) {
            input_ = std::make_unique<XTestSyntheticInput>();
        }
        return *input_;
    }
    std::unique_ptr<XTestSyntheticInput> input_;
};

}  // namespace

std::unique_ptr<SyntheticInput> makeSystemSyntheticInput() {
    return std::make_unique<XTestSyntheticInput>();
}

DeferredSyntheticPointer makeSystemDeferredSyntheticPointer() {
    auto pointer = std::make_shared<DeferredXTestPointer>();
    return {pointer, [pointer] { return pointer->isAvailable(); }};
}

}  // namespace tavrolin
