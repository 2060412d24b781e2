#include "core/telemetry_event.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TelemetryEvent minimalEvent() {
    TelemetryEvent event;
    event.userId = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");
    event.eventTime = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 30, 480), Qt::UTC);
    event.action = TelemetryAction::appLaunch;
    event.trigger = TelemetryTrigger::appLifecycle;
    event.appVersion = QStringLiteral("0.1.0");
    event.appBuild = QStringLiteral("0.1.0");
    event.osName = QStringLiteral("Linux");
    event.osVersion = QStringLiteral("6.1.0");
    event.uiLocale = QStringLiteral("en_US");
    return event;
}

TelemetryEvent fullEvent() {
    TelemetryEvent event = minimalEvent();
    event.action = TelemetryAction::translateMessage;
    event.trigger = TelemetryTrigger::hotkey;
    event.hotkeyConfig = QStringLiteral("Control+Shift+W");
    event.sourceLanguage = QStringLiteral("en");
    event.targetLanguage = QStringLiteral("de");
    event.success = false;
    event.errorCode = QStringLiteral("text_translation_request_failed");
    event.durationMs = 0;
    event.targetAppBundleId = QStringLiteral("Gedit");
    event.messageTargetLanguage = QStringLiteral("de");
    event.launchAtLoginEnabled = true;
    event.telemetryPreferenceEnabled = true;
    event.onlineFeaturesEnabled = false;
    return event;
}

TEST(TelemetryEventTest, MinimalEventHasExactlyNineKeysAndWholeSecondsInUtc) {
    const QJsonObject json = minimalEvent().toJson();
    QStringList keys = json.keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"action", "appBuild", "appVersion", "eventTime", "osName", "osVersion", "trigger",
                                 "uiLocale", "userId"}));
    EXPECT_EQ(json.value("eventTime").toString(), QStringLiteral("2026-03-01T09:15:30Z"));
    EXPECT_EQ(json.value("action").toString(), QStringLiteral("app_launch"));
    EXPECT_EQ(json.value("trigger").toString(), QStringLiteral("app_lifecycle"));
    EXPECT_FALSE(minimalEvent().toJsonData().contains("null"));
    EXPECT_FALSE(minimalEvent().toJsonData().contains('\n'));
}

TEST(TelemetryEventTest, FullEventWritesEveryFieldWithItsJsonType) {
    const QJsonObject json = fullEvent().toJson();
    EXPECT_EQ(json.size(), 20);
    EXPECT_TRUE(json.value("success").isBool());
    EXPECT_FALSE(json.value("success").toBool());
    EXPECT_EQ(json.value("errorCode").toString(), QStringLiteral("text_translation_request_failed"));
    EXPECT_TRUE(json.value("durationMs").isDouble());
    EXPECT_EQ(json.value("durationMs").toInteger(-1), 0);
    EXPECT_EQ(json.value("hotkeyConfig").toString(), QStringLiteral("Control+Shift+W"));
    EXPECT_EQ(json.value("targetAppBundleId").toString(), QStringLiteral("Gedit"));
    EXPECT_TRUE(json.value("onlineFeaturesEnabled").isBool());
}

TEST(TelemetryEventTest, RoundTripsThroughJson) {
    for (const TelemetryEvent& original : {minimalEvent(), fullEvent()}) {
        auto decoded = TelemetryEvent::fromJsonData(original.toJsonData());
        ASSERT_TRUE(decoded);
        TelemetryEvent expected = original;
        expected.eventTime = QDateTime(QDate(2026, 3, 1), QTime(9, 15, 30), Qt::UTC);  // whole seconds
        EXPECT_EQ(*decoded, expected);
    }
}

TEST(TelemetryEventTest, DecodingRules) {
    const QJsonObject base = minimalEvent().toJson();
    const auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject object = base;
        object.insert(key, value);
        return TelemetryEvent::fromJson(object);
    };
    const auto without = [&](const QString& key) {
        QJsonObject object = base;
        object.remove(key);
        return TelemetryEvent::fromJson(object);
    };
    // accepted
    EXPECT_TRUE(with("action", "open_dictation_scratchpad"));
    EXPECT_TRUE(with("somethingNew", 1));
    EXPECT_TRUE(with("eventTime", "2026-03-01T10:15:30+01:00"));
    EXPECT_EQ(with("eventTime", "2026-03-01T10:15:30+01:00")->eventTime,
              QDateTime(QDate(2026, 3, 1), QTime(9, 15, 30), Qt::UTC));
    EXPECT_TRUE(without("appBuild"));
    EXPECT_EQ(with("success", QJsonValue::Null)->success, std::nullopt);
    // rejected
    for (const char* key : {"userId", "eventTime", "action", "trigger", "osName", "osVersion", "uiLocale"}) {
        EXPECT_FALSE(without(key)) << key;
        EXPECT_FALSE(with(key, QJsonValue::Null)) << key;
    }
    EXPECT_FALSE(with("trigger", "keyboard"));
    EXPECT_FALSE(with("action", "App_Launch"));
    EXPECT_FALSE(with("eventTime", "2026-03-01 09:15:30"));
    EXPECT_FALSE(with("eventTime", "2026-03-01T09:15:30.123Z"));
    EXPECT_FALSE(with("eventTime", "2026-13-01T09:15:30Z"));
    EXPECT_FALSE(with("success", "false"));
    EXPECT_FALSE(with("durationMs", 1.5));
    EXPECT_FALSE(with("durationMs", "15"));
    EXPECT_FALSE(with("appVersion", 1));
    EXPECT_FALSE(with("userId", QJsonArray{}));
    EXPECT_FALSE(TelemetryEvent::fromJsonData("[]"));
    EXPECT_FALSE(TelemetryEvent::fromJsonData("{\"userId\":"));
}

TEST(TelemetryVocabularyTest, RawStringsRoundTripAndUnknownOnesGiveNothing) {
    QStringList actions;
    for (TelemetryAction action : allTelemetryActions()) {
        actions << rawValue(action);
        EXPECT_EQ(fromRawValue<TelemetryAction>(rawValue(action)), action);
    }
    EXPECT_EQ(actions.first(), QStringLiteral("app_install"));
    EXPECT_EQ(actions[2], QStringLiteral("capture_and_translate_active_window"));
    EXPECT_EQ(actions.last(), QStringLiteral("quit"));
    EXPECT_EQ(actions.removeDuplicates(), 0);
    QStringList triggers;
    for (TelemetryTrigger trigger : allTelemetryTriggers()) {
        triggers << rawValue(trigger);
        EXPECT_EQ(fromRawValue<TelemetryTrigger>(rawValue(trigger)), trigger);
    }
    EXPECT_EQ(triggers, (QStringList{"hotkey", "menu", "alert", "settings", "overlay", "onboarding", "selection_popup",
                                     "app_lifecycle"}));
    EXPECT_EQ(fromRawValue<TelemetryAction>(QString()), std::nullopt);
    EXPECT_EQ(fromRawValue<TelemetryTrigger>(QStringLiteral("Hotkey")), std::nullopt);
}

TEST(TelemetryPlatformTest, KernelReleaseGivesThreeNumbers) {
    const std::pair<const char*, const char*> cases[] = {
        {"6.1.0-18-amd64", "6.1.0"}, {"5.10", "5.10.0"}, {"6", "6.0.0"},
        {"4.19.112+", "4.19.112"},   {"", "0.0.0"},      {"generic", "0.0.0"},
    };
    for (const auto& [release, expected] : cases) {
        EXPECT_EQ(TelemetryPlatform::osVersionFromKernelRelease(QString::fromLatin1(release)),
                  QString::fromLatin1(expected));
    }
    const TelemetryPlatform current = TelemetryPlatform::current();
    EXPECT_EQ(current.osName, QStringLiteral("Linux"));
    EXPECT_EQ(current.osVersion.count(QLatin1Char('.')), 2);
}

}  // namespace
}  // namespace tavrolin
