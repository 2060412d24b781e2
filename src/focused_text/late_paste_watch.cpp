#include "core/app_log.h"
#include "focused_text/clipboard_fallbacks.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>

// The watch over a field whose paste's hold ended before the field showed it: the paste may still
// land (see ClipboardFallbacks).

namespace tavrolin {

bool ClipboardFallbacks::emptiedByLatePaste(const QString& text) {
    // Only the browser's own paste of nothing over our select-all, which its undo history holds,
    // is undone. A page that inserted other text in script keeps no history of it: its undo would
    // take back the user's last typing instead, and that field stays as the paste left it.
    return text.trimmed().isEmpty();
}

void ClipboardFallbacks::endHoldUnseen(Held pending, bool putBack) {
    if (!isHeld(pending)) {
        return;
    }
    runPendingRestore(pending);
    // Only where our select-all may still stand, or a page's late paste may still empty the field
    // the user has not touched, and never in a field a later command works in.
    const bool selectAllMayStand = putBack && !pending->selectionPutBack && pending->putFieldBack;
    const bool untouched = pending->fieldText && targetUntouched(*pending);
    if (pending->overtaken || !pending->replacingAllText || !pending->fieldAfter || !(selectAllMayStand || untouched)) {
        return;
    }
    const std::shared_ptr<LatePaste> watch = watchLatePaste(*pending);
    watch->selectAllToPutBack = selectAllMayStand;
    scheduleLatePasteLook(watch);
}

std::shared_ptr<ClipboardFallbacks::LatePaste> ClipboardFallbacks::watchLatePaste(const PendingRestore& pending) {
    auto watch = std::make_shared<LatePaste>();
    watch->target = pending.target;
    watch->fieldAfter = pending.fieldAfter;
    watch->putFieldBack = pending.putFieldBack;
    watch->fieldFocused = pending.fieldFocused;
    watch->selectAllShown = pending.selectAllShown;
    watch->fieldText = pending.fieldText;
    watch->sinceOffer = pending.targetPresses;
    watch->sinceWatch = UserPressesInWindow(keys_);
    watch->undoPresses = UserPressesInWindow(keys_);
    std::erase_if(latePastes_,
                  [window = watch->target.windowId](const auto& w) { return w->target.windowId == window; });
    latePastes_.push_back(watch);
    return watch;
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
    // The user's presses in other programs' windows (a paste into another program while the page
    // is busy) leave this field alone: only those that may have been made in its window count.
    const auto lookAtPresses = [&] {
        const std::optional<FrontApplication> front = gate_.frontWindow();
        const bool inFront = front && front->windowId == watch->target.windowId;
        watch->sinceOffer.pressedIn(inFront);
        watch->sinceWatch.pressedIn(inFront);
    };
    if (seen == FieldAfterPaste::showsResult) {
        AppLog::app().info(QStringLiteral("focused field paste came late and shows its result waited=%1ms")
                               .arg(watch->waited.count()));
        stop();
        co_return;
    }
    if (watch->undoText) {
        // Keys and presses while another window is in front (the copy window's Escape) are not in
        // this field; any in its window, or any change of what the late paste left, ends the watch.
        const std::optional<FrontApplication> front = gate_.frontWindow();
        const bool pressed = watch->undoPresses.pressedIn(front && front->windowId == watch->target.windowId);
        if (pressed || seen != FieldAfterPaste::changed) {
            stop();
            co_return;
        }
        if (watch->undoPresses.steadyInFront() && !gate_.userTyping()) {
            const bool focused = !watch->fieldFocused || co_await watch->fieldFocused();
            std::optional<QString> text;
            if (watched() && focused) {
                // Awaited into a variable of its own: g++ 12 destroys a co_await result twice inside a
                // conditional expression, and the text's data went with it.
                std::optional<QString> read = co_await watch->fieldText();
                text = std::move(read);
            }
            if (!watched()) {
                co_return;
            }
            if (focused && !watch->undoPresses.pressedSinceLook()) {
                stop();
                if (text == watch->undoText) {
                    co_await undoLatePaste(watch);
                }
                co_return;
            }
        }
        if (watch->waited >= latePasteWatchBound) {
            stop();
            co_return;
        }
        scheduleLatePasteLook(watch);
        co_return;
    }
    lookAtPresses();
    if (seen == FieldAfterPaste::changed && watch->fieldText && !watch->sinceOffer.mayHavePressedIn()) {
        // Nothing pressed since the command: the change is the late paste's, to be undone while the
        // field still holds exactly it.
        const std::optional<QString> text = co_await watch->fieldText();
        if (!watched()) {
            co_return;
        }
        lookAtPresses();
        if (text && emptiedByLatePaste(*text) && !watch->sinceOffer.mayHavePressedIn()) {
            AppLog::app().notice(QStringLiteral("focused field paste came late with other text than the result, "
                                                "undone once its window is in front and the field still holds it "
                                                "waited=%1ms")
                                     .arg(watch->waited.count()));
            watch->undoText = text;
            watch->undoPresses = UserPressesInWindow(keys_);
            scheduleLatePasteLook(watch);
            co_return;
        }
    }
    // Whatever changed the field, and whatever the user does anywhere, is not ours to take back or
    // to put a selection over.
    if (seen == FieldAfterPaste::changed || watch->sinceWatch.mayHavePressedIn() ||
        (!watch->selectAllToPutBack && watch->sinceOffer.mayHavePressedIn())) {
        stop();
        co_return;
    }
    // Only while the field has the keyboard: elsewhere a selection put into it takes the keyboard
    // back.
    const bool focused = !watch->fieldFocused || co_await watch->fieldFocused();
    if (!watched()) {
        co_return;
    }
    if (seen == FieldAfterPaste::unchanged && focused && watch->selectAllToPutBack) {
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
    const std::uint64_t inputAtLook = userInput();
    const auto watched = [&] {
        return alive && std::find(latePastes_.begin(), latePastes_.end(), watch) != latePastes_.end() &&
               userInput() == inputAtLook;
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
    // The late paste is the field's last edit (it still holds exactly what that paste left, and the
    // user pressed nothing in its window): its program's own undo takes it back whole.
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
