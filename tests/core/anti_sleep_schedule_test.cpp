#include "core/anti_sleep_schedule.h"

#include "support/scoped_time_zone.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>
#include <optional>
#include <string>

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
    EXPECT_NE(make(false, 540, 1080, true, true), AntiSleepSchedule{});
}

// ---- local time: boundaries, the active rule and the picker adapters ------------------------

namespace {

using test::ScopedTimeZone;

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char* kKolkata = "IST-5:30";
constexpr const char* kUtc = "UTC0";

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// A wall-clock time at a fixed offset from UTC (in hours): an instant, independent of TZ.
QDateTime at(double offsetHours, int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::OffsetFromUTC, int(offsetHours * 3600));
}

std::string show(const std::optional<QDateTime>& t) {
    return t ? t->toUTC().toString(Qt::ISODate).toStdString() : std::string("absent");
}

struct Zone {
    const char* tz;
    double winterOffset;  // hours east of UTC in January
};
const Zone kZones[] = {{kUtc, 0}, {kBerlin, 1}, {kNewYork, -5}, {kKolkata, 5.5}};

}  // namespace

TEST(AntiSleepScheduleBoundaries, DayAndOvernightRangesInEveryZone) {
    struct Case {
        int start, end;
        QTime from;
        int dayOffset;
        QTime expected;
    } cases[] = {
        {540, 1080, QTime(0, 0, 0), 0, QTime(9, 0)},     {540, 1080, QTime(8, 59, 30), 0, QTime(9, 0)},
        {540, 1080, QTime(9, 0, 0), 0, QTime(18, 0)},    {540, 1080, QTime(9, 0, 20), 0, QTime(18, 0)},
        {540, 1080, QTime(17, 59, 59), 0, QTime(18, 0)}, {540, 1080, QTime(18, 0, 0), 1, QTime(9, 0)},
        {540, 1080, QTime(18, 0, 30), 1, QTime(9, 0)},   {540, 1080, QTime(23, 59, 59), 1, QTime(9, 0)},
        {1320, 360, QTime(23, 0), 1, QTime(6, 0)},       {1320, 360, QTime(5, 0), 0, QTime(6, 0)},
        {1320, 360, QTime(12, 0), 0, QTime(22, 0)},      {1320, 360, QTime(6, 0, 0), 0, QTime(22, 0)},
        {1320, 360, QTime(21, 59, 59), 0, QTime(22, 0)}, {1320, 360, QTime(22, 0, 0), 1, QTime(6, 0)},
        {1320, 360, QTime(0, 0, 0), 0, QTime(6, 0)},
    };
    for (const Zone& zone : kZones) {
        ScopedTimeZone tz(zone.tz);
        const int offset = int(zone.winterOffset * 3600);
        for (const Case& c : cases) {
            const QDateTime from(QDate(2026, 1, 15), c.from, Qt::OffsetFromUTC, offset);
            const QDateTime expected(QDate(2026, 1, 15).addDays(c.dayOffset), c.expected, Qt::OffsetFromUTC, offset);
            EXPECT_EQ(show(make(true, c.start, c.end, true, false).nextTransitionDate(from)), show(expected))
                << zone.tz << " " << c.start << "-" << c.end << " from " << c.from.toString().toStdString();
        }
    }
}

TEST(AntiSleepScheduleBoundaries, NoneWhenDisabledOrWholeDay) {
    ScopedTimeZone tz(kBerlin);
    const QDateTime from = utc(2026, 1, 15, 12, 0);
    EXPECT_FALSE(make(false, 540, 1080, true, false).nextTransitionDate(from));
    EXPECT_FALSE(make(true, 600, 600, true, false).nextTransitionDate(from));
    EXPECT_FALSE(make(true, 0, 0, true, false).nextTransitionDate(from));
    EXPECT_FALSE(make(true, 540, 1080, true, false).nextTransitionDate(QDateTime()));
}

TEST(AntiSleepScheduleBoundaries, RollOverMonthAndYearEnds) {
    ScopedTimeZone tz(kNewYork);
    const AntiSleepSchedule schedule = make(true, 540, 1080, true, false);
    EXPECT_EQ(show(schedule.nextTransitionDate(at(-5, 2026, 12, 31, 20, 0))), show(at(-5, 2027, 1, 1, 9, 0)));
    EXPECT_EQ(show(schedule.nextTransitionDate(at(-5, 2028, 2, 28, 19, 0))), show(at(-5, 2028, 2, 29, 9, 0)));
}

// Tomorrow's boundary keeps its wall-clock time across a daylight-saving change, so it is 23
// or 25 hours after today's, not 24.
TEST(AntiSleepScheduleBoundaries, FollowTheWallClockAcrossDaylightSavingChanges) {
    struct Case {
        const char* tz;
        int start, end;
        QDateTime from;
        QDateTime expected;
    } cases[] = {
        // Berlin springs forward on 2026-03-29 at 02:00 CET.
        {kBerlin, 540, 1080, at(1, 2026, 3, 28, 20, 0), at(2, 2026, 3, 29, 9, 0)},
        {kBerlin, 540, 1080, at(2, 2026, 3, 29, 9, 0), at(2, 2026, 3, 29, 18, 0)},
        {kBerlin, 1320, 360, at(1, 2026, 3, 28, 23, 0), at(2, 2026, 3, 29, 6, 0)},
        // and falls back on 2026-10-25 at 03:00 CEST.
        {kBerlin, 540, 1080, at(2, 2026, 10, 24, 20, 0), at(1, 2026, 10, 25, 9, 0)},
        {kBerlin, 1320, 360, at(2, 2026, 10, 24, 23, 30), at(1, 2026, 10, 25, 6, 0)},
        // New York springs forward on 2026-03-08 and falls back on 2026-11-01.
        {kNewYork, 1320, 360, at(-5, 2026, 3, 7, 23, 0), at(-4, 2026, 3, 8, 6, 0)},
        {kNewYork, 540, 1080, at(-4, 2026, 10, 31, 18, 0), at(-5, 2026, 11, 1, 9, 0)},
    };
    for (const Case& c : cases) {
        ScopedTimeZone tz(c.tz);
        EXPECT_EQ(show(make(true, c.start, c.end, true, false).nextTransitionDate(c.from)), show(c.expected))
            << c.tz << " " << c.start << "-" << c.end << " from " << show(c.from);
    }
}

// A boundary inside the skipped hour is whatever the C library makes of it: one of the two
// readings, and still after the moment asked about.
TEST(AntiSleepScheduleBoundaries, BoundaryInASkippedHourResolvesToAnExistingMoment) {
    ScopedTimeZone tz(kBerlin);
    const AntiSleepSchedule schedule = make(true, 150, 600, true, false);  // 02:30 to 10:00
    for (const QDateTime& from : {at(1, 2026, 3, 29, 0, 0), at(1, 2026, 3, 28, 12, 0)}) {
        const auto next = schedule.nextTransitionDate(from);
        ASSERT_TRUE(next) << show(from);
        EXPECT_TRUE(*next == utc(2026, 3, 29, 0, 30) || *next == utc(2026, 3, 29, 1, 30)) << show(next);
    }
}

TEST(AntiSleepScheduleBoundaries, ReadTheTimeZoneAfreshOnEveryCall) {
    const AntiSleepSchedule schedule = make(true, 540, 1080, true, false);
    const QDateTime from = utc(2026, 1, 15, 12, 0);
    struct Case {
        const char* tz;
        QDateTime expected;
    } cases[] = {
        {kUtc, utc(2026, 1, 15, 18, 0)},       // 12:00 local: the end
        {kKolkata, utc(2026, 1, 15, 12, 30)},  // 17:30 local: the end at 18:00 IST
        {kNewYork, utc(2026, 1, 15, 14, 0)},   // 07:00 local: the start at 09:00 EST
        {kUtc, utc(2026, 1, 15, 18, 0)},
    };
    for (const Case& c : cases) {
        ScopedTimeZone tz(c.tz);
        EXPECT_EQ(show(schedule.nextTransitionDate(from)), show(c.expected)) << c.tz;
    }
    ScopedTimeZone kolkata(kKolkata);
    EXPECT_EQ(AntiSleepSchedule::localMinuteOfDay(utc(2026, 1, 15, 0, 0)), 330);
    ScopedTimeZone newYork(kNewYork);
    EXPECT_EQ(AntiSleepSchedule::localMinuteOfDay(utc(2026, 1, 15, 0, 0)), 19 * 60);
}

TEST(AntiSleepScheduleRange, ActiveRuleAtTheEdges) {
    struct Case {
        AntiSleepSchedule schedule;
        int minute;
        bool active;
    } cases[] = {
        {make(true, 540, 1080, true, false), 539, false},  {make(true, 540, 1080, true, false), 540, true},
        {make(true, 540, 1080, true, false), 1079, true},  {make(true, 540, 1080, true, false), 1080, false},
        {make(true, 1320, 360, true, false), 1319, false}, {make(true, 1320, 360, true, false), 1320, true},
        {make(true, 1320, 360, true, false), 0, true},     {make(true, 1320, 360, true, false), 359, true},
        {make(true, 1320, 360, true, false), 360, false},  {make(true, 1320, 360, true, false), 720, false},
        {make(true, 700, 700, true, false), 0, true},      {make(true, 700, 700, true, false), 1439, true},
        {make(false, 540, 1080, true, false), 600, false}, {make(false, 700, 700, true, false), 600, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.schedule.isActive(c.minute), c.active)
            << c.schedule.startMinuteOfDay << "-" << c.schedule.endMinuteOfDay << " at " << c.minute;
    }
}

TEST(AntiSleepSchedulePicker, TakesTheLocalHourAndMinute) {
    struct Case {
        const char* tz;
        QDateTime picked;
        int minute;
    } cases[] = {
        {kUtc, utc(2026, 6, 1, 7, 45), 465},
        {kBerlin, at(2, 2026, 6, 1, 7, 45), 465},              // summer time
        {kKolkata, utc(2026, 6, 1, 2, 15), 465},               // 07:45 IST
        {kNewYork, utc(2026, 6, 2, 3, 59, 59), 23 * 60 + 59},  // the day before, 23:59 EDT
        {kNewYork, at(-4, 1999, 6, 1, 0, 0), 0},
    };
    for (const Case& c : cases) {
        ScopedTimeZone tz(c.tz);
        AntiSleepSchedule start;
        start.setStartTime(c.picked);
        EXPECT_EQ(start.startMinuteOfDay, c.minute) << c.tz << " " << show(c.picked);
        EXPECT_EQ(start.endMinuteOfDay, 1080);
        AntiSleepSchedule end;
        end.setEndTime(c.picked);
        EXPECT_EQ(end.endMinuteOfDay, c.minute) << c.tz;
        EXPECT_EQ(end.startMinuteOfDay, 540);
    }
    AntiSleepSchedule unchanged;
    unchanged.setStartTime(QDateTime());
    unchanged.setEndTime(QDateTime());
    EXPECT_EQ(unchanged, AntiSleepSchedule{});
}

TEST(AntiSleepSchedulePicker, DatesRoundTripEveryMinuteInEveryZone) {
    for (const Zone& zone : kZones) {
        ScopedTimeZone tz(zone.tz);
        for (int minute = 0; minute < 1440; ++minute) {
            AntiSleepSchedule s = make(true, minute, 1439 - minute, true, false);
            const QDateTime start = s.startDate();
            const QDateTime end = s.endDate();
            // Shown at the zone's own offset, the pickers read the minute back.
            const QTime shown = start.toOffsetFromUtc(int(zone.winterOffset * 3600)).time();
            ASSERT_EQ(shown.hour() * 60 + shown.minute(), minute) << zone.tz;
            AntiSleepSchedule back;
            back.setStartTime(start);
            back.setEndTime(end);
            ASSERT_EQ(back.startMinuteOfDay, minute) << zone.tz;
            ASSERT_EQ(back.endMinuteOfDay, 1439 - minute) << zone.tz;
        }
    }
}

TEST(AntiSleepSchedulePicker, MinutesThatNameNoTimeGiveTheEpoch) {
    ScopedTimeZone tz(kBerlin);
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    EXPECT_EQ(make(false, 5000, -5, true, false).startDate(), epoch);
    EXPECT_EQ(make(false, 5000, -5, true, false).endDate(), epoch);
    EXPECT_EQ(make(false, 1440, 1080, true, false).startDate(), epoch);
    EXPECT_NE(make(false, 1439, 0, true, false).startDate(), epoch);
}
