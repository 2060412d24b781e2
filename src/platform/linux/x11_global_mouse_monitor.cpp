#include "platform/desktop_backend.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/linux/x11_event_thread.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace tavrolin {

namespace {

// An XCB reply, freed with the C allocator.
template <typename T>
using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

// Our own windows, as X knows them. Main thread.
std::vector<unsigned long long> ownNativeWindows() {
    std::vector<unsigned long long> windows;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle()) {
            windows.push_back(window->winId());
        }
    }
    return windows;
}

// What one reader watches and where it sends it. The raw event arrives with everything but
// overOwnWindow filled in; `windowsUnderPointer` lets the main thread decide that.
struct ReaderSubscription {
    uint32_t rawMask = 0;
    bool watchActiveWindow = false;
    // Wheel steps (buttons 4 to 7) are dropped in the reader: they come in bursts.
    bool dropWheel = true;
    std::function<void(RawInputEvent, const std::vector<unsigned long long>& windowsUnderPointer)> onRaw;
    std::function<void()> onActiveApplicationChanged;
};

// Reads raw input (and, when asked, the root's active-window property) on a connection and
// thread of its own, so that a busy main thread never delays or loses an event, and forwards
// each to the main thread. The thread sleeps in poll() between events: nothing is polled.
class X11InputReader final : public GlobalMouseMonitor {
public:
    static std::unique_ptr<X11InputReader> start(ReaderSubscription subscription) {
        auto reader = std::unique_ptr<X11InputReader>(new X11InputReader(std::move(subscription)));
        return reader->open() ? std::move(reader) : nullptr;
    }

    ~X11InputReader() override {
        alive_->store(false);
        events_.stop();  // before the connection it reads goes
        if (connection_) {
            xcb_disconnect(connection_);
        }
    }

private:
    explicit X11InputReader(ReaderSubscription subscription)
        : subscription_(std::make_shared<ReaderSubscription>(std::move(subscription))) {}

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
        if (it.rem == 0) {
            return false;
        }
        root_ = it.data->root;
        if (subscription_->rawMask != 0 && !selectRawEvents()) {
            return false;
        }
        if (subscription_->watchActiveWindow && !watchActiveWindow()) {
            return false;
        }
        return events_.start(connection_, [this](xcb_generic_event_t* event) { handle(event); });
    }

    bool selectRawEvents() {
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
        } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, subscription_->rawMask};
        xcb_generic_error_t* error =
            xcb_request_check(connection_, xcb_input_xi_select_events_checked(connection_, root_, 1, &selection.head));
        if (error) {
            std::free(error);
            return false;
        }
        if (subscription_->rawMask &
            (XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE)) {
            loadKeyboardMapping();
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
        const int length = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
        keysyms_.assign(syms, syms + length);
        keysymsPerKeycode_ = mapping->keysyms_per_keycode;
    }

    unsigned int keysymOf(uint32_t keycode) const {
        if (keysymsPerKeycode_ == 0 || keycode < minKeycode_) {
            return 0;
        }
        const std::size_t index = static_cast<std::size_t>(keycode - minKeycode_) * keysymsPerKeycode_;
        return index < keysyms_.size() ? keysyms_[index] : 0;
    }

    xcb_atom_t atom(const char* name) {
        XcbReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(
                connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    bool watchActiveWindow() {
        activeWindowAtom_ = atom("_NET_ACTIVE_WINDOW");
        pidAtom_ = atom("_NET_WM_PID");
        if (activeWindowAtom_ == XCB_ATOM_NONE) {
            return false;
        }
        // Our own connection: its event mask on the root does not touch any other client's.
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_generic_error_t* error = xcb_request_check(
            connection_, xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask));
        if (error) {
            std::free(error);
            return false;
        }
        activeOwner_ = activeWindowOwner();
        return true;
    }

    uint32_t cardinalProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) {
        XcbReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection_, xcb_get_property(connection_, 0, window, property, type, 0, 1),
                                   nullptr),
            &std::free);
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
            return 0;
        }
        return *static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    }

    // The process of the active window; the window itself (tagged) when it names no process.
    uint64_t activeWindowOwner() {
        const xcb_window_t window = cardinalProperty(root_, activeWindowAtom_, XCB_ATOM_WINDOW);
        if (window == XCB_WINDOW_NONE) {
            return 0;
        }
        const uint32_t pid = pidAtom_ != XCB_ATOM_NONE ? cardinalProperty(window, pidAtom_, XCB_ATOM_CARDINAL) : 0;
        return pid != 0 ? pid : (uint64_t{1} << 40) | window;
    }

    void handle(xcb_generic_event_t* event) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
            if (property->window == root_ && property->atom == activeWindowAtom_) {
                const uint64_t owner = activeWindowOwner();
                if (owner != activeOwner_) {
                    activeOwner_ = owner;
                    forwardActiveApplicationChange();
                }
            }
            return;
        }
        if (type == XCB_MAPPING_NOTIFY) {
            if (!keysyms_.empty()) {
                loadKeyboardMapping();
            }
            return;
        }
        if (type != XCB_GE_GENERIC) {
            return;
        }
        auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (generic->extension != opcode_) {
            return;
        }
        RawInputEvent raw;
        switch (generic->event_type) {
        case XCB_INPUT_RAW_BUTTON_PRESS:
            raw.kind = RawInputEvent::Kind::buttonPress;
            break;
        case XCB_INPUT_RAW_BUTTON_RELEASE:
            raw.kind = RawInputEvent::Kind::buttonRelease;
            break;
        case XCB_INPUT_RAW_KEY_PRESS:
            raw.kind = RawInputEvent::Kind::keyPress;
            break;
        case XCB_INPUT_RAW_KEY_RELEASE:
            raw.kind = RawInputEvent::Kind::keyRelease;
            break;
        default:
            return;
        }
        // Key and button raw events share one layout.
        auto* rawEvent = reinterpret_cast<xcb_input_raw_button_press_event_t*>(event);
        raw.time = std::chrono::milliseconds(rawEvent->time);
        const bool isKey = raw.kind == RawInputEvent::Kind::keyPress || raw.kind == RawInputEvent::Kind::keyRelease;
        raw.detail = isKey ? keysymOf(rawEvent->detail) : rawEvent->detail;
        raw.isModifierKey = isKey && isModifierKeysym(raw.detail);
        // Shift and Control as the raw events left them: by the time the pointer is queried a
        // fast sender (XTest, a macro tool) may have released the modifier already.
        const bool shiftOrControl = raw.detail >= 0xffe1 && raw.detail <= 0xffe4;
        if (isKey && shiftOrControl) {
            if (raw.kind == RawInputEvent::Kind::keyPress) {
                heldModifiers_.insert(rawEvent->detail);
            } else {
                heldModifiers_.erase(rawEvent->detail);
            }
        }
        if (!isKey && raw.detail >= 4 && raw.detail <= 7 && subscription_->dropWheel) {
            return;
        }
        std::vector<unsigned long long> stack = windowsUnderPointer(raw);
        raw.shiftOrControlHeld = raw.shiftOrControlHeld || !heldModifiers_.empty();
        auto alive = alive_;
        auto subscription = subscription_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, subscription, raw, stack = std::move(stack)] {
                if (alive->load() && subscription->onRaw) {
                    subscription->onRaw(raw, stack);
                }
            },
            Qt::QueuedConnection);
    }

    void forwardActiveApplicationChange() {
        auto alive = alive_;
        auto subscription = subscription_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, subscription] {
                if (alive->load() && subscription->onActiveApplicationChanged) {
                    subscription->onActiveApplicationChanged();
                }
            },
            Qt::QueuedConnection);
    }

    // The windows under the pointer from the top-level (or its frame) down; fills in the
    // pointer position and the held modifiers from the first query.
    std::vector<unsigned long long> windowsUnderPointer(RawInputEvent& raw) {
        std::vector<unsigned long long> stack;
        xcb_window_t window = root_;
        for (int depth = 0; depth < 8; ++depth) {
            XcbReply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, window), nullptr), &std::free);
            if (!pointer) {
                break;
            }
            if (depth == 0) {
                raw.position = QPoint(pointer->root_x, pointer->root_y);
                raw.shiftOrControlHeld = (pointer->mask & (XCB_KEY_BUT_MASK_SHIFT | XCB_KEY_BUT_MASK_CONTROL)) != 0;
            }
            if (pointer->child == XCB_WINDOW_NONE) {
                break;
            }
            window = pointer->child;
            stack.push_back(window);
        }
        return stack;
    }

    std::shared_ptr<ReaderSubscription> subscription_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    uint8_t opcode_ = 0;
    std::vector<xcb_keysym_t> keysyms_;
    std::set<uint32_t> heldModifiers_;
    uint32_t minKeycode_ = 0;
    uint8_t keysymsPerKeycode_ = 0;
    xcb_atom_t activeWindowAtom_ = XCB_ATOM_NONE;
    xcb_atom_t pidAtom_ = XCB_ATOM_NONE;
    uint64_t activeOwner_ = 0;
    x11::EventThread events_;
};

// Physical pixels of the X screen to Qt's logical global coordinates.
QPoint logicalPosition(QPoint physical) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    return ratio > 0 && ratio != 1.0 ? QPoint(qRound(physical.x() / ratio), qRound(physical.y() / ratio)) : physical;
}

class X11GlobalMouseMonitoring final : public GlobalMouseMonitoring {
public:
    std::unique_ptr<GlobalMouseMonitor> addMouseDownMonitor(std::function<void()> handler) override {
        ReaderSubscription subscription;
        subscription.rawMask = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
        subscription.onRaw = [handler = std::move(handler)](const RawInputEvent& raw,
                                                            const std::vector<unsigned long long>& stack) {
            if (isReportedMousePress(static_cast<int>(raw.detail), stack, ownNativeWindows()) && handler) {
                handler();
            }
        };
        return X11InputReader::start(std::move(subscription));
    }
};

class X11GlobalInputMonitoring final : public GlobalInputMonitoring {
public:
    std::unique_ptr<GlobalMouseMonitor> addRawInputMonitor(std::function<void(const RawInputEvent&)> handler) override {
        ReaderSubscription subscription;
        subscription.rawMask = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE |
                               XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
        subscription.onRaw = [handler = std::move(handler)](RawInputEvent raw,
                                                            const std::vector<unsigned long long>& stack) {
            raw.position = logicalPosition(raw.position);
            const std::vector<unsigned long long> own = ownNativeWindows();
            raw.overOwnWindow = std::any_of(stack.begin(), stack.end(), [&](unsigned long long window) {
                return std::find(own.begin(), own.end(), window) != own.end();
            });
            if (handler) {
                handler(raw);
            }
        };
        return X11InputReader::start(std::move(subscription));
    }

    std::unique_ptr<GlobalMouseMonitor> addActiveApplicationMonitor(std::function<void()> handler) override {
        ReaderSubscription subscription;
        subscription.watchActiveWindow = true;
        subscription.onActiveApplicationChanged = std::move(handler);
        return X11InputReader::start(std::move(subscription));
    }
};

}  // namespace

std::shared_ptr<GlobalMouseMonitoring> makeSystemGlobalMouseMonitoring() {
    return std::make_shared<X11GlobalMouseMonitoring>();
}

std::shared_ptr<GlobalInputMonitoring> makeSystemGlobalInputMonitoring() {
    return std::make_shared<X11GlobalInputMonitoring>();
}

}  // namespace tavrolin
