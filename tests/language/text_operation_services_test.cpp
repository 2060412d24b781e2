// Edit, Create Prompt and Rewrite on an in-memory field with in-memory clients and window text.
#include "core/capture_workflow_error.h"
#include "language/focused_text_replacement_fallback.h"
#include "language/text_editing_service.h"
#include "language/text_prompting_service.h"
#include "language/text_writing_service.h"
#include "support/async.h"
#include "support/fakes/in_memory_focused_text_field.h"
#include "support/fakes/in_memory_text_clients.h"
#include "support/virtual_time.h"
#include "support/virtual_time_task.h"

#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;

QString clusters(int n) {
    static const QString pieces[] = {QStringLiteral(u"a\u0308"), QStringLiteral(u"🇩🇪"),
                                     QStringLiteral(u"👩🏾‍💻")};
    QString text;
    for (int i = 0; i < n; ++i) {
        text += pieces[i % 3];
    }
    return text;
}

template <typename Error = CaptureWorkflowError, typename Task>
std::optional<Error> failureOf(Task&& task) {
    try {
        test::await(std::forward<Task>(task));
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

// The three operations behind one call, so every shared rule is checked on each of them.
enum class Operation { edit, prompt, write };
const Operation kOperations[] = {Operation::edit, Operation::prompt, Operation::write};
const char* name(Operation operation) {
    return operation == Operation::edit ? "edit" : operation == Operation::prompt ? "prompt" : "write";
}

class TextOperationServicesTest : public ::testing::Test {
protected:
    void setField(const QString& text, std::optional<TextRange> selection = std::nullopt) {
        field->text = text;
        field->selection = selection;
        field->writtenTexts.clear();
    }
    void answerAll(std::function<QString(const QString&)> answer) {
        editor->answer = answer;
        prompter->answer = answer;
        writer->answer = std::move(answer);
    }
    // Runs one operation on the field as it is; answers the text it reported as the answer.
    QString run(Operation operation) {
        switch (operation) {
        case Operation::edit:
            return test::await(editing.editAndReplace(field->snapshot())).editedText;
        case Operation::prompt:
            return test::await(prompting.promptAndReplace(field->snapshot())).promptText;
        case Operation::write:
            return test::await(writing.writeAndReplace(field->snapshot())).writtenText;
        }
        return {};
    }
    std::optional<CaptureWorkflowError> failure(Operation operation) {
        try {
            run(operation);
        } catch (const CaptureWorkflowError& error) {
            return error;
        }
        return std::nullopt;
    }
    int requests() const { return editor->calls + prompter->calls + writer->calls; }

    test::ManualScheduler scheduler;
    std::shared_ptr<test::EventLog> log = std::make_shared<test::EventLog>();
    std::shared_ptr<test::InMemoryFocusedTextField> field = std::make_shared<test::InMemoryFocusedTextField>(scheduler);
    std::shared_ptr<test::InMemoryTextEditingClient> editor = std::make_shared<test::InMemoryTextEditingClient>(log);
    std::shared_ptr<test::InMemoryTextPromptClient> prompter = std::make_shared<test::InMemoryTextPromptClient>(log);
    std::shared_ptr<test::InMemoryTextWritingClient> writer = std::make_shared<test::InMemoryTextWritingClient>(log);
    std::shared_ptr<test::InMemoryActiveWindowTextProvider> window =
        std::make_shared<test::InMemoryActiveWindowTextProvider>(log);
    TextEditingService editing{field, editor, AppLanguage::german, AppLanguage::german, 4, 0.12};
    TextPromptingService prompting{field, prompter, 4, 0.12};
    TextWritingService writing{field, window, writer, 4, 0.12, AppLanguage::german};
};

TEST_F(TextOperationServicesTest, TheSelectionIsSentAndReplacedAloneElseTheWholeField) {
    answerAll([](const QString& text) { return text.toUpper(); });
    for (const Operation operation : kOperations) {
        SCOPED_TRACE(name(operation));
        setField(QStringLiteral("keep this, fix that"), TextRange{11, 8});
        EXPECT_EQ(run(operation), "FIX THAT");
        EXPECT_EQ(field->text, "keep this, FIX THAT");

        // A selection that is there but empty means the whole field.
        setField(QStringLiteral("whole"), TextRange{2, 0});
        EXPECT_EQ(run(operation), "WHOLE");
        EXPECT_EQ(field->text, "WHOLE");
    }
    const auto edit = test::await(editing.editAndReplace(test::InMemoryFocusedTextField(scheduler, "x").snapshot()));
    EXPECT_FALSE(edit.replacedSelection);
    setField(QStringLiteral("ab"), TextRange{0, 1});
    const auto written = test::await(writing.writeAndReplace(field->snapshot()));
    EXPECT_TRUE(written.replacedSelection);
    EXPECT_EQ(written.screenFrame, field->frame);
}

TEST_F(TextOperationServicesTest, BlanksAreSentAndAnEmptyFieldIsNot) {
    answerAll([](const QString&) { return QStringLiteral("Hello."); });
    for (const Operation operation : kOperations) {
        SCOPED_TRACE(name(operation));
        setField(QStringLiteral("   "));
        EXPECT_EQ(run(operation), "Hello.");
        setField(QString(), TextRange{0, 0});
        EXPECT_EQ(failure(operation), CaptureWorkflowError(Case::focusedTextFieldEmpty));
    }
    EXPECT_EQ(requests(), 3);
    EXPECT_EQ(log->matching("read window").size(), 1) << "an empty field fails before the window is read";
}

TEST_F(TextOperationServicesTest, UnchangedAnswersLeaveTheFieldAloneExceptForRewrite) {
    answerAll([](const QString& text) { return text; });
    for (const Operation operation : {Operation::edit, Operation::prompt}) {
        setField(QStringLiteral("Already fine."));
        EXPECT_EQ(run(operation), "Already fine.");
        EXPECT_TRUE(field->writtenTexts.isEmpty()) << name(operation);
    }
    setField(QStringLiteral("Already fine."));
    EXPECT_EQ(run(Operation::write), "Already fine.");
    EXPECT_EQ(field->writtenTexts, QStringList{"Already fine."});

    // A trailing line break is a change, written with it; answers are never trimmed.
    answerAll([](const QString& text) { return text + "\n"; });
    setField(QStringLiteral("Line"));
    const auto edit = test::await(editing.editAndReplace(field->snapshot()));
    EXPECT_EQ(edit.originalText, "Line");
    EXPECT_EQ(edit.editedText, "Line\n");
    EXPECT_EQ(field->text, "Line\n");
}

TEST_F(TextOperationServicesTest, BlankAnswersAreTheOperationsInvalidResponse) {
    answerAll([](const QString&) { return QStringLiteral(" \n\t\u3000"); });
    const std::pair<Operation, Case> expected[] = {{Operation::edit, Case::textEditingInvalidResponse},
                                                   {Operation::prompt, Case::textPromptInvalidResponse},
                                                   {Operation::write, Case::textWritingInvalidResponse}};
    for (const auto& [operation, errorCase] : expected) {
        setField(QStringLiteral("Some text"));
        EXPECT_EQ(failure(operation), CaptureWorkflowError(errorCase)) << name(operation);
        EXPECT_TRUE(field->writtenTexts.isEmpty());
    }
}

TEST_F(TextOperationServicesTest, OnlyPromptsHaveACharacterLimit) {
    answerAll([](const QString&) { return QStringLiteral("done"); });
    setField(clusters(5000));
    EXPECT_EQ(run(Operation::prompt), "done");
    setField(clusters(5001));
    EXPECT_EQ(failure(Operation::prompt), CaptureWorkflowError::textExceedsCharacterLimit(5001));
    setField(QString(100000, QLatin1Char('w')));
    EXPECT_EQ(failure(Operation::prompt), CaptureWorkflowError::textExceedsCharacterLimit(100000));
    EXPECT_EQ(prompter->calls, 1);
    EXPECT_TRUE(field->text.startsWith("www")) << "a refused text stays in the field";

    // Edit and Rewrite send a long text as it is.
    EXPECT_EQ(run(Operation::edit), "done");
    setField(QString(100000, QLatin1Char('w')));
    EXPECT_EQ(run(Operation::write), "done");
    EXPECT_EQ(editor->calls + writer->calls, 2);
}

TEST_F(TextOperationServicesTest, ClientFailuresPassUnchangedAndTheFieldStays) {
    const CaptureWorkflowError failures[] = {CaptureWorkflowError(Case::onlineFeaturesDisabled),
                                             CaptureWorkflowError(Case::textWritingRequestFailed)};
    for (const auto& error : failures) {
        editor->error = prompter->error = writer->error = std::make_exception_ptr(error);
        for (const Operation operation : kOperations) {
            setField(QStringLiteral("text"));
            EXPECT_EQ(failure(operation), error) << name(operation);
            EXPECT_TRUE(field->writtenTexts.isEmpty());
        }
    }
}

TEST_F(TextOperationServicesTest, AFieldThatRefusesTheAnswerHandsItBackForCopying) {
    answerAll([](const QString& text) { return "better " + text; });
    const Case refusals[] = {Case::noFocusedTextField, Case::focusedTextFieldReadOnly,
                             Case::failedToReplaceFocusedTextFieldText};
    for (const Operation operation : kOperations) {
        for (const Case refusal : refusals) {
            setField(QStringLiteral("text"));
            field->replacementError = std::make_exception_ptr(CaptureWorkflowError(refusal));
            try {
                run(operation);
                ADD_FAILURE() << name(operation) << " did not fail";
            } catch (const FocusedTextReplacementFallback& fallback) {
                EXPECT_EQ(fallback.text, "better text");
                EXPECT_EQ(fallback.underlyingError, CaptureWorkflowError(refusal));
            }
            EXPECT_EQ(field->text, "text");
        }
        setField(QStringLiteral("text"));
        field->replacementError = std::make_exception_ptr(CaptureWorkflowError(Case::accessibilityPermissionDenied));
        EXPECT_EQ(failure(operation), CaptureWorkflowError(Case::accessibilityPermissionDenied));
    }
}

TEST_F(TextOperationServicesTest, ClientsGetTheServicesLanguagesAtCallTime) {
    setField(QStringLiteral("Hallo"));
    editing.sourceLanguage = AppLanguage::french;
    editing.targetLanguage = AppLanguage::spanish;
    writing.targetLanguage = AppLanguage::italian;
    run(Operation::edit);
    run(Operation::prompt);
    run(Operation::write);
    EXPECT_EQ(log->matching("edit"), QStringList{"edit fr>es [Hallo] on main"});
    EXPECT_EQ(log->matching("prompt"), QStringList{"prompt original [Hallo] on main"});
    EXPECT_EQ(log->matching("write").front(), "write it [Hallo] window [Inbox\nReply to Anna] on main");
}

TEST_F(TextOperationServicesTest, RewriteReadsTheWindowThenCallsBackOnTheMainThreadBeforeTheRequest) {
    window->finishesOnWorkerThread = true;
    window->window.text = QString();  // sent as it is, even empty
    setField(QStringLiteral("draft"));
    std::optional<ActiveWindowTextSnapshot> seen;
    const auto result =
        test::await(writing.writeAndReplace(field->snapshot(), [&](const ActiveWindowTextSnapshot& snapshot) {
            log->add("callback on " + test::threadName());
            seen = snapshot;
        }));
    EXPECT_EQ(log->events(), (QStringList{"read window", "callback on main", "write de [draft] window [] on main"}));
    EXPECT_EQ(seen, window->window);
    EXPECT_EQ(result.windowText, "");
    EXPECT_EQ(result.fieldText, "draft");
}

TEST_F(TextOperationServicesTest, RewriteWhoseWindowCannotBeReadSendsNothing) {
    window->error = std::make_exception_ptr(CaptureWorkflowError(Case::screenshotPermissionDenied));
    setField(QStringLiteral("draft"));
    bool called = false;
    EXPECT_EQ(
        failureOf(writing.writeAndReplace(field->snapshot(), [&](const ActiveWindowTextSnapshot&) { called = true; })),
        CaptureWorkflowError(Case::screenshotPermissionDenied));
    EXPECT_FALSE(called);
    EXPECT_EQ(writer->calls, 0);

    // A provider's own error type passes too.
    window->error = std::make_exception_ptr(std::runtime_error("capture failed"));
    EXPECT_TRUE(failureOf<std::runtime_error>(writing.writeAndReplace(field->snapshot())));
}

TEST_F(TextOperationServicesTest, ServicesReadWithTheirRetryValuesNeverNegative) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const TextEditingService e(field, editor, AppLanguage::english, AppLanguage::english, -1, -0.5);
    const TextPromptingService p(field, prompter, -7, nan);
    const TextWritingService w(field, window, writer, 4, 0.12, AppLanguage::english);
    field->hasFocusedField = false;
    // A field that never appears: the reads made and the virtual time they took.
    const auto readsOf = [&](const std::function<QCoro::Task<void>()>& read) {
        field->reads = 0;
        const auto start = scheduler.elapsed();
        EXPECT_THROW(test::runOnVirtualTime(read(), scheduler), CaptureWorkflowError);
        return std::pair(field->reads, std::chrono::duration<double>(scheduler.elapsed() - start).count());
    };
    EXPECT_EQ(readsOf([&e]() -> QCoro::Task<void> { co_await e.editFocusedField(std::nullopt, {}); }),
              std::pair(1, 0.0));
    EXPECT_EQ(readsOf([&p]() -> QCoro::Task<void> { co_await p.promptFocusedField({}); }), std::pair(1, 0.0));
    const auto [writes, waited] = readsOf([&w]() -> QCoro::Task<void> { co_await w.writeFocusedField({}, {}); });
    EXPECT_EQ(writes, 5);
    EXPECT_NEAR(waited, 4 * 0.12, 0.001);
}

}  // namespace
}  // namespace tavrolin
