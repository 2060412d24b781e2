#include "core/app_settings.h"

#include "core/user_language_preferences_providing.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tavrolin;

namespace {

HotKeyShortcut cs(HotKeyKey key) {
    return HotKeyShortcut{key, false, false, true, true};
}

QJsonObject parse(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

const char* kOnlyRequired =
    R"({"captureAndTranslateShortcut":{"key":"T","command":false,"option":false,"shift":true,"control":true}})";

QJsonObject withKey(const QString& key, const QJsonValue& value) {
    QJsonObject object = parse(kOnlyRequired);
    object.insert(key, value);
    return object;
}

class FixedPreferences final : public UserLanguagePreferencesProviding {
public:
    FixedPreferences(AppLanguage native, AppLanguage company) : native_(native), company_(company) {}
    AppLanguage detectNativeLanguage() const override { return native_; }
    AppLanguage detectCompanyLanguage() const override { return company_; }

private:
    AppLanguage native_;
    AppLanguage company_;
};

}  // namespace

TEST(AppSettingsJson, MissingKeysTakeTheBuiltInDefaults) {
    const auto decoded = AppSettings::fromJson(parse(kOnlyRequired));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, AppSettings{});
    EXPECT_EQ(decoded->targetLanguage, AppLanguage::russian);  // not the system's guess
    EXPECT_EQ(decoded->messageTargetLanguage, AppLanguage::english);
    EXPECT_EQ(decoded->shortcuts(), defaultHotKeyShortcuts());
    EXPECT_FALSE(decoded->dictationLanguage);
    EXPECT_TRUE(decoded->launchAtLoginEnabled && decoded->telemetryEnabled && decoded->onlineFeaturesEnabled &&
                decoded->selectionPopupEnabled);
    EXPECT_FALSE(decoded->autoImproveOnDictationStop);
    EXPECT_EQ(decoded->selectionPopupAutoDismissDelay, 5.0);
    EXPECT_EQ(decoded->overlayMinimumDisplayDuration, 1.5);
    EXPECT_EQ(decoded->antiSleepSchedule, AntiSleepSchedule{});

    // null counts as missing for every optional key
    QJsonObject nulls = parse(kOnlyRequired);
    for (const char* key : {"translateMessageShortcut", "targetLanguage", "dictationLanguage", "telemetryEnabled",
                            "selectionPopupAutoDismissDelay", "antiSleepSchedule"}) {
        nulls.insert(QLatin1String(key), QJsonValue::Null);
    }
    EXPECT_EQ(AppSettings::fromJson(nulls), AppSettings{});
}

TEST(AppSettingsJson, RejectsWhatItCannotRead) {
    struct Case {
        const char* name;
        QJsonValue json;
    };
    const QJsonValue goodShortcut = cs(HotKeyKey::w).toJson();
    const Case cases[] = {
        {"not an object", QJsonValue(QStringLiteral("settings"))},
        {"array", QJsonValue(QJsonArray{})},
        {"empty object", QJsonObject{}},
        {"required shortcut null", QJsonObject{{"captureAndTranslateShortcut", QJsonValue::Null}}},
        {"only other shortcuts", QJsonObject{{"translateMessageShortcut", goodShortcut}}},
        {"bad required shortcut", QJsonObject{{"captureAndTranslateShortcut", QJsonObject{{"key", "T"}}}}},
        {"bad optional shortcut", withKey("editTextShortcut", QJsonObject{{"key", "e"}})},
        {"unknown language", withKey("targetLanguage", "sv")},
        {"language as number", withKey("messageTargetLanguage", 4)},
        {"dictation language unknown", withKey("dictationLanguage", "xx")},
        {"switch as string", withKey("telemetryEnabled", "true")},
        {"switch as number", withKey("onlineFeaturesEnabled", 1)},
        {"delay as string", withKey("selectionPopupAutoDismissDelay", "5")},
        {"schedule as string", withKey("antiSleepSchedule", "on")},
        {"schedule with bad field", withKey("antiSleepSchedule", QJsonObject{{"enabled", "yes"}})},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_FALSE(AppSettings::fromJson(c.json, &error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
    // Keys nobody knows are ignored.
    EXPECT_EQ(AppSettings::fromJson(withKey("futureSetting", QJsonObject{{"a", 1}})), AppSettings{});
}

TEST(AppSettingsJson, EncodingRoundTripsAndLeavesOutNoDictationLanguage) {
    AppSettings settings;
    EXPECT_FALSE(settings.toJson().contains("dictationLanguage"));
    EXPECT_EQ(settings.toJson().size(), 17);
    EXPECT_EQ(AppSettings::fromJson(settings.toJson()), settings);

    settings.translateMessageShortcut = HotKeyShortcut{HotKeyKey::f9, true, true, false, false};
    settings.targetLanguage = AppLanguage::ukrainian;
    settings.messageTargetLanguage = AppLanguage::german;
    settings.dictationLanguage = AppLanguage::hebrew;
    settings.launchAtLoginEnabled = false;
    settings.autoImproveOnDictationStop = true;
    settings.selectionPopupAutoDismissDelay = 7.25;
    settings.overlayMinimumDisplayDuration = 0.0;
    settings.antiSleepSchedule = AntiSleepSchedule{true, 1320, 360, false, true};
    const QJsonObject json = settings.toJson();
    EXPECT_EQ(json.value("targetLanguage").toString(), "uk");
    EXPECT_EQ(json.value("dictationLanguage").toString(), "he");
    EXPECT_EQ(json.value("translateMessageShortcut").toObject().value("key").toString(), "F9");
    // Through text, as it is stored.
    const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Compact);
    EXPECT_EQ(AppSettings::fromJson(QJsonDocument::fromJson(text).object()), settings);
}

TEST(AppSettingsSanitizing, CorrectsInTheDocumentedOrder) {
    struct Case {
        const char* name;
        std::function<void(AppSettings&)> stored;
        std::function<void(AppSettings&)> expected;
    };
    const Case cases[] = {
        {"automatic second language becomes English, online or not",
         [](AppSettings& s) {
             s.messageTargetLanguage = AppLanguage::automatic;
             s.onlineFeaturesEnabled = false;
         },
         [](AppSettings& s) {
             s.messageTargetLanguage = AppLanguage::english;
             s.onlineFeaturesEnabled = false;
         }},
        {"automatic native language stays", [](AppSettings& s) { s.targetLanguage = AppLanguage::automatic; },
         [](AppSettings& s) { s.targetLanguage = AppLanguage::automatic; }},
        {"offline: Hebrew everywhere",
         [](AppSettings& s) {
             s.onlineFeaturesEnabled = false;
             s.targetLanguage = AppLanguage::hebrew;
             s.messageTargetLanguage = AppLanguage::hebrew;
             s.dictationLanguage = AppLanguage::hebrew;
         },
         [](AppSettings& s) {
             s.onlineFeaturesEnabled = false;
             s.targetLanguage = AppLanguage::russian;
             s.messageTargetLanguage = AppLanguage::english;
             s.dictationLanguage = AppLanguage::russian;
         }},
        {"offline: Hebrew dictation follows a non-Hebrew native language",
         [](AppSettings& s) {
             s.onlineFeaturesEnabled = false;
             s.targetLanguage = AppLanguage::thai;
             s.dictationLanguage = AppLanguage::hebrew;
         },
         [](AppSettings& s) {
             s.onlineFeaturesEnabled = false;
             s.targetLanguage = AppLanguage::thai;
             s.dictationLanguage = AppLanguage::thai;
         }},
        {"online: Hebrew stays",
         [](AppSettings& s) {
             s.targetLanguage = AppLanguage::hebrew;
             s.messageTargetLanguage = AppLanguage::hebrew;
             s.dictationLanguage = AppLanguage::hebrew;
         },
         [](AppSettings& s) {
             s.targetLanguage = AppLanguage::hebrew;
             s.messageTargetLanguage = AppLanguage::hebrew;
             s.dictationLanguage = AppLanguage::hebrew;
         }},
        {"delays and minutes above the range",
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = 20;
             s.overlayMinimumDisplayDuration = 4;
             s.antiSleepSchedule.endMinuteOfDay = 2000;
         },
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = 15;
             s.overlayMinimumDisplayDuration = 3;
             s.antiSleepSchedule.endMinuteOfDay = 1439;
         }},
        {"delays and minutes below the range",
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = 1;
             s.overlayMinimumDisplayDuration = -1;
             s.antiSleepSchedule.startMinuteOfDay = -5;
         },
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = 3;
             s.overlayMinimumDisplayDuration = 0;
             s.antiSleepSchedule.startMinuteOfDay = 0;
         }},
        {"not-a-number delays take the lower bound, infinities clamp",
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = std::numeric_limits<double>::quiet_NaN();
             s.overlayMinimumDisplayDuration = std::numeric_limits<double>::infinity();
         },
         [](AppSettings& s) {
             s.selectionPopupAutoDismissDelay = 3;
             s.overlayMinimumDisplayDuration = 3;
         }},
        {"duplicate shortcut: the later action gets its default",
         [](AppSettings& s) { s.flipLanguageShortcut = cs(HotKeyKey::t); }, [](AppSettings&) {}},
        {"switches untouched",
         [](AppSettings& s) {
             s.telemetryEnabled = false;
             s.launchAtLoginEnabled = false;
             s.selectionPopupEnabled = false;
         },
         [](AppSettings& s) {
             s.telemetryEnabled = false;
             s.launchAtLoginEnabled = false;
             s.selectionPopupEnabled = false;
         }},
    };
    for (const Case& c : cases) {
        AppSettings stored;
        c.stored(stored);
        AppSettings expected;
        c.expected(expected);
        const AppSettings sanitized = stored.sanitized();
        EXPECT_EQ(sanitized, expected) << c.name;
        EXPECT_EQ(sanitized.sanitized(), sanitized) << c.name << " (idempotent)";
        EXPECT_EQ(AppSettings::fromJson(sanitized.toJson()), sanitized) << c.name << " (round trip)";
    }
}

TEST(AppSettingsValidation, FirstProblemWins) {
    EXPECT_FALSE(AppSettings{}.validationError());

    AppSettings both;
    both.createPromptShortcut.control = both.createPromptShortcut.shift = false;
    both.onlineFeaturesEnabled = false;
    both.targetLanguage = AppLanguage::hebrew;
    EXPECT_EQ(both.validationError(), "Each shortcut needs at least one modifier key.");

    AppSettings duplicate;
    duplicate.createPromptShortcut = duplicate.captureAndTranslateShortcut;
    duplicate.onlineFeaturesEnabled = false;
    duplicate.messageTargetLanguage = AppLanguage::hebrew;
    EXPECT_EQ(duplicate.validationError(), "Choose a different shortcut for each action.");

    AppSettings hebrew;
    hebrew.onlineFeaturesEnabled = false;
    hebrew.messageTargetLanguage = AppLanguage::hebrew;
    EXPECT_EQ(hebrew.validationError(), "Hebrew requires online features.");
    hebrew.onlineFeaturesEnabled = true;
    EXPECT_FALSE(hebrew.validationError());

    AppSettings dictationOnly;
    dictationOnly.onlineFeaturesEnabled = false;
    dictationOnly.dictationLanguage = AppLanguage::hebrew;
    EXPECT_FALSE(dictationOnly.validationError());
}

TEST(AppSettings, FreshValueTakesTheUsersLanguages) {
    const AppSettings fresh = AppSettings::fresh(FixedPreferences(AppLanguage::german, AppLanguage::french));
    AppSettings expected;
    expected.targetLanguage = AppLanguage::german;
    expected.messageTargetLanguage = AppLanguage::french;
    EXPECT_EQ(fresh, expected);
}

TEST(AppSettings, ShortcutsAreAddressedByAction) {
    AppSettings settings;
    const HotKeyShortcut custom{HotKeyKey::digit3, false, true, false, false};
    settings.setShortcut(HotKeyAction::openDictationScratchpad, custom);
    EXPECT_EQ(settings.openDictationScratchpadShortcut, custom);
    EXPECT_EQ(settings.shortcuts()[indexOf(HotKeyAction::openDictationScratchpad)], custom);
    EXPECT_EQ(settings.shortcut(HotKeyAction::createPrompt), cs(HotKeyKey::p));
    EXPECT_EQ(settings.toJson().value("openDictationScratchpadShortcut").toObject(), custom.toJson());
}
