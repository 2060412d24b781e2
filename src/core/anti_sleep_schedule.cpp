#include "core/anti_sleep_schedule.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

}  // namespace

int AntiSleepSchedule::clampedMinuteOfDay(int minute) {
    return std::clamp(minute, minimumMinuteOfDay, maximumMinuteOfDay);
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
