#include "platform/linux/x11_event_thread.h"

#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace tavrolin::x11 {

bool EventThread::start(xcb_connection_t* connection, std::function<void(xcb_generic_event_t*)> handle) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return false;
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];
    thread_ = std::thread([this, connection, handle = std::move(handle)] { run(connection, handle); });
    return true;
}

void EventThread::stop() {
    if (thread_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const auto written = ::write(wakeWrite_, &stop, 1);
        thread_.join();
    }
    if (wakeRead_ >= 0) {
        ::close(wakeRead_);
        ::close(wakeWrite_);
        wakeRead_ = wakeWrite_ = -1;
    }
}

void EventThread::run(xcb_connection_t* connection, const std::function<void(xcb_generic_event_t*)>& handle) const {
    const int fd = xcb_get_file_descriptor(connection);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            handle(event);
            std::free(event);
        }
        if (xcb_connection_has_error(connection)) {
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

}  // namespace tavrolin::x11
