#include "core/app_log.h"
#include "focused_text/clipboard_fallbacks.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>

// The watch over a field whose paste's hold ended before the field showed it: the paste may still
// land (see ClipboardFallbacks).

namespace tavrolin {

void ClipboardFallbacks::endHoldUnseen(Held pending, bool putBack, bool undo) {
    if (!isHeld(pending)) {
        return;
    }
    runPendingRestore(pending);
    if (!pending->fieldAfter) {
        return;  // nothing to watch it by
    }
    auto watch = std::make_shared<LatePaste>();
    watch->target = pending->target;
    watch->fieldAfter = pending->fieldAfter;
    watch->putFieldBack = pending->putFieldBack;
    watch->fieldFocused = pending->fieldFocused;
    watch->selectAllShown = pending->selectAllShown;
    watch->selectionToPutBack = putBack && pending->replacingAllText && pending->putFieldBack;
    watch->undo = undo;
    watch->userPastesAt = userPasteKeys();
    watch->sinceTypingAt = keys_ ? keys_->sinceLastUserKeyPress() : std::nullopt;
    // A change the field shows already may be an edit the user made with the pointer while the
    // paste was held.
    watch->pointerPressesAtLooks.fill(pending->pointerPressesAtOffer);
    stopLatePasteWatch(watch->target.windowId);
    latePastes_.push_back(watch);
    scheduleLatePasteLook(watch);
}

void ClipboardFallbacks::stopLatePasteWatch(quint64 window) {
    std::erase_if(latePastes_, [window](const auto& watch) { return watch->target.windowId == window; });
}

void ClipboardFallbacks::scheduleLatePasteLook(const std::shared_ptr<LatePaste>& watch) {
    // Weak: the watch owns the call.
    watch->call = scheduler_.scheduleAfter(latePasteWatchPoll,
                                           [this, weak = std::weak_ptr<LatePaste>(watch)] { lookForLatePaste(weak); });
}

bool ClipboardFallbacks::userActed(LatePaste& watch) const {
    if (!keys_) {
        return false;
    }
    if (userPasteKeys() > watch.userPastesAt) {
        return true;
    }
    // The time since the user's last typing only grows until they type again.
    const std::optional<std::chrono::milliseconds> since = keys_->sinceLastUserKeyPress();
    const bool typed = since && (!watch.sinceTypingAt || *since < *watch.sinceTypingAt);
    watch.sinceTypingAt = since;
    return typed;
}

bool ClipboardFallbacks::changedByUsersClick(LatePaste& watch, std::uint64_t pressesBefore) const {
    if (watch.changeSeen) {
        return false;
    }
    watch.changeSeen = true;
    if (pointerPresses() <= pressesBefore) {
        return false;
    }
    // The user pressed a button just before the change showed: an edit of theirs with the pointer
    // (a middle-click paste, a drop, a menu's Paste), and the field theirs again.
    AppLog::app().info(
        QStringLiteral("focused field changed right after a click of the user's, taken as their own edit waited=%1ms")
            .arg(watch.waited.count()));
    return true;
}

QCoro::Task<void> ClipboardFallbacks::lookForLatePaste(std::weak_ptr<LatePaste> weakWatch) {
    FieldAfterPasteCheck check;
    std::uint64_t pressesBefore = 0;
    if (const std::shared_ptr<LatePaste> watch = weakWatch.lock()) {
        watch->waited += latePasteWatchPoll;
        check = watch->fieldAfter;
        pressesBefore = watch->pointerPressesAtLooks[0];
        watch->pointerPressesAtLooks = {watch->pointerPressesAtLooks[1], pointerPresses()};
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
    if (userActed(*watch)) {
        stop();  // the field is the user's again: what it holds now is theirs
        co_return;
    }
    // Only while the field has the keyboard: elsewhere a selection put into it takes the keyboard
    // back, and an undo would go to another field.
    const bool focused = !watch->fieldFocused || co_await watch->fieldFocused();
    if (!watched()) {
        co_return;
    }
    if (seen == FieldAfterPaste::changed) {
        if (changedByUsersClick(*watch, pressesBefore)) {
            stop();
            co_return;
        }
        if (!watch->undo) {
            stop();  // perhaps the user's own paste
            co_return;
        }
        const std::optional<FrontApplication> front = gate_.frontWindow();
        if (focused && front && front->windowId == watch->target.windowId && !gate_.userTyping()) {
            stop();
            AppLog::app().notice(QStringLiteral("focused field paste came late with other text than the result, "
                                                "undoing it waited=%1ms")
                                     .arg(watch->waited.count()));
            co_await undoLatePaste(watch);
            co_return;
        }
        // Keys reach it only once its window is in front again (the copy window may be up).
        if (!watch->undoWaits) {
            watch->undoWaits = true;
            AppLog::app().notice(QStringLiteral("focused field paste came late with other text than the result, "
                                                "undone once its window is in front waited=%1ms")
                                     .arg(watch->waited.count()));
        }
    }
    if (seen == FieldAfterPaste::unchanged && watch->selectionToPutBack && focused) {
        watch->selectionToPutBack = false;
        co_await putBackUntakenSelectAll(watch);
        if (!watched()) {
            co_return;
        }
    }
    if (watch->waited >= latePasteWatchBound || (!watch->undo && !watch->selectionToPutBack)) {
        stop();
        co_return;
    }
    scheduleLatePasteLook(watch);
}

QCoro::Task<void> ClipboardFallbacks::putBackUntakenSelectAll(std::shared_ptr<LatePaste> watch) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const auto watched = [&] {
        return alive && std::find(latePastes_.begin(), latePastes_.end(), watch) != latePastes_.end();
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

QCoro::Task<void> ClipboardFallbacks::undoLatePaste(std::shared_ptr<LatePaste> watch) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("undo_late_paste", watch->target.windowId);
    if (!alive || !held) {
        co_return;
    }
    // The paste was the field's last edit: its program's own undo takes it back whole, whatever it
    // inserted (or removed with the selection).
    const bool sent = co_await gate_.sendChord(watch->target, Qt::ControlModifier, Qt::Key_Z);
    if (!alive) {
        co_return;
    }
    FieldAfterPaste seen = FieldAfterPaste::unknown;
    for (std::chrono::milliseconds waited{0}; sent && waited < undoShowBound; waited += selectAllWait) {
        co_await sleepFor(scheduler_, selectAllWait);
        if (!alive) {
            co_return;
        }
        seen = co_await watch->fieldAfter();
        if (!alive) {
            co_return;
        }
        if (seen == FieldAfterPaste::unchanged) {
            break;
        }
    }
    if (seen == FieldAfterPaste::unchanged && watch->putFieldBack) {
        co_await watch->putFieldBack();  // the undo leaves the restored text selected
    }
    AppLog::app().notice(
        QStringLiteral("focused field paste that came late undone sent=%1 restored=%2")
            .arg(sent ? QStringLiteral("true") : QStringLiteral("false"))
            .arg(seen == FieldAfterPaste::unchanged ? QStringLiteral("true") : QStringLiteral("false")));
}

QCoro::Task<void> ClipboardFallbacks::putFieldBack(std::function<QCoro::Task<void>()> putBack) {
    co_await putBack();
}

}  // namespace tavrolin
