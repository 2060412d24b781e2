#include "support/session/user_keyboard.h"

#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

namespace tavrolin::test {

namespace {

// XInput 1 event numbers, from the extension's first event: DeviceKeyPress, DeviceKeyRelease.
constexpr int deviceKeyPressOffset = 1;
constexpr int deviceKeyReleaseOffset = 2;

}  // namespace

struct UserKeyboard::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = 0;
    uint8_t firstEvent = 0;
    uint8_t device = 0;  // 0: the XTEST device
    bool valid = false;
    ~Connection() {
        if (xcb) {
            xcb_disconnect(xcb);
        }
    }

    // The first slave keyboard that is not an XTEST device.
    bool findKeyboard() {
        auto* reply =
            xcb_input_xi_query_device_reply(xcb, xcb_input_xi_query_device(xcb, XCB_INPUT_DEVICE_ALL), nullptr);
        if (!reply) {
            return false;
        }
        constexpr std::string_view xtest = "XTEST";
        for (auto it = xcb_input_xi_query_device_infos_iterator(reply); it.rem > 0 && device == 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string_view name(xcb_input_xi_device_info_name(it.data),
                                        static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && name.find(xtest) == std::string_view::npos &&
                it.data->deviceid < 128) {
                device = static_cast<uint8_t>(it.data->deviceid);
            }
        }
        std::free(reply);
        return device != 0;
    }

    bool send(int eventOffset, xcb_keycode_t key) {
        // The XTEST device takes the core events.
        const uint8_t type = device != 0                           ? static_cast<uint8_t>(firstEvent + eventOffset)
                             : eventOffset == deviceKeyPressOffset ? XCB_KEY_PRESS
                                                                   : XCB_KEY_RELEASE;
        xcb_generic_error_t* error =
            xcb_request_check(xcb, xcb_test_fake_input_checked(xcb, type, key, XCB_CURRENT_TIME, root, 0, 0, device));
        const bool sent = error == nullptr;
        std::free(error);
        return sent;
    }

    xcb_keycode_t keycodeOf(unsigned int keysym) {
        const xcb_setup_t* setup = xcb_get_setup(xcb);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* mapping = xcb_get_keyboard_mapping_reply(
            xcb, xcb_get_keyboard_mapping(xcb, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
        if (!mapping) {
            return 0;
        }
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
        xcb_keycode_t found = 0;
        for (int key = 0; key < count && found == 0; ++key) {
            if (syms[key * mapping->keysyms_per_keycode] == keysym) {
                found = static_cast<xcb_keycode_t>(setup->min_keycode + key);
            }
        }
        std::free(mapping);
        return found;
    }
};

UserKeyboard::UserKeyboard(Device device) : connection_(std::make_unique<Connection>()) {
    Connection& c = *connection_;
    int screenNumber = 0;
    c.xcb = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c.xcb)) {
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c.xcb));
    for (int i = 0; i < screenNumber && it.rem > 1; ++i) {
        xcb_screen_next(&it);
    }
    c.root = it.data->root;
    const xcb_query_extension_reply_t* input = xcb_get_extension_data(c.xcb, &xcb_input_id);
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c.xcb, &xcb_test_id);
    if (!input || !input->present || !xtest || !xtest->present) {
        return;
    }
    std::free(xcb_input_xi_query_version_reply(c.xcb, xcb_input_xi_query_version(c.xcb, 2, 2), nullptr));
    c.firstEvent = input->first_event;
    c.valid = device == Device::xtest || c.findKeyboard();
}

UserKeyboard::~UserKeyboard() = default;

bool UserKeyboard::isValid() const {
    return connection_->valid;
}

bool UserKeyboard::press(std::initializer_list<unsigned int> keysyms, std::chrono::microseconds beforeLast) {
    std::vector<unsigned char> keys;
    for (const unsigned int keysym : keysyms) {
        keys.push_back(keycodeOf(keysym));
        if (keys.back() == 0) {
            return false;
        }
    }
    return pressKeycodes(keys, beforeLast);
}

unsigned char UserKeyboard::keycodeOf(unsigned int keysym) {
    return isValid() ? connection_->keycodeOf(keysym) : 0;
}

bool UserKeyboard::pressKeycodes(const std::vector<unsigned char>& keys, std::chrono::microseconds beforeLast) {
    Connection& c = *connection_;
    if (!isValid()) {
        return false;
    }
    bool sent = true;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i + 1 == keys.size() && i > 0 && beforeLast.count() > 0) {
            std::this_thread::sleep_for(beforeLast);
        }
        sent = c.send(deviceKeyPressOffset, keys[i]) && sent;
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        sent = c.send(deviceKeyReleaseOffset, *it) && sent;
    }
    return sent;
}

}  // namespace tavrolin::test

namespace tavrolin::test {

bool UserKeyboard::tap(unsigned char keycode) {
    Connection& c = *connection_;
    return isValid() && c.send(deviceKeyPressOffset, keycode) && c.send(deviceKeyReleaseOffset, keycode);
}

}  // namespace tavrolin::test

namespace tavrolin::test {

std::optional<unsigned char> keycodeWithoutSymbol() {
    int screenNumber = 0;
    xcb_connection_t* xcb = xcb_connect(nullptr, &screenNumber);
    std::optional<unsigned char> found;
    if (!xcb_connection_has_error(xcb)) {
        const xcb_setup_t* setup = xcb_get_setup(xcb);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* mapping = xcb_get_keyboard_mapping_reply(
            xcb, xcb_get_keyboard_mapping(xcb, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
        if (mapping) {
            const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
            const int perKey = mapping->keysyms_per_keycode;
            // Past the first keycode, which servers leave empty but some clients take for none.
            for (int key = 1; key < count && !found; ++key) {
                bool empty = true;
                for (int column = 0; column < perKey; ++column) {
                    empty = empty && syms[key * perKey + column] == 0;
                }
                if (empty) {
                    found = static_cast<unsigned char>(setup->min_keycode + key);
                }
            }
            std::free(mapping);
        }
    }
    xcb_disconnect(xcb);
    return found;
}

}  // namespace tavrolin::test
