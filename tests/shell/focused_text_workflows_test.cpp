// The five focused-field commands run through the delegate as the application builds them,
// over an in-memory desktop: a pretend field behind the accessor, in-memory text clients and
// translation engines, a recording loading card and scripted alerts.
#include "commands/create_prompt_command.h"
#include "commands/flip_language_command.h"
#include "commands/focused_field_loading_target_resolver.h"
#include "commands/message_translation_command.h"
#include "commands/selection_translation_command.h"
#include "commands/text_editing_command.h"
#include "commands/text_writing_command.h"
#include "support/delegate_harness.h"

#include <QWidget>
#include <QWindow>

using namespace tavrolin;
using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;
using Desktop = test::FocusedFieldDesktop;
constexpr qint64 appPid = Desktop::appPid;

namespace {

using Start = void (AppDelegate::*)(TelemetryTrigger);

struct Command {
    const char* name;
    Start start;
    TelemetryAction action;
    AppRunningState::Workflow workflow;
};

const Command commands[] = {
    {"Write Message", &AppDelegate::startMessageTranslation, TelemetryAction::translateMessage,
     AppRunningState::Workflow::messageTranslation},
    {"Rewrite Message", &AppDelegate::startTextWriting, TelemetryAction::writeText,
     AppRunningState::Workflow::textWriting},
    {"Edit Message", &AppDelegate::startTextEditing, TelemetryAction::editText, AppRunningState::Workflow::textEditing},
    {"Flip Language", &AppDelegate::startFlipLanguage, TelemetryAction::flipLanguage,
     AppRunningState::Workflow::flipLanguage},
    {"Create Prompt", &AppDelegate::startCreatePrompt, TelemetryAction::createPrompt,
     AppRunningState::Workflow::createPrompt},
};

}  // namespace

// ---- start and guards

TEST(FocusedTextWorkflows, ARefusedRunLeavesAStartLineAnIgnoredLineAndAFailedEvent) {
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        Desktop desktop;
        AppDelegate& delegate = desktop.make();
        const auto busy = delegate.runningState().begin(command.workflow);
        (delegate.*command.start)(TelemetryTrigger::hotkey);
        const QString action = rawValue(command.action);
        EXPECT_EQ(desktop.workflowLines(), (QStringList{QStringLiteral("workflow start action=") + action,
                                                        QStringLiteral("workflow ignored action=") + action}));
        EXPECT_TRUE(desktop.lines.messages(LogCategory::app).last().contains("reason=workflow_already_in_progress"));
        EXPECT_EQ(
            desktop.events(),
            QStringList{QStringLiteral("action=%1 success=false error=workflow_already_in_progress").arg(action)});
        EXPECT_TRUE(desktop.eventLine(0).contains(QStringLiteral("hotkey=Control+Shift+")))
            << "a shortcut run names its shortcut: " << desktop.eventLine(0).toStdString();
        EXPECT_TRUE(desktop.alerts->shown.empty()) << "a busy refusal shows nothing";
        EXPECT_TRUE(desktop.overlay->calls.isEmpty());
        EXPECT_TRUE(delegate.runningState().isInProgress(command.workflow)) << "the running command keeps its flag";
    }
}

TEST(FocusedTextWorkflows, OnlyCreatePromptWaitsForASelectionTranslation) {
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        Desktop desktop;
        AppDelegate& delegate = desktop.make();
        const auto busy = delegate.runningState().begin(AppRunningState::Workflow::selectionTranslation);
        (delegate.*command.start)(TelemetryTrigger::menu);
        const bool refused = command.action == TelemetryAction::createPrompt;
        EXPECT_EQ(desktop.events().join(' ').contains("workflow_already_in_progress"), refused);
        EXPECT_EQ(delegate.runningState().isInProgress(command.workflow), !refused);
        desktop.settle();
    }
}

TEST(FocusedTextWorkflows, EveryCommandIsRefusedWhileAnyOtherRuns) {
    for (const Command& running : commands) {
        for (const Command& command : commands) {
            Desktop desktop;
            AppDelegate& delegate = desktop.make();
            const auto busy = delegate.runningState().begin(running.workflow);
            (delegate.*command.start)(TelemetryTrigger::menu);
            EXPECT_EQ(desktop.events().size(), 1) << running.name << " then " << command.name;
            EXPECT_TRUE(desktop.events().value(0).endsWith("workflow_already_in_progress"));
        }
    }
}

TEST(FocusedTextWorkflows, ACommandStartedWhileAnotherAwaitsItsTrustCheckIsRefusedAfterwards) {
    QTimer gate;
    gate.setSingleShot(true);
    Desktop desktop;
    desktop.trustGate = &gate;
    AppDelegate& delegate = desktop.make();
    delegate.startMessageTranslation(TelemetryTrigger::hotkey);
    delegate.startTextEditing(TelemetryTrigger::hotkey);
    EXPECT_FALSE(desktop.anyRunning()) << "no flag before the trust answer";
    EXPECT_TRUE(desktop.events().isEmpty()) << "both passed the first busy guard";
    // Both answers arrive at once: the first command takes its flag, the second finds it.
    gate.start(0);
    EXPECT_TRUE(test::waitUntil([&] { return desktop.events().size() == 2; }));
    desktop.settle();
    EXPECT_EQ(desktop.events(), (QStringList{"action=edit_text success=false error=workflow_already_in_progress",
                                             "action=translate_message success=true error=none"}));
    EXPECT_EQ(desktop.log->matching("edit").size(), 0);
}

TEST(FocusedTextWorkflows, WithoutAccessibilityOnlyItsAlertShowsAndNoFlagIsSet) {
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        Desktop desktop;
        desktop.busEnabled = false;
        AppDelegate& delegate = desktop.make();
        (delegate.*command.start)(TelemetryTrigger::menu);
        EXPECT_EQ(desktop.alertTitles(), QStringList{QStringLiteral("Enable Accessibility Access")});
        EXPECT_TRUE(desktop.events().value(0).endsWith("success=false error=accessibility_permission_denied"));
        EXPECT_FALSE(delegate.runningState().isInProgress(command.workflow));
        EXPECT_TRUE(desktop.overlay->calls.isEmpty());
    }
}

TEST(FocusedTextWorkflows, AnAccessibilitySwitchThatStandsOffIsTurnedOnAndTheCommandRuns) {
    Desktop desktop;
    desktop.busEnabled = false;
    desktop.busAcceptsSwitch = true;
    AppDelegate& delegate = desktop.make();
    delegate.startMessageTranslation(TelemetryTrigger::hotkey);
    desktop.settle();
    EXPECT_TRUE(desktop.bus->enabled);
    EXPECT_TRUE(desktop.alerts->shown.empty());
    EXPECT_EQ(desktop.field->text, "Good morning, how are you today? (en>es device)");
    EXPECT_EQ(desktop.events(), QStringList{"action=translate_message success=true error=none"});
}

// A bus too loaded to answer once is asked again and the command runs; one that answers neither
// time fails the command without sending the user to their accessibility settings.
TEST(FocusedTextWorkflows, ABusThatDoesNotAnswerInTimeNeverBringsTheAccessibilityAlert) {
    for (const int unanswered : {1, 2}) {
        SCOPED_TRACE(unanswered);
        Desktop desktop;
        desktop.busUnanswered = unanswered;
        AppDelegate& delegate = desktop.make();
        delegate.startMessageTranslation(TelemetryTrigger::hotkey);
        ASSERT_TRUE(test::waitUntil([&] { return !desktop.events().isEmpty() || desktop.anyRunning(); }));
        desktop.settle();
        EXPECT_TRUE(desktop.alerts->shown.empty());
        if (unanswered == 1) {
            EXPECT_EQ(desktop.events(), QStringList{"action=translate_message success=true error=none"});
        } else {
            EXPECT_EQ(desktop.events(),
                      QStringList{"action=translate_message success=false error=accessibility_bus_no_answer"});
            EXPECT_EQ(desktop.field->text, "Good morning, how are you today?");
        }
    }
}

TEST(FocusedTextWorkflows, OfflineRewriteAndCreatePromptAskForOnlineFeaturesFirstAndRetryWithTheirTrigger) {
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        Desktop desktop([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
        desktop.busEnabled = false;
        AppDelegate& delegate = desktop.make();
        const bool asksOnline =
            command.action == TelemetryAction::writeText || command.action == TelemetryAction::createPrompt;
        if (asksOnline) {
            // Turning online features on runs the command again as it was started; this time
            // only Accessibility stands in its way.
            desktop.alerts->answers = {QStringLiteral("Turn On Online Features")};
        }
        (delegate.*command.start)(TelemetryTrigger::hotkey);
        if (asksOnline) {
            EXPECT_EQ(desktop.alertTitles(), (QStringList{QStringLiteral("Online Features Disabled"),
                                                          QStringLiteral("Enable Accessibility Access")}));
            EXPECT_TRUE(delegate.settingsStore().settings().onlineFeaturesEnabled);
            const QStringList starts = desktop.lines.messages(LogCategory::app).filter("workflow start");
            ASSERT_EQ(starts.size(), 2);
            EXPECT_TRUE(starts[1].contains("trigger=hotkey"));
            EXPECT_TRUE(desktop.events().value(0).endsWith("error=online_features_disabled"));
        } else {
            EXPECT_EQ(desktop.alertTitles(), QStringList{QStringLiteral("Enable Accessibility Access")});
        }
    }
}

TEST(FocusedTextWorkflows, StartLinesAndContextsCarryEachCommandsLanguages) {
    const struct {
        Start start;
        const char* line;
        const char* event;
    } cases[] = {
        {&AppDelegate::startMessageTranslation, "source=auto target=es", "source=auto target=es"},
        {&AppDelegate::startTextWriting, "source=none target=es", "source=none target=none"},
        {&AppDelegate::startTextEditing, "source=es target=es", "source=none target=none"},
        {&AppDelegate::startFlipLanguage, "source=auto target=none", "source=auto target=none"},
        {&AppDelegate::startCreatePrompt, "source=none target=none", "source=none target=none"},
    };
    for (const auto& c : cases) {
        Desktop desktop;
        AppDelegate& delegate = desktop.make();
        // Stop after the start.
        const auto busyWriting = delegate.runningState().begin(AppRunningState::Workflow::messageTranslation);
        const auto busyEditing = delegate.runningState().begin(AppRunningState::Workflow::textEditing);
        (delegate.*c.start)(TelemetryTrigger::menu);
        EXPECT_TRUE(desktop.lines.messages(LogCategory::app).value(0).contains(c.line)) << c.line;
        EXPECT_TRUE(desktop.eventLine(0).contains(c.event)) << desktop.eventLine(0).toStdString();
        EXPECT_TRUE(desktop.eventLine(0).contains("hotkey=none"));
    }
}

// ---- loading card

TEST(FocusedTextWorkflows, TheLoadingTargetIsTheWindowThenTheFieldThenTheScreen) {
    auto front = std::make_shared<test::FakeFrontApplicationProvider>();
    front->setIdentifier(QStringLiteral("gedit"), appPid);
    auto windows = std::make_shared<test::FakeWindowList>();
    auto detector = std::make_shared<ActiveWindowDetector>(front, windows, 1);
    QRectF display(0, 0, 1280, 800);
    FocusedFieldLoadingTargetResolver resolver(detector, [&display] { return display; });
    const QRectF fieldFrame(100, 200, 300, 30);

    windows->windows = {test::listedWindow(7, appPid, QRectF(50, 60, 700, 500))};
    EXPECT_EQ(resolver.resolve(fieldFrame), (FocusedFieldLoadingTarget{QRectF(50, 60, 700, 500), appPid}));

    windows->windows.clear();
    EXPECT_EQ(resolver.resolve(fieldFrame), (FocusedFieldLoadingTarget{fieldFrame, std::nullopt}));
    EXPECT_EQ(resolver.resolve(std::nullopt), (FocusedFieldLoadingTarget{display, std::nullopt}));
    display = QRectF(0, 0, 0, 800);
    EXPECT_EQ(resolver.resolve(std::nullopt), std::nullopt);
    EXPECT_EQ(resolver.resolve(fieldFrame), (FocusedFieldLoadingTarget{fieldFrame, std::nullopt}));
}

TEST(FocusedTextWorkflows, WithNoWindowAndNoScreenTheCardWaitsForTheFieldsFrame) {
    Desktop desktop;
    desktop.windows->windows.clear();
    desktop.mainDisplay = QRectF();
    AppDelegate& delegate = desktop.make();
    delegate.startMessageTranslation(TelemetryTrigger::menu);
    EXPECT_TRUE(desktop.overlay->calls.isEmpty()) << "nothing to cover at the start";
    desktop.settle();
    EXPECT_EQ(desktop.overlay->calls,
              (QStringList{QStringLiteral("loading 100,200 300x30 pid=none Traduciendo... server=0"),
                           QStringLiteral("clear 1")}));

    // A field without a frame: no card at all, and nothing to clear at the end.
    Desktop bare;
    bare.windows->windows.clear();
    bare.mainDisplay = QRectF();
    bare.field->frame = std::nullopt;
    bare.make().startMessageTranslation(TelemetryTrigger::menu);
    bare.settle();
    EXPECT_TRUE(bare.overlay->calls.isEmpty());
}

TEST(FocusedTextWorkflows, EachCommandShowsItsLoadingText) {
    const struct {
        Start start;
        bool online;
        AppLanguage target;
        const char* card;
    } cases[] = {
        {&AppDelegate::startMessageTranslation, true, AppLanguage::spanish, "Traduciendo... server=0"},
        {&AppDelegate::startMessageTranslation, true, AppLanguage::hebrew, "server=1"},
        {&AppDelegate::startMessageTranslation, false, AppLanguage::hebrew, "server=0"},
        {&AppDelegate::startTextWriting, true, AppLanguage::spanish, "Writing... server=1"},
        {&AppDelegate::startTextEditing, true, AppLanguage::spanish, "Editing... server=1"},
        {&AppDelegate::startTextEditing, false, AppLanguage::spanish, "Editing locally... server=0"},
        {&AppDelegate::startFlipLanguage, true, AppLanguage::spanish, "Detecting language... server=1"},
        {&AppDelegate::startFlipLanguage, false, AppLanguage::spanish, "Detecting language... server=0"},
        {&AppDelegate::startCreatePrompt, true, AppLanguage::spanish, "Creating prompt... server=1"},
    };
    for (const auto& c : cases) {
        Desktop desktop([&c](AppSettings& s) {
            s.onlineFeaturesEnabled = c.online;
            s.messageTargetLanguage = c.target;
        });
        AppDelegate& delegate = desktop.make();
        (delegate.*c.start)(TelemetryTrigger::menu);
        ASSERT_FALSE(desktop.overlay->calls.isEmpty()) << c.card;
        EXPECT_TRUE(desktop.overlay->calls[0].startsWith("loading 50,60 700x500 pid=4242 "));
        EXPECT_TRUE(desktop.overlay->calls[0].endsWith(c.card)) << desktop.overlay->calls[0].toStdString();
        desktop.settle();
        EXPECT_EQ(desktop.overlay->calls.last(), "clear 1");
    }
}

// ---- success

TEST(FocusedTextWorkflows, WriteMessageReplacesTheFieldReportsAndCountsTheSuccess) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    delegate.startMessageTranslation(TelemetryTrigger::hotkey);
    EXPECT_TRUE(delegate.isMessageTranslationInProgress());
    desktop.settle();
    EXPECT_EQ(desktop.field->text, "Good morning, how are you today? (en>es device)");
    EXPECT_EQ(desktop.events(), QStringList{"action=translate_message success=true error=none"});
    EXPECT_FALSE(desktop.eventLine(0).contains("durationMs=none"));
    EXPECT_EQ(desktop.shareSuccesses(), 1);
    EXPECT_TRUE(desktop.alerts->shown.empty());
    EXPECT_EQ(desktop.overlay->calls.size(), 2);
    EXPECT_FALSE(delegate.isMessageTranslationInProgress());
}

TEST(FocusedTextWorkflows, ALoadingCardThatFailsToShowLeavesNoCommandBusy) {
    for (const Command& command : commands) {
        Desktop desktop;
        AppDelegate& delegate = desktop.make();
        desktop.overlay->failLoading = true;
        (delegate.*command.start)(TelemetryTrigger::hotkey);
        desktop.settle();
        EXPECT_FALSE(delegate.runningState().isInProgress(command.workflow)) << command.name;
        EXPECT_FALSE(desktop.anyRunning()) << command.name;
        // The next command is not refused as busy.
        desktop.field->setText(QStringLiteral("Good morning, how are you today?"));
        delegate.startMessageTranslation(TelemetryTrigger::hotkey);
        desktop.settle();
        EXPECT_EQ(desktop.field->text, "Good morning, how are you today? (en>es device)") << command.name;
        EXPECT_FALSE(desktop.events().join(' ').contains("workflow_already_in_progress")) << command.name;
    }
}

TEST(FocusedTextWorkflows, TheTwentiethSuccessLeavesTheShareTriggerForTheCardsDismissal) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    desktop.defaults.setInteger(QStringLiteral("sharePromptTotalSuccessCount"), 19);
    delegate.startCreatePrompt(TelemetryTrigger::hotkey);
    desktop.settle();
    EXPECT_EQ(desktop.shareSuccesses(), 20);
    EXPECT_EQ(delegate.pendingSharePromptTrigger(), TelemetryTrigger::hotkey);
}

TEST(FocusedTextWorkflows, EditOfflineWithNothingToCorrectSaysSoAndCountsNoShareSuccess) {
    Desktop desktop([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    AppDelegate& delegate = desktop.make();
    delegate.startTextEditing(TelemetryTrigger::selectionPopup);
    desktop.settle();
    EXPECT_EQ(desktop.events(), QStringList{"action=edit_text success=true error=none"});
    EXPECT_EQ(desktop.alertTitles(), QStringList{"No Local Edits Found"});
    EXPECT_EQ(desktop.alerts->shown[0].message, "Tavrolin did not find safe local corrections for this text.");
    EXPECT_EQ(desktop.shareSuccesses(), 0);
    EXPECT_EQ(desktop.overlay->calls.filter("clear").size(), 1) << "cleared before the alert, not again";
    EXPECT_EQ(desktop.log->matching("edit").size(), 1);
    EXPECT_EQ(desktop.serverEditor->calls, 0);

    // Online, the same unchanged answer is a plain success.
    Desktop online;
    online.make().startTextEditing(TelemetryTrigger::menu);
    online.settle();
    EXPECT_TRUE(online.alerts->shown.empty());
    EXPECT_EQ(online.shareSuccesses(), 1);
}

TEST(FocusedTextWorkflows, FlipReportsTheLanguagesItUsedAndAlwaysClearsItsCard) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    delegate.startFlipLanguage(TelemetryTrigger::selectionPopup);
    desktop.settle();
    EXPECT_EQ(desktop.field->text, "Good morning, how are you today? (en>es device)");
    EXPECT_TRUE(desktop.eventLine(0).contains("source=en target=es success=true"))
        << desktop.eventLine(0).toStdString();
    EXPECT_TRUE(desktop.eventLine(0).contains("trigger=selection_popup"));

    // An empty field is the accessor's to refuse: the command's "Cannot" alert, the card gone.
    Desktop empty;
    empty.field->setText(QString());
    empty.make().startFlipLanguage(TelemetryTrigger::menu);
    empty.settle();
    EXPECT_EQ(empty.events(), QStringList{"action=flip_language success=false error=focused_text_field_empty"});
    EXPECT_EQ(empty.alertTitles(), QStringList{"Cannot Flip Language"});
    EXPECT_EQ(empty.overlay->calls.filter("clear").size(), 2) << "cleared before the alert and at the end";
    EXPECT_FALSE(empty.overlay->panelUp);
}

// The floating buttons hand over the selection they were shown for: Flip and Edit work on it
// and read nothing again (a fresh read could find another field, or another program's).
TEST(FocusedTextWorkflows, TheSelectionButtonsWorkOnTheSelectionTheyWereShownFor) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    delegate.services().selectionPopupTriggerController();
    ASSERT_NE(desktop.trigger, nullptr);
    desktop.field->setText("Good morning, how are you today?", {0, 12});
    FocusedTextFieldSnapshot shown{desktop.field,    desktop.field->text,       QStringLiteral("Good morning"),
                                   TextRange{0, 12}, QRectF(100, 200, 300, 30), desktop.front->frontApplication()};
    auto elsewhere = test::makeField(QStringLiteral("Another field of the program"), {0, 7});
    desktop.ax.systemFocused = elsewhere;  // the focus moved on after the buttons came
    desktop.trigger->onFlip(shown);
    desktop.settle();
    EXPECT_EQ(desktop.field->text, "Good morning (en>es device), how are you today?");
    EXPECT_EQ(elsewhere->text, "Another field of the program");
    EXPECT_TRUE(desktop.eventLine(0).contains("trigger=selection_popup"));
}

TEST(FocusedTextWorkflows, RewriteCoversTheReadWindowWhenNoCardIsUpYet) {
    Desktop desktop;
    desktop.windows->windows.clear();
    desktop.mainDisplay = QRectF();
    desktop.field->frame = std::nullopt;
    AppDelegate& delegate = desktop.make();
    desktop.writer->answer = [](const QString&) { return QStringLiteral("Dear Anna, thank you."); };
    delegate.startTextWriting(TelemetryTrigger::menu);
    desktop.settle();
    EXPECT_EQ(desktop.overlay->calls, (QStringList{"loading 0,0 800x600 pid=4242 Writing... server=1", "clear 1"}));
    EXPECT_EQ(desktop.field->text, "Dear Anna, thank you.");

    // With a card up already, the window's text changes nothing on screen.
    Desktop shown;
    shown.make().startTextWriting(TelemetryTrigger::menu);
    shown.settle();
    EXPECT_EQ(shown.overlay->calls.filter("loading").size(), 1);
}

// ---- failures

TEST(FocusedTextWorkflows, FailuresAreSortedReportedAndShownAfterTheCardIsCleared) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    desktop.serverEditor->error = std::make_exception_ptr(CaptureWorkflowError(Case::textEditingRequestFailed));
    desktop.alerts->onPresent = [&desktop](const Alert&) {
        EXPECT_FALSE(desktop.overlay->panelUp) << "the card is gone before the alert";
        EXPECT_EQ(desktop.events().size(), 1) << "the event is sent before the alert";
    };
    delegate.startTextEditing(TelemetryTrigger::menu);
    desktop.settle();
    EXPECT_EQ(desktop.alertTitles(), QStringList{"Edit Message failed"});
    EXPECT_EQ(desktop.events(), QStringList{"action=edit_text success=false error=text_editing_request_failed"});
    EXPECT_EQ(desktop.workflowLines(), QStringList{"workflow start action=edit_text"}) << "no failure line";
    EXPECT_EQ(desktop.field->text, "Good morning, how are you today?");

    // Not one of ours: logged and shown as unknown.
    Desktop other;
    other.make();
    other.prompter->error = std::make_exception_ptr(std::runtime_error("socket on fire"));
    other.delegate->startCreatePrompt(TelemetryTrigger::menu);
    other.settle();
    EXPECT_EQ(other.workflowLines(),
              (QStringList{"workflow start action=create_prompt", "workflow failure action=create_prompt"}));
    EXPECT_TRUE(other.lines.messages(LogCategory::app).last().contains("errorCode=unknown_error"));
    EXPECT_EQ(other.events(), QStringList{"action=create_prompt success=false error=unknown_error"});
    EXPECT_EQ(other.alertTitles(), QStringList{"Create Prompt failed"});
    EXPECT_EQ(other.alerts->shown[0].message, "socket on fire");
    EXPECT_FALSE(other.delegate->isCreatePromptInProgress());
}

TEST(FocusedTextWorkflows, AFieldThatRefusesTheTextGetsTheCopyWindowAndTheUnderlyingCode) {
    // The field cannot be written through accessibility and the paste chord cannot be typed on
    // this keyboard: the finished translation goes to the copy window, no alert.
    Desktop desktop;
    desktop.field->settable = false;
    desktop.keyboard.canSendV = false;
    AppDelegate& delegate = desktop.make();
    delegate.startMessageTranslation(TelemetryTrigger::menu);
    desktop.settle();
    EXPECT_EQ(desktop.events(),
              QStringList{"action=translate_message success=false error=failed_to_replace_focused_text_field_text"});
    EXPECT_TRUE(desktop.alerts->shown.empty());
    EXPECT_EQ(desktop.field->text, "Good morning, how are you today?");
    ASSERT_NE(delegate.dictationScratchpadWindowController(), nullptr);
    EXPECT_EQ(delegate.dictationScratchpadWindowController()->viewModel().text(),
              "Good morning, how are you today? (en>es device)");
    EXPECT_EQ(desktop.workflowLines(), QStringList{"workflow start action=translate_message"}) << "no failure line";
}

TEST(FocusedTextWorkflows, TheCopyWindowOpensOnlyForTextAndKeepsItAsMade) {
    Desktop desktop;
    AppDelegate& delegate = desktop.make();
    for (const QString& blank : {QString(), QStringLiteral(" \n\t "), QString(QChar(0x2028))}) {
        delegate.presentFocusedTextCopyFallback(blank, false);
        EXPECT_EQ(delegate.dictationScratchpadWindowController(), nullptr) << "nothing to copy, no window";
    }
    const QString padded = QStringLiteral("\n  Hola, ¿qué tal?  \n");
    delegate.presentFocusedTextCopyFallback(padded, false);
    ASSERT_NE(delegate.dictationScratchpadWindowController(), nullptr);
    DictationScratchpadViewModel& model = delegate.dictationScratchpadWindowController()->viewModel();
    EXPECT_EQ(model.mode(), DictationScratchpadViewModel::Mode::copyOnly);
    EXPECT_EQ(model.text(), padded);
    EXPECT_TRUE(desktop.alerts->shown.empty());
}

// The user types on in their field while Rewrite waits for the server: the result goes to the
// copy window, which comes without the keyboard, so the next keys still reach the field. The
// same for keys down as the window comes; otherwise it takes the keyboard. Each presentation
// reuses the window the first one made, which the platform then reads the choice from.
TEST(FocusedTextWorkflows, TheCopyWindowLeavesTheKeyboardToAUserTypingInTheirProgram) {
    Desktop desktop;
    const QString original = desktop.field->text;
    AppDelegate& delegate = desktop.make();
    const auto leavesKeyboard = [&] {
        QWidget* window = delegate.dictationScratchpadWindowController()->window();
        EXPECT_TRUE(window->isVisible());
        return window->windowHandle()->property("_q_showWithoutActivating").toBool();
    };
    delegate.presentFocusedTextCopyFallback(QStringLiteral("not pasted"), false);
    EXPECT_FALSE(leavesKeyboard());

    desktop.writer->answer = [&](const QString&) {
        desktop.field->text += QStringLiteral(" and more");
        return QStringLiteral("Dear team");
    };
    delegate.startTextWriting(TelemetryTrigger::hotkey);
    desktop.settle();
    EXPECT_EQ(desktop.field->text, original + QStringLiteral(" and more"));
    EXPECT_EQ(delegate.dictationScratchpadWindowController()->viewModel().text(), "Dear team");
    EXPECT_TRUE(leavesKeyboard());

    desktop.keyboard.held = SyntheticInput::HeldKeys{false, true};
    delegate.presentFocusedTextCopyFallback(QStringLiteral("a key down"), false);
    EXPECT_TRUE(leavesKeyboard());
    desktop.keyboard.held = SyntheticInput::HeldKeys{};
    delegate.presentFocusedTextCopyFallback(QStringLiteral("keys up"), false);
    EXPECT_FALSE(leavesKeyboard());
}

TEST(FocusedTextWorkflows, NoFocusedFieldEndsEveryCommandWithoutAnyAlert) {
    for (const Command& command : commands) {
        SCOPED_TRACE(command.name);
        Desktop desktop;
        desktop.ax.systemFocused = nullptr;
        desktop.keyboard.field = nullptr;
        desktop.front->set(std::nullopt);
        AppDelegate& delegate = desktop.make();
        (delegate.*command.start)(TelemetryTrigger::menu);
        desktop.settle();
        EXPECT_TRUE(desktop.alerts->shown.empty());
        EXPECT_EQ(
            desktop.events(),
            QStringList{
                QStringLiteral("action=%1 success=false error=no_focused_text_field").arg(rawValue(command.action))});
        EXPECT_FALSE(desktop.overlay->panelUp);
    }
}

TEST(FocusedTextWorkflows, TryAgainRunsTheCommandAgainOnceTheRunThatOfferedItHasEnded) {
    Desktop desktop([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    desktop.device->setAvailability(AppLanguage::english, AppLanguage::spanish,
                                    TranslationPairAvailability::supported);  // not installed
    AppDelegate& delegate = desktop.make();
    desktop.alerts->answers = {QStringLiteral("Try Again")};
    delegate.startMessageTranslation(TelemetryTrigger::hotkey);
    desktop.settle();
    EXPECT_EQ(desktop.alertTitles(), QStringList({"Install Translation Languages", "Install Translation Languages"}));
    EXPECT_EQ(desktop.events(),
              QStringList({"action=translate_message success=false error=translation_language_pair_not_installed",
                           "action=translate_message success=false error=translation_language_pair_not_installed"}));
    EXPECT_FALSE(delegate.isMessageTranslationInProgress());
}

// ---- the field's text is never lost

TEST(FocusedTextWorkflows, TextCutOutOfTheFieldIsPutBackBeforeAnyAlertOrWhenNothingChanged) {
    // An editor that offers no accessible text: the whole-field read cuts the text out.
    const auto cutting = [](Desktop& d) {
        d.front->setIdentifier(QStringLiteral("jetbrains-idea"), appPid);
        d.field->hasText = false;
    };

    Desktop failing;
    cutting(failing);
    failing.make();
    failing.serverEditor->error = std::make_exception_ptr(CaptureWorkflowError(Case::textEditingRequestFailed));
    QString fieldWhenAlerted;
    failing.alerts->onPresent = [&](const Alert&) { fieldWhenAlerted = failing.field->text; };
    failing.delegate->startTextEditing(TelemetryTrigger::menu);
    failing.settle();
    EXPECT_EQ(failing.alertTitles(), QStringList{"Edit Message failed"});
    EXPECT_EQ(fieldWhenAlerted, "Good morning, how are you today?");

    // Write Message on a text already in the second language changes nothing.
    Desktop spanish;
    cutting(spanish);
    spanish.field->setText(QStringLiteral("Buenos días, ¿cómo estás hoy? Espero que todo vaya bien."));
    spanish.make().startMessageTranslation(TelemetryTrigger::menu);
    spanish.settle();
    EXPECT_EQ(spanish.field->text, "Buenos días, ¿cómo estás hoy? Espero que todo vaya bien.");
    EXPECT_EQ(spanish.events(), QStringList{"action=translate_message success=true error=none"});

    // A translation that lands replaces the cut text for good.
    Desktop translated;
    cutting(translated);
    translated.make().startMessageTranslation(TelemetryTrigger::menu);
    translated.settle();
    EXPECT_EQ(translated.field->text, "Good morning, how are you today? (en>es device)");
}

// ---- entries

TEST(FocusedTextWorkflows, WhileTheOnboardingIsOpenCommandsGoToItAndNoWorkflowRuns) {
    Desktop desktop;
    desktop.withOnboarding = true;
    AppDelegate& delegate = desktop.make();
    delegate.showTutorial();
    ASSERT_EQ(desktop.onboardingWindows.size(), 1u);
    delegate.configureSettings();
    delegate.runCommand(HotKeyAction::translateMessage, TelemetryTrigger::menu);
    desktop.grabber->press(rawValue(HotKeyAction::createPrompt));
    EXPECT_EQ(desktop.onboardingWindows[0]->offered,
              (std::vector<HotKeyAction>{HotKeyAction::translateMessage, HotKeyAction::createPrompt}));
    EXPECT_TRUE(desktop.workflowLines().isEmpty());
    EXPECT_FALSE(delegate.isMessageTranslationInProgress());

    // The selection popup's buttons bypass it.
    delegate.startFlipLanguage(TelemetryTrigger::selectionPopup);
    EXPECT_TRUE(delegate.isFlipLanguageInProgress());
    desktop.settle();
}
