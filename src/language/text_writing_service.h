#pragma once

#include "core/app_language.h"
#include "language/active_window_text_providing.h"
#include "language/focused_text_field_accessing.h"
#include "language/text_writing_client.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

struct TextWritingResult {
    QString fieldText;
    // The front window's text, as sent.
    QString windowText;
    // The client's answer as it came (always written back).
    QString writtenText;
    bool replacedSelection = false;
    std::optional<QRectF> screenFrame;

    bool operator==(const TextWritingResult&) const = default;
};

// Rewrite Message: has the server write a message from the selection (or the whole field)
// with the front window's text as context, and writes it back. Runs on the main thread;
// failures are CaptureWorkflowError, FocusedTextReplacementFallback, or the window-text
// provider's or client's own error, unchanged.
class TextWritingService final {
public:
    using WindowTextCallback = std::function<void(const ActiveWindowTextSnapshot&)>;

    // Negative retry values (and a delay that is not a number) become 0.
    TextWritingService(std::shared_ptr<FocusedTextFieldAccessing> accessor,
                       std::shared_ptr<ActiveWindowTextProviding> activeWindowTextProvider,
                       std::shared_ptr<TextWritingClient> client, int focusedFieldReadRetryCount,
                       double focusedFieldReadRetryDelay, AppLanguage targetLanguage);

    // `onWindowTextCaptured` runs on the main thread once the window's text has been read,
    // before the request is sent.
    QCoro::Task<TextWritingResult> writeAndReplace(FocusedTextFieldSnapshot snapshot,
                                                   WindowTextCallback onWindowTextCaptured = {}) const;
    // Reads the focused field (retrying while none is found), reports its frame, then
    // writeAndReplace(); gives back a text the read cut out and nothing replaced.
    QCoro::Task<TextWritingResult> writeFocusedField(FieldFrameCallback onFieldFrame,
                                                     WindowTextCallback onWindowTextCaptured) const;

    const std::shared_ptr<ActiveWindowTextProviding>& activeWindowTextProvider() const {
        return activeWindowTextProvider_;
    }
    const std::shared_ptr<TextWritingClient>& client() const { return client_; }

    // Set on the main thread when the settings are saved.
    AppLanguage targetLanguage;

private:
    std::shared_ptr<FocusedTextFieldAccessing> accessor_;
    std::shared_ptr<ActiveWindowTextProviding> activeWindowTextProvider_;
    std::shared_ptr<TextWritingClient> client_;
    int focusedFieldReadRetryCount_;
    double focusedFieldReadRetryDelay_;
};

}  // namespace tavrolin
