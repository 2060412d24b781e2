// Translate Selection and the Translate command's routing, run through the delegate over the
// in-memory desktop: guards, the loading card before the popup, the notice, alerts by error,
// retries, and the selection probe on virtual time.
#include "commands/create_prompt_command.h"
#include "commands/flip_language_command.h"
#include "commands/message_translation_command.h"
#include "commands/selection_translation_command.h"
#include "commands/smart_translation_selection_resolver.h"
#include "commands/text_editing_command.h"
#include "commands/text_writing_command.h"
#include "support/delegate_harness.h"

using namespace tavrolin;
using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;
using Desktop = test::FocusedFieldDesktop;
constexpr qint64 appPid = Desktop::appPid;

namespace {

const QString spanish = QStringLiteral("Buenos días, ¿cómo estás hoy? Espero que todo vaya bien en tu trabajo.");

FocusedTextFieldSnapshot selectionSnapshot(const QString& text) {
    FocusedTextFieldSnapshot snapshot;
    snapshot.fullText = text;
    snapshot.selectedText = text;
    return snapshot;
}

struct SelectionDesktop : Desktop {
    using Desktop::Desktop;
    AppDelegate& start() {
        AppDelegate& d = make();
        d.services().selectionTranslationPopupPresenter();
        popup->journal = &overlay->calls;
        return d;
    }
    void select(const QString& text) { field->setText(text, {0, static_cast<qsizetype>(text.size())}); }
    // Turns the event loop and virtual time until the selection run (and any routing) is over.
    void settleSelection() {
        for (int i = 0; i < 400; ++i) {
            QCoreApplication::processEvents();
            scheduler->advance(10ms);
        }
        EXPECT_FALSE(delegate->isSelectionTranslationInProgress()) << "the run did not end";
    }
    QStringList routes() const {
        QStringList out;
        for (const QString& line : lines.messages(LogCategory::app)) {
            if (line.startsWith(QStringLiteral("workflow route "))) {
                out << line.section(QStringLiteral(" decision="), 1).section(QStringLiteral(" frontmost="), 0, 0);
            }
        }
        return out;
    }
    QStringList starts() const { return lines.messages(LogCategory::app).filter(QStringLiteral("workflow start")); }
};

// ---- the workflow

TEST(SelectionTranslationWorkflow, AGivenSelectionSkipsTheTrustCheckAndTheCardGoesBeforeThePopup) {
    SelectionDesktop desktop;
    desktop.busEnabled = false;  // not trusted: no matter with a selection in hand
    AppDelegate& delegate = desktop.start();
    delegate.startSelectionTranslation(TelemetryTrigger::hotkey, selectionSnapshot(spanish));
    EXPECT_TRUE(desktop.starts().value(0).contains(QStringLiteral("action=translate_selection trigger=hotkey")));
    EXPECT_TRUE(desktop.starts().value(0).contains(QStringLiteral("detail=initial_snapshot")));
    EXPECT_TRUE(delegate.isSelectionTranslationInProgress());
    desktop.settleSelection();

    const QStringList& calls = desktop.overlay->calls;
    ASSERT_EQ(calls.size(), 3) << calls.join('\n').toStdString();
    EXPECT_TRUE(calls[0].startsWith(QStringLiteral("loading 50,60 700x500 pid=4242")));
    EXPECT_EQ(calls[1], QStringLiteral("clear 1"));
    EXPECT_TRUE(calls[2].startsWith(QStringLiteral("present ") + spanish));
    EXPECT_TRUE(calls[2].endsWith(QStringLiteral("over 50,60 700x500")));
    ASSERT_EQ(desktop.popup->results.size(), 1u);
    EXPECT_EQ(desktop.popup->results[0].sourceLanguage, AppLanguage::spanish);
    EXPECT_EQ(desktop.popup->results[0].targetLanguage, AppLanguage::english);
    EXPECT_TRUE(desktop.alerts->shown.empty());
    EXPECT_TRUE(desktop.eventLine(0).contains(QStringLiteral("success=true error=none")));
    EXPECT_TRUE(desktop.eventLine(1).isEmpty());
    EXPECT_EQ(desktop.shareSuccesses(), 1);
}

TEST(SelectionTranslationWorkflow, AnyOfTheSixFlagsRefusesTheRunQuietly) {
    using Workflow = AppRunningState::Workflow;
    const std::vector<Workflow> flags{Workflow::selectionTranslation, Workflow::messageTranslation,
                                      Workflow::textEditing,          Workflow::textWriting,
                                      Workflow::flipLanguage,         Workflow::createPrompt};
    for (const auto flag : flags) {
        SelectionDesktop desktop;
        AppDelegate& delegate = desktop.start();
        auto busy = delegate.runningState().begin(flag);
        delegate.startSelectionTranslation(TelemetryTrigger::selectionPopup);
        EXPECT_EQ(desktop.workflowLines(), (QStringList{"workflow start action=translate_selection",
                                                        "workflow ignored action=translate_selection"}));
        EXPECT_TRUE(desktop.eventLine(0).contains(QStringLiteral("workflow_already_in_progress")));
        EXPECT_TRUE(desktop.overlay->calls.isEmpty());
        EXPECT_TRUE(desktop.alerts->shown.empty());
        busy.end();
        EXPECT_FALSE(delegate.isSelectionTranslationInProgress());
    }
}

TEST(SelectionTranslationWorkflow, WithoutASelectionInHandTrustIsCheckedAndTheFieldRead) {
    SelectionDesktop untrusted;
    untrusted.busEnabled = false;
    untrusted.start().startSelectionTranslation(TelemetryTrigger::selectionPopup);
    EXPECT_TRUE(untrusted.eventLine(0).contains(QStringLiteral("accessibility_permission_denied")));
    EXPECT_EQ(untrusted.alerts->shown.size(), 1u);
    EXPECT_FALSE(untrusted.delegate->isSelectionTranslationInProgress());

    SelectionDesktop desktop;
    AppDelegate& delegate = desktop.start();
    desktop.select(spanish);
    delegate.startSelectionTranslation(TelemetryTrigger::selectionPopup);
    EXPECT_FALSE(desktop.starts().value(0).contains(QStringLiteral("initial_snapshot")));
    desktop.settleSelection();
    ASSERT_EQ(desktop.popup->calls.size(), 1);
    EXPECT_TRUE(desktop.popup->calls[0].startsWith(QStringLiteral("present ") + spanish));
}

TEST(SelectionTranslationWorkflow, NothingOrBlanksSelectedShowTheNoticeAndNoAlert) {
    for (const QString& selection : {QString(), QStringLiteral("  \n\t \n")}) {
        SelectionDesktop desktop;
        AppDelegate& delegate = desktop.start();
        delegate.startSelectionTranslation(TelemetryTrigger::hotkey, selectionSnapshot(selection));
        desktop.settleSelection();
        EXPECT_EQ(desktop.popup->calls, QStringList{"nothing selected over 50,60 700x500"});
        EXPECT_TRUE(desktop.eventLine(0).contains(QStringLiteral("success=false error=no_text_selected")));
        EXPECT_TRUE(desktop.alerts->shown.empty());
        EXPECT_TRUE(desktop.workflowLines().filter(QStringLiteral("failed")).isEmpty());
        EXPECT_FALSE(desktop.overlay->panelUp);
    }
}

TEST(SelectionTranslationWorkflow, ALongSelectionAndAMissingPairEndInTheirAlerts) {
    SelectionDesktop desktop([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    AppDelegate& delegate = desktop.start();
    delegate.startSelectionTranslation(TelemetryTrigger::hotkey, selectionSnapshot(QString(5001, u'a')));
    desktop.settleSelection();
    EXPECT_EQ(desktop.alertTitles(), QStringList{"Selection Too Long"});
    EXPECT_TRUE(desktop.popup->calls.isEmpty());
    EXPECT_FALSE(desktop.overlay->panelUp);

    // Spanish to English not installed: Try Again starts over with the alert trigger and reads
    // the selection afresh.
    desktop.device->setAvailability(AppLanguage::spanish, AppLanguage::english, TranslationPairAvailability::supported);
    desktop.alerts->answers = {QStringLiteral("Try Again")};
    desktop.select(spanish);
    delegate.startSelectionTranslation(TelemetryTrigger::hotkey, selectionSnapshot(spanish));
    desktop.settleSelection();
    EXPECT_EQ(desktop.alertTitles().value(1), QStringLiteral("Install Translation Languages"));
    const QStringList starts = desktop.starts();
    ASSERT_EQ(starts.size(), 3);
    EXPECT_TRUE(starts[2].contains(QStringLiteral("trigger=alert")));
    EXPECT_FALSE(starts[2].contains(QStringLiteral("initial_snapshot")));
    // The retry really ran once its alert's run had ended: it read the selection again and met
    // the missing pair again, rather than being refused as a second run beside the first.
    EXPECT_EQ(desktop.alertTitles().value(2), QStringLiteral("Install Translation Languages"));
    EXPECT_EQ(desktop.events().value(2),
              QStringLiteral("action=translate_selection success=false error=translation_language_pair_not_installed"));
    EXPECT_TRUE(desktop.lines.messages(LogCategory::app).filter(QStringLiteral("workflow ignored")).isEmpty());
}

// The alert holds the focus, and the window it covered gets it back through the window manager
// a moment after it closed: Try Again reads only then, never our own window.
TEST(SelectionTranslationWorkflow, TryAgainReadsOnceTheWindowTheAlertCoveredIsInFrontAgain) {
    SelectionDesktop desktop([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    AppDelegate& delegate = desktop.start();
    desktop.device->setAvailability(AppLanguage::spanish, AppLanguage::english, TranslationPairAvailability::supported);
    desktop.alerts->answers = {QStringLiteral("Try Again")};
    desktop.alerts->onPresent = [&desktop](const auto&) {
        desktop.front->setIdentifier(QStringLiteral("tavrolin"), QCoreApplication::applicationPid());
    };
    desktop.select(spanish);
    delegate.startSelectionTranslation(TelemetryTrigger::hotkey, selectionSnapshot(spanish));
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        desktop.scheduler->advance(10ms);
    }
    EXPECT_EQ(desktop.starts().size(), 1) << "Try Again started while our alert was in front";

    desktop.front->setIdentifier(QStringLiteral("gedit"), appPid);
    desktop.settleSelection();
    const QStringList starts = desktop.starts();
    ASSERT_EQ(starts.size(), 2);
    EXPECT_TRUE(starts[1].contains(QStringLiteral("trigger=alert")));
    EXPECT_TRUE(starts[1].contains(QStringLiteral("frontmost=gedit")));
    EXPECT_EQ(desktop.events().value(1),
              QStringLiteral("action=translate_selection success=false error=translation_language_pair_not_installed"));
}

// ---- the Translate command

TEST(SmartTranslation, ASelectionIsTranslatedAtTheFirstLook) {
    SelectionDesktop desktop;
    AppDelegate& delegate = desktop.start();
    desktop.select(spanish);
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    desktop.settleSelection();
    EXPECT_EQ(desktop.routes(), QStringList{"selection_found detail=attempts=1"});
    EXPECT_TRUE(desktop.starts().value(0).contains(QStringLiteral("action=translate_selection trigger=hotkey")));
    EXPECT_TRUE(desktop.starts().value(0).contains(QStringLiteral("initial_snapshot")));
    EXPECT_EQ(desktop.popup->results.size(), 1u);
}

TEST(SmartTranslation, ASelectionArrivingLateIsFoundAtTheSecondLook) {
    SelectionDesktop desktop;
    AppDelegate& delegate = desktop.start();
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(desktop.routes().isEmpty());
    desktop.select(spanish);
    desktop.settleSelection();
    EXPECT_EQ(desktop.routes(), QStringList{"selection_found detail=attempts=2"});
}

TEST(SmartTranslation, NoSelectionCostsThreeLooksThenTheWindowIsCaptured) {
    SelectionDesktop desktop;
    AppDelegate& delegate = desktop.start();
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    desktop.scheduler->advance(119ms);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    desktop.scheduler->advance(120ms);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(desktop.routes().isEmpty()) << "the third look waits 120 ms after the second";
    desktop.settleSelection();
    EXPECT_EQ(desktop.routes(), (QStringList{"selection_not_found detail=attempts=3", "fallback_capture detail=none"}));
    EXPECT_TRUE(desktop.starts().value(0).contains(
        QStringLiteral("action=capture_and_translate_active_window trigger=hotkey")));
    EXPECT_TRUE(desktop.popup->calls.isEmpty());
}

TEST(SmartTranslation, WithoutAnAccessibleElementOneLookAtPrimaryDecidesAndNoKeyIsPressed) {
    // A terminal: no accessible focused element, keys would reach its job.
    SelectionDesktop desktop;
    desktop.ax.systemFocused = nullptr;
    desktop.keyboard.field = test::makeField(QStringLiteral("typed"), {0, 5});
    AppDelegate& delegate = desktop.start();
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    // Decided without waiting: no virtual time has passed.
    EXPECT_EQ(desktop.routes(), (QStringList{"selection_not_found detail=attempts=1", "fallback_capture detail=none"}));

    SelectionDesktop selected;
    selected.ax.systemFocused = nullptr;
    selected.primary.hold(spanish, appPid);
    AppDelegate& other = selected.start();
    other.startSmartTranslation(TelemetryTrigger::hotkey);
    selected.settleSelection();
    EXPECT_EQ(selected.routes(), QStringList{"selection_found detail=attempts=1"});
    ASSERT_EQ(selected.popup->results.size(), 1u);
    for (const SelectionDesktop* d : {&desktop, &selected}) {
        EXPECT_TRUE(d->keyboard.chords.isEmpty()) << d->keyboard.chords.join(' ').toStdString();
        EXPECT_EQ(d->clipboard.formats, (ClipboardContents{{"text/plain", "user clipboard"}}));
    }
}

TEST(SmartTranslation, WithoutTrustNothingIsReadAndTheWindowIsCaptured) {
    SelectionDesktop desktop;
    desktop.busEnabled = false;
    AppDelegate& delegate = desktop.start();
    desktop.select(spanish);
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    desktop.settleSelection();
    EXPECT_EQ(desktop.routes(), (QStringList{"selection_probe_failed detail=errorCode=accessibility_permission_denied",
                                             "fallback_capture detail=none"}));
    EXPECT_TRUE(desktop.ax.calls.isEmpty());
}

TEST(SmartTranslation, ProbeFailuresAreClassifiedAndWorded) {
    using Resolver = SmartTranslationSelectionResolver;
    using Outcome = SmartTranslationSelectionProbeOutcome;
    const auto error = [](Case c) { return std::make_exception_ptr(CaptureWorkflowError(c)); };
    EXPECT_EQ(Resolver::outcome(error(Case::accessibilityPermissionDenied), 2), Outcome::denied());
    for (Case c : {Case::noFocusedTextField, Case::focusedTextFieldEmpty, Case::noTextSelected}) {
        EXPECT_TRUE(Resolver::isRetried(error(c)));
        EXPECT_EQ(Resolver::outcome(error(c), 3), Outcome::notFound(3));
    }
    EXPECT_FALSE(Resolver::isRetried(error(Case::focusedTextFieldReadOnly)));
    EXPECT_FALSE(Resolver::isRetried(std::make_exception_ptr(std::runtime_error("bus gone"))));
    EXPECT_EQ(Resolver::route(Resolver::outcome(std::make_exception_ptr(std::runtime_error("bus gone")), 1)),
              (Resolver::Route{"selection_probe_failed", "attempts=1 errorCode=unknown_error"}));
    EXPECT_EQ(Resolver::route(Resolver::outcome(error(Case::focusedTextFieldReadOnly), 2)),
              (Resolver::Route{"selection_probe_failed", "attempts=2 errorCode=focused_text_field_read_only"}));
}

TEST(SmartTranslation, ABlankSelectionCountsAsFoundAndEndsInTheNotice) {
    SelectionDesktop desktop;
    AppDelegate& delegate = desktop.start();
    desktop.select(QStringLiteral("   "));
    delegate.startSmartTranslation(TelemetryTrigger::hotkey);
    desktop.settleSelection();
    EXPECT_EQ(desktop.routes(), QStringList{"selection_found detail=attempts=1"});
    EXPECT_EQ(desktop.popup->calls, QStringList{"nothing selected over 50,60 700x500"});
}

}  // namespace
