#pragma once

#include "platform/user_key_activity.h"
#include "support/virtual_time.h"

#include <initializer_list>
#include <vector>

namespace tavrolin::test {

// The keys of a pretend desktop as its display server reports them, on the virtual time of a
// ManualScheduler: the user's and those we sent, judged as the real reader judges them.
class FakeUserKeyActivity final : public UserKeyActivity {
public:
    using Source = TypingKeyPresses::Source;
    static constexpr unsigned int controlL = 0xffe3;
    static constexpr unsigned int shiftL = 0xffe1;
    static constexpr unsigned int altL = 0xffe9;
    static constexpr unsigned int altGr = 0xfe03;

    explicit FakeUserKeyActivity(const ManualScheduler& time) : time_(time) {}

    // Presses the keys (X keysyms; a letter is its lowercase character) in order, each held over
    // those after it, then releases them in reverse: {controlL, shiftL, 'w'} is Control+Shift+W.
    void chord(std::initializer_list<unsigned int> keysyms, Source source = Source::user) {
        for (const unsigned int keysym : keysyms) {
            if (keys_.press(source, keysym)) {
                lastTyping_ = time_.elapsed();
            }
            if (source == Source::user) {
                ++userKeys_;
            }
        }
        const std::vector<unsigned int> pressed(keysyms);
        for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) {
            keys_.release(source, *it);
        }
    }

    std::optional<std::chrono::milliseconds> sinceLastUserKeyPress() const override {
        if (!lastTyping_) {
            return std::nullopt;
        }
        return time_.elapsed() - *lastTyping_;
    }

    std::uint64_t userKeyPresses() const override { return userKeys_; }
    std::uint64_t pointerButtonPresses() const override { return buttons_; }
    void click() { ++buttons_; }

private:
    const ManualScheduler& time_;
    TypingKeyPresses keys_;
    std::uint64_t userKeys_ = 0;
    std::uint64_t buttons_ = 0;
    std::optional<std::chrono::milliseconds> lastTyping_;
};

}  // namespace tavrolin::test
