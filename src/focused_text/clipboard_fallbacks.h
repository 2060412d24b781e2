#pragma once

#include "focused_text/async_mutex.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/front_application.h"
#include "platform/synthetic_input.h"

#include <QCoroTask>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Reading and writing the focused field of another application through the clipboard, with
// synthetic Control+C, Control+X, Control+A and Control+V. The user's clipboard is saved
// before and put back afterwards, every format of it.
//
// All operations share one queue: an operation waits for the one before it to finish. A paste
// keeps the queue until the target program has fetched the pasted text and the restore delay
// has passed (at most `pasteHoldLimit`), and only then puts the user's clipboard back, so
// overlapping runs can neither read each other's text nor paste the wrong one, and the user's
// clipboard is never lost. When the user's clipboard cannot be saved (its owner does not hand
// it over in time), no operation goes on: the clipboard is left alone and no key is sent.
//
// Terminals get Control+Shift+C and Control+Shift+V; select-all and cut are never sent to them
// (Control+C would interrupt the program running there).
class ClipboardFallbacks {
public:
    static constexpr std::chrono::milliseconds copyWait{200};
    static constexpr std::chrono::milliseconds selectAllWait{50};
    static constexpr std::chrono::milliseconds pasteSelectAllWait{30};
    static constexpr std::chrono::milliseconds pasteHoldLimit{2000};
    static constexpr std::chrono::milliseconds pasteFetchPoll{10};
    static inline const QString markerPrefix = QStringLiteral("__Tavrolin_EmptySelection_");

    // Editors that copy nothing without a selection but cut the current line: their whole
    // text is read with Cut (WM_CLASS class names).
    static const QSet<QString>& applicationsUsingCutInsteadOfCopy();
    // Terminal emulators (WM_CLASS class names).
    static const QSet<QString>& terminalApplicationIdentifiers();
    static bool isTerminal(const std::optional<FrontApplication>& frontApplication);

    ClipboardFallbacks(Clipboard& clipboard, SyntheticInput& input, Scheduler& scheduler,
                       std::chrono::milliseconds clipboardRestoreDelay);
    // A paste's pending restore runs now: the user's clipboard comes back.
    ~ClipboardFallbacks();
    ClipboardFallbacks(const ClipboardFallbacks&) = delete;
    ClipboardFallbacks& operator=(const ClipboardFallbacks&) = delete;

    // Runs just before an operation touches the clipboard: before every whole-field read and
    // paste, before a selection read only when asked to notify.
    void setOnWillUseClipboardFallback(std::function<void()> callback) { onWillUse_ = std::move(callback); }
    const std::function<void()>& onWillUseClipboardFallback() const { return onWillUse_; }

    // The whole text of the focused field: copy (cut for the editors above); when that gives
    // nothing, select all and copy again. The select-all stays in the application. Absent
    // when nothing was copied. Text cut out of a field is remembered (see restoreCutText()).
    QCoro::Task<std::optional<QString>> readTextViaClipboard(std::optional<FrontApplication> frontApplication);
    // The current selection, copied; absent when nothing is selected.
    QCoro::Task<std::optional<QString>> readSelectedTextViaClipboard(
        bool notifyClipboardFallback, std::optional<FrontApplication> frontApplication = std::nullopt);
    // Asked just before the keys of a paste are sent, once the clipboard is saved: whether the
    // keystrokes would still reach the intended field. A "no" ends the paste untouched.
    using PasteTargetCheck = std::function<QCoro::Task<bool>()>;

    // Puts `newText` into the focused field by pasting (after select-all when asked). The
    // clipboard comes back once the application has fetched the text and
    // `clipboardRestoreDelay` has passed. Answers whether the keystrokes were sent (never for a
    // select-all in a terminal, an unsaved clipboard or a target that `targetCheck` refused);
    // whether the application took the paste cannot be known.
    QCoro::Task<bool> pasteFallback(QString newText, bool replacingAllText,
                                    std::optional<FrontApplication> frontApplication = std::nullopt,
                                    PasteTargetCheck targetCheck = {});

    // Text that a whole-field read cut out of a field and that no replacement has put back.
    std::optional<QString> unreplacedCutText() const;
    // A replacement took the field over: the cut text is no longer needed.
    void forgetCutText() { cutText_.reset(); }
    // Puts remembered cut text back where it came from by pasting it at the caret, when the
    // same application is still in front; otherwise (or when no keystroke can be sent)
    // leaves the text on the clipboard instead of the user's old contents, so it is not lost.
    // Answers whether the text was pasted back.
    QCoro::Task<bool> restoreCutText(std::optional<FrontApplication> frontApplication);

    bool hasPendingRestore() const { return pendingRestore_ != nullptr; }

private:
    struct PendingRestore {
        std::optional<ClipboardContents> saved;
        std::unique_ptr<ScheduledCall> call;
        std::optional<AsyncMutex::Hold> queueHold;  // the queue stays held until the restore
        quint64 fetchesBefore = 0;
        std::chrono::milliseconds waited{0};
    };
    struct CutText {
        QString text;
        qint64 processId = 0;
    };

    void restore(const std::optional<ClipboardContents>& saved);
    // After a copy: the saved clipboard back; an empty one stays empty rather than keep the marker.
    QCoro::Task<void> restoreAfterCopy(std::optional<ClipboardContents> saved, QString marker);
    static Qt::KeyboardModifiers chordModifiers(const std::optional<FrontApplication>& frontApplication);
    void runPendingRestore();
    void checkPendingRestore();
    void notify() const;
    QCoro::Task<std::optional<QString>> copiedText(QString marker);

    Clipboard& clipboard_;
    SyntheticInput& input_;
    Scheduler& scheduler_;
    std::chrono::milliseconds restoreDelay_;
    std::function<void()> onWillUse_;
    AsyncMutex queue_;
    std::unique_ptr<PendingRestore> pendingRestore_;
    std::optional<CutText> cutText_;
};

}  // namespace tavrolin
