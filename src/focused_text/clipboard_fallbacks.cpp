#include "focused_text/clipboard_fallbacks.h"

#include "core/app_log.h"
#include "focused_text/clipboard_selection_text.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>

namespace tavrolin {

namespace {

// The user's clipboard did not come over in time: going on would leave it holding our text, or
// lose what its owner still had to hand over.
void logUnsavedClipboard(const char* operation) {
    AppLog::app().notice(
        QStringLiteral("clipboard fallback skipped: the clipboard could not be saved operation=%1").arg(operation));
}

}  // namespace

const QSet<QString>& ClipboardFallbacks::applicationsUsingCutInsteadOfCopy() {
    static const QSet<QString> applications = {
        "dev.zed.Zed",        "dev.zed.Zed-Preview", "jetbrains-idea",     "jetbrains-idea-ce",    "jetbrains-clion",
        "jetbrains-phpstorm", "jetbrains-webstorm",  "jetbrains-pycharm",  "jetbrains-pycharm-ce", "jetbrains-rider",
        "jetbrains-rubymine", "jetbrains-goland",    "jetbrains-datagrip",
    };
    return applications;
}

ClipboardFallbacks::ClipboardFallbacks(Clipboard& clipboard, SyntheticInputGate& gate, Scheduler& scheduler,
                                       std::chrono::milliseconds clipboardRestoreDelay, WindowPinging* windowPing,
                                       ProcessTable* processes, UserKeyActivity* keyActivity)
    : clipboard_(clipboard),
      gate_(gate),
      scheduler_(scheduler),
      restoreDelay_(clipboardRestoreDelay),
      windowPing_(windowPing),
      processes_(processes),
      keys_(keyActivity) {}

ClipboardFallbacks::~ClipboardFallbacks() {
    lifetime_.end();
    while (!holds_.empty()) {
        runPendingRestore(holds_.front());
    }
    latePastes_.clear();
}

std::uint64_t ClipboardFallbacks::pointerPresses() const {
    return keys_ ? keys_->pointerButtonPresses() : 0;
}

std::int64_t ClipboardFallbacks::userPasteKeys() const {
    return keys_ ? static_cast<std::int64_t>(keys_->pasteKeyPresses()) - *ownPasteKeys_ : 0;
}

void ClipboardFallbacks::notify() const {
    if (onWillUse_) {
        onWillUse_();
    }
}

ClipboardFallbacks::Held ClipboardFallbacks::heldFor(quint64 window) const {
    const auto it = std::find_if(holds_.begin(), holds_.end(),
                                 [window](const Held& held) { return held->target.windowId == window; });
    return it == holds_.end() ? nullptr : *it;
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

void ClipboardFallbacks::checkPendingRestore(const Held& held) {
    if (!isHeld(held)) {
        return;
    }
    PendingRestore& pending = *held;
    pending.waited += pasteFetchPoll;
    // An operation of ours may have handed the clipboard to the program it copies from; it puts
    // the user's contents back before it lets go of the queue.
    if (!queue_.isLocked() && !clipboard_.holdsOwnContents()) {
        // The user copied something else: that is the clipboard now, the paste's program too
        // gets it.
        AppLog::app().notice(QStringLiteral("clipboard restore skipped: the clipboard was copied over waited=%1ms")
                                 .arg(pending.waited.count()));
        endHoldUnseen(held, true);
        return;
    }
    if (userPasteKeys() > pending.userPastesAtOffer) {
        // The offer stood down already where the user's paste asked for the clipboard.
        AppLog::app().notice(
            QStringLiteral("clipboard restore: the user pastes, their paste gets their clipboard waited=%1ms")
                .arg(pending.waited.count()));
        endHoldUnseen(held, true, false);
        return;
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
    } else if (!fetched && pending.fieldAfter && pending.answeringSince &&
               pending.waited - *pending.answeringSince >= unprovenHoldLimit) {
        // A page that cancelled the paste key never fetches; one busy on it fetches whenever it
        // wakes. Either way the field is watched from here on, and the clipboard is the user's. A
        // stopped program, which answers nothing, has not even read the key: it keeps the hold.
        AppLog::app().notice(QStringLiteral("clipboard restore: the paste's program fetched nothing, its field is "
                                            "watched for a late paste waited=%1ms")
                                 .arg(pending.waited.count()));
        endHoldUnseen(held, true);
        return;
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
    const PendingRestore& pending = *held;
    // A change before the target fetched anything is the user's (typing while a busy page still
    // holds our keys): the paste is still to come.
    const bool landed =
        seen == FieldAfterPaste::showsResult || (seen == FieldAfterPaste::changed && targetFetched(pending));
    if (landed) {
        AppLog::app().info(QStringLiteral("clipboard restore: the field shows the paste seen_by=%1 waited=%2ms")
                               .arg(QLatin1String(who))
                               .arg(pending.waited.count()));
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
        std::function<QCoro::Task<void>()> putBack = held->putFieldBack;
        // A page busy on the key may still paste (its browser's own process fetched and answers):
        // the field stays watched.
        endHoldUnseen(held, false);
        if (putBack) {
            putFieldBack(std::move(putBack));
        }
    }
}

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

void ClipboardFallbacks::restore(const std::optional<ClipboardContents>& saved) {
    if (!saved) {
        // Whatever the owner held never arrived: writing back a partial copy, or clearing,
        // would lose it for good.
        AppLog::app().notice(QStringLiteral("clipboard restore skipped: the clipboard could not be saved"));
        return;
    }
    // An empty clipboard is left as the operation left it (with the copied or pasted text).
    if (!saved->empty()) {
        clipboard_.setContents(*saved);
    }
}

void ClipboardFallbacks::holdUsersClipboard(const ClipboardContents& saved) {
    if (saved.empty()) {
        clipboard_.clear();  // owned, with nothing in it
    } else {
        clipboard_.setContents(saved);
    }
}

QCoro::Task<std::optional<ClipboardFallbacks::Copy>> ClipboardFallbacks::copyByKeys(FrontApplication window,
                                                                                    Qt::Key letter,
                                                                                    ClipboardContents saved,
                                                                                    bool withHtml) {
    // Taken anew: only the program's copy takes the clipboard from us now, and whoever asks for
    // it meanwhile gets the user's contents.
    holdUsersClipboard(saved);
    const bool sent = co_await gate_.sendChord(window, Qt::ControlModifier, letter);
    if (!sent) {
        co_return std::nullopt;
    }
    Copy copy;
    std::chrono::milliseconds waited{0};
    while (waited < copyWait && clipboard_.holdsOwnContents()) {
        co_await sleepFor(scheduler_, copyPoll);
        waited += copyPoll;
    }
    if (clipboard_.holdsOwnContents()) {
        co_return copy;  // nothing was copied
    }
    copy.text = co_await clipboard_.readText();
    if ((!copy.text || copy.text->isEmpty()) && waited < copyWait) {
        // Taken before its text was there (a program may take the clipboard before it fills it):
        // read once more at the end of the wait.
        co_await sleepFor(scheduler_, copyWait - waited);
        if (!clipboard_.holdsOwnContents()) {
            copy.text = co_await clipboard_.readText();
        }
    }
    if (withHtml && !clipboard_.holdsOwnContents()) {
        copy.html = co_await clipboard_.readHtml();
    }
    if (copy.text) {
        copy.text->remove(QChar(0));  // some programs (AbiWord) end their text with a NUL
        if (copy.text->isEmpty()) {
            copy.text.reset();
        }
    }
    // The program's copy goes no further: every other program gets the user's clipboard again at
    // once, as it had it before the key (an empty one stays empty).
    holdUsersClipboard(saved);
    co_return copy;
}

QCoro::Task<std::unique_ptr<AsyncMutex::Hold>> ClipboardFallbacks::takeQueue(const char* operation,
                                                                             std::optional<quint64> window) {
    std::chrono::milliseconds waited{0};
    while (window && heldFor(*window) && waited < pendingPasteWaitBound) {
        co_await sleepFor(scheduler_, pasteFetchPoll);
        waited += pasteFetchPoll;
    }
    if (window && heldFor(*window)) {
        // Its program (stopped, say) still has our Control+V to handle: keys sent now could land
        // before it, and a copy of the field would not show the paste yet.
        AppLog::app().notice(
            QStringLiteral("clipboard fallback skipped: a paste still waits for its program operation=%1")
                .arg(operation));
        co_return std::unique_ptr<AsyncMutex::Hold>();
    }
    auto held = std::make_unique<AsyncMutex::Hold>(co_await queue_.lock());
    if (window) {
        // Keys go there now: what the field does next is this operation's, no late paste's.
        stopLatePasteWatch(*window);
    }
    co_return held;
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readTextViaClipboard(std::optional<FrontApplication> window) {
    const std::optional<CopiedField> copied = co_await copyFieldText(std::move(window));
    co_return copied ? std::optional<QString>(copied->text) : std::nullopt;
}

QCoro::Task<std::optional<ClipboardFallbacks::CopiedField>> ClipboardFallbacks::copyFieldText(
    std::optional<FrontApplication> window) {
    const bool acceptsKeys = co_await gate_.acceptsKeys(window);
    if (!acceptsKeys) {
        co_return std::nullopt;  // no select-all, no cut: the keys belong to the program there
    }
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("copy_field", window->windowId);
    if (!held) {
        co_return std::nullopt;
    }
    notify();
    const std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("copy_field");
        co_return std::nullopt;
    }
    const bool useCut =
        window->applicationIdentifier && applicationsUsingCutInsteadOfCopy().contains(*window->applicationIdentifier);
    const Qt::Key letter = useCut ? Qt::Key_X : Qt::Key_C;

    std::optional<QString> result;
    std::optional<Copy> copy = co_await copyByKeys(*window, letter, *saved, true);
    bool sent = copy.has_value();
    if (sent) {
        result = copy->text;
    }
    const bool afterSelectAll = sent && !result;
    if (afterSelectAll) {
        sent = co_await gate_.sendChord(*window, Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, selectAllWait);
        if (sent) {
            copy = co_await copyByKeys(*window, letter, *saved, true);
            sent = copy.has_value();
        }
        if (sent) {
            result = copy->text;
        }
    }
    if (useCut && result) {
        // The field has lost this text until a replacement or restoreCutText() puts it back.
        cutText_ = CutText{*result, *window};
    } else if (afterSelectAll && sent) {
        co_await collapseSelectAll(*window);
    }
    if (!result) {
        co_return std::nullopt;
    }
    co_return CopiedField{*result, afterSelectAll, copy->html};
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readSelectedTextViaClipboard(
    bool notifyClipboardFallback, std::optional<FrontApplication> window) {
    const bool acceptsKeys = co_await gate_.acceptsKeys(window);
    if (!acceptsKeys) {
        co_return std::nullopt;
    }
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("copy_selection", window->windowId);
    if (!held) {
        co_return std::nullopt;
    }
    if (notifyClipboardFallback) {
        notify();
    }
    const std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("copy_selection");
        co_return std::nullopt;
    }
    const std::optional<Copy> copy = co_await copyByKeys(*window, Qt::Key_C, *saved, true);
    if (!copy || (!copy->text && !copy->html)) {
        co_return std::nullopt;
    }
    co_return bestClipboardSelectionText(copy->text, copy->html);
}

QCoro::Task<ClipboardFallbacks::FieldAgain> ClipboardFallbacks::copyFieldAgain(FrontApplication window,
                                                                               CopiedField readBefore,
                                                                               ClipboardContents saved) {
    const bool cutEditor =
        window.applicationIdentifier && applicationsUsingCutInsteadOfCopy().contains(*window.applicationIdentifier);
    if (cutEditor && !readBefore.afterSelectAll) {
        // The selection was cut out: the paste goes in at the caret and replaces nothing.
        co_return FieldAgain{true, false};
    }
    // Copied, never cut: the check must not take text out of the field. A field cut whole
    // holds nothing while it is unchanged.
    const QString expected = cutEditor ? QString() : readBefore.text;
    bool sent = true;
    if (readBefore.afterSelectAll) {
        sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, selectAllWait);
    }
    std::optional<Copy> copy;
    if (sent) {
        copy = co_await copyByKeys(window, Qt::Key_C, saved);
    }
    if (!copy) {
        co_return FieldAgain{};
    }
    const std::optional<QString> copied = copy->text;
    const QString now = copied.value_or(QString());
    if (now == expected) {
        // A copy that gave the field's text shows that its program handled the keys; one that gave
        // nothing (the field holds nothing) does not, and its program must show it otherwise.
        if (!copied && !co_await keysShownRead(window)) {
            AppLog::app().notice(
                QStringLiteral("focused field paste withheld: nothing shows its program read the keys before"));
            co_return FieldAgain{};
        }
        co_return FieldAgain{true, readBefore.afterSelectAll};
    }
    AppLog::app().notice(QStringLiteral("focused field changed since it was read: not written length=%1 now=%2")
                             .arg(expected.size())
                             .arg(now.size()));
    lastPasteFoundFieldChanged_ = true;
    if (cutEditor) {
        // What the user typed into the emptied field is selected now: the cut text goes back
        // after it, never over it.
        co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_End);
    } else if (readBefore.afterSelectAll) {
        co_await collapseSelectAll(window);  // what the user typed on stays theirs
    }
    co_return FieldAgain{};
}

QCoro::Task<void> ClipboardFallbacks::collapseSelectAll(FrontApplication window) {
    // A field read whole by keystrokes would stay selected whole, and the user's next key would
    // replace all of it. Right ends a selection at its end in every toolkit that takes our keys,
    // and moves nothing else there (the caret after select-all is at the end already).
    const bool sent = co_await gate_.sendChord(window, Qt::NoModifier, Qt::Key_Right);
    if (!sent) {
        AppLog::app().notice(
            QStringLiteral("focused field left selected whole: the key to end the selection could "
                           "not be sent"));
    }
}

QCoro::Task<bool> ClipboardFallbacks::keysShownRead(FrontApplication window) {
    if (!windowPing_) {
        co_return true;
    }
    // Its window's process answers for pages that may still hold the keys; an unknown program's
    // process may be any of its own.
    if (gate_.isUnknownProgram(window) || (processes_ && processes_->runsProcessesOfItsOwnProgram(window.processId))) {
        co_return false;
    }
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const WindowPinging::Answer answer = co_await windowPing_->ping(window.windowId, pingBound);
    const bool answered = answer == WindowPinging::Answer::answered;
    co_return answered&& alive;
}

QCoro::Task<bool> ClipboardFallbacks::selectAllForPaste(FrontApplication window, const SelectAllCheck& shown) {
    const bool sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_A);
    if (!sent) {
        co_return false;
    }
    lastPasteSelectedAllOnly_ = true;  // until the paste goes
    if (!shown) {
        co_await sleepFor(scheduler_, pasteSelectAllWait);
        co_return true;
    }
    for (std::chrono::milliseconds waited{0}; waited < selectAllShowBound; waited += selectAllShowPoll) {
        co_await sleepFor(scheduler_, selectAllShowPoll);
        if (co_await shown()) {
            co_return true;
        }
    }
    AppLog::app().notice(
        QStringLiteral("focused field paste withheld: the field did not show its select-all within %1ms")
            .arg(selectAllShowBound.count()));
    co_return false;
}

QCoro::Task<bool> ClipboardFallbacks::readyFieldForPaste(FrontApplication window, bool replacingAllText,
                                                         const PasteChecks& checks, const ClipboardContents& saved) {
    const auto putBackClipboard = [this, &saved] {
        if (saved.empty()) {
            clipboard_.clear();  // the field's copy does not stay
        } else {
            clipboard_.setContents(saved);
        }
    };
    bool selectedAll = false;
    if (checks.readBefore) {
        const FieldAgain again = co_await copyFieldAgain(window, *checks.readBefore, saved);
        if (!again.unchanged) {
            putBackClipboard();
            co_return false;
        }
        selectedAll = again.selectedAll;
    }
    lastPaste_.reset();
    // The select-all comes before the text is offered: where the field does not show it, nothing
    // is pasted.
    if (replacingAllText && !selectedAll) {
        const bool selected = co_await selectAllForPaste(window, checks.selectAllShown);
        if (!selected) {
            if (checks.readBefore) {
                putBackClipboard();
            }
            co_return false;
        }
    }
    co_return true;
}

QCoro::Task<bool> ClipboardFallbacks::pasteFallback(QString newText, bool replacingAllText,
                                                    std::optional<FrontApplication> window, PasteChecks checks) {
    lastPasteFoundFieldChanged_ = false;
    lastPasteSelectedAllOnly_ = false;
    const bool acceptsKeys = co_await gate_.acceptsKeys(window);
    if (!acceptsKeys) {
        // Never into a terminal (nor our own windows): its input is the running program's.
        co_return false;
    }
    std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("paste", window->windowId);
    if (!held) {
        co_return false;
    }
    notify();
    std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("paste");
        co_return false;
    }
    // The save may have waited on another program, and the user may still hold keys: only now
    // is it known where keys would go.
    const bool keyboardFree = co_await gate_.waitForFreeKeyboard();
    if (!keyboardFree) {
        co_return false;
    }
    if (checks.target) {
        const bool targetReady = co_await checks.target();
        if (!targetReady) {
            co_return false;
        }
    }
    const bool ready = co_await readyFieldForPaste(*window, replacingAllText, checks, *saved);
    if (!ready) {
        co_return false;
    }
    // The text goes to the target alone; everyone else keeps getting the user's clipboard. A number
    // nothing vouches for may be anyone's: an unknown program is known by its window's X client.
    // Until the user pastes: their own paste, wherever it goes, gets their clipboard, even where it
    // asks before the hold's next look.
    const std::int64_t userPastes = userPasteKeys();
    std::function<bool()> standing;
    if (keys_) {
        standing = [keys = keys_, own = ownPasteKeys_, userPastes] {
            return static_cast<std::int64_t>(keys->pasteKeyPresses()) - *own <= userPastes;
        };
    }
    const quint64 offer = clipboard_.offerTextTo(window->processUnknown ? 0 : window->processId, window->windowId,
                                                 newText, std::move(standing));
    if (saved->empty()) {
        clipboard_.clear();
    } else {
        clipboard_.setContents(*saved);
    }
    const quint64 fetchesBefore = fetchesBy(*window);
    ++*ownPasteKeys_;  // before it goes: the display may count it before the chord returns
    const bool sent = co_await gate_.sendChord(*window, Qt::ControlModifier, Qt::Key_V);
    if (!sent) {
        --*ownPasteKeys_;
        // Nothing will fetch the text.
        clipboard_.withdrawOffer(offer);
        co_return false;
    }
    lastPasteSelectedAllOnly_ = false;
    lastPaste_ = std::make_pair(*window, fetchesBefore);
    // The application fetches the clipboard after it handles the keystroke, in its own time:
    // the text stays offered to it until it has (or cannot any more).
    auto pending = std::make_shared<PendingRestore>();
    pending->savedEmpty = saved->empty();
    pending->text = newText;
    pending->target = *window;
    pending->offer = offer;
    pending->fetchesBefore = fetchesBefore;
    // An unknown program's process may be anything, its pages included.
    pending->pingProvesKeysRead = !gate_.isUnknownProgram(*window) &&
                                  !(processes_ && processes_->runsProcessesOfItsOwnProgram(window->processId));
    pending->fieldAfter = std::move(checks.fieldAfter);
    pending->putFieldBack = std::move(checks.putFieldBack);
    pending->fieldFocused = std::move(checks.fieldFocused);
    pending->selectAllShown = std::move(checks.selectAllShown);
    pending->replacingAllText = replacingAllText;
    pending->userPastesAtOffer = userPastes;
    pending->pointerPressesAtOffer = pointerPresses();
    pending->call = scheduleCheck(pending);
    holds_.push_back(std::move(pending));
    co_return true;
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

QCoro::Task<std::optional<QString>> ClipboardFallbacks::copyFieldAfterPaste(FrontApplication window) {
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("read_back", window.windowId);
    if (!held) {
        co_return std::nullopt;
    }
    notify();
    const std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("read_back");
        co_return std::nullopt;
    }
    std::optional<QString> result;
    const bool sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_A);
    co_await sleepFor(scheduler_, selectAllWait);
    std::optional<Copy> copy;
    if (sent) {
        copy = co_await copyByKeys(window, Qt::Key_C, *saved);
    }
    if (copy) {
        result = copy->text;
        // The caret back at the end, where the paste left it, rather than the whole field selected.
        co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_End);
    }
    co_return result;
}

std::optional<QString> ClipboardFallbacks::unreplacedCutText() const {
    return cutText_ ? std::optional<QString>(cutText_->text) : std::nullopt;
}

std::optional<FrontApplication> ClipboardFallbacks::cutTextWindow() const {
    return cutText_ ? std::optional<FrontApplication>(cutText_->window) : std::nullopt;
}

QCoro::Task<bool> ClipboardFallbacks::restoreCutText(PasteTargetCheck targetCheck) {
    if (!cutText_) {
        co_return false;
    }
    const CutText cut = *cutText_;
    cutText_.reset();
    // A named object, not a temporary: g++ 12 destroys a temporary aggregate argument of a
    // coroutine twice.
    PasteChecks checks;
    checks.target = std::move(targetCheck);
    const bool pasted = co_await pasteFallback(cut.text, false, cut.window, std::move(checks));
    if (pasted) {
        AppLog::app().info(QStringLiteral("focused field cut text restored length=%1").arg(cut.text.size()));
        co_return true;
    }
    // Pasting is impossible: the text must not vanish with the user's old clipboard put
    // back over it, so it stays on the clipboard instead.
    // A paste still held for its program keeps its text for it: only what everyone else gets
    // changes.
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("keep_cut_text", std::nullopt);
    clipboard_.clear();
    clipboard_.setText(cut.text);
    AppLog::app().notice(QStringLiteral("focused field cut text left on clipboard length=%1").arg(cut.text.size()));
    co_return false;
}

}  // namespace tavrolin
