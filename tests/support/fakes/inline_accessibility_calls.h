#pragma once

#include "platform/accessibility_calls.h"

namespace tavrolin::test {

// Runs accessibility work at once on the calling thread, for fakes that answer at once.
class InlineAccessibilityCalls final : public AccessibilityCalls {
public:
    explicit InlineAccessibilityCalls(Accessibility& accessibility) : accessibility_(accessibility) {}

    // false: no work finishes within its bound (an application that stopped answering).
    bool answers = true;
    int runs = 0;

    QCoro::Task<bool> run(Work work, std::chrono::milliseconds) override {
        ++runs;
        if (!answers) {
            co_return false;
        }
        work(accessibility_);
        co_return true;
    }

private:
    Accessibility& accessibility_;
};

}  // namespace tavrolin::test
