#pragma once

#include "platform/accessibility_bus_status.h"

#include <optional>

namespace tavrolin::test {

// The accessibility switch in memory. `reachable` false behaves as a missing bus;
// `acceptsSwitch` false as a desktop that refuses to change it.
class FakeAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    // Both answer at once: a caller awaiting them goes on without the event loop.
    QCoro::Task<std::optional<bool>> isEnabled() override {
        ++reads;
        if (!reachable) {
            co_return std::nullopt;
        }
        co_return enabled;
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
    int reads = 0;
    int writes = 0;
};

}  // namespace tavrolin::test
