#include "platform/linux/x11_front_window_content.h"

#include "platform/desktop_backend.h"
#include "platform/front_application.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

namespace {

struct FreeDeleter {
    void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// One connection of its own, opened on first use and again after the server went away.
class Connection {
public:
    static Connection& shared() {
        static Connection connection;
        return connection;
    }

    std::optional<FrontWindowContent> measure(const FrontApplication& front) {
        std::lock_guard lock(mutex_);
        if (!connect()) {
            return std::nullopt;
        }
        const auto window = static_cast<xcb_window_t>(front.windowId);
        const xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(connection_, window);
        const xcb_translate_coordinates_cookie_t originCookie =
            xcb_translate_coordinates(connection_, window, root_, 0, 0);
        const xcb_get_property_cookie_t extentsCookie =
            xcb_get_property(connection_, 0, window, frameExtentsAtom_, XCB_ATOM_CARDINAL, 0, 4);
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection_, geometryCookie, nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(connection_, originCookie, nullptr));
        Reply<xcb_get_property_reply_t> extents(xcb_get_property_reply(connection_, extentsCookie, nullptr));
        if (!geometry || !origin) {
            return std::nullopt;
        }
        FrontWindowContent content;
        content.processId = front.processId;
        content.client = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        // Any client can write any property: only four cardinals, each within the window, count.
        if (extents && extents->format == 32 && extents->type == XCB_ATOM_CARDINAL &&
            xcb_get_property_value_length(extents.get()) == 16) {
            std::uint32_t values[4];
            std::memcpy(values, xcb_get_property_value(extents.get()), sizeof values);
            const std::uint32_t left = values[0], right = values[1], top = values[2], bottom = values[3];
            if (left + right < geometry->width && top + bottom < geometry->height) {
                content.drawnFrame = QMargins(int(left), int(top), int(right), int(bottom));
            }
        }
        return content;
    }

private:
    // Caller holds the mutex.
    bool connect() {
        if (connection_ != nullptr && xcb_connection_has_error(connection_) == 0) {
            return true;
        }
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
            connection_ = nullptr;
        }
        int screenNumber = 0;
        xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection) != 0) {
            xcb_disconnect(connection);
            return false;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
            xcb_screen_next(&screens);
        }
        if (screens.rem == 0) {
            xcb_disconnect(connection);
            return false;
        }
        connection_ = connection;
        root_ = screens.data->root;
        const char* name = "_GTK_FRAME_EXTENTS";
        Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
        frameExtentsAtom_ = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        return true;
    }

    std::mutex mutex_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = xcb_window_t(XCB_WINDOW_NONE);
    xcb_atom_t frameExtentsAtom_ = xcb_atom_t(XCB_ATOM_NONE);
};

}  // namespace

std::optional<QPoint> contentOrigin(const FrontWindowContent& front, QSize size) {
    constexpr int maximumUnannouncedMargin = 64;
    const QRect& client = front.client;
    if (size.width() <= 0 || size.height() <= 0) {
        return std::nullopt;
    }
    if (front.drawnFrame) {
        const QMargins& frame = *front.drawnFrame;
        if (std::abs(client.width() - frame.left() - frame.right() - size.width()) > 1 ||
            std::abs(client.height() - frame.top() - frame.bottom() - size.height()) > 1) {
            return std::nullopt;
        }
        return client.topLeft() + QPoint(frame.left(), frame.top());
    }
    const int spareWidth = client.width() - size.width();
    const int spareHeight = client.height() - size.height();
    if (spareWidth < 0 || spareHeight < 0 || spareWidth > 2 * maximumUnannouncedMargin ||
        spareHeight > 2 * maximumUnannouncedMargin) {
        return std::nullopt;
    }
    return client.topLeft() + QPoint(spareWidth / 2, spareHeight / 2);
}

std::optional<FrontWindowContent> frontWindowContent() {
    const std::optional<FrontApplication> front = defaultFrontApplicationProvider()->frontApplication();
    if (!front || front->windowId == 0 || front->processId <= 0) {
        return std::nullopt;
    }
    return Connection::shared().measure(*front);
}

}  // namespace tavrolin::x11
