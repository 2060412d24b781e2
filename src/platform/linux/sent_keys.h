#pragma once

#include <QtGlobal>

#include <chrono>
#include <deque>
#include <mutex>

namespace tavrolin::x11 {

// The keys this process sends through XTest, each from the moment it is sent until the server
// reports it back. XTest keys arrive from the display's XTEST keyboard whoever sent them (an
// on-screen keyboard, a keyboard-sharing or VNC server, a text expander): only this record tells
// ours from the ones other programs type for the user. Safe to use from any thread.
class SentKeys {
public:
    using Clock = std::chrono::steady_clock;
    // A key the server has not reported within this was never seen (the release of a key the
    // XTEST keyboard did not hold makes no event): it is forgotten.
    static constexpr std::chrono::milliseconds kept{2000};

    void sent(quint8 keycode, bool press, Clock::time_point at = Clock::now());
    // Whether an XTest key the server reports is one we sent: the earliest record of that key and
    // direction is taken away, so each of ours is recognised once. A watch that began at `since`
    // never saw the keys sent before: their records cannot be what it sees now.
    bool claim(quint8 keycode, bool press, Clock::time_point since, Clock::time_point at = Clock::now());

private:
    struct Key {
        quint8 keycode = 0;
        bool press = false;
        Clock::time_point at;
    };
    void forgetOlderThan(Clock::time_point now);  // under the lock

    std::mutex mutex_;
    std::deque<Key> keys_;
};

// The record every key this process sends goes into.
SentKeys& sentKeys();

}  // namespace tavrolin::x11
