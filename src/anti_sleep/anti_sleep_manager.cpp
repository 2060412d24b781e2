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
    const auto now = env_.monotonicNow();
    ++clockNoticesUnwritten_;
    if (!clockNoticeWritten_ || now - *clockNoticeWritten_ >= repeatedNoticeInterval) {
        QString line = QStringLiteral("anti-sleep clock change notification received");
        if (clockNoticesUnwritten_ > 1) {
            line += QStringLiteral(" count=%1").arg(clockNoticesUnwritten_);
        }
        log_.info(line);
        clockNoticeWritten_ = now;
        clockNoticesUnwritten_ = 0;
    }
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
    holding_ = false;
    releaseSystemSleepAssertion();
    releaseDisplaySleepAssertion();
    stopActivityNudgeTimer();
}

void AntiSleepManager::createAssertionsIfNeeded() {
    holding_ = true;
    if (!system_.id && !system_.creating) {
        createAssertion(system_);
    }
    if (currentSchedule_.preventDisplaySleep) {
        if (!display_.id && !display_.creating) {
            createAssertion(display_);
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

bool AntiSleepManager::wants(const AssertionSlot& slot) const {
    return holding_ && (&slot == &system_ || currentSchedule_.preventDisplaySleep);
}

namespace {

// Gives an assertion back and logs the outcome; needs nothing of the manager, so it may finish
// after the manager is gone.
QCoro::Task<> giveBack(std::shared_ptr<PowerAssertionProviding> provider, const char* kind, std::uint32_t id,
                       Logger log) {
    const int status = co_await provider->releaseAssertion(id);
    if (status == powerAssertionSuccess) {
        log.info(QStringLiteral("anti-sleep %1 assertion released id=%2").arg(QLatin1String(kind)).arg(id));
    } else {
        log.error(QStringLiteral("anti-sleep %1 assertion release failed id=%2 result=%3")
                      .arg(QLatin1String(kind))
                      .arg(id)
                      .arg(status));
    }
}

}  // namespace

QCoro::Task<> AntiSleepManager::createAssertion(AssertionSlot& slot) {
    slot.creating = true;
    const auto alive = lifetime_.weak();
    const auto provider = slot.provider;  // lives on through the wait, whatever happens to us
    const Logger log = log_;
    const char* kind = slot.kind;
    const PowerAssertionCreation creation = co_await provider->createAssertion(assertionName);
    if (!alive) {
        // Shut down and gone while the service answered: nobody wants the assertion now.
        if (creation.status == powerAssertionSuccess) {
            log.info(QStringLiteral("anti-sleep %1 assertion created id=%2").arg(QLatin1String(kind)).arg(creation.id));
            co_await giveBack(provider, kind, creation.id, log);
        }
        co_return;
    }
    slot.creating = false;
    if (creation.status == powerAssertionSuccess) {
        log_.info(QStringLiteral("anti-sleep %1 assertion created id=%2").arg(QLatin1String(kind)).arg(creation.id));
        slot.lastReportedReason.clear();
        slot.id = creation.id;
        if (!wants(slot)) {
            // The range ended (or the schedule changed) while the service answered.
            releaseAssertion(slot);
        }
        co_return;
    }
    log_.error(
        QStringLiteral("anti-sleep %1 assertion failed result=%2").arg(QLatin1String(kind)).arg(creation.status));
    // The same cause (typically a service that is not there) is told once, not at every retry.
    if (!creation.failureReason.isEmpty() && creation.failureReason != slot.lastReportedReason) {
        log_.error(QStringLiteral("anti-sleep %1 assertion unavailable reason=%2")
                       .arg(QLatin1String(kind), creation.failureReason));
        slot.lastReportedReason = creation.failureReason;
    }
}

void AntiSleepManager::releaseSystemSleepAssertion() {
    releaseAssertion(system_);
}

void AntiSleepManager::releaseDisplaySleepAssertion() {
    releaseAssertion(display_);
}

void AntiSleepManager::releaseAssertion(AssertionSlot& slot) {
    if (!slot.id) {
        return;
    }
    const std::uint32_t held = *slot.id;
    slot.id.reset();  // forgotten whatever the outcome: a failed release is not retried
    giveBack(slot.provider, slot.kind, held, log_);
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
    log_.info(
        QStringLiteral("anti-sleep local activity nudger started interval=%1").arg(activityNudgeInterval_.count()));
}

void AntiSleepManager::armActivityNudgeTimer() {
    // One-shot, re-armed at each firing: a repeating timer on a scheduler that has none.
    activityNudgeTimer_ =
        env_.scheduler->scheduleAfterWithTolerance(activityNudgeInterval_, activityNudgeTolerance, [this] {
            nudgePointer();
            armActivityNudgeTimer();
        });
}

void AntiSleepManager::stopActivityNudgeTimer() {
    activityNudgeTimer_.reset();
    hasLoggedActivityPermissionWarning_ = false;
}

void AntiSleepManager::nudgePointer() {
    const bool permitted = env_.pointer && env_.pointerAvailable && env_.pointerAvailable();
    if (!permitted) {
        if (!hasLoggedActivityPermissionWarning_) {
            log_.error(QStringLiteral("anti-sleep local activity nudger requires Accessibility permission"));
            hasLoggedActivityPermissionWarning_ = true;
        }
        return;
    }
    // One pixel aside (rightwards at the left edge, where there is no room) and back.
    const QPoint where = env_.pointer->pointerPosition().value_or(QPoint(0, 0));
    const QPoint aside(where.x() <= 1 ? where.x() + 1 : where.x() - 1, where.y());
    env_.pointer->movePointerTo(aside);
    env_.pointer->movePointerTo(where);
}

}  // namespace tavrolin
