#pragma once

#include "platform/accessibility_bus_status.h"

namespace tavrolin::test {

// The accessibility switch in memory. `reachable` false behaves as a missing bus;
// `acceptsSwitch` false as a desktop that refuses to change it; `unanswered` reads in a row
// time out first, as a bus on a loaded machine may.
class FakeAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    // Both answer at once: a caller awaiting them goes on without the event loop.
    QCoro::Task<AccessibilitySwitch> readSwitch() override {
        ++reads;
        if (unanswered > 0) {
            --unanswered;
            co_return AccessibilitySwitch::noAnswer;
        }
        if (!reachable) {
            co_return AccessibilitySwitch::unreachable;
        }
        co_return enabled ? AccessibilitySwitch::on : AccessibilitySwitch::off;
    }
    QCoro::Task<bool> setEnabled(bool value) override {
        ++writes;
        if (!reachable || !acceptsSwitch) {
            co_return false;
        }
        enabled = value;
        co_return true;
    }

    bool reachable = true;
    bool acceptsSwitch = true;
    bool enabled = false;
    int unanswered = 0;
    int reads = 0;
    int writes = 0;
};

}  // namespace tavrolin::test
