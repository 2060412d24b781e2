#include "focused_text/late_select_all_guard.h"

#include "core/app_log.h"
#include "focused_text/accessible_text_cleaning.h"

#include <QCoreApplication>

namespace tavrolin {

bool selectionCoversText(const QString& text, const std::optional<AccessibleTextRange>& range) {
    if (!range || range->location != 0) {
        return false;
    }
    const qsizetype needed = text.endsWith(QLatin1Char('\n')) ? text.size() - 1 : text.size();
    return range->length >= needed;
}

bool selectsWholeText(const ReportedFieldText& read) {
    return read.value && selectionCoversText(*read.value, read.selectedRange);
}

LateSelectAllGuard::LateSelectAllGuard(AccessibilityCalls& accessibility, Scheduler& scheduler, FocusResolver& focus,
                                       UserKeyActivity* keyActivity, const Clock* clock)
    : accessibility_(accessibility), scheduler_(scheduler), focus_(focus), keyActivity_(keyActivity), clock_(clock) {
    monotonic_.start();
}

LateSelectAllGuard::~LateSelectAllGuard() {
    lifetime_.end();
    stop();
}

std::chrono::milliseconds LateSelectAllGuard::now() const {
    return std::chrono::milliseconds(clock_ ? clock_->now().toMSecsSinceEpoch() : monotonic_.elapsed());
}

void LateSelectAllGuard::watch(FrontApplication window, AccessibleElementHandle element,
                               const ReportedFieldText& before) {
    stop();
    if (!before.value || !before.selectedRange) {
        return;
    }
    const SeenAccessibleText seen(*before.value, before.objects, before.unpublishedObjects);
    watch_ = std::make_shared<Watch>();
    watch_->window = std::move(window);
    watch_->element = std::move(element);
    watch_->text = *before.value;
    watch_->before = *before.selectedRange;
    watch_->seenText = seen.text();
    watch_->seenBefore = seen.seenRange(TextRange{before.selectedRange->location, before.selectedRange->length});
    watch_->startedAt = now();
    watch_->presses = UserPressesInWindow(keyActivity_);
    watch_->presses.pressedIn(focus_.isInFront(watch_->window));
    schedule();
}

void LateSelectAllGuard::watchFailedPutBack(FrontApplication window, AccessibleElementHandle element,
                                            const ReportedFieldText& now, QString seenText, TextRange selection) {
    stop();
    if (!now.value || !selectsWholeText(now)) {
        return;
    }
    watch_ = std::make_shared<Watch>();
    watch_->window = std::move(window);
    watch_->element = std::move(element);
    watch_->text = *now.value;
    watch_->before = *now.selectedRange;
    watch_->seenText = std::move(seenText);
    watch_->seenBefore = selection;
    watch_->startedAt = this->now();
    watch_->presses = UserPressesInWindow(keyActivity_);
    watch_->presses.pressedIn(focus_.isInFront(watch_->window));
    watch_->putBacksFailed = 1;
    watch_->putBackAfter = this->now() + putBackRetryDelay;
    schedule();
}

void LateSelectAllGuard::stopIn(quint64 window) {
    if (watch_ && watch_->window.windowId == window) {
        stop();
    }
}

void LateSelectAllGuard::stop() {
    if (watch_) {
        watch_->call.reset();
        watch_.reset();
    }
}

void LateSelectAllGuard::schedule() {
    const std::weak_ptr<Watch> weak = watch_;
    watch_->call = scheduler_.scheduleAfter(watchPoll, [this, weak] { look(weak); });
}

bool LateSelectAllGuard::awayFromField(Watch& watch) {
    const bool inFront = focus_.isInFront(watch.window);
    if (inFront) {
        return false;
    }
    // A window of ours (the copy window offering the result) is no other program: the field is
    // looked at behind it.
    const std::optional<FrontApplication> front = focus_.frontWindow();
    if (front && front->processId == QCoreApplication::applicationPid()) {
        return false;
    }
    watch.presses.pressedIn(false);  // keys there are not the field's
    return true;
}

QCoro::Task<std::optional<QString>> LateSelectAllGuard::userMovedOn(std::shared_ptr<Watch> watch) {
    const std::optional<FrontApplication> window = watch->window;
    if (!focus_.isInFront(window)) {
        co_return std::nullopt;  // the field keeps its program's focus until the user is back
    }
    // Only a focus the desktop names counts: a program that reports none may still have it on
    // the field.
    const AccessibleElementHandle focused = co_await focus_.lastFocusedElement(window);
    if (!focused) {
        co_return std::nullopt;
    }
    const AccessibleElementHandle element = watch->element;
    const auto same = [focused, element](Accessibility& ax) { return ax.isSameElement(focused, element); };
    const bool sameElement = co_await ask(accessibility_, same, true);
    if (!sameElement) {
        co_return QStringLiteral("other_element");
    }
    co_return std::nullopt;
}

QCoro::Task<void> LateSelectAllGuard::look(std::weak_ptr<Watch> weakWatch) {
    AccessibleElementHandle element;
    if (const std::shared_ptr<Watch> watch = weakWatch.lock()) {
        element = watch->element;
    }
    if (!element) {
        co_return;
    }
    const LifetimeToken<LateSelectAllGuard>::Weak alive = lifetime_.weak();
    if (std::shared_ptr<Watch> watch = weakWatch.lock();
        watch &&
        (awayFromField(*watch) ||
         (watch->putBacksFailed > 0 && (now() < watch->putBackAfter || (watch->putBacksFailed + 1 == maximumPutBacks &&
                                                                        !focus_.isInFront(watch->window)))))) {
        // The select-all may land while the user works in another program: the field is not
        // touched from behind it (a selection placed there can take the keyboard back), and is
        // looked at again once its window is in front. A put-back that did not show is made again
        // behind a window of ours too (selecting needs no focus), so that the field is as the user
        // left it before they come back; only the last, which moves the caret to the end where
        // their place does not show, waits until its window is in front (a program may report
        // the selection it had for as long as another window has the focus).
        schedule();
        co_return;
    }
    const auto read = [element](Accessibility& ax) { return readReportedFieldText(ax, element, true); };
    const ReportedFieldText now = co_await ask(accessibility_, read, ReportedFieldText{}, reportedFieldTextBound);
    std::shared_ptr<Watch> watch = weakWatch.lock();
    if (!alive || !watch || watch != watch_) {
        co_return;
    }
    if (watch->presses.pressedIn(focus_.isInFront(watch->window))) {
        // Whatever the field shows now may be the user's own doing (their Control+A, a click).
        AppLog::app().info(
            QStringLiteral("focused field late select-all watch ended: the user pressed a key or "
                           "a button in its window"));
        stop();
        co_return;
    }
    if (!now.value || !now.selectedRange) {
        // Unanswered now (a program still busy answers late): looked at again.
    } else if (*now.value != watch->text) {
        stop();  // the field changed: what is selected now is no longer the select-all's
        co_return;
    } else if (!watch->text.isEmpty() && selectionCoversText(watch->text, now.selectedRange)) {
        const QString seenText = watch->seenText;
        const TextRange before = watch->seenBefore.value_or(TextRange{seenText.size(), 0});
        const std::chrono::milliseconds waited = this->now() - watch->startedAt;
        // The last attempt takes no unchanged field for a selection still to show.
        const bool mayAskAgain = watch->putBacksFailed + 1 < maximumPutBacks;
        const PutBackOutcome outcome = co_await putSelectionBackInField(accessibility_, scheduler_, element, seenText,
                                                                        before, mayAskAgain, watch->before.backward);
        AppLog::app().notice(QStringLiteral("focused field select-all that came after its paste was withheld "
                                            "undone outcome=%1 waited=%2ms")
                                 .arg(describePutBack(outcome))
                                 .arg(waited.count()));
        if (!alive || watch != watch_) {
            co_return;
        }
        const bool placed = outcome == PutBackOutcome::placed || outcome == PutBackOutcome::collapsed;
        if (placed && !watch->presses.mayHavePressedIn() && this->now() - watch->startedAt < watchAfterPutBack) {
            // A page that refused a paste may select its whole text again on its own for a while:
            // looked at on, while nothing of the user's may have been pressed there.
            watch->putBacksFailed = 0;
            schedule();
            co_return;
        }
        if (placed || ++watch->putBacksFailed == maximumPutBacks) {
            stop();
            co_return;
        }
        // Its program showed no place: asked again a moment later, its window in front.
        watch->putBackAfter = this->now() + putBackRetryDelay;
        schedule();
        co_return;
    } else if (now.selectedRange->location != watch->before.location ||
               now.selectedRange->length != watch->before.length) {
        stop();  // the user moved the caret or selected: the select-all came and went, or never will
        co_return;
    }
    const std::optional<QString> movedOn = co_await userMovedOn(watch);
    watch = weakWatch.lock();
    if (!alive || !watch || watch != watch_) {
        co_return;
    }
    if (movedOn) {
        AppLog::app().info(
            QStringLiteral("focused field late select-all watch ended: the user moved on reason=%1").arg(*movedOn));
        stop();
        co_return;
    }
    schedule();
}

}  // namespace tavrolin
