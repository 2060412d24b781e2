#include "core/accessibility_permission.h"

#include "core/app_log.h"

namespace tavrolin {

AccessibilityPermission::AccessibilityPermission(AccessibilityBusStatus& bus, Notice notice)
    : bus_(bus), notice_(std::move(notice)) {}

QCoro::Task<bool> AccessibilityPermission::isTrusted() {
    const std::optional<bool> enabled = co_await bus_.isEnabled();
    co_return enabled == true;
}

QString AccessibilityPermission::busUnreachableMessage() {
    return QStringLiteral(
        "Tavrolin cannot reach the accessibility bus of your desktop session. Install at-spi2-core, "
        "turn on assistive technologies in your desktop's accessibility settings, then log out and in "
        "again.");
}

QString AccessibilityPermission::switchRefusedMessage() {
    return QStringLiteral(
        "Tavrolin could not turn on assistive technologies. Turn them on in your desktop's accessibility "
        "settings so that Tavrolin can read and replace text in other applications.");
}

QCoro::Task<AccessibilityPermissionStatus> AccessibilityPermission::requestIfNeeded() {
    const std::optional<bool> enabled = co_await bus_.isEnabled();
    if (enabled == true) {
        lastNotice_.reset();
        co_return AccessibilityPermissionStatus::trusted;
    }
    QString message;
    bool switchedOn = false;
    if (enabled.has_value()) {
        const bool set = co_await bus_.setEnabled(true);
        if (set) {
            const std::optional<bool> now = co_await bus_.isEnabled();
            switchedOn = now == true;
        }
    }
    if (switchedOn) {
        AppLog::app().info(QStringLiteral("Accessibility bus switched on"));
        lastNotice_.reset();
        co_return AccessibilityPermissionStatus::trusted;
    }
    message = enabled.has_value() ? switchRefusedMessage() : busUnreachableMessage();
    AppLog::app().notice(QStringLiteral("Accessibility not available: ") + message);
    lastNotice_ = message;
    if (notice_) {
        notice_(message);
    }
    co_return AccessibilityPermissionStatus::notTrusted;
}

}  // namespace tavrolin
