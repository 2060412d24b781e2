#include "platform/linux/sent_keys.h"

#include <algorithm>

namespace tavrolin::x11 {

void SentKeys::sent(quint8 keycode, bool press, Clock::time_point at) {
    const std::lock_guard lock(mutex_);
    // Without a watch nothing is ever claimed: the record stays as short as the keys it keeps.
    forgetOlderThan(at);
    keys_.push_back({keycode, press, at});
}

void SentKeys::forgetOlderThan(Clock::time_point now) {
    while (!keys_.empty() && now - keys_.front().at > kept) {
        keys_.pop_front();
    }
}

bool SentKeys::claim(quint8 keycode, bool press, Clock::time_point since, Clock::time_point at) {
    const std::lock_guard lock(mutex_);
    forgetOlderThan(at);
    const auto found = std::find_if(keys_.begin(), keys_.end(), [&](const Key& key) {
        return key.keycode == keycode && key.press == press && key.at >= since;
    });
    if (found == keys_.end()) {
        return false;
    }
    keys_.erase(found);
    return true;
}

SentKeys& sentKeys() {
    static SentKeys keys;
    return keys;
}

}  // namespace tavrolin::x11
