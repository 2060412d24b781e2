#pragma once

#include "core/capture_workflow_error.h"

#include <QString>

#include <exception>
#include <optional>

namespace tavrolin {

// A text that could not be put into the focused field, with the reason. Workflows catch it and
// offer the text for copying instead of showing an error alert. Its texts are those of the
// underlying error.
class FocusedTextReplacementFallback final : public std::exception {
public:
    FocusedTextReplacementFallback(QString text, CaptureWorkflowError underlyingError,
                                   bool fieldChangedMeanwhile = false, std::optional<QString> reason = std::nullopt)
        : text(std::move(text)),
          underlyingError(std::move(underlyingError)),
          fieldChangedMeanwhile(fieldChangedMeanwhile),
          reason(std::move(reason)) {}

    // Why a message with links was left as the user wrote it.
    static inline const QString linkNotKeptReason = QStringLiteral(
        "Your message holds a link Tavrolin could not keep in the result, so your text was left as you "
        "wrote it. Copy the result from here.");

    // The new text that was not placed.
    QString text;
    // Why it was not placed.
    CaptureWorkflowError underlyingError;
    // The field no longer held what was read (the user typed on in it, or moved its selection,
    // while the command ran): the user is at work there, so whatever offers the text must leave
    // them the keyboard.
    bool fieldChangedMeanwhile = false;
    // What the window offering the text tells the user about it; absent: the text alone.
    std::optional<QString> reason;

    QString errorDescription() const { return underlyingError.errorDescription(); }
    std::optional<QString> recoverySuggestion() const { return underlyingError.recoverySuggestion(); }
    const char* what() const noexcept override { return underlyingError.what(); }

    // Whether a failure of a replacement is one that leaves the text unplaced (and so is
    // turned into this fallback).
    static bool isUnplacedTextCase(CaptureWorkflowError::Case errorCase);
};

}  // namespace tavrolin
