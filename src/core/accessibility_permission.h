#pragma once

#include "platform/accessibility_bus_status.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <optional>

namespace tavrolin {

enum class AccessibilityPermissionStatus { trusted, notTrusted };

// Reading and replacing text in other applications needs the AT-SPI bus: the process counts as
// trusted when the bus answers and its IsEnabled switch is on. The request switches it on
// where it is off; where that cannot be done (no bus at all, or the desktop refuses the
// switch) the user is told what their desktop must do, through `notice`. It never opens
// settings itself.
class AccessibilityPermission final {
public:
    using Notice = std::function<void(const QString& message)>;

    explicit AccessibilityPermission(AccessibilityBusStatus& bus, Notice notice = {});

    // Both wait for the bus without holding the caller's thread, each call bounded by the bus
    // status's own time-out.
    QCoro::Task<bool> isTrusted();
    // Trusted without asking anything when the switch already stands on; otherwise switches
    // it on once and answers what the bus then says.
    QCoro::Task<AccessibilityPermissionStatus> requestIfNeeded();

    // Why the last request left the process untrusted, as the user reads it; absent after a
    // trusted answer.
    std::optional<QString> lastNotice() const { return lastNotice_; }

    static QString busUnreachableMessage();
    static QString switchRefusedMessage();

private:
    AccessibilityBusStatus& bus_;
    Notice notice_;
    std::optional<QString> lastNotice_;
};

}  // namespace tavrolin
