#include "platform/clock.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace tavrolin {

namespace {

class TimerCall final : public ScheduledCall {
public:
    TimerCall(std::chrono::milliseconds delay, std::function<void()> callback, Qt::TimerType type = Qt::CoarseTimer)
        : timer_(new QTimer) {
        timer_->setSingleShot(true);
        timer_->setTimerType(type);
        QObject::connect(timer_, &QTimer::timeout, timer_, [firing = firing_, cb = std::move(callback)] {
            *firing = true;
            cb();  // may cancel or destroy this call, never the timer itself
            *firing = false;
        });
        timer_->start(std::clamp(delay, std::chrono::milliseconds(0), QtScheduler::maximumDelay));
    }
    ~TimerCall() override { cancel(); }
    void cancel() override {
        if (timer_) {
            timer_->stop();
            // Inside its own timeout the timer may only be deleted later; otherwise at once, since
            // a call cancelled while the application shuts down gets no event loop for deleteLater.
            if (*firing_) {
                timer_->deleteLater();
            } else {
                delete timer_.data();
            }
            timer_ = nullptr;
        }
    }
    bool isActive() const override { return timer_ && timer_->isActive(); }

private:
    QPointer<QTimer> timer_;
    std::shared_ptr<bool> firing_ = std::make_shared<bool>(false);
};

}  // namespace

std::unique_ptr<ScheduledCall> QtScheduler::scheduleAfter(std::chrono::milliseconds delay,
                                                          std::function<void()> callback) {
    return std::make_unique<TimerCall>(delay, std::move(callback));
}

std::unique_ptr<ScheduledCall> QtScheduler::scheduleAfterWithTolerance(std::chrono::milliseconds delay,
                                                                       std::chrono::milliseconds tolerance,
                                                                       std::function<void()> callback) {
    const bool coarseFits = tolerance.count() * 20 >= delay.count();
    return std::make_unique<TimerCall>(delay, std::move(callback), coarseFits ? Qt::CoarseTimer : Qt::PreciseTimer);
}

}  // namespace tavrolin
