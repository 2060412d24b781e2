#pragma once

#include "platform/accessibility_bus_status.h"

#include <optional>

namespace tavrolin::test {

// The accessibility switch in memory. `reachable` false behaves as a missing bus;
// `acceptsSwitch` false as a desktop that refuses to change it.
class FakeAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    std::optional<bool> isEnabled() override {
        ++reads;
        if (!reachable) {
            return std::nullopt;
        }
        return enabled;
    }
    bool setEnabled(bool value) override {
        ++writes;
        if (!reachable || !acceptsSwitch) {
            return false;
        }
        enabled = value;
        return true;
    }

    bool reachable = true;
    bool acceptsSwitch = true;
    bool enabled = false;
    int reads = 0;
    int writes = 0;
};

}  // namespace tavrolin::test
