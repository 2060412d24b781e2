#pragma once

#include "core/lifetime_token.h"
#include "platform/accessibility_bus_status.h"

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace tavrolin {

// `noAnswer`: the bus is there but did not answer twice in a row, as a loaded machine's may
// not; nothing the user can change, so nobody is told.
enum class AccessibilityPermissionStatus { trusted, notTrusted, noAnswer };

// Reading and replacing text in other applications needs the AT-SPI bus: the process counts as
// trusted when the bus answers and its IsEnabled switch is on. The request switches it on
// where it is off; where that cannot be done (no bus at all, or the desktop refuses the
// switch) the user is told what their desktop must do, through `notice`. It never opens
// settings itself. A bus that cannot be asked is asked once more after `confirmPause` before
// anyone is told: one call lost under load is no reason to send the user to their settings.
class AccessibilityPermission final {
public:
    using Notice = std::function<void(const QString& message)>;

    static constexpr std::chrono::milliseconds defaultConfirmPause{400};

    explicit AccessibilityPermission(AccessibilityBusStatus& bus, Notice notice = {},
                                     std::chrono::milliseconds confirmPause = defaultConfirmPause);

    // Both wait for the bus without holding the caller's thread, each call bounded by the bus
    // status's own time-out. isTrusted asks once: a bus that does not answer is not trusted.
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
    // The switch as the bus tells it; a bus that could not be asked is asked again after the
    // pause, and the second answer stands.
    QCoro::Task<AccessibilitySwitch> confirmedSwitch();

    AccessibilityBusStatus& bus_;
    std::chrono::milliseconds confirmPause_;
    Notice notice_;
    std::optional<QString> lastNotice_;
    LifetimeToken<AccessibilityPermission> lifetime_{this};
};

}  // namespace tavrolin
