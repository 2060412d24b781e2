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

std::uint64_t ClipboardFallbacks::userInput() const {
    return keys_ ? keys_->userPresses() : 0;
}

void ClipboardFallbacks::notify() const {
    if (onWillUse_) {
        onWillUse_();
    }
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
                                                                                    bool withHtml, bool endSelectAll) {
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
        // Nothing yet: a program that shows it read the key copied nothing (no selection). One
        // slowed down copies once it gets to the key, and that copy must not be taken for the
        // answer to a later key of ours: it is waited for as long as the program answers no ping.
        const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
        bool read = false;
        for (std::chrono::milliseconds pinged{0}; windowPing_ && !read && pinged < lateCopyWait; pinged += pingBound) {
            const bool proves = co_await pingProvesKeysRead(window);
            if (!alive || !proves) {
                break;
            }
            read = co_await keysShownRead(window);
            if (!alive || !clipboard_.holdsOwnContents()) {
                break;
            }
        }
        if (!alive) {
            co_return copy;
        }
        if (clipboard_.holdsOwnContents()) {
            copy.mayStillCome = !read && windowPing_;
            co_return copy;
        }
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
    if (endSelectAll) {
        // Before the clipboard changes hands again: a clipboard manager reads the selection then.
        co_await collapseSelectAll(window);
        copy.selectAllEnded = true;
    }
    // The program's copy goes no further: every other program gets the user's clipboard again at
    // once, as it had it before the key (an empty one stays empty).
    takenCopy_ = TakenCopy{window.windowId, requestsBy(window)};
    if (copy.text) {
        takenBack_ = TakenBack{*copy.text, saved, userInput()};
    }
    holdUsersClipboard(saved);
    co_return copy;
}

QCoro::Task<std::unique_ptr<AsyncMutex::Hold>> ClipboardFallbacks::takeQueue(const char* operation,
                                                                             std::optional<quint64> window,
                                                                             bool startsCommand) {
    if (window && startsCommand) {
        laterCommandIn(*window);
    }
    std::chrono::milliseconds waited{0};
    while (window && heldFor(*window, true) && waited < pendingPasteWaitBound) {
        co_await sleepFor(scheduler_, pasteFetchPoll);
        waited += pasteFetchPoll;
    }
    if (window && heldFor(*window, true)) {
        // Its program (stopped, say) still has our Control+V to handle: keys sent now could land
        // before it, and a copy of the field would not show the paste yet.
        AppLog::app().notice(
            QStringLiteral("clipboard fallback skipped: a paste still waits for its program operation=%1")
                .arg(operation));
        co_return std::unique_ptr<AsyncMutex::Hold>();
    }
    auto held = std::make_unique<AsyncMutex::Hold>(co_await queue_.lock());
    ++operations_;
    if (window) {
        // Keys go there now: what the field does next is this operation's, no late paste's.
        laterCommandIn(*window);
    }
    co_return held;
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readTextViaClipboard(std::optional<FrontApplication> window) {
    const std::optional<CopiedField> copied = co_await copyFieldText(std::move(window));
    co_return copied ? std::optional<QString>(copied->text) : std::nullopt;
}

QCoro::Task<std::optional<ClipboardFallbacks::CopiedField>> ClipboardFallbacks::copyFieldText(
    std::optional<FrontApplication> window, bool selectAllAllowed) {
    const bool acceptsKeys = co_await gate_.acceptsKeys(window);
    if (!acceptsKeys) {
        co_return std::nullopt;  // no select-all, no cut: the keys belong to the program there
    }
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("copy_field", window->windowId, true);
    if (!held) {
        co_return std::nullopt;
    }
    notify();
    const std::optional<ClipboardContents> saved = co_await saveUsersClipboard();
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
    bool mayStillCome = false;
    if (sent) {
        result = copy->text;
        mayStillCome = copy->mayStillCome;
    }
    const bool afterSelectAll = sent && !result && selectAllAllowed;
    if (afterSelectAll) {
        sent = co_await gate_.sendChord(*window, Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, selectAllWait);
        if (sent) {
            copy = co_await copyByKeys(*window, letter, *saved, true, !useCut);
            sent = copy.has_value();
        }
        if (sent) {
            result = copy->text;
            mayStillCome = mayStillCome || copy->mayStillCome;
        }
    }
    if ((mayStillCome || copy) && !useCut) {
        // Its copy may come late, or be made again (AbiWord, beside a clipboard manager).
        watchForLateCopy(*saved);
    }
    if (useCut && result) {
        // The field has lost this text until a replacement or restoreCutText() puts it back.
        cutText_ = CutText{*result, *window};
    } else if (afterSelectAll && sent && !copy->selectAllEnded) {
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
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("copy_selection", window->windowId, true);
    if (!held) {
        co_return std::nullopt;
    }
    if (notifyClipboardFallback) {
        notify();
    }
    const std::optional<ClipboardContents> saved = co_await saveUsersClipboard();
    if (!saved) {
        logUnsavedClipboard("copy_selection");
        co_return std::nullopt;
    }
    const std::optional<Copy> copy = co_await copyByKeys(*window, Qt::Key_C, *saved, true);
    if (copy) {
        watchForLateCopy(*saved);
    }
    if (!copy || (!copy->text && !copy->html)) {
        co_return std::nullopt;
    }
    co_return bestClipboardSelectionText(copy->text, copy->html);
}

QCoro::Task<std::optional<ClipboardContents>> ClipboardFallbacks::saveUsersClipboard() {
    std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    const std::optional<TakenBack> taken = takenBack_;
    if (!saved || !taken || clipboard_.holdsOwnContents() || userInput() != taken->userInput) {
        co_return saved;
    }
    std::optional<QString> text = co_await clipboard_.readText();
    if (text) {
        text->remove(QChar(0));
    }
    if (text != taken->text || clipboard_.holdsOwnContents() || userInput() != taken->userInput) {
        co_return saved;
    }
    AppLog::app().notice(
        QStringLiteral("clipboard restore: a copy its program made again after its copy was taken back was taken "
                       "back too"));
    holdUsersClipboard(taken->users);
    co_return taken->users;
}

void ClipboardFallbacks::watchForLateCopy(const ClipboardContents& saved) {
    lateCopy_ = std::make_unique<LateCopy>();
    lateCopy_->saved = saved;
    lateCopy_->userInputAt = userInput();
    lateCopy_->operation = operations_;
    lateCopy_->call = scheduler_.scheduleAfter(lateCopyPoll, [this] { lookForLateCopy(); });
}

void ClipboardFallbacks::lookForLateCopy() {
    LateCopy& watch = *lateCopy_;
    watch.waited += lateCopyPoll;
    if (watch.operation != operations_) {
        lateCopy_.reset();  // a later operation has the clipboard: what is on it is its own
        return;
    }
    if (!queue_.isLocked() && !clipboard_.holdsOwnContents()) {
        // Without a key or a click of the user's since, the copy is the program's late answer to
        // our key; otherwise it may be the user's own.
        if (userInput() == watch.userInputAt) {
            holdUsersClipboard(watch.saved);
            AppLog::app().notice(QStringLiteral("clipboard restore: a copy its program made after the read had "
                                                "ended was taken back waited=%1ms")
                                     .arg(watch.waited.count()));
        }
        lateCopy_.reset();
        return;
    }
    if (watch.waited >= lateCopyBound) {
        lateCopy_.reset();
        return;
    }
    watch.call = scheduler_.scheduleAfter(lateCopyPoll, [this] { lookForLateCopy(); });
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
    std::optional<Copy> copy;
    int copies = 0;
    do {
        // A copy that gave nothing where the field held text may be another copy's taking of the
        // clipboard (AbiWord takes it again, with what it copied before, when its selection is
        // read): copied once more before it counts as a change.
        bool sent = true;
        if (readBefore.afterSelectAll) {
            sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_A);
            co_await sleepFor(scheduler_, selectAllWait);
        }
        copy.reset();
        if (sent) {
            copy = co_await copyByKeys(window, Qt::Key_C, saved, false, readBefore.afterSelectAll);
        }
        ++copies;
    } while (copy && !copy->mayStillCome && !copy->text && !expected.isEmpty() && copies < checkCopies);
    if (!copy) {
        co_return FieldAgain{};
    }
    if (copy->mayStillCome) {
        // Its program has not got to the key: what the field holds is not known, and a paste
        // would wait behind that copy.
        AppLog::app().notice(QStringLiteral("focused field paste withheld: its program has not handled the copy key"));
        watchForLateCopy(saved);
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
        co_return FieldAgain{true, readBefore.afterSelectAll && !copy->selectAllEnded, copy->selectAllEnded};
    }
    AppLog::app().notice(
        QStringLiteral("focused field changed since it was read: not written length=%1 now=%2 copies=%3")
            .arg(expected.size())
            .arg(now.size())
            .arg(copies));
    lastPasteFoundFieldChanged_ = true;
    if (cutEditor) {
        // What the user typed into the emptied field is selected now: the cut text goes back
        // after it, never over it.
        co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_End);
    } else if (readBefore.afterSelectAll && !copy->selectAllEnded) {
        co_await collapseSelectAll(window);  // what the user typed on stays theirs
    }
    co_return FieldAgain{};
}

QCoro::Task<void> ClipboardFallbacks::collapseSelectAll(FrontApplication window) {
    // A field read whole by keystrokes would stay selected whole, and the user's next key would
    // replace all of it. Control+End ends the selection at the end of the text, where the
    // select-all ended it. Not an arrow key: AbiWord puts an arrow's move off until it has nothing
    // else to do, and drops every command that comes before that move is done, so a select-all
    // and paste key handled together with the arrow would be lost without a word.
    const bool sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_End);
    if (!sent) {
        AppLog::app().notice(
            QStringLiteral("focused field left selected whole: the key to end the selection could "
                           "not be sent"));
    }
}

QCoro::Task<bool> ClipboardFallbacks::pingProvesKeysRead(FrontApplication window) {
    // Its window's process answers for pages that may still hold the keys; an unknown program's
    // process may be any of its own.
    const bool unknown = co_await gate_.isUnknownProgram(window);
    co_return !unknown && !(processes_ && processes_->runsProcessesOfItsOwnProgram(window.processId));
}

QCoro::Task<bool> ClipboardFallbacks::keysShownRead(FrontApplication window) {
    if (!windowPing_) {
        co_return true;
    }
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    const bool proves = co_await pingProvesKeysRead(window);
    if (!alive || !proves) {
        co_return false;
    }
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

QCoro::Task<std::optional<bool>> ClipboardFallbacks::readyFieldForPaste(FrontApplication window, bool replacingAllText,
                                                                        const PasteChecks& checks,
                                                                        const ClipboardContents& saved) {
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
            co_return std::nullopt;
        }
        if (again.selectAllAtKey && replacingAllText) {
            co_return true;
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
            co_return std::nullopt;
        }
    }
    co_return false;
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
    std::optional<ClipboardContents> saved = co_await saveUsersClipboard();
    if (!saved) {
        logUnsavedClipboard("paste");
        co_return false;
    }
    const std::uint64_t inputAtSave = userInput();
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
    const std::optional<bool> selectAllAtKey = co_await readyFieldForPaste(*window, replacingAllText, checks, *saved);
    if (!selectAllAtKey) {
        co_return false;
    }
    // The queue stays held until the key has gone and its hold stands.
    co_return co_await offerAndPaste(std::move(newText), replacingAllText, *window, std::move(checks), *saved,
                                     *selectAllAtKey, inputAtSave);
}

QCoro::Task<bool> ClipboardFallbacks::offerAndPaste(QString newText, bool replacingAllText, FrontApplication target,
                                                    PasteChecks checks, ClipboardContents saved, bool selectAllAtKey,
                                                    std::uint64_t inputAtSave) {
    const bool pingProves = co_await pingProvesKeysRead(target);
    // The text goes to the target alone; everyone else keeps getting the user's clipboard. A number
    // nothing vouches for may be anyone's: an unknown program is known by its window's X client.
    // A paste key of the user's changes nothing: theirs elsewhere gets their clipboard from us
    // anyway, and one in the target's program may come before or after ours there, which no
    // request tells apart.
    const quint64 offer =
        clipboard_.offerTextTo(target.processUnknown ? 0 : target.processId, target.windowId, newText);
    holdUsersClipboard(saved);
    co_await waitUntilCopierSeesItsCopyGone(target);
    if (checks.readBefore && !clipboard_.holdsOwnContents() && userInput() == inputAtSave) {
        // Nobody but the program copied since: it copied its selection again (AbiWord does so
        // whenever another program reads the selection, as clipboard managers do after each copy).
        // Its paste would take that copy.
        AppLog::app().notice(
            QStringLiteral("clipboard restore: a copy its program made again after the field "
                           "was copied was taken back before the paste"));
        holdUsersClipboard(saved);
    }
    const quint64 fetchesBefore = fetchesBy(target);
    // The select-all goes with the key, the text on offer already: no select-all of ours stands
    // while the clipboard changes hands (see copyByKeys()), and nothing another program does
    // because of the new selection reaches the program before the paste.
    const bool sent = selectAllAtKey ? co_await gate_.sendChords(target, Qt::ControlModifier, Qt::Key_A,
                                                                 Qt::ControlModifier, Qt::Key_V)
                                     : co_await gate_.sendChord(target, Qt::ControlModifier, Qt::Key_V);
    if (!sent) {
        // Nothing will fetch the text.
        clipboard_.withdrawOffer(offer);
        co_return false;
    }
    lastPasteSelectedAllOnly_ = false;
    lastPaste_ = std::make_pair(target, fetchesBefore);
    // The application fetches the clipboard after it handles the keystroke, in its own time:
    // the text stays offered to it until it has (or cannot any more).
    auto pending = std::make_shared<PendingRestore>();
    pending->savedEmpty = saved.empty();
    pending->saved = saved;
    if (checks.readBefore) {
        pending->programCopy = checks.readBefore->text;
    }
    pending->text = newText;
    pending->target = target;
    pending->offer = offer;
    pending->fetchesBefore = fetchesBefore;
    pending->pingProvesKeysRead = pingProves;
    pending->fieldAfter = std::move(checks.fieldAfter);
    pending->putFieldBack = std::move(checks.putFieldBack);
    pending->fieldFocused = std::move(checks.fieldFocused);
    pending->selectAllShown = std::move(checks.selectAllShown);
    pending->replacingAllText = replacingAllText;
    pending->fieldText = std::move(checks.fieldText);
    pending->userInputAtOffer = userInput();
    pending->targetPresses = UserPressesInWindow(keys_);
    pending->targetPresses.pressedIn(true);  // the keys just went to it
    pending->call = scheduleCheck(pending);
    holds_.push_back(std::move(pending));
    co_return true;
}

QCoro::Task<void> ClipboardFallbacks::waitUntilCopierSeesItsCopyGone(FrontApplication window) {
    const std::optional<TakenCopy> taken = std::exchange(takenCopy_, std::nullopt);
    if (!taken || taken->windowId != window.windowId) {
        co_return;
    }
    // A program whose copy we took back learns that it no longer holds the clipboard by asking us
    // what it holds; until it has, its paste may take its own copy.
    const LifetimeToken<ClipboardFallbacks>::Weak alive = lifetime_.weak();
    for (std::chrono::milliseconds waited{0}; waited < ownerChangeWait && requestsBy(window) <= taken->requests;
         waited += copyPoll) {
        co_await sleepFor(scheduler_, copyPoll);
        if (!alive) {
            co_return;
        }
    }
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::copyFieldAfterPaste(FrontApplication window) {
    const std::unique_ptr<AsyncMutex::Hold> held = co_await takeQueue("read_back", window.windowId);
    if (!held) {
        co_return std::nullopt;
    }
    notify();
    const std::optional<ClipboardContents> saved = co_await saveUsersClipboard();
    if (!saved) {
        logUnsavedClipboard("read_back");
        co_return std::nullopt;
    }
    std::optional<QString> result;
    const bool sent = co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_A);
    co_await sleepFor(scheduler_, selectAllWait);
    std::optional<Copy> copy;
    if (sent) {
        // The caret back at the end, where the paste left it, rather than the whole field selected.
        copy = co_await copyByKeys(window, Qt::Key_C, *saved, false, true);
    }
    if (copy) {
        watchForLateCopy(*saved);
        result = copy->text;
        if (!copy->selectAllEnded) {
            co_await gate_.sendChord(window, Qt::ControlModifier, Qt::Key_End);
        }
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
