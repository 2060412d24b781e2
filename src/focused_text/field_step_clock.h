#pragma once

#include "language/focused_text_field_accessing.h"

#include <QElapsedTimer>

#include <utility>

namespace tavrolin {

// Splits the time of a field command's run into its steps (FieldStepTimes) as the run goes:
// each mark gives the time since the previous mark (or skip) to one step.
class FieldStepClock {
public:
    enum class Step { focus, field, write, check };

    FieldStepClock() { sinceMark_.start(); }

    void mark(Step step) {
        const qint64 ms = sinceMark_.restart();
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
    void skip() { sinceMark_.restart(); }
    FieldStepTimes take() {
        skip();
        return std::exchange(times_, FieldStepTimes{});
    }

private:
    QElapsedTimer sinceMark_;
    FieldStepTimes times_;
};

}  // namespace tavrolin
