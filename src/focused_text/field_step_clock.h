#pragma once

#include "language/focused_text_field_accessing.h"
#include "platform/clock.h"

#include <QElapsedTimer>

#include <utility>

namespace tavrolin {

// Splits the time of a field command's run into its steps (FieldStepTimes) as the run goes:
// each mark gives the time since the previous mark (or skip) to one step.
class FieldStepClock {
public:
    enum class Step { focus, field, write, check };

    // Reads `clock` (virtual time in tests); none: the monotonic clock.
    explicit FieldStepClock(const Clock* clock = nullptr) : clock_(clock) {
        monotonic_.start();
        lastMark_ = now();
        lastTake_ = lastMark_;
    }

    void mark(Step step) {
        const qint64 ms = sinceLastMark();
        switch (step) {
        case Step::focus:
            times_.focusMs += ms;
            break;
        case Step::field:
            times_.fieldMs += ms;
            break;
        case Step::write:
            times_.writeMs += ms;
            break;
        case Step::check:
            times_.checkMs += ms;
            break;
        }
    }
    // The time since the previous mark belongs to no step (the service's, between a read and a
    // write).
    void skip() { sinceLastMark(); }
    // The times since the previous take, and a new count.
    FieldStepTimes take() {
        skip();
        times_.totalMs = lastMark_ - std::exchange(lastTake_, lastMark_);
        return std::exchange(times_, FieldStepTimes{});
    }

private:
    qint64 now() const { return clock_ ? clock_->now().toMSecsSinceEpoch() : monotonic_.elapsed(); }
    qint64 sinceLastMark() {
        const qint64 at = now();
        return at - std::exchange(lastMark_, at);
    }

    const Clock* clock_;
    QElapsedTimer monotonic_;
    qint64 lastMark_ = 0;
    qint64 lastTake_ = 0;
    FieldStepTimes times_;
};

}  // namespace tavrolin
