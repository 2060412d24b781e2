#pragma once

#include "core/lifetime_token.h"
#include "focused_text/async_mutex.h"
#include "focused_text/synthetic_input_gate.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/process_table.h"
#include "platform/user_key_activity.h"
#include "platform/window_ping.h"

#include <QCoroTask>
#include <QSet>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// Reading and writing the focused field of another application through the clipboard, with
// synthetic Control+C, Control+X, Control+A and Control+V sent through the input gate (never to
// a terminal, never to a window that is not the command's, never into a grab of ours). The
// user's clipboard is saved before and put back afterwards, every format of it.
//
// All operations share one queue: an operation waits for the one before it to finish. A paste
// is held for as long as its target program may still fetch it: meanwhile the clipboard holds the
// user's own contents, which every other program gets (a paste elsewhere, a clipboard manager),
// and the pasted text is offered to the target alone (Clipboard::offerTextTo()). Only the
// target's own fetches count (for an unknown program, those of its window's X client): anything else polling the clipboard neither ends the hold nor shows
// that the paste arrived. The hold ends, and the target gets the user's clipboard too:
// - once the field, where it can be read back, shows the paste (the result, or any change once
//   the program fetched the text): a program may fetch more than once for one paste;
// - once the target fetched and its field, read back while it answers, still shows no change
//   after `refusalQuiet` of answering since the fetch: it refused the paste (a page that cancels
//   it); the field's selection is put back as it was read;
// - otherwise the restore delay after the target's first fetch;
// - at once when the target window is gone;
// - after `pasteHoldLimit` without a fetch, counted from when the program showed that it read
//   its keys (it answered a ping sent after them) - but only where that answer proves it: a
//   program that runs further processes of its own (a browser's pages, an Electron program)
//   answers the ping from its window's process while a busy page may still have the keys
//   waiting (and an unknown program's process may be any of its own), so there the text stays
//   offered until the target fetches it;
// - after `holdBound` at the latest.
// Neither a paste of the user's nor a copy of theirs ends it. Their paste elsewhere gets their
// clipboard as every other program's request does; their paste in the target's program gets the
// offer (the pasted text, or nothing once the field was put back): which of that program's
// requests answers whose key cannot be told, and the user's clipboard stays private rather than
// answer ours. Their copy is taken over as the clipboard everyone else gets. A key of ours is
// never sent again during the hold: a stopped, hung or busy program's queued Control+V therefore
// never finds the user's clipboard while the hold lasts, and nobody else ever finds the pasted
// text.
//
// Where the field can be read back and its program answers without fetching for
// `unfetchedPutBackAfter` (a page busy on the key, or one that cancelled it), our select-all is
// put back as soon as the field has the keyboard again, unchanged and still selected whole: from
// then on the target is offered nothing, so that a paste key handled later changes nothing. Until
// then a late paste lands the result.
//
// A hold that ends without the field showing the paste leaves the field watched
// (late_paste_watch.cpp): for its select-all to be put back once the field has the keyboard, while
// it is unchanged and selected whole, and, where the user has pressed nothing since the paste, for
// a paste that lands late with other text (a page that inserts nothing over the select-all), which
// is undone while the field holds exactly what it left and nothing is pressed in its window. The
// user's own edits are never taken back: the watch ends at any other change of the field, at any
// key or pointer press of the user's that may have been made in the field's window, at a later
// command in the window, or after `latePasteWatchBound`.
//
// A hold does not keep the queue: operations for other windows go on beside it (each paste holds
// for its own target). An operation of the same command (its read-back) waits for the hold of its
// window at most `pendingPasteWaitBound` and is not run after that: its keys could land before
// that paste. A later command in the window waits for nothing: the earlier hold keeps its offer
// until its own end (or until the later command's paste offers its own text), but no longer keeps
// that window's operations. When the user's clipboard cannot be saved (its owner does not hand it
// over in time), no operation goes on: the clipboard is left alone and no key is sent.
class ClipboardFallbacks {
public:
    // The user's key presses (any key, chords and paste keys included) and pointer presses so far.
    std::uint64_t userInput() const;
    // How long a copy key may take to show: the program taking the clipboard from us, looked
    // for every `copyPoll`.
    static constexpr std::chrono::milliseconds copyWait{200};
    static constexpr std::chrono::milliseconds copyPoll{5};
    // How long a copy key its program has not shown it handled (it answers no ping) is waited
    // for, after `copyWait`.
    static constexpr std::chrono::milliseconds lateCopyWait{1500};
    // How long a paste key waits for the program whose copy we took back to ask what the
    // clipboard holds now: until then it may paste its own copy (LibreOffice does).
    static constexpr std::chrono::milliseconds ownerChangeWait{300};
    // A copy key that a busy program had not handled when the read ended may still copy, over the
    // user's clipboard put back meanwhile: for `lateCopyBound` after a read, such a copy is taken
    // back (looked for every `lateCopyPoll`), unless the user has acted since or a later
    // operation has the clipboard.
    static constexpr std::chrono::milliseconds lateCopyBound{3000};
    static constexpr std::chrono::milliseconds lateCopyPoll{20};
    // Copies of the field before a paste, where one gives nothing though the field held text.
    static constexpr int checkCopies = 2;
    static constexpr std::chrono::milliseconds selectAllWait{50};
    static constexpr std::chrono::milliseconds pasteSelectAllWait{30};
    // How long a field that can be read back may take to show the select-all of a whole-field
    // paste, looked at every `selectAllShowPoll`. A slow program that reads its keys shows it well
    // within; one that has not by then is busy, and a Control+V queued behind it would land
    // whenever it wakes, over whatever the clipboard holds then (a busy Chromium page pastes
    // nothing at all, and the selected text goes).
    static constexpr std::chrono::milliseconds selectAllShowBound{1500};
    static constexpr std::chrono::milliseconds selectAllShowPoll{10};
    static constexpr std::chrono::milliseconds pasteHoldLimit{2000};
    static constexpr std::chrono::milliseconds pasteFetchPoll{10};
    static constexpr std::chrono::milliseconds pendingPasteWaitBound{6000};
    static constexpr std::chrono::milliseconds unfetchedPutBackAfter{5000};
    static constexpr std::chrono::milliseconds holdBound{60000};
    static constexpr std::chrono::milliseconds latePasteWatchPoll{250};
    static constexpr std::chrono::milliseconds latePasteWatchBound{600000};
    static constexpr std::chrono::milliseconds refusalQuiet{2000};
    static constexpr std::chrono::milliseconds undoShowBound{1500};
    static constexpr std::chrono::milliseconds pingBound{500};
    // While a paste is held: how often its program is pinged (is it still there, does it read
    // its events), and, where the field can be read back, from when and how often the field is
    // looked at (before that, the command's own read-back looks).
    static constexpr std::chrono::milliseconds holdPingInterval{500};
    static constexpr std::chrono::milliseconds fieldCheckStart{1500};
    static constexpr std::chrono::milliseconds fieldCheckInterval{500};

    // Editors that copy nothing without a selection but cut the current line: their whole
    // text is read with Cut (WM_CLASS class names).
    static const QSet<QString>& applicationsUsingCutInsteadOfCopy();

    // `windowPing` (none: a paste's target is taken to read its events), `processes` (none:
    // every program's ping answer counts as proof that it read its keys) and `keyActivity` (none:
    // the user's pastes and typing are not seen) must outlive this.
    ClipboardFallbacks(Clipboard& clipboard, SyntheticInputGate& gate, Scheduler& scheduler,
                       std::chrono::milliseconds clipboardRestoreDelay, WindowPinging* windowPing = nullptr,
                       ProcessTable* processes = nullptr, UserKeyActivity* keyActivity = nullptr);
    // A paste's pending restore runs now: the user's clipboard comes back.
    ~ClipboardFallbacks();
    ClipboardFallbacks(const ClipboardFallbacks&) = delete;
    ClipboardFallbacks& operator=(const ClipboardFallbacks&) = delete;

    // Runs just before an operation touches the clipboard: before every whole-field read and
    // paste, before a selection read only when asked to notify.
    void setOnWillUseClipboardFallback(std::function<void()> callback) { onWillUse_ = std::move(callback); }
    const std::function<void()>& onWillUseClipboardFallback() const { return onWillUse_; }

    // The whole text of the focused field of `window`: copy (cut for the editors above); when
    // that gives nothing, select all and copy again. The select-all then ends with the caret at
    // the end of the text, so that the user's next key adds to it rather than replacing it.
    // Absent when nothing was copied or no key could go to the window. Text cut out of a field
    // is remembered (see restoreCutText()).
    QCoro::Task<std::optional<QString>> readTextViaClipboard(std::optional<FrontApplication> window);
    // What readTextViaClipboard() copied, and whether it took the select-all (the whole field)
    // or the first copy already gave it (the user's selection).
    struct CopiedField {
        QString text;
        bool afterSelectAll = false;
        std::optional<QString> html;  // the same copy as HTML, where its program offered it
    };
    // `selectAllAllowed` false: only the selection's copy, never the select-all (where it would
    // take more than the field).
    QCoro::Task<std::optional<CopiedField>> copyFieldText(std::optional<FrontApplication> window,
                                                          bool selectAllAllowed = true);
    // The current selection of `window`, copied; absent when nothing is selected or no key
    // could go to the window.
    QCoro::Task<std::optional<QString>> readSelectedTextViaClipboard(bool notifyClipboardFallback,
                                                                     std::optional<FrontApplication> window);
    // Asked just before the keys of a paste are sent, once the clipboard is saved and the
    // keyboard is free: whether the keystrokes would still reach the intended field. A "no"
    // ends the paste untouched.
    using PasteTargetCheck = std::function<QCoro::Task<bool>()>;

    // What a field shows while its paste is held.
    enum class FieldAfterPaste {
        showsResult,  // the pasted text, where it was meant to go
        changed,      // something else than before the paste
        unchanged,    // what it held before the paste
        unknown,      // nothing could be read
    };
    using FieldAfterPasteCheck = std::function<QCoro::Task<FieldAfterPaste>()>;
    // Whether the field shows the select-all taken: its selection covers its whole text.
    using SelectAllCheck = std::function<QCoro::Task<bool>()>;

    struct PasteChecks {
        PasteTargetCheck target;
        // The field as copyFieldText() gave it. Right before the paste it is copied again the
        // same way (select-all and copy, or the selection's copy), and nothing is pasted when it
        // no longer holds that text: what the user typed meanwhile is not written over. Where that
        // copy gives nothing, only a ping that proves its program read the keys lets the paste go. The
        // select-all of that copy serves the paste. In the editors that read by cutting, the
        // field is empty while the command runs, and the whole-field paste goes in only while it
        // still is; a selection cut out leaves nothing selected to paste over, so nothing is read.
        std::optional<CopiedField> readBefore;
        // How the field looks now, for a field that can be read back: the paste's hold ends
        // once it shows the paste.
        FieldAfterPasteCheck fieldAfter;
        // Puts the field's selection back as it was read, once its program refused the paste:
        // nothing of our select-all stays for the user's next key to replace.
        std::function<QCoro::Task<void>()> putFieldBack;
        // For a field that can be read back: a whole-field paste's Control+V follows its
        // select-all only once this answers yes, asked until `selectAllShowBound`; otherwise
        // nothing is pasted (lastPasteSelectedAllOnly()).
        SelectAllCheck selectAllShown;
        // Whether the field still has the keyboard focus. An untaken select-all is put back only
        // while it has: putting a selection into a field the user left takes the keyboard back to
        // it. None: taken to have it.
        std::function<QCoro::Task<bool>()> fieldFocused;
        // The field's text now, for a field that can be read back; absent when it could not be read.
        std::function<QCoro::Task<std::optional<QString>>()> fieldText;
    };

    // Puts `newText` into the focused field of `window` by pasting (after select-all when
    // asked). Answers whether the keystrokes were sent (never for a window the gate refuses, an
    // unsaved clipboard, a target that `checks.target` refused or a field that changed since
    // `checks.readBefore`); whether the application took the paste cannot be known here.
    QCoro::Task<bool> pasteFallback(QString newText, bool replacingAllText, std::optional<FrontApplication> window,
                                    PasteChecks checks = {});

    // Whether the last pasteFallback() sent nothing because the field, copied again, no longer
    // held what was read (the user typed on in it).
    bool lastPasteFoundFieldChanged() const { return lastPasteFoundFieldChanged_; }
    // Whether the last pasteFallback() sent its select-all and then no paste (the field did not
    // show the select-all in time, or Control+V could not go): the field may show its whole text
    // selected, now or once its program gets to the key.
    bool lastPasteSelectedAllOnly() const { return lastPasteSelectedAllOnly_; }

    // What the caller's own read-back of the field saw after the last paste: a field that shows
    // the result ends the paste's hold, one that changed otherwise ends it once the target has
    // fetched the text.
    void pasteSeenInField(FieldAfterPaste seen);

    // The whole field of `window` copied again after a paste (select-all, copy, the caret then
    // put at the end, as the paste left it), once the paste's hold has ended: the read-back of
    // a field that only a copy reads. Absent when it could not be copied.
    QCoro::Task<std::optional<QString>> copyFieldAfterPaste(FrontApplication window);

    // Whether the text of the last paste sent was fetched by its target program, waiting for that
    // at most `bound`; false at once when no paste was sent or its text can no longer be fetched
    // (the clipboard was put back, or copied over). The only sign a paste arrived where nothing
    // shows the field; another program's fetch is none.
    QCoro::Task<bool> waitForPasteFetch(std::chrono::milliseconds bound);

    // Text that a whole-field read cut out of a field and that no replacement has put back.
    std::optional<QString> unreplacedCutText() const;
    // The window the remembered cut text was cut from.
    std::optional<FrontApplication> cutTextWindow() const;
    // A replacement took the field over: the cut text is no longer needed.
    void forgetCutText() { cutText_.reset(); }
    // Puts remembered cut text back where it came from by pasting it at the caret, when its
    // window is in front and `targetCheck` agrees; otherwise (or when no keystroke can be
    // sent) leaves the text on the clipboard instead of the user's old contents, so it is not
    // lost. A paste held for another window meanwhile keeps its own text for its target.
    // Answers whether the text was pasted back.
    QCoro::Task<bool> restoreCutText(PasteTargetCheck targetCheck = {});

    // Whether an answered ping of `window` shows that its program read the keys sent before it: a
    // known program whose window's process edits its own fields, no pages of its own running in
    // further processes.
    QCoro::Task<bool> pingProvesKeysRead(FrontApplication window);

    bool hasPendingRestore() const { return !holds_.empty(); }
    // Whether a field is watched for a paste that may still land after its hold ended.
    bool watchesForLatePaste() const { return !latePastes_.empty(); }
    // A later command works in `window` now: what its field does next is that command's. A paste
    // still held there keeps its offer but no longer keeps the window's operations waiting, and
    // the field's watch ends.
    void laterCommandIn(quint64 window);

private:
    struct PendingRestore {
        // The user's clipboard was empty: the pasted text stays on it once the hold ends.
        bool savedEmpty = false;
        QString text;
        ClipboardContents saved;  // the user's clipboard
        // The field's text as its program copied it right before the paste (fields read by keys).
        std::optional<QString> programCopy;
        std::unique_ptr<ScheduledCall> call;
        FrontApplication target;
        // Its own offer: ending the hold withdraws that alone, never a next paste's to the window.
        quint64 offer = 0;
        quint64 fetchesBefore = 0;  // the target's, when the keys went
        // When the target's first fetch came: the restore delay runs from there, so that a
        // program fetching late (resumed after a stop) still has it for a second fetch.
        std::optional<std::chrono::milliseconds> firstFetchAt;
        std::chrono::milliseconds waited{0};
        // Whether an answered ping shows that the target read its keys (false: its pages run in
        // other processes).
        bool pingProvesKeysRead = true;
        // When the target was first seen reading its events after the keys (a stopped program
        // gets the hold limit from its resumption): a fetch that has not come by then will not.
        std::optional<std::chrono::milliseconds> targetReadKeysAt;
        // When the last ping was sent, and when the last one answered (none: it did not).
        std::optional<std::chrono::milliseconds> pingedAt;
        std::optional<std::chrono::milliseconds> answeredAt;
        // Since when every ping has been answered (none: the last one was not).
        std::optional<std::chrono::milliseconds> answeringSince;
        bool pinging = false;
        FieldAfterPasteCheck fieldAfter;
        std::optional<std::chrono::milliseconds> fieldCheckedAt;
        bool checkingField = false;
        bool reportedWaiting = false;
        std::function<QCoro::Task<void>()> putFieldBack;
        std::function<QCoro::Task<bool>()> fieldFocused;
        SelectAllCheck selectAllShown;
        bool replacingAllText = false;
        // A later command works in the window: the hold keeps its offer, not the window's queue.
        bool overtaken = false;
        // Our select-all was put back while held (or the field no longer showed it): the target is
        // offered nothing from then on.
        bool selectionPutBack = false;
        bool puttingBack = false;
        bool reportedUnfetched = false;
        std::function<QCoro::Task<std::optional<QString>>()> fieldText;
        // The user's keys and pointer presses counted when the text was offered.
        std::uint64_t userInputAtOffer = 0;
        // Those since, told by whether the target's window was in front: behind a window of ours
        // the field keeps its program's focus until the user presses something in that program.
        UserPressesInWindow targetPresses;
        bool readingChange = false;
        std::optional<std::chrono::milliseconds> putBackTriedAt;
        // Taking over a copy the user made while held.
        bool retaking = false;
    };
    // A field whose paste's hold ended before the field showed it, its select-all maybe still
    // standing: the paste key may still be handled.
    struct LatePaste {
        FrontApplication target;
        FieldAfterPasteCheck fieldAfter;
        std::function<QCoro::Task<void>()> putFieldBack;
        std::function<QCoro::Task<bool>()> fieldFocused;
        SelectAllCheck selectAllShown;  // none: the select-all is taken to stand while unchanged
        // The user's keys and pointer presses since the watch began, and since the paste's text was
        // offered, told by whether the field's window was in front: one that may have been made
        // there ends the watch.
        UserPressesInWindow sinceWatch;
        UserPressesInWindow sinceOffer;
        // Watching to undo: what the field held right after a paste that landed late with other
        // text than the result (a page that inserted nothing over our select-all) before the user
        // had pressed anything since the command. It is undone only while the field still holds
        // exactly that, in front for two looks in a row with nothing pressed in between; a press
        // in its window ends the watch.
        std::optional<QString> undoText;
        UserPressesInWindow undoPresses;
        std::function<QCoro::Task<std::optional<QString>>()> fieldText;
        bool selectAllToPutBack = false;
        std::chrono::milliseconds waited{0};
        std::unique_ptr<ScheduledCall> call;
    };
    using Held = std::shared_ptr<PendingRestore>;
    struct CutText {
        QString text;
        FrontApplication window;
    };

    void restore(const std::optional<ClipboardContents>& saved);
    // The user's `saved` clipboard, put on as ours anew (an empty one: owned with nothing in it).
    void holdUsersClipboard(const ClipboardContents& saved);
    // What a copy key gave: the program's copy as it took the clipboard from us; nothing when it
    // did not (nothing was selected).
    struct Copy {
        std::optional<QString> text;  // never empty
        std::optional<QString> html;
        // Nothing was copied, and its program did not show that it read the key: it may copy yet.
        bool mayStillCome = false;
        // The select-all it copied was ended before the clipboard was taken back.
        bool selectAllEnded = false;
    };
    // Control+`letter` to `window` while the clipboard holds the user's `saved` contents as ours;
    // what the program copied (with its HTML when asked), the user's contents back as ours at once
    // after. Absent when the key could not go. With `endSelectAll`, a copy of a select-all of ours
    // is followed by the end of that selection before the clipboard is taken back: a program that
    // copies its selection again whenever another program reads it (AbiWord, read by every clipboard
    // manager that watches the selection) would otherwise take the clipboard straight back.
    QCoro::Task<std::optional<Copy>> copyByKeys(FrontApplication window, Qt::Key letter, ClipboardContents saved,
                                                bool withHtml = false, bool endSelectAll = false);
    // pasteFallback()'s copy of the field again; whether it still holds `readBefore`, and
    // whether that copy left the whole field selected.
    struct FieldAgain {
        bool unchanged = false;
        bool selectedAll = false;
        // The whole field was selected for the copy and that selection ended since: the paste
        // selects it again together with its key.
        bool selectAllAtKey = false;
    };
    QCoro::Task<FieldAgain> copyFieldAgain(FrontApplication window, CopiedField readBefore, ClipboardContents saved);
    // Ends a select-all of ours in `window`'s field: the caret at the end of the text.
    QCoro::Task<void> collapseSelectAll(FrontApplication window);
    // Whether `window`'s program has shown that it read the keys sent to it so far: it answered a
    // ping sent after them, where that answer proves it (see the class comment).
    QCoro::Task<bool> keysShownRead(FrontApplication window);
    // Select-all for a whole-field paste; whether it was sent and, where `shown` can tell, seen.
    QCoro::Task<bool> selectAllForPaste(FrontApplication window, const SelectAllCheck& shown);
    // The field made ready for a paste: unchanged since it was read (where it was), and selected
    // whole where the text replaces all of it (or to be selected whole with the paste's key: then
    // true). Where it is not, nothing is pasted, the clipboard is `saved` again, and the answer is
    // absent.
    QCoro::Task<std::optional<bool>> readyFieldForPaste(FrontApplication window, bool replacingAllText,
                                                        const PasteChecks& checks, const ClipboardContents& saved);
    // pasteFallback() once the field is ready: `newText` offered to `target` alone, the user's
    // clipboard (`saved`) held for everyone else, the paste key sent (with the select-all where
    // `selectAllAtKey`) and the hold that waits for the program's fetch started. Whether the key went.
    QCoro::Task<bool> offerAndPaste(QString newText, bool replacingAllText, FrontApplication target, PasteChecks checks,
                                    ClipboardContents saved, bool selectAllAtKey, std::uint64_t inputAtSave);
    // The queue, once no paste of the same command waits for `window`'s program any more (within
    // pendingPasteWaitBound); holds for other windows do not delay it, nor, for an operation that
    // `startsCommand` in the window, those of earlier commands there.
    QCoro::Task<std::unique_ptr<AsyncMutex::Hold>> takeQueue(const char* operation, std::optional<quint64> window,
                                                             bool startsCommand = false);
    // The latest hold for `window`; with `keepingQueue`, only one no later command overtook.
    Held heldFor(quint64 window, bool keepingQueue = false) const;
    bool isHeld(const Held& pending) const;
    // Ends the hold: the target gets the user's clipboard too. By value: it may be an element of
    // holds_, which this erases.
    void runPendingRestore(Held pending);
    // Ends the hold when the clipboard is no longer ours to give (the user copied).
    void dropPendingRestore(Held pending);
    void checkPendingRestore(const Held& pending);
    // The hold's next look, and a ping of its program and a read of its field when they are due.
    void lookAgainLater(const Held& held);
    // Ends a hold before its field showed the paste: the field is watched where our select-all may
    // still stand there (`putBack`), to put it back, and, while the user has pressed nothing since
    // the paste, for a paste that lands late with other text, to undo it.
    void endHoldUnseen(Held pending, bool putBack);
    // Counts the user's presses since the hold's last look against whether its target's window is
    // in front now.
    void lookAtTargetPresses(PendingRestore& pending) const;
    // Whether the user has pressed nothing in the target's window since the paste's text was
    // offered (presses in other programs' windows do not touch its field); looks once more first.
    bool targetUntouched(PendingRestore& pending) const;
    // A watch over `pending`'s field, in place of any other over its window; not yet looking.
    std::shared_ptr<LatePaste> watchLatePaste(const PendingRestore& pending);
    void scheduleLatePasteLook(const std::shared_ptr<LatePaste>& watch);
    QCoro::Task<void> lookForLatePaste(std::weak_ptr<LatePaste> watch);
    // The select-all of a paste that never landed put back, where the field still shows it whole.
    QCoro::Task<void> putBackUntakenSelectAll(std::shared_ptr<LatePaste> watch);
    // While held without a fetch: our select-all put back once the field has the keyboard again,
    // and the target offered nothing from then on.
    QCoro::Task<void> putBackWhileHeld(std::weak_ptr<PendingRestore> pending);
    // The field changed after the target fetched, not to the result: where the user has pressed
    // nothing since the paste, what it holds now is watched to be undone.
    QCoro::Task<void> endHoldOnChange(std::weak_ptr<PendingRestore> pending);
    QCoro::Task<void> undoLatePaste(std::shared_ptr<LatePaste> watch);
    // Whether a late paste's `text` is one that undoLatePaste() may take back: the field emptied.
    static bool emptiedByLatePaste(const QString& text);
    // The clipboard was taken while held: the user's copy becomes the clipboard we hold for everyone
    // else; the field's own text copied again by its program (no key or click of the user's since)
    // gives way to the user's clipboard as it was. Nothing is sent: a key of ours handled late
    // would find whatever the clipboard held by then.
    QCoro::Task<void> retakeUsersCopy(std::weak_ptr<PendingRestore> pending);
    std::unique_ptr<ScheduledCall> scheduleCheck(const Held& pending);
    QCoro::Task<void> pingTarget(std::weak_ptr<PendingRestore> pending);
    QCoro::Task<void> checkField(std::weak_ptr<PendingRestore> pending);
    QCoro::Task<void> putFieldBack(std::function<QCoro::Task<void>()> putBack);
    // Ends the hold when what the field shows says the paste has landed, or was refused.
    void judgeField(const Held& pending, FieldAfterPaste seen, const char* who);
    bool targetFetched(const PendingRestore& pending) const;
    // How often `target`'s program has fetched our clipboard data.
    quint64 fetchesBy(const FrontApplication& target) const;
    // The program of the window whose copy a copy key took last, and how many requests of the
    // clipboard it had made when we took the clipboard back (see ownerChangeWait).
    struct TakenCopy {
        quint64 windowId = 0;
        quint64 requests = 0;
    };
    std::optional<TakenCopy> takenCopy_;
    // The copy taken back last: the field's text as its program copied it, the user's clipboard
    // put back over it, and the user's keys and clicks until then.
    struct TakenBack {
        QString text;
        ClipboardContents users;
        std::uint64_t userInput = 0;
    };
    std::optional<TakenBack> takenBack_;
    // The user's clipboard for an operation to save and put back. What holds the text of the copy
    // taken back last, with no key or click of the user's since, is not theirs: its program copied
    // again (AbiWord copies its selection whenever another program reads it, as clipboard managers
    // do after each copy); their clipboard as it was then is taken back and saved.
    QCoro::Task<std::optional<ClipboardContents>> saveUsersClipboard();
    quint64 requestsBy(const FrontApplication& target) const {
        return clipboard_.requestsBy(target.processUnknown ? 0 : target.processId, target.windowId);
    }
    // Right before a paste into `window`: where the copy taken last was its program's, until that
    // program has asked what the clipboard holds now, `ownerChangeWait` at most.
    QCoro::Task<void> waitUntilCopierSeesItsCopyGone(FrontApplication window);
    void notify() const;

    Clipboard& clipboard_;
    SyntheticInputGate& gate_;
    Scheduler& scheduler_;
    std::chrono::milliseconds restoreDelay_;
    WindowPinging* windowPing_;
    ProcessTable* processes_;
    UserKeyActivity* keys_;
    std::vector<std::shared_ptr<LatePaste>> latePastes_;
    // The watch for a copy that may come after its read ended (see lateCopyBound).
    struct LateCopy {
        ClipboardContents saved;
        std::uint64_t userInputAt = 0;
        std::uint64_t operation = 0;  // the read's, of operations_
        std::chrono::milliseconds waited{0};
        std::unique_ptr<ScheduledCall> call;
    };
    void watchForLateCopy(const ClipboardContents& saved);
    void lookForLateCopy();
    std::unique_ptr<LateCopy> lateCopy_;
    // How many operations have taken the queue so far.
    std::uint64_t operations_ = 0;
    std::function<void()> onWillUse_;
    AsyncMutex queue_;
    // Pastes held for their targets, one per window, oldest first.
    std::vector<Held> holds_;
    // The last paste's target and its fetch count when the keys went; absent before any.
    std::optional<std::pair<FrontApplication, quint64>> lastPaste_;
    bool lastPasteFoundFieldChanged_ = false;
    bool lastPasteSelectedAllOnly_ = false;
    std::optional<CutText> cutText_;
    LifetimeToken<ClipboardFallbacks> lifetime_{this};
};

}  // namespace tavrolin
