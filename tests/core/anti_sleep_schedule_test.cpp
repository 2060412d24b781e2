#include "core/anti_sleep_schedule.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

QJsonValue parse(const char* text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

AntiSleepSchedule make(bool enabled, int start, int end, bool display, bool activity) {
    AntiSleepSchedule s;
    s.enabled = enabled;
    s.startMinuteOfDay = start;
    s.endMinuteOfDay = end;
    s.preventDisplaySleep = display;
    s.keepLocalActivityAwake = activity;
    return s;
}

}  // namespace

TEST(AntiSleepScheduleJson, DecodesPresentAbsentAndNullKeys) {
    struct Case {
        const char* json;
        AntiSleepSchedule expected;
    } cases[] = {
        {"{}", make(false, 540, 1080, true, false)},
        {R"({"enabled":null,"startMinuteOfDay":null,"endMinuteOfDay":null,"preventDisplaySleep":null,"keepLocalActivityAwake":null})",
         make(false, 540, 1080, true, false)},
        {R"({"enabled":true,"startMinuteOfDay":1320,"endMinuteOfDay":360,"preventDisplaySleep":false,"keepLocalActivityAwake":true})",
         make(true, 1320, 360, false, true)},
        // Out-of-range minutes stay as they are: clamping belongs to the settings and the manager.
        {R"({"startMinuteOfDay":5000,"endMinuteOfDay":-5})", make(false, 5000, -5, true, false)},
        {R"({"startMinuteOfDay":600.0,"somethingElse":"ignored","enabled":true})", make(true, 600, 1080, true, false)},
        {R"({"preventDisplaySleep":false})", make(false, 540, 1080, false, false)},
    };
    for (const auto& c : cases) {
        QString error;
        const auto decoded = AntiSleepSchedule::fromJson(parse(c.json), &error);
        ASSERT_TRUE(decoded.has_value()) << c.json << ": " << error.toStdString();
        EXPECT_EQ(*decoded, c.expected) << c.json;
    }
}

TEST(AntiSleepScheduleJson, RejectsWrongTypes) {
    const char* cases[] = {
        R"({"enabled":"true"})",
        R"({"enabled":1})",
        R"({"startMinuteOfDay":"540"})",
        R"({"endMinuteOfDay":true})",
        R"({"endMinuteOfDay":540.5})",
        R"({"startMinuteOfDay":1e12})",
        R"({"preventDisplaySleep":{}})",
        R"({"keepLocalActivityAwake":[]})",
        R"([])",
    };
    for (const char* json : cases) {
        QString error;
        EXPECT_FALSE(AntiSleepSchedule::fromJson(parse(json), &error).has_value()) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
    EXPECT_FALSE(AntiSleepSchedule::fromJson(QJsonValue()).has_value());
    EXPECT_FALSE(AntiSleepSchedule::fromJson(QJsonValue(QStringLiteral("{}"))).has_value());
}

TEST(AntiSleepScheduleJson, EncodesAllFiveKeysUnclampedAndRoundTrips) {
    const AntiSleepSchedule odd = make(true, 5000, -5, false, true);
    const QJsonObject json = odd.toJson();
    EXPECT_EQ(json.size(), 5);
    EXPECT_EQ(json.value("enabled"), QJsonValue(true));
    EXPECT_EQ(json.value("startMinuteOfDay"), QJsonValue(5000));
    EXPECT_EQ(json.value("endMinuteOfDay"), QJsonValue(-5));
    EXPECT_EQ(json.value("preventDisplaySleep"), QJsonValue(false));
    EXPECT_EQ(json.value("keepLocalActivityAwake"), QJsonValue(true));

    // Through text, as the settings file stores it.
    const QByteArray text = QJsonDocument(AntiSleepSchedule{}.toJson()).toJson(QJsonDocument::Compact);
    const auto back = AntiSleepSchedule::fromJson(parse(text.constData()));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, AntiSleepSchedule{});
    EXPECT_EQ(AntiSleepSchedule::fromJson(json), odd);
}

TEST(AntiSleepScheduleValue, EqualityCoversEveryField) {
    const AntiSleepSchedule base;
    EXPECT_EQ(base, make(false, 540, 1080, true, false));
    EXPECT_NE(base, make(true, 540, 1080, true, false));
    EXPECT_NE(base, make(false, 541, 1080, true, false));
    EXPECT_NE(base, make(false, 540, 1079, true, false));
    EXPECT_NE(base, make(false, 540, 1080, false, false));
    EXPECT_NE(base, make(false, 540, 1080, true, true));
}

TEST(AntiSleepScheduleValue, ClampsMinutesIntoTheDay) {
    EXPECT_EQ(AntiSleepSchedule::clampedMinuteOfDay(-10), 0);
    EXPECT_EQ(AntiSleepSchedule::clampedMinuteOfDay(0), 0);
    EXPECT_EQ(AntiSleepSchedule::clampedMinuteOfDay(1439), 1439);
    EXPECT_EQ(AntiSleepSchedule::clampedMinuteOfDay(2000), 1439);
}
