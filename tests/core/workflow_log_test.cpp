#include "core/workflow_log.h"

#include "core/capture_workflow_error.h"
#include "core/url_error.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/memory_log_sink.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tavrolin {
namespace {

class WorkflowLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        front_ = std::make_shared<test::FakeFrontApplicationProvider>();
        WorkflowLog::setFrontApplicationProvider(front_);
    }
    void TearDown() override { WorkflowLog::setFrontApplicationProvider(nullptr); }

    std::shared_ptr<test::FakeFrontApplicationProvider> front_;
};

TEST_F(WorkflowLogTest, EveryLineHasItsFixedKeyOrderAndLevel) {
    test::ScopedLogCapture capture;
    front_->setIdentifier(QStringLiteral("Gedit"));
    WorkflowLog::started(TelemetryAction::translateMessage, TelemetryTrigger::hotkey, AppLanguage::automatic,
                         AppLanguage::german, QStringLiteral("chars=12"));
    WorkflowLog::ignored(TelemetryAction::editText, TelemetryTrigger::menu,
                         QStringLiteral("workflow_already_in_progress"));
    WorkflowLog::failed(TelemetryAction::flipLanguage, TelemetryTrigger::selectionPopup,
                        QStringLiteral("text_exceeds_character_limit"),
                        CaptureWorkflowError::textExceedsCharacterLimit(6200));
    WorkflowLog::routed(TelemetryAction::captureAndTranslateActiveWindow, TelemetryTrigger::hotkey,
                        QStringLiteral("window"), QStringLiteral("no_selection"));

    const auto records = capture.records();
    const std::vector<std::pair<LogLevel, QString>> expected = {
        {LogLevel::info,
         QStringLiteral(
             "workflow start action=translate_message trigger=hotkey source=auto target=de frontmost=Gedit detail=chars=12")},
        {LogLevel::info,
         QStringLiteral(
             "workflow ignored action=edit_text trigger=menu reason=workflow_already_in_progress frontmost=Gedit")},
        {LogLevel::error,
         QStringLiteral(
             "workflow failure action=flip_language trigger=selection_popup errorCode=text_exceeds_character_limit errorType=Tavrolin.CaptureWorkflowError message=textExceedsCharacterLimit(currentLength: 6200) frontmost=Gedit")},
        {LogLevel::info,
         QStringLiteral(
             "workflow route action=capture_and_translate_active_window trigger=hotkey decision=window detail=no_selection frontmost=Gedit")},
    };
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(records[i].category, LogCategory::app);
        EXPECT_EQ(records[i].level, expected[i].first);
        EXPECT_EQ(records[i].message, expected[i].second);
    }
}

TEST_F(WorkflowLogTest, AbsentValuesAreNone) {
    test::ScopedLogCapture capture;
    front_->set(std::nullopt);
    WorkflowLog::started(TelemetryAction::createPrompt, TelemetryTrigger::menu, std::nullopt, std::nullopt,
                         std::nullopt);
    WorkflowLog::routed(TelemetryAction::translateSelection, TelemetryTrigger::hotkey, QStringLiteral("selection"),
                        std::nullopt);
    // a front window whose class is unknown counts as no front application
    front_->set(FrontApplication{77, std::nullopt});
    WorkflowLog::ignored(TelemetryAction::writeText, TelemetryTrigger::hotkey,
                         QStringLiteral("accessibility_permission_denied"));
    EXPECT_EQ(
        capture.messages(LogCategory::app),
        (QStringList{
            QStringLiteral(
                "workflow start action=create_prompt trigger=menu source=none target=none frontmost=none detail=none"),
            QStringLiteral(
                "workflow route action=translate_selection trigger=hotkey decision=selection detail=none frontmost=none"),
            QStringLiteral(
                "workflow ignored action=write_text trigger=hotkey reason=accessibility_permission_denied frontmost=none"),
        }));
}

TEST_F(WorkflowLogTest, FailureNamesTheErrorTypeAndItsDescription) {
    test::ScopedLogCapture capture;
    WorkflowLog::failed(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("unknown_error"),
                        std::runtime_error("disk on fire"));
    WorkflowLog::failed(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("unknown_error"),
                        std::make_exception_ptr(URLError(URLError::timedOut)));
    WorkflowLog::failed(
        TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("no_active_window_found"),
        std::make_exception_ptr(CaptureWorkflowError::noActiveWindowFound(QStringLiteral("Say \"hi\""))));
    const QStringList lines = capture.messages(LogCategory::app);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(
        lines[0],
        QStringLiteral(
            "workflow failure action=edit_text trigger=hotkey errorCode=unknown_error errorType=std.runtime_error message=disk on fire frontmost=none"));
    EXPECT_EQ(
        lines[1],
        QStringLiteral(
            "workflow failure action=edit_text trigger=hotkey errorCode=unknown_error errorType=Tavrolin.URLError message=The request timed out. (-1001) frontmost=none"));
    EXPECT_TRUE(lines[2].contains(QStringLiteral(
        "errorType=Tavrolin.CaptureWorkflowError message=noActiveWindowFound(applicationName: \"Say \\\"hi\\\"\")")))
        << lines[2].toStdString();
}

TEST_F(WorkflowLogTest, DisabledLevelDoesNotAskForTheFrontApplication) {
    test::ScopedLogCapture capture(LogLevel::fault);
    WorkflowLog::started(TelemetryAction::editText, TelemetryTrigger::hotkey, std::nullopt, std::nullopt, std::nullopt);
    WorkflowLog::ignored(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("x"));
    WorkflowLog::failed(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("x"),
                        std::runtime_error("x"));
    WorkflowLog::routed(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("x"), std::nullopt);
    EXPECT_EQ(front_->queries(), 0);
    EXPECT_TRUE(capture.records().empty());
    capture.sink().setMinimumLevel(LogLevel::info);
    WorkflowLog::ignored(TelemetryAction::editText, TelemetryTrigger::hotkey, QStringLiteral("x"));
    EXPECT_EQ(front_->queries(), 1);
}

}  // namespace
}  // namespace tavrolin
