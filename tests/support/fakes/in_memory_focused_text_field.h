#pragma once

// An in-memory focused text field behind the real accessor seam: reads and replacements work
// on a string with an optional selection, and the field can be made absent, read-only or
// failing. Retries go through the shared retry loop on the scheduler it is given.
#include "core/capture_workflow_error.h"
#include "language/focused_text_field_accessing.h"
#include "platform/clock.h"

#include <QRectF>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

namespace tavrolin::test {

class InMemoryFocusedTextField final : public FocusedTextFieldAccessing {
public:
    explicit InMemoryFocusedTextField(Scheduler& scheduler, QString text = {})
        : text(std::move(text)), scheduler_(scheduler) {}

    // The field.
    QString text;
    std::optional<TextRange> selection;
    std::optional<QRectF> frame = QRectF(100, 200, 300, 40);
    // No field has the focus (reads and writes fail with noFocusedTextField).
    bool hasFocusedField = true;
    // The next reads that find no focused field even though there is one.
    int readsWithoutField = 0;
    bool readOnly = false;
    // Thrown by the next replacement instead of writing.
    std::exception_ptr replacementError;

    // What happened.
    int reads = 0;
    QStringList writtenTexts;

    // What a read finds now.
    FocusedTextFieldSnapshot snapshot() const {
        FocusedTextFieldSnapshot result;
        result.fullText = text;
        if (selection) {
            result.selectedText = text.mid(selection->location, selection->length);
            result.selectedRange = selection;
        }
        result.screenFrame = frame;
        return result;
    }

    ClipboardFallbackCallback onWillUseClipboardFallback() const override { return callback_; }
    void setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) override { callback_ = std::move(callback); }

    QCoro::Task<FocusedTextFieldSnapshot> readFocusedField() override {
        ++reads;
        if (!hasFocusedField || readsWithoutField > 0) {
            readsWithoutField = std::max(readsWithoutField - 1, 0);
            throw CaptureWorkflowError(CaptureWorkflowError::Case::noFocusedTextField);
        }
        co_return snapshot();
    }
    QCoro::Task<FocusedTextFieldSnapshot> readFocusedSelection(bool) override { return readFocusedField(); }

    QCoro::Task<void> replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot from) override {
        if (replacementError) {
            std::rethrow_exception(std::exchange(replacementError, nullptr));
        }
        if (!hasFocusedField) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::noFocusedTextField);
        }
        if (readOnly) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::focusedTextFieldReadOnly);
        }
        if (from.selectedText && !from.selectedText->isEmpty() && from.selectedRange &&
            isValidRange(*from.selectedRange, text.size())) {
            text.replace(from.selectedRange->location, from.selectedRange->length, newText);
        } else {
            text = newText;
        }
        selection.reset();
        writtenTexts.append(newText);
        co_return;
    }

    QCoro::Task<FocusedTextFieldSnapshot> prepareFocusedFieldWithRetry(int retryCount, double retryDelay) override {
        return readFocusedFieldWithRetry([this] { return readFocusedField(); }, retryCount, retryDelay, scheduler_);
    }

private:
    Scheduler& scheduler_;
    ClipboardFallbackCallback callback_;
};

}  // namespace tavrolin::test
