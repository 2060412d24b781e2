#include "platform/global_mouse_monitoring.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <thread>

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

// Reads raw button presses on a connection and thread of its own, so that a busy main thread
// never delays or loses one, and forwards each to the main thread.
class X11MouseMonitor final : public GlobalMouseMonitor {
public:
    static std::unique_ptr<X11MouseMonitor> start(std::function<void()> handler) {
        auto monitor = std::unique_ptr<X11MouseMonitor>(new X11MouseMonitor(std::move(handler)));
        return monitor->open() ? std::move(monitor) : nullptr;
    }

    ~X11MouseMonitor() override {
        alive_->store(false);
        if (thread_.joinable()) {
            const char stop = 1;
            [[maybe_unused]] const auto written = ::write(wakeWrite_, &stop, 1);
            thread_.join();
        }
        if (wakeRead_ >= 0) {
            ::close(wakeRead_);
            ::close(wakeWrite_);
        }
        if (connection_) {
            xcb_disconnect(connection_);
        }
    }

private:
    explicit X11MouseMonitor(std::function<void()> handler)
        : handler_(std::make_shared<std::function<void()>>(std::move(handler))) {}

    bool open() {
        int screenNumber = 0;
        connection_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection_)) {
            return false;
        }
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
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber && it.rem > 1; ++i) {
            xcb_screen_next(&it);
        }
        if (it.rem == 0) {
            return false;
        }
        root_ = it.data->root;
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        xcb_generic_error_t* error =
            xcb_request_check(connection_, xcb_input_xi_select_events_checked(connection_, root_, 1, &selection.head));
        if (error) {
            std::free(error);
            return false;
        }
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            return false;
        }
        wakeRead_ = pipeEnds[0];
        wakeWrite_ = pipeEnds[1];
        thread_ = std::thread([this] { run(); });
        return true;
    }

    void run() {
        const int fd = xcb_get_file_descriptor(connection_);
        while (alive_->load()) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                handle(event);
                std::free(event);
            }
            if (xcb_connection_has_error(connection_)) {
                return;
            }
            pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[1].revents) {
                return;
            }
        }
    }

    void handle(xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC) {
            return;
        }
        auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
        if (generic->extension != opcode_ || generic->event_type != XCB_INPUT_RAW_BUTTON_PRESS) {
            return;
        }
        const int button = static_cast<int>(reinterpret_cast<xcb_input_raw_button_press_event_t*>(event)->detail);
        if (button >= 4 && button <= 7) {
            return;
        }
        std::vector<unsigned long long> stack = windowsUnderPointer();
        auto alive = alive_;
        auto handler = handler_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, handler, button, stack = std::move(stack)] {
                if (alive->load() && isReportedMousePress(button, stack, ownNativeWindows()) && *handler) {
                    (*handler)();
                }
            },
            Qt::QueuedConnection);
    }

    // The windows under the pointer from the top-level (or its frame) down.
    std::vector<unsigned long long> windowsUnderPointer() {
        std::vector<unsigned long long> stack;
        xcb_window_t window = root_;
        for (int depth = 0; depth < 8; ++depth) {
            XcbReply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, window), nullptr), &std::free);
            if (!pointer || pointer->child == XCB_WINDOW_NONE) {
                break;
            }
            window = pointer->child;
            stack.push_back(window);
        }
        return stack;
    }

    std::shared_ptr<std::function<void()>> handler_;
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    uint8_t opcode_ = 0;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

class X11GlobalMouseMonitoring final : public GlobalMouseMonitoring {
public:
    std::unique_ptr<GlobalMouseMonitor> addMouseDownMonitor(std::function<void()> handler) override {
        return X11MouseMonitor::start(std::move(handler));
    }
};

}  // namespace

std::shared_ptr<GlobalMouseMonitoring> makeX11GlobalMouseMonitoring() {
    return std::make_shared<X11GlobalMouseMonitoring>();
}

}  // namespace tavrolin
