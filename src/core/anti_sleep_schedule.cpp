#include "core/anti_sleep_schedule.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>
#include <utility>

namespace tavrolin {

namespace {

const QLatin1String kEnabled("enabled");
const QLatin1String kStart("startMinuteOfDay");
const QLatin1String kEnd("endMinuteOfDay");
const QLatin1String kDisplay("preventDisplaySleep");
const QLatin1String kActivity("keepLocalActivityAwake");

bool readBool(const QJsonObject& object, QLatin1String key, bool& out, QString* error) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    if (!value.isBool()) {
        if (error) {
            *error = QStringLiteral("\"%1\" is not a boolean").arg(key);
        }
        return false;
    }
    out = value.toBool();
    return true;
}

bool readMinute(const QJsonObject& object, QLatin1String key, int& out, QString* error) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        return true;
    }
    // JSON numbers arrive as doubles: accept only whole numbers that fit the field.
    const double number = value.toDouble();
    if (!value.isDouble() || !std::isfinite(number) || number != std::trunc(number) ||
        number < double(std::numeric_limits<int>::min()) || number > double(std::numeric_limits<int>::max())) {
        if (error) {
            *error = QStringLiteral("\"%1\" is not an integer").arg(key);
        }
        return false;
    }
    out = int(number);
    return true;
}

// Local time goes through the C library, with the zone re-read first so that a change of
// TZ or of /etc/localtime takes effect at the next computation. Moments are handled as
// seconds since the epoch; results are returned as UTC date-times, which stay the same
// instant whatever the zone does afterwards.

qint64 floorSeconds(const QDateTime& moment) {
    const qint64 ms = moment.toMSecsSinceEpoch();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

std::optional<std::tm> localComponents(qint64 seconds) {
    tzset();
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm out{};
    if (!localtime_r(&t, &out)) {
        return std::nullopt;
    }
    return out;
}

// The moment of the given wall-clock fields, gaps and repeats resolved by mktime. Fields out
// of their usual span roll over into the neighbouring unit.
std::optional<qint64> localMoment(std::tm fields) {
    fields.tm_isdst = -1;
    errno = 0;
    const std::time_t t = mktime(&fields);
    if (t == static_cast<std::time_t>(-1) && errno != 0) {
        return std::nullopt;
    }
    return static_cast<qint64>(t);
}

// The calendar's "date from components, then add days": the days move the wall-clock date
// and keep the wall-clock time, so a boundary tomorrow is not simply 24 hours away on a day
// with a daylight-saving change.
std::optional<qint64> boundaryMoment(const std::tm& day, int minute, int dayOffset) {
    std::tm fields{};
    fields.tm_year = day.tm_year;
    fields.tm_mon = day.tm_mon;
    fields.tm_mday = day.tm_mday;
    fields.tm_hour = minute / 60;
    fields.tm_min = minute % 60;
    fields.tm_sec = 0;
    const auto base = localMoment(fields);
    if (!base || dayOffset == 0) {
        return base;
    }
    auto shifted = localComponents(*base);
    if (!shifted) {
        return std::nullopt;
    }
    shifted->tm_mday += dayOffset;
    return localMoment(*shifted);
}

const QDateTime& referenceDate() {
    static const QDateTime reference = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    return reference;
}

QDateTime pickerDate(int minuteOfDay) {
    const int hour = minuteOfDay / 60;
    const int minute = minuteOfDay % 60;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return referenceDate();
    }
    auto day = localComponents(0);
    if (!day) {
        return referenceDate();
    }
    day->tm_hour = hour;
    day->tm_min = minute;
    day->tm_sec = 0;
    const auto moment = localMoment(*day);
    return moment ? QDateTime::fromSecsSinceEpoch(*moment, Qt::UTC) : referenceDate();
}

std::optional<int> pickedMinute(const QDateTime& picked) {
    if (!picked.isValid()) {
        return std::nullopt;
    }
    const auto local = localComponents(floorSeconds(picked));
    if (!local) {
        return std::nullopt;
    }
    return AntiSleepSchedule::clampedMinuteOfDay(local->tm_hour * 60 + local->tm_min);
}

}  // namespace

int AntiSleepSchedule::clampedMinuteOfDay(int minute) {
    return std::clamp(minute, minimumMinuteOfDay, maximumMinuteOfDay);
}

bool AntiSleepSchedule::isActive(int minuteOfDay) const {
    if (!enabled) {
        return false;
    }
    if (startMinuteOfDay == endMinuteOfDay) {
        return true;
    }
    if (startMinuteOfDay < endMinuteOfDay) {
        return startMinuteOfDay <= minuteOfDay && minuteOfDay < endMinuteOfDay;
    }
    return minuteOfDay >= startMinuteOfDay || minuteOfDay < endMinuteOfDay;
}

std::optional<QDateTime> AntiSleepSchedule::nextTransitionDate(const QDateTime& from) const {
    if (!enabled || startMinuteOfDay == endMinuteOfDay || !from.isValid()) {
        return std::nullopt;
    }
    const qint64 fromMs = from.toMSecsSinceEpoch();
    const auto today = localComponents(floorSeconds(from));
    if (!today) {
        return std::nullopt;
    }
    const int now = today->tm_hour * 60 + today->tm_min;
    const int second = today->tm_sec;
    const int start = startMinuteOfDay;
    const int end = endMinuteOfDay;

    // (minute of day, day offset)
    std::array<std::pair<int, int>, 2> candidates;
    if (start < end) {
        // From second 1 of a boundary minute on, that boundary lies behind: the candidates
        // still name it (it is dropped below) beside the one that follows it.
        if (now < start || (now == start && second >= 1)) {
            candidates = {{{start, 0}, {end, 0}}};
        } else if (now < end || (now == end && second >= 1)) {
            candidates = {{{end, 0}, {start, 1}}};
        } else {
            candidates = {{{start, 1}, {end, 1}}};
        }
    } else if (now < end) {
        candidates = {{{end, 0}, {start, 0}}};
    } else if (now < start) {
        candidates = {{{start, 0}, {end, 1}}};
    } else {
        candidates = {{{end, 1}, {start, 1}}};
    }

    std::optional<qint64> earliest;
    for (const auto& [minute, offset] : candidates) {
        const auto moment = boundaryMoment(*today, minute, offset);
        if (moment && *moment * 1000 > fromMs && (!earliest || *moment < *earliest)) {
            earliest = moment;
        }
    }
    if (!earliest) {
        return std::nullopt;
    }
    return QDateTime::fromSecsSinceEpoch(*earliest, Qt::UTC);
}

QDateTime AntiSleepSchedule::startDate() const {
    return pickerDate(startMinuteOfDay);
}

QDateTime AntiSleepSchedule::endDate() const {
    return pickerDate(endMinuteOfDay);
}

void AntiSleepSchedule::setStartTime(const QDateTime& picked) {
    if (const auto minute = pickedMinute(picked)) {
        startMinuteOfDay = *minute;
    }
}

void AntiSleepSchedule::setEndTime(const QDateTime& picked) {
    if (const auto minute = pickedMinute(picked)) {
        endMinuteOfDay = *minute;
    }
}

int AntiSleepSchedule::localMinuteOfDay(const QDateTime& moment) {
    if (!moment.isValid()) {
        return 0;
    }
    const auto local = localComponents(floorSeconds(moment));
    return local ? local->tm_hour * 60 + local->tm_min : 0;
}

QJsonObject AntiSleepSchedule::toJson() const {
    return QJsonObject{
        {kEnabled, enabled},
        {kStart, startMinuteOfDay},
        {kEnd, endMinuteOfDay},
        {kDisplay, preventDisplaySleep},
        {kActivity, keepLocalActivityAwake},
    };
}

std::optional<AntiSleepSchedule> AntiSleepSchedule::fromJson(const QJsonValue& json, QString* error) {
    if (!json.isObject()) {
        if (error) {
            *error = QStringLiteral("the anti-sleep schedule is not an object");
        }
        return std::nullopt;
    }
    const QJsonObject object = json.toObject();
    AntiSleepSchedule schedule;
    if (!readBool(object, kEnabled, schedule.enabled, error) ||
        !readMinute(object, kStart, schedule.startMinuteOfDay, error) ||
        !readMinute(object, kEnd, schedule.endMinuteOfDay, error) ||
        !readBool(object, kDisplay, schedule.preventDisplaySleep, error) ||
        !readBool(object, kActivity, schedule.keepLocalActivityAwake, error)) {
        return std::nullopt;
    }
    return schedule;
}

}  // namespace tavrolin
