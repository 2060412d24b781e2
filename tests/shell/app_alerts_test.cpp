// Every alert's texts and buttons, and what each answer does, through a scripted presenter.
#include "commands/app_alerts.h"

#include "core/app_metadata.h"
#include "diagnostics/diagnostics_export_error.h"
#include "shell/error_messages.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;

class AppAlertsTest : public ::testing::Test {
protected:
    AppAlertsTest()
        : alerts(AppAlerts::Dependencies{
              .presenter = &presenter,
              .openPane = [this](SystemSettingsPane pane) { log << QStringLiteral("open %1").arg(int(pane)); },
              .reportCommand =
                  [this](TelemetryAction action, TelemetryTrigger trigger) {
                      log << QStringLiteral("report %1 %2").arg(rawValue(action), rawValue(trigger));
                  },
              .currentSettings = [this] { return current; },
              .saveSettings =
                  [this](const AppSettings& settings, TelemetryTrigger trigger) {
                      saved.push_back(settings);
                      log << QStringLiteral("save %1").arg(rawValue(trigger));
                      return saveError;
                  },
              .rememberFrontApplication =
                  [this] {
                      log << "remember";
                      return std::function<void()>([this] { log << "reactivate"; });
                  },
          }) {}

    const Alert& only() {
        EXPECT_EQ(presenter.shown.size(), 1u);
        return presenter.shown.back();
    }

    test::ScriptedAlertPresenter presenter;
    QStringList log;
    AppSettings current;
    std::vector<AppSettings> saved;
    std::optional<QString> saveError;
    AppAlerts alerts;
};

const QString kAccessibilityPane = QStringLiteral("open %1").arg(int(SystemSettingsPane::accessibility));
const QString kScreenPane = QStringLiteral("open %1").arg(int(SystemSettingsPane::screenRecording));
const QString kTranslationPane = QStringLiteral("open %1").arg(int(SystemSettingsPane::translationLanguages));

TEST_F(AppAlertsTest, AccessibilityAlertOpensThePaneAfterReportingIt) {
    presenter.answers = {"Open Settings"};
    alerts.showAccessibilitySetupAlert();
    const Alert& alert = only();
    EXPECT_EQ(alert.style, AlertStyle::informational);
    EXPECT_EQ(alert.title, "Enable Accessibility Access");
    EXPECT_EQ(alert.message,
              "Tavrolin needs Accessibility access to read and replace text in other apps.\n\nOpen your desktop's "
              "accessibility settings, turn on assistive technologies (the AT-SPI accessibility bus), then try the "
              "shortcut again.");
    EXPECT_EQ(alert.buttons, (QStringList{"Open Settings", "OK"}));
    EXPECT_FALSE(alert.icon.isNull());
    EXPECT_EQ(log, (QStringList{"report open_accessibility_settings alert", kAccessibilityPane}));

    log.clear();
    alerts.showAccessibilitySetupAlert();  // "OK"
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(AppAlertsTest, ScreenRecordingAlertsByErrorCase) {
    struct Row {
        CaptureWorkflowError error;
        QString title;
        QString message;
    };
    const CaptureWorkflowError other = CaptureWorkflowError::noActiveWindowFound("Editor");
    const std::vector<Row> rows{
        {CaptureWorkflowError(Case::screenshotPermissionDenied), "Finish Screen Recording Setup",
         "The desktop refused screen capture because it is not set up yet.\n\nTo finish setup:\n 1. Log in to an "
         "X11 session (screen capture needs no permission there)\n 2. Quit and reopen Tavrolin\n 3. Press "
         "Control+Shift+T again"},
        {CaptureWorkflowError(Case::screenshotPermissionRequiresRestart), "Restart Tavrolin Once",
         "Screen capture was set up, but the app needs to restart once before capture starts working.\n\nPlease:\n "
         "1. Quit Tavrolin\n 2. Open it again\n 3. Press Control+Shift+T again"},
        {other, "Screen Recording Access Needed", makeMessage(other)},
    };
    for (const Row& row : rows) {
        presenter.shown.clear();
        log.clear();
        presenter.answers = {"Open Settings"};
        alerts.showScreenRecordingSetupAlert(row.error, "Control+Shift+T");
        const Alert& alert = only();
        EXPECT_EQ(alert.title, row.title);
        EXPECT_EQ(alert.message, row.message);
        EXPECT_EQ(alert.buttons, (QStringList{"Open Settings", "OK"}));
        EXPECT_EQ(log, (QStringList{"report open_screen_recording_settings alert", kScreenPane}));
    }
}

TEST_F(AppAlertsTest, TranslationAlertsByErrorCase) {
    const auto unavailable = CaptureWorkflowError::serverTranslationUnavailable("German", "Russian");
    alerts.showTranslationSetupAlert(unavailable);
    EXPECT_EQ(only().title, "Server Translation Unavailable");
    EXPECT_EQ(only().message,
              "Tavrolin could not reach the translation server.\n\nTo translate without the server, install the "
              "Apertium language pair packages with your package manager for:\n\u2022 German\n\u2022 "
              "Russian\n\nAfter the languages are installed, try the translation again.");
    EXPECT_EQ(only().buttons, (QStringList{"Open Settings", "OK"}));

    presenter.shown.clear();
    const auto notInstalled = CaptureWorkflowError::translationLanguagePairNotInstalled("German", "Russian");
    alerts.showTranslationSetupAlert(notInstalled);
    EXPECT_EQ(only().title, "Install Translation Languages");
    EXPECT_EQ(only().message,
              "Tavrolin found German, but this computer can\u2019t translate it to Russian yet because those "
              "languages are not installed.\n\nInstall the Apertium language pair packages with your package "
              "manager for:\n\u2022 German\n\u2022 Russian");

    presenter.shown.clear();
    const CaptureWorkflowError noText(Case::noTextSelected);
    alerts.showTranslationSetupAlert(noText);
    EXPECT_EQ(only().title, "Translation Setup Needed");
    EXPECT_EQ(only().message, noText.errorDescription());  // no suggestion: no trailing blank lines
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(AppAlertsTest, TranslationAlertRetryRunsOnceAfterTheAlertClosed) {
    const auto error = CaptureWorkflowError::translationLanguagePairNotInstalled("German", "Russian");
    int retries = 0;
    bool alertOpen = false;
    presenter.onPresent = [&](const Alert&) { alertOpen = true; };
    presenter.answers = {"Try Again"};
    alerts.showTranslationSetupAlert(error, [&] {
        ++retries;
        EXPECT_TRUE(alertOpen);  // the scripted alert has answered by now
    });
    EXPECT_EQ(only().buttons, (QStringList{"Open Settings", "Try Again", "OK"}));
    EXPECT_EQ(retries, 1);

    presenter.answers = {"Open Settings"};
    alerts.showTranslationSetupAlert(error, [&] { ++retries; });
    EXPECT_EQ(retries, 1);
    EXPECT_EQ(log, (QStringList{"report open_translation_language_settings alert", kTranslationPane}));

    presenter.answers = {"OK"};
    alerts.showTranslationSetupAlert(error, [&] { ++retries; });
    EXPECT_EQ(retries, 1);
}

TEST_F(AppAlertsTest, TurningOnOnlineFeaturesAlsoTurnsOnStatisticsThenReactivatesAndRetries) {
    current.onlineFeaturesEnabled = false;
    current.telemetryEnabled = false;
    current.targetLanguage = AppLanguage::german;
    presenter.answers = {"Turn On Online Features"};
    int retries = 0;
    alerts.showOnlineFeaturesDisabledAlert([&] {
        ++retries;
        log << "retry";
    });
    EXPECT_EQ(only().title, "Online Features Disabled");
    EXPECT_EQ(only().message,
              "Enable online features in Tavrolin Settings to use server-backed translation, text "
              "editing, writing, updates, and usage statistics.");
    EXPECT_EQ(only().buttons, (QStringList{"Turn On Online Features", "OK"}));
    ASSERT_EQ(saved.size(), 1u);
    AppSettings expected = current;
    expected.onlineFeaturesEnabled = true;
    expected.telemetryEnabled = true;
    EXPECT_EQ(saved[0], expected);
    EXPECT_EQ(log, (QStringList{"remember", "save alert", "reactivate", "retry"}));
}

TEST_F(AppAlertsTest, OnlineFeaturesWithoutRetryStillReactivates) {
    presenter.answers = {"Turn On Online Features"};
    alerts.showOnlineFeaturesDisabledAlert();
    EXPECT_EQ(log, (QStringList{"remember", "save alert", "reactivate"}));
}

TEST_F(AppAlertsTest, AFailedSaveShowsItsTextAndNeitherRetriesNorReactivates) {
    presenter.answers = {"Turn On Online Features"};
    saveError = "Control+Shift+T is already in use.";
    int retries = 0;
    alerts.showOnlineFeaturesDisabledAlert([&] { ++retries; });
    ASSERT_EQ(presenter.shown.size(), 2u);
    const Alert& failure = presenter.shown[1];
    EXPECT_EQ(failure.style, AlertStyle::warning);
    EXPECT_EQ(failure.title, "Could Not Enable Online Features");
    EXPECT_EQ(failure.message, *saveError);
    EXPECT_EQ(failure.buttons, QStringList{"OK"});
    EXPECT_EQ(retries, 0);
    EXPECT_EQ(log, (QStringList{"remember", "save alert"}));
}

TEST_F(AppAlertsTest, AnsweringOKChangesNothing) {
    alerts.showOnlineFeaturesDisabledAlert([] { FAIL(); });
    EXPECT_TRUE(saved.empty());
    EXPECT_EQ(log, QStringList{"remember"});
}

TEST_F(AppAlertsTest, PlainAlertsDifferOnlyInStyleAndKeepAGivenIcon) {
    QPixmap red(8, 8);
    red.fill(Qt::red);
    alerts.showInformationalAlert("Title", "Message", QIcon(red));
    alerts.showAlert("Title", "Message");
    ASSERT_EQ(presenter.shown.size(), 2u);
    EXPECT_EQ(presenter.shown[0].style, AlertStyle::informational);
    EXPECT_EQ(presenter.shown[1].style, AlertStyle::warning);
    for (const Alert& alert : presenter.shown) {
        EXPECT_EQ(alert.title, "Title");
        EXPECT_EQ(alert.message, "Message");
        EXPECT_EQ(alert.buttons, QStringList{"OK"});
        EXPECT_FALSE(alert.icon.isNull());
    }
    EXPECT_EQ(presenter.shown[0].icon.pixmap(8, 8).toImage().pixelColor(4, 4), QColor(Qt::red));
}

TEST_F(AppAlertsTest, OpenersReportTheirTriggerBeforeOpening) {
    alerts.openAccessibilitySettings(TelemetryTrigger::onboarding);
    alerts.openScreenRecordingSettings(TelemetryTrigger::overlay);
    alerts.openTranslationLanguageSettings();
    EXPECT_EQ(log, (QStringList{"report open_accessibility_settings onboarding", kAccessibilityPane,
                                "report open_screen_recording_settings overlay", kScreenPane,
                                "report open_translation_language_settings alert", kTranslationPane}));
}

TEST(MakeMessage, JoinsDescriptionAndSuggestion) {
    const auto inUse = CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+R");
    ASSERT_TRUE(inUse.recoverySuggestion());
    EXPECT_EQ(makeMessage(inUse), inUse.errorDescription() + "\n\n" + *inUse.recoverySuggestion());
    EXPECT_EQ(makeMessage(std::make_exception_ptr(inUse)), makeMessage(inUse));

    const CaptureWorkflowError noSuggestion(Case::captureAlreadyInProgress);
    EXPECT_EQ(makeMessage(noSuggestion), noSuggestion.errorDescription());

    const auto diagnostics = DiagnosticsExportError::destinationIsFolder("/tmp/x");
    EXPECT_EQ(makeMessage(diagnostics), diagnostics.description() + "\n\n" + diagnostics.recoverySuggestion());

    EXPECT_EQ(makeMessage(std::runtime_error("disk full")), "disk full");
    EXPECT_EQ(makeMessage(std::make_exception_ptr(42)), "An unknown error occurred.");
}

}  // namespace
}  // namespace tavrolin
