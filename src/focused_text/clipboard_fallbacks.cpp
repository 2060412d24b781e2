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

}  // namespace

const QSet<QString>& ClipboardFallbacks::applicationsUsingCutInsteadOfCopy() {
    static const QSet<QString> applications = {
        "dev.zed.Zed",          "dev.zed.Zed-Preview",  "jetbrains-idea",   "jetbrains-idea-ce",
        "jetbrains-clion",      "jetbrains-phpstorm",   "jetbrains-webstorm", "jetbrains-pycharm",
        "jetbrains-pycharm-ce", "jetbrains-rider",      "jetbrains-rubymine", "jetbrains-goland",
        "jetbrains-datagrip",
    };
    return applications;
}

ClipboardFallbacks::ClipboardFallbacks(Clipboard& clipboard, SyntheticInput& input, Scheduler& scheduler,
                                       std::chrono::milliseconds clipboardRestoreDelay)
    : clipboard_(clipboard), input_(input), scheduler_(scheduler), restoreDelay_(clipboardRestoreDelay) {}

ClipboardFallbacks::~ClipboardFallbacks() { runPendingRestore(); }

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
    restore(pending->saved, std::nullopt);
}

ClipboardContents ClipboardFallbacks::beginOperation() {
    runPendingRestore();
    return clipboard_.contents();
}

void ClipboardFallbacks::restore(const ClipboardContents& saved, const std::optional<QString>& marker) {
    if (!saved.empty()) {
        clipboard_.setContents(saved);
        return;
    }
    // The clipboard was empty: what the operation copied or pasted stays, but never the marker.
    if (marker && clipboard_.text() == *marker) {
        clipboard_.clear();
    }
}

std::optional<QString> ClipboardFallbacks::copiedText(const QString& marker) {
    std::optional<QString> text = clipboard_.text();
    if (!text || text->isEmpty() || *text == marker) {
        return std::nullopt;
    }
    return text;
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readTextViaClipboard(
    std::optional<FrontApplication> frontApplication) {
    const AsyncMutex::Hold held = co_await queue_.lock();
    notify();
    const ClipboardContents saved = beginOperation();
    const bool useCut = frontApplication && frontApplication->applicationIdentifier &&
                        applicationsUsingCutInsteadOfCopy().contains(*frontApplication->applicationIdentifier);
    const Qt::Key letter = useCut ? Qt::Key_X : Qt::Key_C;

    const QString marker = makeMarker();
    clipboard_.clear();
    clipboard_.setText(marker);
    input_.sendKeyChord(Qt::ControlModifier, letter);
    co_await sleepFor(scheduler_, copyWait);
    std::optional<QString> result = copiedText(marker);
    if (!result) {
        input_.sendKeyChord(Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, selectAllWait);
        input_.sendKeyChord(Qt::ControlModifier, letter);
        co_await sleepFor(scheduler_, copyWait);
        result = copiedText(marker);
    }
    if (useCut && result) {
        // The field has lost this text until a replacement or restoreCutText() puts it back.
        cutText_ = CutText{*result, frontApplication->processId};
    }
    restore(saved, marker);
    co_return result;
}

QCoro::Task<std::optional<QString>> ClipboardFallbacks::readSelectedTextViaClipboard(bool notifyClipboardFallback) {
    const AsyncMutex::Hold held = co_await queue_.lock();
    if (notifyClipboardFallback) {
        notify();
    }
    const ClipboardContents saved = beginOperation();
    const QString marker = makeMarker();
    clipboard_.clear();
    clipboard_.setText(marker);
    input_.sendKeyChord(Qt::ControlModifier, Qt::Key_C);
    co_await sleepFor(scheduler_, copyWait);

    std::optional<QString> result;
    const std::optional<QString> plain = clipboard_.text();
    if (plain != marker) {
        result = bestClipboardSelectionText(plain, clipboard_.html());
    }
    restore(saved, marker);
    co_return result;
}

QCoro::Task<bool> ClipboardFallbacks::pasteFallback(QString newText, bool replacingAllText) {
    const AsyncMutex::Hold held = co_await queue_.lock();
    notify();
    ClipboardContents saved = beginOperation();
    clipboard_.clear();
    clipboard_.setText(newText);
    bool sent = true;
    if (replacingAllText) {
        sent = input_.sendKeyChord(Qt::ControlModifier, Qt::Key_A);
        co_await sleepFor(scheduler_, pasteSelectAllWait);
    }
    sent = input_.sendKeyChord(Qt::ControlModifier, Qt::Key_V) && sent;
    // The application reads the clipboard when it handles the keystroke: restore later.
    auto pending = std::make_unique<PendingRestore>();
    pending->saved = std::move(saved);
    pending->call = scheduler_.scheduleAfter(restoreDelay_, [this] { runPendingRestore(); });
    pendingRestore_ = std::move(pending);
    co_return sent;
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
    const bool sameApplication =
        frontApplication && cut.processId != 0 && frontApplication->processId == cut.processId;
    if (sameApplication && co_await pasteFallback(cut.text, false)) {
        AppLog::app().info(QStringLiteral("focused field cut text restored length=%1").arg(cut.text.size()));
        co_return true;
    }
    // Pasting is impossible: the text must not vanish with the user's old clipboard put
    // back over it, so it stays on the clipboard instead.
    const AsyncMutex::Hold held = co_await queue_.lock();
    if (pendingRestore_) {
        pendingRestore_->call->cancel();
        pendingRestore_.reset();
    }
    clipboard_.clear();
    clipboard_.setText(cut.text);
    AppLog::app().notice(
        QStringLiteral("focused field cut text left on clipboard length=%1").arg(cut.text.size()));
    co_return false;
}

}  // namespace tavrolin
