#include "language/focused_text_field_accessing.h"

#include "core/capture_workflow_error.h"
#include "language/focused_text_replacement_fallback.h"
#include "platform/scheduler_sleep.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

bool FocusedTextReplacementFallback::isUnplacedTextCase(CaptureWorkflowError::Case errorCase) {
    using Case = CaptureWorkflowError::Case;
    return errorCase == Case::noFocusedTextField || errorCase == Case::focusedTextFieldReadOnly ||
           errorCase == Case::failedToReplaceFocusedTextFieldText;
}

QCoro::Task<void> FocusedTextFieldAccessing::replaceFocusedFieldTextOrPresentCopyFallback(
    QString newText, FocusedTextFieldSnapshot snapshot) {
    std::optional<CaptureWorkflowError> unplaced;
    try {
        co_await replaceFocusedFieldText(newText, std::move(snapshot));
    } catch (const CaptureWorkflowError& error) {
        if (!FocusedTextReplacementFallback::isUnplacedTextCase(error.errorCase())) {
            throw;
        }
        unplaced = error;
    }
    if (unplaced) {
        throw FocusedTextReplacementFallback(std::move(newText), *unplaced);
    }
}

QCoro::Task<FocusedTextFieldSnapshot> readFocusedFieldWithRetry(
    std::function<QCoro::Task<FocusedTextFieldSnapshot>()> read, int retryCount, double retryDelay,
    Scheduler& scheduler) {
    const int retries = std::max(retryCount, 0);
    // NaN and negative delays mean no wait; absurdly long ones are capped at an hour.
    const auto delay =
        std::chrono::milliseconds(retryDelay > 0 ? std::llround(std::min(retryDelay, 3600.0) * 1000.0) : 0);
    for (int attempt = 0;; ++attempt) {
        try {
            co_return co_await read();
        } catch (const CaptureWorkflowError& error) {
            if (error.errorCase() != CaptureWorkflowError::Case::noFocusedTextField || attempt >= retries) {
                throw;
            }
        }
        co_await sleepFor(scheduler, delay);
    }
}

}  // namespace tavrolin
