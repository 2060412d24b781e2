#include "language/focused_text_field_accessing.h"

#include "core/capture_workflow_error.h"
#include "language/focused_text_replacement_fallback.h"
#include "support/virtual_time_task.h"

#include <deque>
#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;

// A conformer whose replacement throws what the test says and whose reads follow a script.
class ScriptedAccessor final : public FocusedTextFieldAccessing {
public:
    std::exception_ptr replacementError;
    std::deque<std::optional<Case>> readScript;  // absent entry: a successful read
    int reads = 0;

    ClipboardFallbackCallback onWillUseClipboardFallback() const override { return callback_; }
    void setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) override { callback_ = std::move(callback); }
    QCoro::Task<FocusedTextFieldSnapshot> readFocusedField() override {
        ++reads;
        const std::optional<Case> next =
            readScript.empty() ? std::optional<Case>(Case::noFocusedTextField) : readScript.front();
        if (!readScript.empty()) {
            readScript.pop_front();
        }
        if (next) {
            throw CaptureWorkflowError(*next);
        }
        co_return FocusedTextFieldSnapshot{nullptr, "read", std::nullopt, std::nullopt, std::nullopt};
    }
    QCoro::Task<FocusedTextFieldSnapshot> readFocusedSelection(bool) override { return readFocusedField(); }
    QCoro::Task<void> replaceFocusedFieldText(QString, FocusedTextFieldSnapshot) override {
        if (replacementError) {
            std::rethrow_exception(replacementError);
        }
        co_return;
    }
    QCoro::Task<FocusedTextFieldSnapshot> prepareFocusedFieldWithRetry(int retryCount, double retryDelay) override {
        return readFocusedFieldWithRetry([this] { return readFocusedField(); }, retryCount, retryDelay, scheduler);
    }

    test::ManualScheduler scheduler;

private:
    ClipboardFallbackCallback callback_;
};

TEST(ReplaceOrPresentCopyFallbackTest, UnplacedTextBecomesAFallbackCarryingTheText) {
    const Case wrapped[] = {Case::noFocusedTextField, Case::focusedTextFieldReadOnly,
                            Case::failedToReplaceFocusedTextFieldText};
    for (const Case c : wrapped) {
        ScriptedAccessor accessor;
        accessor.replacementError = std::make_exception_ptr(CaptureWorkflowError(c));
        try {
            test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback("the new text", {}),
                                   accessor.scheduler);
            ADD_FAILURE() << "no fallback for case " << static_cast<int>(c);
        } catch (const FocusedTextReplacementFallback& fallback) {
            EXPECT_EQ(fallback.text, "the new text");
            EXPECT_EQ(fallback.underlyingError, CaptureWorkflowError(c));
            EXPECT_EQ(fallback.errorDescription(), CaptureWorkflowError(c).errorDescription());
            EXPECT_EQ(fallback.recoverySuggestion(), CaptureWorkflowError(c).recoverySuggestion());
            EXPECT_STREQ(fallback.what(), CaptureWorkflowError(c).what());
        }
    }
}

TEST(ReplaceOrPresentCopyFallbackTest, OtherErrorsPassUnchangedAndSuccessIsQuiet) {
    ScriptedAccessor accessor;
    test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback("x", {}), accessor.scheduler);

    accessor.replacementError = std::make_exception_ptr(CaptureWorkflowError(Case::onlineFeaturesDisabled));
    try {
        test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback("x", {}), accessor.scheduler);
        ADD_FAILURE();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), Case::onlineFeaturesDisabled);
    }

    accessor.replacementError = std::make_exception_ptr(std::runtime_error("cancelled"));
    EXPECT_THROW(
        test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback("x", {}), accessor.scheduler),
        std::runtime_error);
}

TEST(ReadFocusedFieldWithRetryTest, RetriesNoFieldWithWaitsAndNothingElse) {
    const struct {
        const char* name;
        std::deque<std::optional<Case>> script;
        int retryCount;
        double retryDelay;
        std::optional<Case> outcome;
        int reads;
        std::chrono::milliseconds elapsed;
    } cases[] = {
        {"never a field", {}, 4, 0.12, Case::noFocusedTextField, 5, 480ms},
        {"negative count reads once", {}, -1, 0.12, Case::noFocusedTextField, 1, 0ms},
        {"field on the third read",
         {Case::noFocusedTextField, Case::noFocusedTextField, std::nullopt},
         4,
         0.12,
         std::nullopt,
         3,
         240ms},
        {"other errors are not retried", {Case::focusedTextFieldEmpty}, 4, 0.12, Case::focusedTextFieldEmpty, 1, 0ms},
        {"permission is not retried",
         {Case::noFocusedTextField, Case::accessibilityPermissionDenied},
         4,
         0.5,
         Case::accessibilityPermissionDenied,
         2,
         500ms},
        {"negative delay does not wait", {}, 2, -1.0, Case::noFocusedTextField, 3, 0ms},
        {"NaN delay does not wait", {}, 1, std::nan(""), Case::noFocusedTextField, 2, 0ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedAccessor accessor;
        accessor.readScript = c.script;
        std::optional<Case> outcome;
        try {
            const FocusedTextFieldSnapshot snapshot = test::runOnVirtualTime(
                accessor.prepareFocusedFieldWithRetry(c.retryCount, c.retryDelay), accessor.scheduler);
            EXPECT_EQ(snapshot.fullText, "read");
        } catch (const CaptureWorkflowError& error) {
            outcome = error.errorCase();
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(accessor.reads, c.reads);
        EXPECT_EQ(accessor.scheduler.elapsed(), c.elapsed);
    }
}

}  // namespace
}  // namespace tavrolin
