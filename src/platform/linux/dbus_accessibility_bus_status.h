#pragma once

#include "platform/accessibility_bus_status.h"

#include <QDBusConnection>

#include <optional>

namespace tavrolin {

// org.a11y.Status.IsEnabled of the accessibility bus launcher (org.a11y.Bus on the session
// bus). Each call waits at most `timeoutMs` for the launcher to answer: the awaited calls
// without holding the caller's thread, the blocking ones (for the accessibility thread, which
// may block) holding it.
class DBusAccessibilityBusStatus final : public AccessibilityBusStatus {
public:
    explicit DBusAccessibilityBusStatus(int timeoutMs = 500);
    // Asks on the given connection instead of the session bus (tests use a bus of their own).
    DBusAccessibilityBusStatus(QDBusConnection connection, int timeoutMs);

    QCoro::Task<AccessibilitySwitch> readSwitch() override;
    QCoro::Task<bool> setEnabled(bool enabled) override;

    AccessibilitySwitch readSwitchBlocking();
    // Absent when the bus could not be asked or did not answer in time.
    std::optional<bool> isEnabledBlocking();
    bool setEnabledBlocking(bool enabled);

private:
    QDBusConnection bus() const;

    int timeoutMs_;
    std::optional<QDBusConnection> connection_;
};

}  // namespace tavrolin
