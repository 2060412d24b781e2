#include "anti_sleep/anti_sleep_manager.h"

#include <cassert>

namespace tavrolin {

AntiSleepManager::AntiSleepManager(Environment environment) : env_(std::move(environment)) {
    assert(env_.systemSleepAssertions && env_.displaySleepAssertions && env_.clock && env_.scheduler);
}

AntiSleepManager::~AntiSleepManager() {
    shutdown();
}

std::chrono::milliseconds AntiSleepManager::transitionTolerance(std::chrono::milliseconds interval) {
    return std::min<std::chrono::milliseconds>(interval / 10, maximumTransitionTolerance);
}

void AntiSleepManager::configure(const AntiSleepSchedule& schedule) {
    AntiSleepSchedule clamped = schedule;
    clamped.startMinuteOfDay = AntiSleepSchedule::clampedMinuteOfDay(schedule.startMinuteOfDay);
    clamped.endMinuteOfDay = AntiSleepSchedule::clampedMinuteOfDay(schedule.endMinuteOfDay);
    if (clamped == currentSchedule_) {
        return;
    }
    currentSchedule_ = clamped;
    if (clamped.enabled) {
        evaluateAndSchedule();
    } else {
        releaseAll();
        cancelScheduleTimer();
    }
}

void AntiSleepManager::handleWake() {
    log_.info(QStringLiteral("anti-sleep wake notification received"));
    evaluateAndSchedule();
}

void AntiSleepManager::handleClockChange() {
    log_.info(QStringLiteral("anti-sleep clock change notification received"));
    evaluateAndSchedule();
}

void AntiSleepManager::shutdown() {
    releaseAll();
    cancelScheduleTimer();
    currentSchedule_ = AntiSleepSchedule{};
}

void AntiSleepManager::evaluateAndSchedule() {
    applyActiveState(isActiveNow());
    scheduleNextTransition();
}

void AntiSleepManager::observe(SystemEventMonitoring& events) {
    if (!eventReceiver_) {
        eventReceiver_ = std::make_unique<QObject>();
    }
    QObject::connect(&events, &SystemEventMonitoring::didWake, eventReceiver_.get(), [this] { handleWake(); });
    QObject::connect(&events, &SystemEventMonitoring::clockDidChange, eventReceiver_.get(),
                     [this] { handleClockChange(); });
}

bool AntiSleepManager::isActiveNow() const {
    return currentSchedule_.isActive(AntiSleepSchedule::localMinuteOfDay(env_.clock->now()));
}

void AntiSleepManager::applyActiveState(bool active) {
    if (active) {
        createAssertionsIfNeeded();
    } else {
        releaseAll();
    }
}

void AntiSleepManager::releaseAll() {
    releaseSystemSleepAssertion();
    releaseDisplaySleepAssertion();
    stopActivityNudgeTimer();
}

void AntiSleepManager::createAssertionsIfNeeded() {
    if (!systemSleepAssertionID_) {
        systemSleepAssertionID_ = createAssertion(*env_.systemSleepAssertions, "system", lastSystemFailureReason_);
    }
    if (currentSchedule_.preventDisplaySleep) {
        if (!displaySleepAssertionID_) {
            displaySleepAssertionID_ =
                createAssertion(*env_.displaySleepAssertions, "display", lastDisplayFailureReason_);
        }
    } else {
        releaseDisplaySleepAssertion();
    }
    if (currentSchedule_.keepLocalActivityAwake) {
        startActivityNudgeTimerIfNeeded();
    } else {
        stopActivityNudgeTimer();
    }
}

std::optional<std::uint32_t> AntiSleepManager::createAssertion(PowerAssertionProviding& provider, const char* kind,
                                                               QString& lastReportedReason) {
    const PowerAssertionCreation creation = provider.createAssertion(assertionName);
    if (creation.status == powerAssertionSuccess) {
        log_.info(QStringLiteral("anti-sleep %1 assertion created id=%2").arg(QLatin1String(kind)).arg(creation.id));
        lastReportedReason.clear();
        return creation.id;
    }
    log_.error(QStringLiteral("anti-sleep %1 assertion failed result=%2").arg(QLatin1String(kind)).arg(creation.status));
    // The same cause (typically a service that is not there) is told once, not at every retry.
    if (!creation.failureReason.isEmpty() && creation.failureReason != lastReportedReason) {
        log_.error(QStringLiteral("anti-sleep %1 assertion unavailable reason=%2")
                       .arg(QLatin1String(kind), creation.failureReason));
        lastReportedReason = creation.failureReason;
    }
    return std::nullopt;
}

void AntiSleepManager::releaseSystemSleepAssertion() {
    releaseAssertion(*env_.systemSleepAssertions, "system", systemSleepAssertionID_);
}

void AntiSleepManager::releaseDisplaySleepAssertion() {
    releaseAssertion(*env_.displaySleepAssertions, "display", displaySleepAssertionID_);
}

void AntiSleepManager::releaseAssertion(PowerAssertionProviding& provider, const char* kind,
                                        std::optional<std::uint32_t>& id) {
    if (!id) {
        return;
    }
    const std::uint32_t held = *id;
    id.reset();  // forgotten whatever the outcome: a failed release is not retried
    const int status = provider.releaseAssertion(held);
    if (status == powerAssertionSuccess) {
        log_.info(QStringLiteral("anti-sleep %1 assertion released id=%2").arg(QLatin1String(kind)).arg(held));
    } else {
        log_.error(QStringLiteral("anti-sleep %1 assertion release failed id=%2 result=%3")
                       .arg(QLatin1String(kind))
                       .arg(held)
                       .arg(status));
    }
}

void AntiSleepManager::scheduleNextTransition() {
    cancelScheduleTimer();
    // One reading of the clock: the boundary lies strictly after it, so the interval is positive.
    const QDateTime now = env_.clock->now();
    const auto next = currentSchedule_.nextTransitionDate(now);
    if (!next) {
        return;
    }
    const std::chrono::milliseconds interval(now.msecsTo(*next));
    scheduleTimer_ = env_.scheduler->scheduleAfterWithTolerance(interval, transitionTolerance(interval),
                                                                [this] { evaluateAndSchedule(); });
    log_.info(QStringLiteral("anti-sleep next transition in %1 seconds")
                  .arg(std::chrono::duration_cast<std::chrono::seconds>(interval).count()));
}

void AntiSleepManager::cancelScheduleTimer() {
    scheduleTimer_.reset();
}

void AntiSleepManager::startActivityNudgeTimerIfNeeded() {
    if (activityNudgeTimer_) {
        return;
    }
    nudgePointer();
    armActivityNudgeTimer();
    log_.info(QStringLiteral("anti-sleep local activity nudger started interval=%1").arg(activityNudgeInterval_.count()));
}

void AntiSleepManager::armActivityNudgeTimer() {
    // One-shot, re-armed at each firing: a repeating timer on a scheduler that has none.
    activityNudgeTimer_ = env_.scheduler->scheduleAfterWithTolerance(activityNudgeInterval_, activityNudgeTolerance, [this] {
        nudgePointer();
        armActivityNudgeTimer();
    });
}

void AntiSleepManager::stopActivityNudgeTimer() {
    activityNudgeTimer_.reset();
    hasLoggedActivityPermissionWarning_ = false;
}

void AntiSleepManager::nudgePointer() {
    const bool permitted = env_.input && env_.inputAvailable && env_.inputAvailable();
    if (!permitted) {
        if (!hasLoggedActivityPermissionWarning_) {
            log_.error(QStringLiteral("anti-sleep local activity nudger requires Accessibility permission"));
            hasLoggedActivityPermissionWarning_ = true;
        }
        return;
    }
    // One pixel aside (rightwards at the left edge, where there is no room) and back.
    const QPoint where = env_.input->pointerPosition().value_or(QPoint(0, 0));
    const QPoint aside(where.x() <= 1 ? where.x() + 1 : where.x() - 1, where.y());
    env_.input->movePointerTo(aside);
    env_.input->movePointerTo(where);
}

}  // namespace tavrolin
