#include "core/telemetry_event_reporter.h"

#include "core/app_settings_store.h"
#include "core/user_language_preferences_service.h"
#include "support/fakes/memory_log_sink.h"

#include <gtest/gtest.h>
#include <vector>

using namespace tavrolin;

namespace {

class RecordingTelemetryClient final : public TelemetryClient {
public:
    void send(const TelemetryEvent& event) override { events.push_back(event); }
    std::vector<TelemetryEvent> events;
};

class FixedSettings final : public AppSettingsProviding {
public:
    AppSettings settings() const override { return value; }
    AppSettings value;
};

// A reporter over fakes whose clock the test moves by hand.
struct Harness {
    std::shared_ptr<RecordingTelemetryClient> client = std::make_shared<RecordingTelemetryClient>();
    FixedSettings settings;
    InMemoryDefaultsStore defaults;
    DeviceIdentifier identifier{defaults};
    QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 30, 250), Qt::UTC);
    std::optional<QString> front = QStringLiteral("org.example.Chat");
    QJsonObject info{{"CFBundleShortVersionString", "2.3.0"}, {"CFBundleVersion", "41"}};
    test::ScopedLogCapture log;

    std::unique_ptr<TelemetryEventReporter> reporter() {
        return std::make_unique<TelemetryEventReporter>(
            client, settings, identifier, InfoDictionary(info), [this] { return front; },
            [] { return QStringLiteral("6.1.0"); }, [] { return QLocale(QStringLiteral("de_DE")); },
            [this] { return now; });
    }
    QStringList lines() const { return log.messages(LogCategory::telemetry); }
};

}  // namespace

TEST(TelemetryEventReporter, WritesTheLineAlwaysAndSendsOnlyWithBothSwitchesOn) {
    struct Case {
        bool telemetry;
        bool online;
        bool sent;
    };
    for (const Case c :
         {Case{true, true, true}, Case{true, false, false}, Case{false, true, false}, Case{false, false, false}}) {
        Harness h;
        h.settings.value.telemetryEnabled = c.telemetry;
        h.settings.value.onlineFeaturesEnabled = c.online;
        auto reporter = h.reporter();
        const auto context = reporter->makeContext(TelemetryAction::openSettings, TelemetryTrigger::menu);
        reporter->send(context);
        EXPECT_EQ(h.lines().size(), 1) << c.telemetry << c.online;
        EXPECT_EQ(h.client->events.size(), c.sent ? 1u : 0u) << c.telemetry << c.online;
    }
}

TEST(TelemetryEventReporter, MenuCommandCarriesNoOutcomeButTheFrontApplication) {
    Harness h;
    auto reporter = h.reporter();
    const auto context = reporter->makeContext(TelemetryAction::openSettings, TelemetryTrigger::menu);
    h.now = h.now.addSecs(3);
    reporter->send(context);
    ASSERT_EQ(h.lines().size(), 1);
    EXPECT_EQ(h.lines().first(),
              "event action=open_settings trigger=menu hotkey=none source=none target=none success=none "
              "error=none durationMs=none targetApp=org.example.Chat");
    ASSERT_EQ(h.client->events.size(), 1u);
    const TelemetryEvent& event = h.client->events.front();
    EXPECT_EQ(event.targetAppBundleId, QStringLiteral("org.example.Chat"));
    EXPECT_EQ(event.eventTime, context.startedAt) << "the event time is when the action started";
    EXPECT_FALSE(event.success.has_value());
    EXPECT_FALSE(event.durationMs.has_value());
    EXPECT_FALSE(event.hotkeyConfig.has_value());
    EXPECT_EQ(event.userId, h.identifier.currentResolution().idText());
    EXPECT_EQ(event.appVersion, QStringLiteral("2.3.0"));
    EXPECT_EQ(event.appBuild, QStringLiteral("41"));
    EXPECT_EQ(event.osName, QStringLiteral("Linux"));
    EXPECT_EQ(event.osVersion, QStringLiteral("6.1.0"));
    EXPECT_EQ(event.uiLocale, QStringLiteral("de_DE"));
    EXPECT_FALSE(event.messageTargetLanguage.has_value()) << "no snapshot, no settings fields";
}

TEST(TelemetryEventReporter, DurationsAreWholeMillisecondsNeverNegative) {
    struct Case {
        qint64 elapsedMs;
        std::optional<qint64> reported;
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{1500, 1500}, Case{-2000, 0}}) {
        Harness h;
        auto reporter = h.reporter();
        const auto context = reporter->makeContext(TelemetryAction::editText, TelemetryTrigger::menu);
        h.now = h.now.addMSecs(c.elapsedMs);
        reporter->send(context, true, std::nullopt, true);
        ASSERT_EQ(h.client->events.size(), 1u);
        EXPECT_EQ(h.client->events.front().durationMs, c.reported) << c.elapsedMs;
        EXPECT_TRUE(h.lines().first().contains(QStringLiteral("durationMs=%1").arg(*c.reported)));
    }
    // A broken clock (an invalid time) never produces a number.
    Harness h;
    auto reporter = h.reporter();
    const auto context = reporter->makeContext(TelemetryAction::editText, TelemetryTrigger::menu);
    h.now = QDateTime();
    reporter->send(context, true, std::nullopt, true);
    ASSERT_EQ(h.client->events.size(), 1u);
    EXPECT_FALSE(h.client->events.front().durationMs.has_value());
    EXPECT_TRUE(h.lines().first().contains(QStringLiteral("durationMs=none")));
    EXPECT_EQ(TelemetryEventReporter::durationMilliseconds(
                  QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2, Qt::UTC),
                  QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max() / 2 + 10, Qt::UTC)),
              std::nullopt)
        << "a difference outside 64 bits is left out, not wrapped";
}

TEST(TelemetryEventReporter, RefusalAndFailureCarryTheirCodes) {
    Harness h;
    auto reporter = h.reporter();
    const auto context = reporter->makeContext(TelemetryAction::translateMessage, TelemetryTrigger::hotkey,
                                               AppLanguage::russian, AppLanguage::english);
    h.now = h.now.addMSecs(42);
    reporter->send(context, false, QStringLiteral("workflow_already_in_progress"), true);
    ASSERT_EQ(h.client->events.size(), 1u);
    const TelemetryEvent& event = h.client->events.front();
    EXPECT_EQ(event.success, false);
    EXPECT_EQ(event.errorCode, QStringLiteral("workflow_already_in_progress"));
    EXPECT_EQ(event.durationMs, 42);
    EXPECT_EQ(event.sourceLanguage, QStringLiteral("ru"));
    EXPECT_EQ(event.targetLanguage, QStringLiteral("en"));
    EXPECT_EQ(h.lines().first(),
              "event action=translate_message trigger=hotkey hotkey=Control+Shift+W source=ru target=en "
              "success=false error=workflow_already_in_progress durationMs=42 targetApp=org.example.Chat");
}

TEST(TelemetryEventReporter, HotkeyDescriptionOnlyForShortcutTriggers) {
    Harness h;
    auto reporter = h.reporter();
    struct Case {
        TelemetryAction action;
        TelemetryTrigger trigger;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {TelemetryAction::captureAndTranslateActiveWindow, TelemetryTrigger::hotkey, "Control+Shift+T"},
        {TelemetryAction::translateSelection, TelemetryTrigger::hotkey, "Control+Shift+T"},
        {TelemetryAction::captureAndTranslateActiveWindow, TelemetryTrigger::menu, std::nullopt},
        {TelemetryAction::flipLanguage, TelemetryTrigger::hotkey, "Control+Shift+F"},
        {TelemetryAction::createPrompt, TelemetryTrigger::hotkey, "Control+Shift+P"},
        {TelemetryAction::openDictationScratchpad, TelemetryTrigger::hotkey, std::nullopt},
        {TelemetryAction::editText, TelemetryTrigger::selectionPopup, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reporter->makeContext(c.action, c.trigger).hotkeyConfig, c.expected)
            << rawValue(c.action).toStdString();
    }
    // The shortcut is read from the settings of the moment.
    h.settings.value.editTextShortcut = HotKeyShortcut{HotKeyKey::f5, false, true, false, false};
    EXPECT_EQ(reporter->makeContext(TelemetryAction::editText, TelemetryTrigger::hotkey).hotkeyConfig,
              QStringLiteral("Alt+F5"));
}

TEST(TelemetryEventReporter, SnapshotFillsTheSettingsFieldsAndVersionsFallBack) {
    Harness h;
    h.info = QJsonObject{{"CFBundleShortVersionString", ""}, {"CFBundleVersion", 7}};
    auto reporter = h.reporter();
    TelemetrySettingsSnapshot snapshot{AppLanguage::german, AppLanguage::french, true, false, true};
    const auto context = reporter->makeContext(TelemetryAction::saveSettings, TelemetryTrigger::settings, std::nullopt,
                                               AppLanguage::korean, snapshot);
    reporter->send(context, true, std::nullopt, true);
    ASSERT_EQ(h.client->events.size(), 1u);
    const TelemetryEvent& event = h.client->events.front();
    EXPECT_EQ(event.appVersion, QStringLiteral("0.1.0"));
    EXPECT_EQ(event.appBuild, QStringLiteral("0")) << "a build that is not text counts as missing";
    EXPECT_EQ(event.messageTargetLanguage, QStringLiteral("fr"));
    EXPECT_EQ(event.launchAtLoginEnabled, true);
    EXPECT_EQ(event.telemetryPreferenceEnabled, false);
    EXPECT_EQ(event.onlineFeaturesEnabled, true);
    EXPECT_EQ(event.targetLanguage, QStringLiteral("ko")) << "the snapshot's native language is not used";
}

TEST(TelemetryEventReporter, InstallIsReportedOnlyByTheRunThatCreatedTheIdentifier) {
    Harness h;
    h.settings.value.messageTargetLanguage = AppLanguage::spanish;
    {
        auto reporter = h.reporter();
        reporter->reportAppInstallIfNeeded();
        reporter->reportAppLaunch();
    }
    ASSERT_EQ(h.client->events.size(), 2u);
    EXPECT_EQ(h.client->events[0].action, TelemetryAction::appInstall);
    EXPECT_EQ(h.client->events[1].action, TelemetryAction::appLaunch);
    for (const auto& event : h.client->events) {
        EXPECT_EQ(event.trigger, TelemetryTrigger::appLifecycle);
        EXPECT_EQ(event.success, true);
        EXPECT_EQ(event.messageTargetLanguage, QStringLiteral("es"));
        EXPECT_EQ(event.eventTime, h.now);
        EXPECT_FALSE(event.durationMs.has_value());
    }
    EXPECT_EQ(h.lines().first(),
              "event action=app_install trigger=app_lifecycle hotkey=none source=none target=none success=true "
              "error=none durationMs=none targetApp=none");

    // The next run on the same storage: a new identifier object finds the stored one.
    h.client->events.clear();
    h.log.sink().clear();
    DeviceIdentifier nextRun(h.defaults);
    TelemetryEventReporter second(
        h.client, h.settings, nextRun, InfoDictionary(h.info), [] { return std::nullopt; },
        [] { return QStringLiteral("6.1.0"); }, [] { return QLocale::c(); }, [&h] { return h.now; });
    second.reportAppInstallIfNeeded();
    second.reportAppLaunch();
    ASSERT_EQ(h.client->events.size(), 1u);
    EXPECT_EQ(h.client->events[0].action, TelemetryAction::appLaunch);
    EXPECT_EQ(h.lines().size(), 1) << "no install line on a second run";

    // Switched off: the lines are written, nothing is sent.
    h.client->events.clear();
    h.settings.value.onlineFeaturesEnabled = false;
    second.reportAppLaunch();
    EXPECT_TRUE(h.client->events.empty());
    EXPECT_EQ(h.lines().size(), 2);
}
