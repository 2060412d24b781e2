#include "core/app_log.h"
#include "focused_text/clipboard_fallbacks.h"
#include "platform/scheduler_sleep.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <algorithm>

// The hold of a paste: the pasted text offered to its target alone, the user's clipboard to
// everyone else, until the target has fetched it or no longer can (see ClipboardFallbacks).

namespace tavrolin {

ClipboardFallbacks::Held ClipboardFallbacks::heldFor(quint64 window, bool keepingQueue) const {
    const auto it = std::find_if(holds_.rbegin(), holds_.rend(), [window, keepingQueue](const Held& held) {
        return held->target.windowId == window && !(keepingQueue && held->overtaken);
    });
    return it == holds_.rend() ? nullptr : *it;
}

bool ClipboardFallbacks::isHeld(const Held& pending) const {
    return pending && std::find(holds_.begin(), holds_.end(), pending) != holds_.end();
}

void ClipboardFallbacks::runPendingRestore(Held pending) {
    if (!isHeld(pending)) {
        return;
    }
    dropPendingRestore(pending);
    // An empty clipboard is left as the paste left it, with the pasted text.
    if (pending->savedEmpty && clipboard_.holdsOwnContents()) {
        clipboard_.setText(pending->text);
    }
}

void ClipboardFallbacks::dropPendingRestore(Held pending) {
    const auto it = std::find(holds_.begin(), holds_.end(), pending);
    if (it == holds_.end()) {
        return;
    }
    holds_.erase(it);
    pending->call->cancel();
    clipboard_.withdrawOffer(pending->offer);
}

std::unique_ptr<ScheduledCall> ClipboardFallbacks::scheduleCheck(const Held& pending) {
    // Weak: the hold owns the call.
    return scheduler_.scheduleAfter(
        pasteFetchPoll, [this, weak = std::weak_ptr<PendingRestore>(pending)] { checkPendingRestore(weak.lock()); });
}

quint64 ClipboardFallbacks::fetchesBy(const FrontApplication& target) const {
    // A number nothing vouches for may be anyone's: an unknown program's fetches are those of
    // its window's X client.
    return clipboard_.ownDataFetchesBy(target.processUnknown ? 0 : target.processId, target.windowId);
}

bool ClipboardFallbacks::targetFetched(const PendingRestore& pending) const {
    return pending.firstFetchAt.has_value() || fetchesBy(pending.target) > pending.fetchesBefore;
}

void ClipboardFallbacks::lookAtTargetPresses(PendingRestore& pending) const {
    const std::optional<FrontApplication> front = gate_.frontWindow();
    pending.targetPresses.pressedIn(front && front->windowId == pending.target.windowId);
}

bool ClipboardFallbacks::targetUntouched(PendingRestore& pending) const {
    lookAtTargetPresses(pending);
    return !pending.targetPresses.mayHavePressedIn();
}

void ClipboardFallbacks::checkPendingRestore(const Held& held) {
    if (!isHeld(held)) {
        return;
    }
    PendingRestore& pending = *held;
    pending.waited += pasteFetchPoll;
    lookAtTargetPresses(pending);
    // An operation of ours may have handed the clipboard to the program it copies from; it puts
    // the user's contents back before it lets go of the queue.
    if (!queue_.isLocked() && !clipboard_.holdsOwnContents() && !pending.retaking) {
        // The user copied something else: that is their clipboard now, which the paste's key must
        // not fetch either.
        pending.retaking = true;
        retakeUsersCopy(held);
    }
    if (!pending.firstFetchAt && targetFetched(pending)) {
        pending.firstFetchAt = pending.waited - pasteFetchPoll;  // it came since the last look
    }
    const bool fetched = pending.firstFetchAt.has_value();
    // Where the field can be read back in a program that fetches more than once for one paste,
    // only the field tells when it is over; elsewhere the first fetch does.
    const bool fetchEndsHold = !pending.fieldAfter || pending.pingProvesKeysRead;
    if (fetched && fetchEndsHold) {
        // Counted from the fetch, not from the keys: a program that fetches late (resumed after
        // a stop) may fetch again right after, another format or from another process.
        if (pending.waited - *pending.firstFetchAt >= restoreDelay_) {
            runPendingRestore(held);
            return;
        }
    } else if (!fetched && pending.pingProvesKeysRead && pending.targetReadKeysAt &&
               pending.waited - *pending.targetReadKeysAt >= std::max(pasteHoldLimit, restoreDelay_)) {
        AppLog::app().notice(
            QStringLiteral("clipboard restore after paste without fetch waited=%1ms").arg(pending.waited.count()));
        endHoldUnseen(held, true);
        return;
    } else if (!fetched && pending.fieldAfter && pending.answeringSince && !pending.reportedUnfetched &&
               pending.waited - *pending.answeringSince >= unfetchedPutBackAfter) {
        pending.reportedUnfetched = true;
        AppLog::app().notice(QStringLiteral("clipboard hold: the paste's program fetched nothing, its field is "
                                            "watched for a late paste waited=%1ms")
                                 .arg(pending.waited.count()));
    }
    if (!fetched && pending.fieldAfter && pending.putFieldBack && pending.replacingAllText && !pending.overtaken &&
        !pending.selectionPutBack && !pending.puttingBack && pending.answeringSince &&
        pending.waited - *pending.answeringSince >= unfetchedPutBackAfter &&
        (!pending.putBackTriedAt || pending.waited - *pending.putBackTriedAt >= fieldCheckInterval)) {
        // A page that cancelled the paste key never fetches; one busy on it fetches whenever it
        // wakes. Our select-all must not wait for that in front of the user's next key. A stopped
        // program, which answers nothing, has not even read the key.
        pending.puttingBack = true;
        pending.putBackTriedAt = pending.waited;
        putBackWhileHeld(held);
    }
    if (pending.waited >= holdBound) {
        AppLog::app().notice(QStringLiteral("clipboard restore: the paste's hold ended at its bound waited=%1ms")
                                 .arg(pending.waited.count()));
        endHoldUnseen(held, true);
        return;
    }
    if (!fetched && !pending.pingProvesKeysRead && pending.waited >= pasteHoldLimit && !pending.reportedWaiting) {
        pending.reportedWaiting = true;
        AppLog::app().notice(QStringLiteral("clipboard restore waits: the paste's program has not fetched it and "
                                            "its pages may still hold the keys waited=%1ms")
                                 .arg(pending.waited.count()));
    }
    lookAgainLater(held);
}

void ClipboardFallbacks::lookAgainLater(const Held& held) {
    PendingRestore& pending = *held;
    pending.call = scheduleCheck(held);
    if (!pending.pinging && (!pending.pingedAt || pending.waited - *pending.pingedAt >= holdPingInterval)) {
        pending.pinging = true;
        pending.pingedAt = pending.waited;
        pingTarget(held);
    }
    // The field is read only while its program answers: a stopped one would hold the
    // accessibility thread for nothing.
    if (pending.fieldAfter && !pending.checkingField && pending.answeredAt && pending.waited >= fieldCheckStart &&
        (!pending.fieldCheckedAt || pending.waited - *pending.fieldCheckedAt >= fieldCheckInterval)) {
        pending.checkingField = true;
        pending.fieldCheckedAt = pending.waited;
        checkField(held);
    }
}

QCoro::Task<void> ClipboardFallbacks::pingTarget(std::weak_ptr<PendingRestore> weakPending) {
    std::optional<quint64> window;
    if (const Held pending = weakPending.lock()) {
        window = pending->target.windowId;
    }
    WindowPinging::Answer answer = WindowPinging::Answer::unsupported;
    if (windowPing_ && window && *window != 0) {
        const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
        answer = co_await windowPing_->ping(*window, pingBound);
        if (!alive) {
            co_return;
        }
    }
    // Still held?
    const Held pending = weakPending.lock();
    if (!isHeld(pending)) {
        co_return;
    }
    pending->pinging = false;
    switch (answer) {
    case WindowPinging::Answer::answered:
    case WindowPinging::Answer::unsupported:
        // Nothing says the program is stopped: where its answer proves it read its keys, a fetch
        // that has not come within the hold limit from now is not coming.
        pending->answeredAt = pending->waited;
        if (!pending->answeringSince) {
            pending->answeringSince = pending->waited;
        }
        if (!pending->targetReadKeysAt) {
            pending->targetReadKeysAt = pending->waited;
        }
        break;
    case WindowPinging::Answer::unanswered:
        pending->answeredAt.reset();
        pending->answeringSince.reset();
        if (pending->waited >= pasteHoldLimit && !pending->reportedWaiting) {
            pending->reportedWaiting = true;
            AppLog::app().notice(QStringLiteral("clipboard restore waits: the paste's program does not answer "
                                                "waited=%1ms")
                                     .arg(pending->waited.count()));
        }
        break;
    case WindowPinging::Answer::windowGone:
        AppLog::app().notice(
            QStringLiteral("clipboard restore: the paste's window is gone waited=%1ms").arg(pending->waited.count()));
        runPendingRestore(pending);
        break;
    }
}

QCoro::Task<void> ClipboardFallbacks::checkField(std::weak_ptr<PendingRestore> weakPending) {
    FieldAfterPasteCheck check;
    if (const Held pending = weakPending.lock()) {
        check = pending->fieldAfter;
    }
    if (!check) {
        co_return;
    }
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const FieldAfterPaste seen = co_await check();
    if (!alive) {
        co_return;
    }
    const Held pending = weakPending.lock();
    if (!isHeld(pending)) {
        co_return;
    }
    pending->checkingField = false;
    judgeField(pending, seen, "hold");
}

void ClipboardFallbacks::pasteSeenInField(FieldAfterPaste seen) {
    if (lastPaste_) {
        judgeField(heldFor(lastPaste_->first.windowId), seen, "read_back");
    }
}

void ClipboardFallbacks::judgeField(const Held& held, FieldAfterPaste seen, const char* who) {
    if (!isHeld(held)) {
        return;
    }
    PendingRestore& pending = *held;
    // A change before the target fetched anything is the user's (typing while a busy page still
    // holds our keys): the paste is still to come.
    const bool landed =
        seen == FieldAfterPaste::showsResult || (seen == FieldAfterPaste::changed && targetFetched(pending));
    if (landed) {
        AppLog::app().info(QStringLiteral("clipboard restore: the field shows the paste seen_by=%1 waited=%2ms")
                               .arg(QLatin1String(who))
                               .arg(pending.waited.count()));
        if (seen == FieldAfterPaste::changed && pending.fieldText && pending.replacingAllText &&
            targetUntouched(*held)) {
            if (!held->readingChange) {
                held->readingChange = true;
                endHoldOnChange(held);
            }
            return;
        }
        runPendingRestore(held);
        return;
    }
    // The program took the text and, answering all along since, still shows the field as it
    // was: it refused the paste (a page that cancels it). Its own next paste gets the user's
    // clipboard. A program stopped after its first fetch has not had the time to insert it.
    const bool refused = seen == FieldAfterPaste::unchanged && pending.firstFetchAt && pending.answeringSince &&
                         pending.waited - std::max(*pending.firstFetchAt, *pending.answeringSince) >= refusalQuiet;
    if (refused) {
        AppLog::app().notice(QStringLiteral("clipboard restore: the paste's program fetched it and left its field "
                                            "unchanged, it refused the paste seen_by=%1 waited=%2ms")
                                 .arg(QLatin1String(who))
                                 .arg(pending.waited.count()));
        // Where the selection was put back already (the key handled late, with nothing offered), the
        // caret is the user's now.
        // A later command's field is its own.
        std::function<QCoro::Task<void>()> putBack =
            held->selectionPutBack || held->overtaken ? nullptr : held->putFieldBack;
        // Chromium's own process fetches while its page may still be busy on the key: the field stays
        // watched for a paste that lands late.
        endHoldUnseen(held, false);
        if (putBack) {
            putFieldBack(std::move(putBack));
        }
    }
}

QCoro::Task<void> ClipboardFallbacks::putBackWhileHeld(std::weak_ptr<PendingRestore> weakPending) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const auto stillHeld = [&]() -> Held {
        Held pending = alive ? weakPending.lock() : nullptr;
        return isHeld(pending) && !pending->overtaken && !targetFetched(*pending) ? pending : nullptr;
    };
    Held pending = stillHeld();
    if (!pending) {
        co_return;
    }
    const auto done = qScopeGuard([&] {
        if (const Held held = alive ? weakPending.lock() : nullptr) {
            held->puttingBack = false;
        }
    });
    // Only where the field still has its program's focus: a selection put into a field the user
    // left for another takes the keyboard back to it.
    const std::function<QCoro::Task<bool>()> focusedCheck = pending->fieldFocused;
    bool focused = !focusedCheck || co_await focusedCheck();
    pending = stillHeld();
    if (!pending) {
        co_return;
    }
    if (!focused) {
        // Behind a window of ours (the copy window offering the result) the field keeps that focus
        // while the user presses nothing in its program: the select-all does not wait there for
        // their return, when their first key would replace the whole text.
        lookAtTargetPresses(*pending);
        const std::optional<FrontApplication> front = gate_.frontWindow();
        focused = front && front->processId == QCoreApplication::applicationPid() &&
                  !pending->targetPresses.mayHavePressedIn();
    }
    if (!focused) {
        co_return;
    }
    const FieldAfterPasteCheck fieldCheck = pending->fieldAfter;
    const FieldAfterPaste seen = co_await fieldCheck();
    pending = stillHeld();
    if (!pending || seen != FieldAfterPaste::unchanged) {
        co_return;  // a change is judged by the hold's own look
    }
    // Only our select-all: a caret the user put in the field meanwhile stays.
    const SelectAllCheck selectAllCheck = pending->selectAllShown;
    const bool selectedAll = !selectAllCheck || co_await selectAllCheck();
    pending = stillHeld();
    if (!pending) {
        co_return;
    }
    if (selectedAll) {
        const std::function<QCoro::Task<void>()> putBack = pending->putFieldBack;
        co_await putBack();
        pending = stillHeld();
        if (!pending) {
            co_return;
        }
    }
    // The field no longer shows our select-all: the result would land beside the user's text. The
    // key, if it is still handled, gets nothing to insert.
    pending->selectionPutBack = true;
    const FrontApplication& target = pending->target;
    pending->offer = clipboard_.offerTextTo(target.processUnknown ? 0 : target.processId, target.windowId, QString());
    AppLog::app().notice(QStringLiteral("clipboard hold: the paste's program fetched nothing, its field's "
                                        "selection put back and nothing more offered to it put_back=%1 waited=%2ms")
                             .arg(selectedAll ? QStringLiteral("true") : QStringLiteral("false"))
                             .arg(pending->waited.count()));
}

QCoro::Task<void> ClipboardFallbacks::endHoldOnChange(std::weak_ptr<PendingRestore> weakPending) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    std::function<QCoro::Task<std::optional<QString>>()> read;
    if (const Held pending = weakPending.lock()) {
        read = pending->fieldText;
    }
    const std::optional<QString> text = co_await read();
    const Held pending = alive ? weakPending.lock() : nullptr;
    if (!isHeld(pending)) {
        co_return;
    }
    const bool untouched = text && emptiedByLatePaste(*text) && targetUntouched(*pending) && !pending->overtaken;
    runPendingRestore(pending);
    if (!untouched) {
        co_return;
    }
    // Chromium's page, busy on the key while its window was not in front, inserts nothing over our
    // select-all: the user's text is gone though they did nothing.
    AppLog::app().notice(QStringLiteral("focused field paste came late with other text than the result, undone "
                                        "once its window is in front and the field still holds it waited=%1ms")
                             .arg(pending->waited.count()));
    const std::shared_ptr<LatePaste> watch = watchLatePaste(*pending);
    watch->undoText = text;
    scheduleLatePasteLook(watch);
}

QCoro::Task<void> ClipboardFallbacks::retakeUsersCopy(std::weak_ptr<PendingRestore> weakPending) {
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    std::optional<QString> programCopy;
    std::uint64_t inputAtOffer = 0;
    if (const Held pending = weakPending.lock()) {
        programCopy = pending->programCopy;
        inputAtOffer = pending->userInputAtOffer;
    }
    if (programCopy && userInput() == inputAtOffer) {
        // With no key or click of the user's, the field's own text is its program's copy again
        // (AbiWord copies its selection whenever another program reads it), not theirs.
        std::optional<QString> text = co_await clipboard_.readText();
        if (text) {
            text->remove(QChar(0));
        }
        const Held pending = alive ? weakPending.lock() : nullptr;
        if (!isHeld(pending)) {
            co_return;
        }
        if (text == programCopy && userInput() == inputAtOffer && !clipboard_.holdsOwnContents()) {
            pending->retaking = false;
            holdUsersClipboard(pending->saved);
            AppLog::app().notice(QStringLiteral("clipboard hold: the paste's program copied the field again, the "
                                                "user's clipboard is taken back waited=%1ms")
                                     .arg(pending->waited.count()));
            co_return;
        }
    }
    const std::optional<ClipboardContents> copy = co_await clipboard_.readContents();
    const Held pending = alive ? weakPending.lock() : nullptr;
    if (!isHeld(pending)) {
        co_return;
    }
    pending->retaking = false;
    if (clipboard_.holdsOwnContents()) {
        co_return;  // another hold took it over already
    }
    if (!copy) {
        // Their copy could not be read: it stays the clipboard, and the hold ends.
        AppLog::app().notice(QStringLiteral("clipboard restore skipped: the clipboard was copied over and could "
                                            "not be held waited=%1ms")
                                 .arg(pending->waited.count()));
        endHoldUnseen(pending, true);
        co_return;
    }
    holdUsersClipboard(*copy);
    for (const Held& held : holds_) {
        held->savedEmpty = copy->empty();
    }
    AppLog::app().notice(QStringLiteral("clipboard hold: the user copied, their copy is what everyone but the "
                                        "paste's program gets waited=%1ms")
                             .arg(pending->waited.count()));
}

QCoro::Task<bool> ClipboardFallbacks::waitForPasteFetch(std::chrono::milliseconds bound) {
    for (std::chrono::milliseconds waited{0};; waited += pasteFetchPoll) {
        if (!lastPaste_) {
            co_return false;
        }
        const auto& [target, fetchesBefore] = *lastPaste_;
        if (fetchesBy(target) > fetchesBefore) {
            co_return true;
        }
        // The hold ends only after a fetch or once none can come.
        if (!heldFor(target.windowId) || waited >= bound) {
            co_return false;
        }
        co_await sleepFor(scheduler_, pasteFetchPoll);
    }
}

}  // namespace tavrolin
