#pragma once

#include "platform/accessibility_bus_status.h"

namespace tavrolin {

// org.a11y.Status.IsEnabled of the accessibility bus launcher (org.a11y.Bus on the session
// bus). Each call waits at most `timeoutMs` for the launcher to answer.
class DBusAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    explicit DBusAccessibilityBusStatus(int timeoutMs = 1000);
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;

private:
    int timeoutMs_;
};

}  // namespace tavrolin
