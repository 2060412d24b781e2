#include "focused_text/clipboard_fallbacks.h"

#include "core/app_log.h"
#include "focused_text/clipboard_selection_text.h"
#include "platform/scheduler_sleep.h"

#include <QUuid>

namespace tavrolin {

namespace {

QString makeMarker() {
    return ClipboardFallbacks::markerPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + "__";
}

// The user's clipboard did not come over in time: going on would leave it holding our marker
// or text, or lose what its owner still had to hand over.
void logUnsavedClipboard(const char* operation) {
    AppLog::app().notice(
        QStringLiteral("clipboard fallback skipped: the clipboard could not be saved operation=%1").arg(operation));
}

}  // namespace

Qt::KeyboardModifiers ClipboardFallbacks::chordModifiers(const std::optional<FrontApplication>& frontApplication) {
    return isTerminal(frontApplication) ? (Qt::ControlModifier | Qt::ShiftModifier) : Qt::ControlModifier;
}

const QSet<QString>& ClipboardFallbacks::applicationsUsingCutInsteadOfCopy() {
    static const QSet<QString> applications = {
        "dev.zed.Zed",        "dev.zed.Zed-Preview", "jetbrains-idea",     "jetbrains-idea-ce",    "jetbrains-clion",
        "jetbrains-phpstorm", "jetbrains-webstorm",  "jetbrains-pycharm",  "jetbrains-pycharm-ce", "jetbrains-rider",
        "jetbrains-rubymine", "jetbrains-goland",    "jetbrains-datagrip",
    };
    return applications;
}

const QSet<QString>& ClipboardFallbacks::terminalApplicationIdentifiers() {
    static const QSet<QString> applications = {
        "XTerm",
        "UXTerm",
        "URxvt",
        "Rxvt",
        "Gnome-terminal",
        "gnome-terminal-server",
        "Gnome-terminal-server",
        "konsole",
        "Konsole",
        "Xfce4-terminal",
        "xfce4-terminal",
        "Mate-terminal",
        "mate-terminal",
        "kitty",
        "Alacritty",
        "Tilix",
        "tilix",
        "Terminator",
        "terminator",
        "foot",
        "footclient",
        "org.wezfurlong.wezterm",
        "st-256color",
        "St",
        "Lxterminal",
        "lxterminal",
        "Qterminal",
        "qterminal",
        "Terminology",
        "Guake",
        "Tilda",
        "Sakura",
        "Kgx",
        "Eterm",
        "Roxterm",
        "Termite",
        "Xiterm",
        "Ghostty",
        "com.mitchellh.ghostty",
    };
    return applications;
}

bool ClipboardFallbacks::isTerminal(const std::optional<FrontApplication>& frontApplication) {
    return frontApplication && frontApplication->applicationIdentifier &&
           terminalApplicationIdentifiers().contains(*frontApplication->applicationIdentifier);
}

ClipboardFallbacks::ClipboardFallbacks(Clipboard& clipboard, SyntheticInput& input, Scheduler& scheduler,
                                       std::chrono::milliseconds clipboardRestoreDelay)
    : clipboard_(clipboard), input_(input), scheduler_(scheduler), restoreDelay_(clipboardRestoreDelay) {}

ClipboardFallbacks::~ClipboardFallbacks() {
    runPendingRestore();
}

void ClipboardFallbacks::notify() const {
    if (onWillUse_) {
        onWillUse_();
    }
}

void ClipboardFallbacks::runPendingRestore() {
    if (!pendingRestore_) {
        return;
    }
    const std::unique_ptr<PendingRestore> pending = std::move(pendingRestore_);
    pending->call->cancel();
    restore(pending->saved);
    // pending->queueHold lets the next operation in as it goes.
}

void ClipboardFallbacks::checkPendingRestore() {
    if (!pendingRestore_) {
        return;
    }
    PendingRestore& pending = *pendingRestore_;
    pending.waited += pasteFetchPoll;
    const bool fetched = clipboard_.ownDataFetches() > pending.fetchesBefore;
    if ((fetched && pending.waited >= restoreDelay_) || pending.waited >= std::max(pasteHoldLimit, restoreDelay_)) {
        if (!fetched) {
            AppLog::app().notice(
                QStringLiteral("clipboard restore after paste without fetch waited=%1ms").arg(pending.waited.count()));
        }
        runPendingRestore();
        return;
    }
    pending.call = scheduler_.scheduleAfter(pasteFetchPoll, [this] { checkPendingRestore(); });
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

QCoro::Task<std::optional<QString>> ClipboardFallbacks::copiedText(QString marker) {
    std::optional<QString> text = co_await clipboard_.readText();
    if (!text || text->isEmpty() || *text == marker) {
        co_return std::nullopt;
    }
    co_return text;
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readTextViaClipboard(
    std::optional<FrontApplication> frontApplication) {
    if (isTerminal(frontApplication)) {
        co_return std::nullopt;  // no select-all, no cut: the keys belong to the program there
    }
    const AsyncMutex::Hold held = co_await queue_.lock();
    notify();
    const std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("copy_field");
        co_return std::nullopt;
    }
    const bool useCut = frontApplication && frontApplication->applicationIdentifier &&
                        applicationsUsingCutInsteadOfCopy().contains(*frontApplication->applicationIdentifier);
    const Qt::Key letter = useCut ? Qt::Key_X : Qt::Key_C;

    const QString marker = makeMarker();
    clipboard_.clear();
    clipboard_.setText(marker);
    input_.sendKeyChord(Qt::ControlModifier, letter);
    co_await sleepFor(scheduler_, copyWait);
    std::optional<QString> result = co_await copiedText(marker);
    if (!result) {
        input_.sendKeyChord(Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, selectAllWait);
        input_.sendKeyChord(Qt::ControlModifier, letter);
        co_await sleepFor(scheduler_, copyWait);
        result = co_await copiedText(marker);
    }
    if (useCut && result) {
        // The field has lost this text until a replacement or restoreCutText() puts it back.
        cutText_ = CutText{*result, frontApplication->processId};
    }
    co_await restoreAfterCopy(saved, marker);
    co_return result;
}

QCoro::Task<void> ClipboardFallbacks::restoreAfterCopy(std::optional<ClipboardContents> saved, QString marker) {
    std::optional<QString> left;
    if (saved && saved->empty()) {
        left = co_await clipboard_.readText();
    }
    if (left == marker) {
        // The clipboard was empty: what the operation copied stays, but never the marker.
        clipboard_.clear();
        co_return;
    }
    restore(saved);
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readSelectedTextViaClipboard(
    bool notifyClipboardFallback, std::optional<FrontApplication> frontApplication) {
    const AsyncMutex::Hold held = co_await queue_.lock();
    if (notifyClipboardFallback) {
        notify();
    }
    const std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("copy_selection");
        co_return std::nullopt;
    }
    const QString marker = makeMarker();
    clipboard_.clear();
    clipboard_.setText(marker);
    input_.sendKeyChord(chordModifiers(frontApplication), Qt::Key_C);
    co_await sleepFor(scheduler_, copyWait);

    std::optional<QString> result;
    const std::optional<QString> plain = co_await clipboard_.readText();
    if (plain != marker) {
        const std::optional<QString> html = co_await clipboard_.readHtml();
        result = bestClipboardSelectionText(plain, html);
    }
    co_await restoreAfterCopy(saved, marker);
    co_return result;
}

QCoro::Task<bool> ClipboardFallbacks::pasteFallback(QString newText, bool replacingAllText,
                                                    std::optional<FrontApplication> frontApplication,
                                                    PasteTargetCheck targetCheck) {
    const bool terminal = isTerminal(frontApplication);
    if (terminal && replacingAllText) {
        // A terminal cannot select its input: pasting would add to it instead of replacing it.
        co_return false;
    }
    AsyncMutex::Hold held = co_await queue_.lock();
    notify();
    std::optional<ClipboardContents> saved = co_await clipboard_.readContents();
    if (!saved) {
        logUnsavedClipboard("paste");
        co_return false;
    }
    // The save may have waited on another program: only now is it known where keys would go.
    if (targetCheck) {
        const bool targetReady = co_await targetCheck();
        if (!targetReady) {
            co_return false;
        }
    }
    clipboard_.clear();
    clipboard_.setText(newText);
    const quint64 fetchesBefore = clipboard_.ownDataFetches();
    bool sent = true;
    if (replacingAllText) {
        sent = input_.sendKeyChord(Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, pasteSelectAllWait);
    }
    sent = sent && input_.sendKeyChord(chordModifiers(frontApplication), Qt::Key_V);
    if (!sent) {
        // Nothing will fetch the text: the user's clipboard comes back now.
        restore(saved);
        co_return false;
    }
    // The application fetches the clipboard after it handles the keystroke, in its own time:
    // the queue stays held, and the user's clipboard away, until it has.
    auto pending = std::make_unique<PendingRestore>();
    pending->saved = std::move(saved);
    pending->fetchesBefore = fetchesBefore;
    pending->queueHold.emplace(std::move(held));
    pending->call = scheduler_.scheduleAfter(pasteFetchPoll, [this] { checkPendingRestore(); });
    pendingRestore_ = std::move(pending);
    co_return true;
}

std::optional<QString> ClipboardFallbacks::unreplacedCutText() const {
    return cutText_ ? std::optional<QString>(cutText_->text) : std::nullopt;
}

QCoro::Task<bool> ClipboardFallbacks::restoreCutText(std::optional<FrontApplication> frontApplication) {
    if (!cutText_) {
        co_return false;
    }
    const CutText cut = *cutText_;
    cutText_.reset();
    const bool sameApplication = frontApplication && cut.processId != 0 && frontApplication->processId == cut.processId;
    bool pasted = false;
    if (sameApplication) {
        pasted = co_await pasteFallback(cut.text, false, frontApplication);
    }
    if (pasted) {
        AppLog::app().info(QStringLiteral("focused field cut text restored length=%1").arg(cut.text.size()));
        co_return true;
    }
    // Pasting is impossible: the text must not vanish with the user's old clipboard put
    // back over it, so it stays on the clipboard instead.
    const AsyncMutex::Hold held = co_await queue_.lock();
    clipboard_.clear();
    clipboard_.setText(cut.text);
    AppLog::app().notice(QStringLiteral("focused field cut text left on clipboard length=%1").arg(cut.text.size()));
    co_return false;
}

}  // namespace tavrolin
