#include "core/accessibility_permission.h"

#include "core/app_log.h"

namespace tavrolin {

AccessibilityPermission::AccessibilityPermission(AccessibilityBusStatus& bus, Notice notice)
    : bus_(bus), notice_(std::move(notice)) {}

bool AccessibilityPermission::isTrusted() { return bus_.isEnabled() == true; }

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

AccessibilityPermissionStatus AccessibilityPermission::requestIfNeeded() {
    const std::optional<bool> enabled = bus_.isEnabled();
    if (enabled == true) {
        lastNotice_.reset();
        return AccessibilityPermissionStatus::trusted;
    }
    QString message;
    if (!enabled.has_value()) {
        message = busUnreachableMessage();
    } else if (bus_.setEnabled(true) && bus_.isEnabled() == true) {
        AppLog::app().info(QStringLiteral("Accessibility bus switched on"));
        lastNotice_.reset();
        return AccessibilityPermissionStatus::trusted;
    } else {
        message = switchRefusedMessage();
    }
    AppLog::app().notice(QStringLiteral("Accessibility not available: ") + message);
    lastNotice_ = message;
    if (notice_) {
        notice_(message);
    }
    return AccessibilityPermissionStatus::notTrusted;
}

}  // namespace tavrolin
