#pragma once

#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <optional>

namespace tavrolin {

// Enumerations whose cases travel as fixed strings (languages, actions, triggers, keys) pair a
// `rawValue(E)` overload with a specialisation of `fromRawValue<E>`. The lookup is exact and
// case-sensitive; anything else is none.
template <typename Enum>
std::optional<Enum> fromRawValue(QStringView raw);

// JSON form of such an enumeration: its raw value as a JSON string.
template <typename Enum>
QJsonValue rawValueToJson(Enum value) {
    return QJsonValue(rawValue(value));
}

// Decoding fails (none) for anything but a JSON string holding one of the raw values.
template <typename Enum>
std::optional<Enum> rawValueFromJson(const QJsonValue& json) {
    if (!json.isString()) {
        return std::nullopt;
    }
    return fromRawValue<Enum>(json.toString());
}

}  // namespace tavrolin
