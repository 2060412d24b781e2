#pragma once

#include "platform/accessibility_bus_status.h"

#include <QDBusConnection>

#include <optional>

namespace tavrolin {

// org.a11y.Status.IsEnabled of the accessibility bus launcher (org.a11y.Bus on the session
// bus). Each call waits at most `timeoutMs` for the launcher to answer.
class DBusAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    explicit DBusAccessibilityBusStatus(int timeoutMs = 1000);
    // Asks on the given connection instead of the session bus (tests use a bus of their own).
    DBusAccessibilityBusStatus(QDBusConnection connection, int timeoutMs);
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;

private:
    QDBusConnection bus() const;

    int timeoutMs_;
    std::optional<QDBusConnection> connection_;
};

}  // namespace tavrolin
