#include "shell/alerts_after_typing.h"

#include "platform/user_key_activity.h"

#include <algorithm>

namespace tavrolin {

AlertsAfterTyping::AlertsAfterTyping(Show show, WatchPresses watch, std::chrono::milliseconds quiet)
    : show_(std::move(show)), watch_(std::move(watch)), quiet_(quiet) {
    timer_.setInterval(std::chrono::milliseconds(200));
    QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
}

AlertsAfterTyping::~AlertsAfterTyping() = default;

void AlertsAfterTyping::post(const QString& title, const QString& message) {
    const std::pair<QString, QString> alert{title, message};
    if (std::ranges::find(waiting_, alert) != waiting_.end()) {
        return;  // already waiting
    }
    waiting_.push_back(alert);
    if (!presses_ && watch_) {
        presses_ = watch_();
        pressesSeen_ = presses_ ? presses_->userPresses() : 0;
        quietSince_.start();
    }
    if (!presses_) {
        look();  // nothing to wait for
    }
    if (!waiting_.empty() && !showing_ && !timer_.isActive()) {
        timer_.start();
    }
}

void AlertsAfterTyping::look() {
    if (showing_) {
        return;  // a modal alert runs the event loop; the next waits for it to close
    }
    if (presses_) {
        const std::uint64_t presses = presses_->userPresses();
        if (presses != pressesSeen_) {
            pressesSeen_ = presses;
            quietSince_.restart();
            return;
        }
        if (std::chrono::milliseconds(quietSince_.elapsed()) < quiet_) {
            return;
        }
    }
    while (!waiting_.empty()) {
        const auto [title, message] = waiting_.front();
        waiting_.pop_front();
        // The modal alert runs an event loop of its own: nothing to look at until it closes.
        timer_.stop();
        showing_ = true;
        show_(title, message);
        showing_ = false;
        if (presses_) {
            // The user may have gone back to typing after answering: the next waits again.
            pressesSeen_ = presses_->userPresses();
            quietSince_.restart();
            break;
        }
    }
    if (waiting_.empty()) {
        timer_.stop();
        presses_.reset();
    } else if (!timer_.isActive()) {
        timer_.start();
    }
}

}  // namespace tavrolin
