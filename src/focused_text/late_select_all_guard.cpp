#include "focused_text/late_select_all_guard.h"

#include "core/app_log.h"

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

LateSelectAllGuard::LateSelectAllGuard(AccessibilityCalls& accessibility, Scheduler& scheduler)
    : accessibility_(accessibility), scheduler_(scheduler) {}

LateSelectAllGuard::~LateSelectAllGuard() {
    lifetime_.end();
    stop();
}

void LateSelectAllGuard::watch(quint64 window, AccessibleElementHandle element, QString text,
                               AccessibleTextRange before) {
    stop();
    watch_ = std::make_shared<Watch>();
    watch_->window = window;
    watch_->element = std::move(element);
    watch_->text = std::move(text);
    watch_->before = before;
    schedule();
}

void LateSelectAllGuard::stopIn(quint64 window) {
    if (watch_ && watch_->window == window) {
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

QCoro::Task<void> LateSelectAllGuard::look(std::weak_ptr<Watch> weakWatch) {
    AccessibleElementHandle element;
    if (const std::shared_ptr<Watch> watch = weakWatch.lock()) {
        watch->waited += watchPoll;
        element = watch->element;
    }
    if (!element) {
        co_return;
    }
    const LifetimeToken<LateSelectAllGuard>::Weak alive = lifetime_.weak();
    const auto read = [element](Accessibility& ax) { return readReportedFieldText(ax, element, true); };
    const ReportedFieldText now = co_await ask(accessibility_, read, ReportedFieldText{}, reportedFieldTextBound);
    const std::shared_ptr<Watch> watch = weakWatch.lock();
    if (!alive || !watch || watch != watch_) {
        co_return;
    }
    if (!now.value || !now.selectedRange) {
        // Unanswered now (a program still busy answers late): looked at again.
    } else if (*now.value != watch->text) {
        stop();  // the field changed: what is selected now is no longer the select-all's
        co_return;
    } else if (!watch->text.isEmpty() && selectionCoversText(watch->text, now.selectedRange)) {
        const AccessibleTextRange before = watch->before;
        stop();
        const auto putBack = [element, before](Accessibility& ax) { return ax.setSelectedRange(element, before); };
        const bool done = co_await ask(accessibility_, putBack);
        AppLog::app().notice(QStringLiteral("focused field select-all that came after its paste was withheld "
                                            "undone done=%1")
                                 .arg(done ? QStringLiteral("true") : QStringLiteral("false")));
        co_return;
    } else if (*now.selectedRange != watch->before) {
        stop();  // the user moved the caret or selected: the select-all came and went, or never will
        co_return;
    }
    if (watch->waited >= watchBound) {
        stop();
        co_return;
    }
    schedule();
}

}  // namespace tavrolin
