#include "core/accessibility_permission.h"

#include "core/app_log.h"

#include <QCoroTimer>

namespace tavrolin {

namespace {

QString describe(AccessibilitySwitch answer) {
    switch (answer) {
    case AccessibilitySwitch::on:
        return QStringLiteral("on");
    case AccessibilitySwitch::off:
        return QStringLiteral("off");
    case AccessibilitySwitch::unreachable:
        return QStringLiteral("unreachable");
    case AccessibilitySwitch::noAnswer:
        return QStringLiteral("no_answer");
    }
    return {};
}

}  // namespace

AccessibilityPermission::AccessibilityPermission(AccessibilityBusStatus& bus, Notice notice,
                                                 std::chrono::milliseconds confirmPause)
    : bus_(bus), confirmPause_(confirmPause), notice_(std::move(notice)) {}

QCoro::Task<bool> AccessibilityPermission::isTrusted() {
    const AccessibilitySwitch answer = co_await bus_.readSwitch();
    co_return answer == AccessibilitySwitch::on;
}

QCoro::Task<AccessibilitySwitch> AccessibilityPermission::confirmedSwitch() {
    const AccessibilitySwitch first = co_await bus_.readSwitch();
    if (first == AccessibilitySwitch::on || first == AccessibilitySwitch::off) {
        co_return first;
    }
    // The permission may go with its owner during the pause.
    const LifetimeToken<AccessibilityPermission>::Weak alive = lifetime_.weak();
    co_await QCoro::sleepFor(confirmPause_);
    if (!alive) {
        co_return AccessibilitySwitch::noAnswer;
    }
    const AccessibilitySwitch second = co_await bus_.readSwitch();
    if (second != first) {
        AppLog::app().info(
            QStringLiteral("Accessibility bus asked again: first=%1 then=%2").arg(describe(first), describe(second)));
    }
    co_return second;
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
    const LifetimeToken<AccessibilityPermission>::Weak alive = lifetime_.weak();
    const AccessibilitySwitch answer = co_await confirmedSwitch();
    if (!alive) {
        co_return AccessibilityPermissionStatus::noAnswer;
    }
    if (answer == AccessibilitySwitch::on) {
        lastNotice_.reset();
        co_return AccessibilityPermissionStatus::trusted;
    }
    if (answer == AccessibilitySwitch::noAnswer) {
        AppLog::app().notice(QStringLiteral("Accessibility bus did not answer twice: this command is given up"));
        co_return AccessibilityPermissionStatus::noAnswer;
    }
    const bool reachable = answer == AccessibilitySwitch::off;
    QString message;
    bool switchedOn = false;
    if (reachable) {
        const bool set = co_await bus_.setEnabled(true);
        if (set) {
            const AccessibilitySwitch now = co_await bus_.readSwitch();
            switchedOn = now == AccessibilitySwitch::on;
        }
    }
    if (switchedOn) {
        AppLog::app().info(QStringLiteral("Accessibility bus switched on"));
        lastNotice_.reset();
        co_return AccessibilityPermissionStatus::trusted;
    }
    message = reachable ? switchRefusedMessage() : busUnreachableMessage();
    AppLog::app().notice(QStringLiteral("Accessibility not available: ") + message);
    lastNotice_ = message;
    if (notice_) {
        notice_(message);
    }
    co_return AccessibilityPermissionStatus::notTrusted;
}

}  // namespace tavrolin
