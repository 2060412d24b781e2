#include "core/app_log.h"
#include "focused_text/clipboard_fallbacks.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>

// The watch over a field whose paste's hold ended before the field showed it: the paste may still
// land (see ClipboardFallbacks).

namespace tavrolin {

void ClipboardFallbacks::endHoldUnseen(Held pending, bool putBack) {
    if (!isHeld(pending)) {
        return;
    }
    runPendingRestore(pending);
    // Only where our select-all may still stand, and never in a field a later command works in.
    if (!putBack || pending->overtaken || pending->selectionPutBack || !pending->replacingAllText ||
        !pending->fieldAfter || !pending->putFieldBack) {
        return;
    }
    auto watch = std::make_shared<LatePaste>();
    watch->target = pending->target;
    watch->fieldAfter = pending->fieldAfter;
    watch->putFieldBack = pending->putFieldBack;
    watch->fieldFocused = pending->fieldFocused;
    watch->selectAllShown = pending->selectAllShown;
    watch->userInputAt = userInput();
    std::erase_if(latePastes_,
                  [window = watch->target.windowId](const auto& w) { return w->target.windowId == window; });
    latePastes_.push_back(watch);
    scheduleLatePasteLook(watch);
}

void ClipboardFallbacks::laterCommandIn(quint64 window) {
    std::erase_if(latePastes_, [window](const auto& watch) { return watch->target.windowId == window; });
    for (const Held& held : holds_) {
        if (held->target.windowId == window) {
            held->overtaken = true;
        }
    }
}

void ClipboardFallbacks::scheduleLatePasteLook(const std::shared_ptr<LatePaste>& watch) {
    // Weak: the watch owns the call.
    watch->call = scheduler_.scheduleAfter(latePasteWatchPoll,
                                           [this, weak = std::weak_ptr<LatePaste>(watch)] { lookForLatePaste(weak); });
}

QCoro::Task<void> ClipboardFallbacks::lookForLatePaste(std::weak_ptr<LatePaste> weakWatch) {
    FieldAfterPasteCheck check;
    if (const std::shared_ptr<LatePaste> watch = weakWatch.lock()) {
        watch->waited += latePasteWatchPoll;
        check = watch->fieldAfter;
    }
    if (!check) {
        co_return;
    }
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const FieldAfterPaste seen = co_await check();
    const std::shared_ptr<LatePaste> watch = weakWatch.lock();
    const auto watched = [&] {
        return alive && watch && std::find(latePastes_.begin(), latePastes_.end(), watch) != latePastes_.end();
    };
    if (!watched()) {
        co_return;
    }
    const auto stop = [&] { std::erase(latePastes_, watch); };
    if (seen == FieldAfterPaste::showsResult) {
        AppLog::app().info(QStringLiteral("focused field paste came late and shows its result waited=%1ms")
                               .arg(watch->waited.count()));
        stop();
        co_return;
    }
    // Whatever changed the field, and whatever the user does anywhere, is not ours to take back or
    // to put a selection over.
    if (seen == FieldAfterPaste::changed || userInput() > watch->userInputAt) {
        stop();
        co_return;
    }
    // Only while the field has the keyboard: elsewhere a selection put into it takes the keyboard
    // back.
    const bool focused = !watch->fieldFocused || co_await watch->fieldFocused();
    if (!watched()) {
        co_return;
    }
    if (seen == FieldAfterPaste::unchanged && focused) {
        co_await putBackUntakenSelectAll(watch);
        if (watched()) {
            stop();
        }
        co_return;
    }
    if (watch->waited >= latePasteWatchBound) {
        stop();
        co_return;
    }
    scheduleLatePasteLook(watch);
}

QCoro::Task<void> ClipboardFallbacks::putBackUntakenSelectAll(std::shared_ptr<LatePaste> watch) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const auto watched = [&] {
        return alive && std::find(latePastes_.begin(), latePastes_.end(), watch) != latePastes_.end() &&
               userInput() <= watch->userInputAt;
    };
    // Only our select-all: a caret the user has put in the field meanwhile stays.
    const bool selectedAll = !watch->selectAllShown || co_await watch->selectAllShown();
    if (!selectedAll || !watched()) {
        co_return;
    }
    co_await watch->putFieldBack();
    if (watched()) {
        AppLog::app().info(QStringLiteral("focused field select-all of a paste not taken put back waited=%1ms")
                               .arg(watch->waited.count()));
    }
}

QCoro::Task<void> ClipboardFallbacks::putFieldBack(std::function<QCoro::Task<void>()> putBack) {
    co_await putBack();
}

}  // namespace tavrolin
