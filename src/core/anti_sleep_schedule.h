#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace tavrolin {

// The anti-sleep part of the settings: one daily range in minutes after local midnight during
// which the machine is kept awake, and two options. A plain value: it never clamps its minutes
// (the settings' sanitising step and the anti-sleep manager do).
//
// Range rule: start == end is the whole day; start < end runs from start (inclusive) to end
// (exclusive) on the same day; start > end crosses midnight.
struct AntiSleepSchedule {
    static constexpr int minimumMinuteOfDay = 0;
    static constexpr int maximumMinuteOfDay = 1439;

    bool enabled = false;
    int startMinuteOfDay = 540;  // 09:00
    int endMinuteOfDay = 1080;   // 18:00
    bool preventDisplaySleep = true;
    bool keepLocalActivityAwake = false;

    bool operator==(const AntiSleepSchedule&) const = default;

    // Puts a minute into 0...1439.
    static int clampedMinuteOfDay(int minute);

    // Whether the range covers a minute of the local day (0...1439); false while disabled.
    bool isActive(int minuteOfDay) const;

    // The next moment strictly after `from` at which the schedule switches between active and
    // inactive: the earliest start or end boundary, at second 0 of its minute, today or
    // tomorrow in local time. Absent when disabled, for a whole-day range, or when local time
    // cannot be computed. The time zone is read afresh on every call.
    std::optional<QDateTime> nextTransitionDate(const QDateTime& from) const;

    // Adapters for time-only pickers: the start or end minute as a moment whose local hour and
    // minute are those of the minute (on the local day of the Unix epoch). A minute that names
    // no time of day gives the epoch itself.
    QDateTime startDate() const;
    QDateTime endDate() const;
    // Take the local hour and minute of a picked moment, clamped to 0...1439; the day is ignored.
    void setStartTime(const QDateTime& picked);
    void setEndTime(const QDateTime& picked);

    // Hour x 60 + minute of a moment in the current local time zone (0 when it cannot be told).
    static int localMinuteOfDay(const QDateTime& moment);

    // All five keys with their current values, unclamped.
    QJsonObject toJson() const;

    // Reads each key optionally: absent or null takes the default; unknown keys are ignored;
    // a key of the wrong JSON type (or a minute that is not an integer) fails the whole
    // decoding, with the reason in `error`. Nothing is clamped. A value that is not an object
    // fails too: the settings decoder decides what a missing member means.
    static std::optional<AntiSleepSchedule> fromJson(const QJsonValue& json, QString* error = nullptr);
};

}  // namespace tavrolin
