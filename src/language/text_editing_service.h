#pragma once

#include "core/app_language.h"
#include "language/focused_text_field_accessing.h"
#include "language/text_editing_client.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

struct TextEditingResult {
    QString originalText;
    // The client's answer as it came; equal to originalText when nothing changed.
    QString editedText;
    bool replacedSelection = false;
    std::optional<QRectF> screenFrame;

    bool operator==(const TextEditingResult&) const = default;
};

// Edit Message: corrects the selection (or the whole field) and writes the correction back
// when it differs. Runs on the main thread; failures are CaptureWorkflowError,
// FocusedTextReplacementFallback or the client's own error, unchanged.
class TextEditingService final {
public:
    // Negative retry values (and a delay that is not a number) become 0.
    TextEditingService(std::shared_ptr<FocusedTextFieldAccessing> accessor, std::shared_ptr<TextEditingClient> client,
                       AppLanguage sourceLanguage, AppLanguage targetLanguage, int focusedFieldReadRetryCount,
                       double focusedFieldReadRetryDelay);

    QCoro::Task<TextEditingResult> editAndReplace(FocusedTextFieldSnapshot snapshot) const;
    // Reads the focused field (retrying while none is found) unless `selection` is given,
    // reports its frame, then editAndReplace(); gives back a text the read cut out and nothing
    // replaced.
    QCoro::Task<TextEditingResult> editFocusedField(std::optional<FocusedTextFieldSnapshot> selection,
                                                    FieldFrameCallback onFieldFrame) const;

    const std::shared_ptr<TextEditingClient>& client() const { return client_; }

    // Set on the main thread when the settings are saved.
    AppLanguage sourceLanguage;
    AppLanguage targetLanguage;

private:
    std::shared_ptr<FocusedTextFieldAccessing> accessor_;
    std::shared_ptr<TextEditingClient> client_;
    int focusedFieldReadRetryCount_;
    double focusedFieldReadRetryDelay_;
};

}  // namespace tavrolin
