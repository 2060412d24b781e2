#pragma once

#include "language/focused_text_field_accessing.h"
#include "language/text_prompt_client.h"

#include <QCoroTask>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>

namespace tavrolin {

struct TextPromptingResult {
    QString originalText;
    // The client's answer as it came; equal to originalText when nothing changed.
    QString promptText;
    bool replacedSelection = false;
    std::optional<QRectF> screenFrame;

    bool operator==(const TextPromptingResult&) const = default;
};

// Create Prompt: turns the selection (or the whole field, at most 5000 characters) into a
// prompt for an AI assistant, in the text's own language, and writes it back when it differs.
// Runs on the main thread; failures as for TextEditingService.
class TextPromptingService final {
public:
    // Negative retry values (and a delay that is not a number) become 0.
    TextPromptingService(std::shared_ptr<FocusedTextFieldAccessing> accessor, std::shared_ptr<TextPromptClient> client,
                         int focusedFieldReadRetryCount, double focusedFieldReadRetryDelay);

    QCoro::Task<TextPromptingResult> promptAndReplace(FocusedTextFieldSnapshot snapshot) const;
    // Reads the focused field (retrying while none is found), reports its frame, then
    // promptAndReplace(); gives back a text the read cut out and nothing replaced.
    QCoro::Task<TextPromptingResult> promptFocusedField(FieldFrameCallback onFieldFrame) const;

    const std::shared_ptr<TextPromptClient>& client() const { return client_; }

private:
    std::shared_ptr<FocusedTextFieldAccessing> accessor_;
    std::shared_ptr<TextPromptClient> client_;
    int focusedFieldReadRetryCount_;
    double focusedFieldReadRetryDelay_;
};

}  // namespace tavrolin
