#pragma once

#include <functional>
#include <thread>
#include <xcb/xcb.h>

namespace tavrolin::x11 {

// A thread that hands every event of an X connection of its own to a handler, until it is
// stopped or the connection breaks. Stopping wakes it through a pipe and waits for it, so the
// owner may close the connection right after stop().
class EventThread {
public:
    EventThread() = default;
    ~EventThread() { stop(); }
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    // Starts handing `connection`'s events to `handle`, on the new thread; the handler does not
    // free them. False when no thread could be started.
    bool start(xcb_connection_t* connection, std::function<void(xcb_generic_event_t*)> handle);
    // Ends the thread and waits for it; nothing when it never started.
    void stop();

private:
    void run(xcb_connection_t* connection, const std::function<void(xcb_generic_event_t*)>& handle) const;

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;
};

}  // namespace tavrolin::x11
