#include "platform/desktop_backend.h"
#include "platform/window_ping.h"

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace tavrolin {

namespace {

using Answer = WindowPinging::Answer;

// One X connection used on the worker thread only.
class PingConnection {
public:
    PingConnection() {
        int screenNumber = 0;
        xcb_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(xcb_)) {
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(xcb_));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
            xcb_screen_next(&it);
        }
        if (it.rem > 0) {
            root_ = it.data->root;
        }
        protocols_ = atom("WM_PROTOCOLS");
        ping_ = atom("_NET_WM_PING");
    }
    ~PingConnection() {
        if (xcb_) {
            xcb_disconnect(xcb_);
        }
    }
    PingConnection(const PingConnection&) = delete;
    PingConnection& operator=(const PingConnection&) = delete;

    Answer ping(xcb_window_t window, std::chrono::milliseconds bound) {
        if (!usable() || window == 0) {
            return Answer::unsupported;
        }
        const std::optional<Answer> refusal = checkWindow(window);
        if (refusal) {
            return *refusal;
        }
        // The program answers by sending the ping back to the root window, to whoever listens
        // there: GTK programs address the listeners for changes of the root's children, Qt ones
        // those for changes of the root itself.
        setRootEventMask(XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        const std::uint32_t token = ++pings_;
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = protocols_;
        event.data.data32[0] = ping_;
        event.data.data32[1] = token;  // in place of a timestamp: the answer carries it back
        event.data.data32[2] = window;
        xcb_send_event(xcb_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(xcb_);
        const Answer answer = awaitAnswer(window, token, std::chrono::steady_clock::now() + bound);
        setRootEventMask(XCB_EVENT_MASK_NO_EVENT);
        return answer;
    }

private:
    bool usable() const {
        return xcb_ && !xcb_connection_has_error(xcb_) && root_ != 0 && protocols_ != XCB_ATOM_NONE &&
               ping_ != XCB_ATOM_NONE;
    }

    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            xcb_, xcb_intern_atom(xcb_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    // Absent when the window exists and lists the ping among its protocols.
    std::optional<Answer> checkWindow(xcb_window_t window) {
        xcb_generic_error_t* error = nullptr;
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(xcb_, xcb_get_property(xcb_, 0, window, protocols_, XCB_ATOM_ATOM, 0, 64), &error);
        if (error) {
            const bool gone = error->error_code == XCB_WINDOW;
            std::free(error);
            std::free(reply);
            return gone ? Answer::windowGone : Answer::unsupported;
        }
        if (!reply) {
            return Answer::unsupported;
        }
        bool listed = false;
        if (reply->format == 32) {
            const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / 4;
            for (int i = 0; i < count && !listed; ++i) {
                listed = atoms[i] == ping_;
            }
        }
        std::free(reply);
        return listed ? std::nullopt : std::optional<Answer>(Answer::unsupported);
    }

    void setRootEventMask(std::uint32_t mask) {
        xcb_change_window_attributes(xcb_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(xcb_);
    }

    Answer awaitAnswer(xcb_window_t window, std::uint32_t token, std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            xcb_generic_event_t* event = xcb_poll_for_event(xcb_);
            if (!event) {
                if (xcb_connection_has_error(xcb_)) {
                    return Answer::unsupported;
                }
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    return Answer::unanswered;
                }
                pollfd descriptor{xcb_get_file_descriptor(xcb_), POLLIN, 0};
                ::poll(&descriptor, 1, static_cast<int>(left.count()));
                continue;
            }
            std::optional<Answer> answer;
            const std::uint8_t type = event->response_type & ~0x80;
            if (type == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (message->type == protocols_ && message->format == 32 && message->data.data32[0] == ping_ &&
                    message->data.data32[1] == token && message->data.data32[2] == window) {
                    answer = Answer::answered;
                }
            } else if (type == 0) {
                // The ping itself failed: the window went away after it was looked at.
                if (reinterpret_cast<const xcb_generic_error_t*>(event)->error_code == XCB_WINDOW) {
                    answer = Answer::windowGone;
                }
            }
            std::free(event);
            if (answer) {
                return *answer;
            }
        }
    }

    xcb_connection_t* xcb_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_atom_t protocols_ = XCB_ATOM_NONE;
    xcb_atom_t ping_ = XCB_ATOM_NONE;
    std::uint32_t pings_ = 0;
};

class X11WindowPing final : public WindowPinging {
public:
    X11WindowPing() : state_(std::make_shared<State>()) {
        state_->thread.setMaxThreadCount(1);
        state_->thread.setExpiryTimeout(-1);
    }

    QCoro::Task<Answer> ping(quint64 window, std::chrono::milliseconds bound) override {
        const std::shared_ptr<State> state = state_;
        const auto work = [state, window, bound] {
            if (!state->connection) {
                state->connection = std::make_unique<PingConnection>();
            }
            return state->connection->ping(static_cast<xcb_window_t>(window), bound);
        };
        QFuture<Answer> future = QtConcurrent::run(&state->thread, work);
        co_return co_await future;
    }

private:
    struct State {
        QThreadPool thread;                          // one thread: the pings, in order
        std::unique_ptr<PingConnection> connection;  // used on that thread only
        ~State() { thread.waitForDone(); }
    };
    std::shared_ptr<State> state_;
};

}  // namespace

std::shared_ptr<WindowPinging> makeSystemWindowPing() {
    return std::make_shared<X11WindowPing>();
}

}  // namespace tavrolin
