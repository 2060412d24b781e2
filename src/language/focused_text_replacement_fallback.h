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
                                   bool fieldChangedMeanwhile = false)
        : text(std::move(text)),
          underlyingError(std::move(underlyingError)),
          fieldChangedMeanwhile(fieldChangedMeanwhile) {}

    // The new text that was not placed.
    QString text;
    // Why it was not placed.
    CaptureWorkflowError underlyingError;
    // The field no longer held what was read (the user typed on in it, or moved its selection,
    // while the command ran): the user is at work there, so whatever offers the text must leave
    // them the keyboard.
    bool fieldChangedMeanwhile = false;

    QString errorDescription() const { return underlyingError.errorDescription(); }
    std::optional<QString> recoverySuggestion() const { return underlyingError.recoverySuggestion(); }
    const char* what() const noexcept override { return underlyingError.what(); }

    // Whether a failure of a replacement is one that leaves the text unplaced (and so is
    // turned into this fallback).
    static bool isUnplacedTextCase(CaptureWorkflowError::Case errorCase);
};

}  // namespace tavrolin
