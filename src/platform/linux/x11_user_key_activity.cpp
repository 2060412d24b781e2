#include "platform/desktop_backend.h"
#include "platform/linux/sent_keys.h"
#include "platform/linux/x11_event_thread.h"
#include "platform/user_key_activity.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <string_view>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace tavrolin {

namespace {

template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

using SteadyTicks = std::chrono::steady_clock::duration::rep;

// Reads XInput 2 raw key events of the whole display on a connection and thread of its own and
// keeps the monotonic time of the last press that typed. Each raw event names the device it came
// from: keys a program sends through XTest come from an XTEST keyboard (one per master, named
// "<master> XTEST keyboard", which the server never lets move to another master). Of those, the
// ones this process sent are ours (it records each as it sends it); every other key is the
// user's, whether from their keyboards or typed for them by another program (an on-screen
// keyboard, a keyboard-sharing or VNC server, a text expander). The GUI thread only reads an
// atomic: nothing waits on the server.
class X11UserKeyActivity final : public UserKeyActivity {
public:
    static std::shared_ptr<X11UserKeyActivity> start() {
        auto activity = std::shared_ptr<X11UserKeyActivity>(new X11UserKeyActivity());
        return activity->open() ? activity : nullptr;
    }

    ~X11UserKeyActivity() override {
        events_.stop();  // before the connection it reads goes
        if (connection_) {
            xcb_disconnect(connection_);
        }
    }

    std::uint64_t userKeyPresses() const override { return userKeys_.load(); }
    std::uint64_t pointerButtonPresses() const override { return buttons_.load(); }

    std::optional<std::chrono::milliseconds> sinceLastUserKeyPress() const override {
        const SteadyTicks last = lastTyping_.load();
        if (last == noPress) {
            return std::nullopt;
        }
        const auto since =
            std::chrono::steady_clock::now().time_since_epoch() - std::chrono::steady_clock::duration(last);
        return std::chrono::duration_cast<std::chrono::milliseconds>(since);
    }

private:
    static constexpr SteadyTicks noPress = std::numeric_limits<SteadyTicks>::min();

    X11UserKeyActivity() = default;

    bool open() {
        int screenNumber = 0;
        connection_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection_)) {
            return false;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber && it.rem > 1; ++i) {
            xcb_screen_next(&it);
        }
        watchedSince_ = std::chrono::steady_clock::now();
        if (it.rem == 0 || !selectEvents(it.data->root)) {
            return false;
        }
        loadKeyboardMapping();
        loadSyntheticDevices();
        return events_.start(connection_, [this](xcb_generic_event_t* event) { handle(event); });
    }

    bool selectEvents(xcb_window_t root) {
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection_, &xcb_input_id);
        if (!extension || !extension->present) {
            return false;
        }
        opcode_ = extension->major_opcode;
        XcbReply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(connection_, xcb_input_xi_query_version(connection_, 2, 2), nullptr),
            &std::free);
        // Raw events reach the root of every client since XInput 2.1.
        if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1)) {
            return false;
        }
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection[2] = {
            {{XCB_INPUT_DEVICE_ALL_MASTER, 1},
             XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE |
                 XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS},
            {{XCB_INPUT_DEVICE_ALL, 1}, XCB_INPUT_XI_EVENT_MASK_HIERARCHY},
        };
        xcb_generic_error_t* error = xcb_request_check(
            connection_, xcb_input_xi_select_events_checked(connection_, root, 2, &selection[0].head));
        if (error) {
            std::free(error);
            return false;
        }
        return true;
    }

    void loadKeyboardMapping() {
        const xcb_setup_t* setup = xcb_get_setup(connection_);
        minKeycode_ = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(
            xcb_get_keyboard_mapping_reply(
                connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<uint8_t>(count)),
                nullptr),
            &std::free);
        keysyms_.clear();
        keysymsPerKeycode_ = 0;
        if (!mapping) {
            return;
        }
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        keysyms_.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(mapping.get()));
        keysymsPerKeycode_ = mapping->keysyms_per_keycode;
    }

    unsigned int keysymOf(uint32_t keycode) const {
        if (keysymsPerKeycode_ == 0 || keycode < minKeycode_) {
            return 0;
        }
        const std::size_t index = static_cast<std::size_t>(keycode - minKeycode_) * keysymsPerKeycode_;
        return index < keysyms_.size() ? keysyms_[index] : 0;
    }

    // The XTEST keyboards: every key they carry was sent by a program, ours or another.
    void loadSyntheticDevices() {
        syntheticDevices_.clear();
        XcbReply<xcb_input_xi_query_device_reply_t> devices(
            xcb_input_xi_query_device_reply(connection_, xcb_input_xi_query_device(connection_, XCB_INPUT_DEVICE_ALL),
                                            nullptr),
            &std::free);
        if (!devices) {
            return;
        }
        constexpr std::string_view suffix = " XTEST keyboard";
        for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem > 0;
             xcb_input_xi_device_info_next(&it)) {
            const std::string_view name(xcb_input_xi_device_info_name(it.data),
                                        static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && name.size() >= suffix.size() &&
                name.substr(name.size() - suffix.size()) == suffix) {
                syntheticDevices_.insert(it.data->deviceid);
            }
        }
    }

    void handle(xcb_generic_event_t* event) {
        const uint8_t type = event->response_type & 0x7f;
        // This connection never turns XKB on, so the server tells it of every new keyboard map (a
        // layout set, a keyboard plugged in) in the core protocol.
        if (type == XCB_MAPPING_NOTIFY) {
            loadKeyboardMapping();
            return;
        }
        if (type != XCB_GE_GENERIC) {
            return;
        }
        auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (generic->extension != opcode_) {
            return;
        }
        if (generic->event_type == XCB_INPUT_HIERARCHY) {
            // A keyboard came or went: the one removed takes its releases with it.
            loadSyntheticDevices();
            keys_.reset();
            return;
        }
        if (generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            // Buttons 4 to 7 are the wheel's turns, scrolling only.
            const uint32_t button = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event)->detail;
            if (button < 4 || button > 7) {
                ++buttons_;
            }
            return;
        }
        if (generic->event_type != XCB_INPUT_RAW_KEY_PRESS && generic->event_type != XCB_INPUT_RAW_KEY_RELEASE) {
            return;
        }
        auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(event);
        const bool press = generic->event_type == XCB_INPUT_RAW_KEY_PRESS;
        const unsigned int keysym = keysymOf(raw->detail);
        const bool ours = syntheticDevices_.count(raw->sourceid) &&
                          x11::sentKeys().claim(static_cast<quint8>(raw->detail), press, watchedSince_);
        const auto source = ours ? TypingKeyPresses::Source::ours : TypingKeyPresses::Source::user;
        if (press && !ours) {
            ++userKeys_;
        }
        if (!press) {
            keys_.release(source, keysym);
        } else if (keys_.press(source, keysym)) {
            lastTyping_.store(std::chrono::steady_clock::now().time_since_epoch().count());
        }
    }

    std::atomic<SteadyTicks> lastTyping_{noPress};
    std::atomic<std::uint64_t> userKeys_{0};
    std::atomic<std::uint64_t> buttons_{0};
    // The reader thread's own, from here on.
    xcb_connection_t* connection_ = nullptr;
    uint8_t opcode_ = 0;
    std::chrono::steady_clock::time_point watchedSince_;
    std::vector<xcb_keysym_t> keysyms_;
    uint32_t minKeycode_ = 0;
    uint8_t keysymsPerKeycode_ = 0;
    std::set<uint16_t> syntheticDevices_;
    TypingKeyPresses keys_;
    x11::EventThread events_;
};

}  // namespace

std::shared_ptr<UserKeyActivity> makeSystemUserKeyActivity() {
    return X11UserKeyActivity::start();
}

}  // namespace tavrolin
