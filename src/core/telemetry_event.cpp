#include "core/telemetry_event.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <sys/utsname.h>

namespace tavrolin {

namespace {

// Decoding helpers: a missing key is std::nullopt inside the Field; a present key of the wrong
// type fails the whole decode.
struct Decoder {
    const QJsonObject& object;
    bool failed = false;

    std::optional<QString> optionalString(const QString& key) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull()) {
            return std::nullopt;
        }
        if (!value.isString()) {
            failed = true;
            return std::nullopt;
        }
        return value.toString();
    }
    QString requiredString(const QString& key) {
        if (!object.value(key).isString()) {
            failed = true;
            return {};
        }
        return object.value(key).toString();
    }
    std::optional<bool> optionalBool(const QString& key) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull()) {
            return std::nullopt;
        }
        if (!value.isBool()) {
            failed = true;
            return std::nullopt;
        }
        return value.toBool();
    }
    std::optional<qint64> optionalInteger(const QString& key) {
        const QJsonValue value = object.value(key);
        if (value.isUndefined() || value.isNull()) {
            return std::nullopt;
        }
        const double number = value.toDouble();
        // 2^63 as a double: anything at or beyond it cannot be a signed 64-bit integer.
        if (!value.isDouble() || !std::isfinite(number) || std::trunc(number) != number ||
            number >= 9223372036854775808.0 || number < -9223372036854775808.0) {
            failed = true;
            return std::nullopt;
        }
        return static_cast<qint64>(number);
    }
};

void putOptional(QJsonObject& object, const QString& key, const std::optional<QString>& value) {
    if (value) {
        object.insert(key, *value);
    }
}

void putOptional(QJsonObject& object, const QString& key, const std::optional<bool>& value) {
    if (value) {
        object.insert(key, *value);
    }
}

}  // namespace

QString TelemetryEvent::formatEventTime(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

std::optional<QDateTime> TelemetryEvent::parseEventTime(const QString& text) {
    static const QRegularExpression form(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!form.match(text).hasMatch()) {
        return std::nullopt;
    }
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid()) {
        return std::nullopt;
    }
    return time.toUTC();
}

QJsonObject TelemetryEvent::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("userId"), userId);
    object.insert(QStringLiteral("eventTime"), formatEventTime(eventTime));
    object.insert(QStringLiteral("action"), rawValue(action));
    object.insert(QStringLiteral("trigger"), rawValue(trigger));
    putOptional(object, QStringLiteral("hotkeyConfig"), hotkeyConfig);
    putOptional(object, QStringLiteral("appVersion"), appVersion);
    putOptional(object, QStringLiteral("appBuild"), appBuild);
    object.insert(QStringLiteral("osName"), osName);
    object.insert(QStringLiteral("osVersion"), osVersion);
    object.insert(QStringLiteral("uiLocale"), uiLocale);
    putOptional(object, QStringLiteral("sourceLanguage"), sourceLanguage);
    putOptional(object, QStringLiteral("targetLanguage"), targetLanguage);
    putOptional(object, QStringLiteral("success"), success);
    putOptional(object, QStringLiteral("errorCode"), errorCode);
    if (durationMs) {
        object.insert(QStringLiteral("durationMs"), *durationMs);
    }
    putOptional(object, QStringLiteral("targetAppBundleId"), targetAppBundleId);
    putOptional(object, QStringLiteral("messageTargetLanguage"), messageTargetLanguage);
    putOptional(object, QStringLiteral("launchAtLoginEnabled"), launchAtLoginEnabled);
    putOptional(object, QStringLiteral("telemetryPreferenceEnabled"), telemetryPreferenceEnabled);
    putOptional(object, QStringLiteral("onlineFeaturesEnabled"), onlineFeaturesEnabled);
    return object;
}

QByteArray TelemetryEvent::toJsonData() const {
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<TelemetryEvent> TelemetryEvent::fromJson(const QJsonObject& object) {
    Decoder d{object};
    TelemetryEvent event;
    event.userId = d.requiredString(QStringLiteral("userId"));
    const auto time = parseEventTime(d.requiredString(QStringLiteral("eventTime")));
    const auto action = fromRawValue<TelemetryAction>(d.requiredString(QStringLiteral("action")));
    const auto trigger = fromRawValue<TelemetryTrigger>(d.requiredString(QStringLiteral("trigger")));
    if (!time || !action || !trigger) {
        return std::nullopt;
    }
    event.eventTime = *time;
    event.action = *action;
    event.trigger = *trigger;
    event.hotkeyConfig = d.optionalString(QStringLiteral("hotkeyConfig"));
    event.appVersion = d.optionalString(QStringLiteral("appVersion"));
    event.appBuild = d.optionalString(QStringLiteral("appBuild"));
    event.osName = d.requiredString(QStringLiteral("osName"));
    event.osVersion = d.requiredString(QStringLiteral("osVersion"));
    event.uiLocale = d.requiredString(QStringLiteral("uiLocale"));
    event.sourceLanguage = d.optionalString(QStringLiteral("sourceLanguage"));
    event.targetLanguage = d.optionalString(QStringLiteral("targetLanguage"));
    event.success = d.optionalBool(QStringLiteral("success"));
    event.errorCode = d.optionalString(QStringLiteral("errorCode"));
    event.durationMs = d.optionalInteger(QStringLiteral("durationMs"));
    event.targetAppBundleId = d.optionalString(QStringLiteral("targetAppBundleId"));
    event.messageTargetLanguage = d.optionalString(QStringLiteral("messageTargetLanguage"));
    event.launchAtLoginEnabled = d.optionalBool(QStringLiteral("launchAtLoginEnabled"));
    event.telemetryPreferenceEnabled = d.optionalBool(QStringLiteral("telemetryPreferenceEnabled"));
    event.onlineFeaturesEnabled = d.optionalBool(QStringLiteral("onlineFeaturesEnabled"));
    if (d.failed) {
        return std::nullopt;
    }
    return event;
}

std::optional<TelemetryEvent> TelemetryEvent::fromJsonData(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return fromJson(document.object());
}

QString TelemetryPlatform::osVersionFromKernelRelease(const QString& release) {
    static const QRegularExpression numbers(QStringLiteral(R"(^(\d+)(?:\.(\d+))?(?:\.(\d+))?)"));
    const auto match = numbers.match(release);
    QStringList parts;
    for (int i = 1; i <= 3; ++i) {
        const QString part = match.hasMatch() ? match.captured(i) : QString();
        parts << (part.isEmpty() ? QStringLiteral("0") : QString::number(part.toULongLong()));
    }
    return parts.join(QLatin1Char('.'));
}

TelemetryPlatform TelemetryPlatform::current() {
    struct utsname name {};
    QString release;
    if (::uname(&name) == 0) {
        release = QString::fromLocal8Bit(name.release);
    }
    return TelemetryPlatform{QStringLiteral("Linux"), osVersionFromKernelRelease(release), QLocale::system().name()};
}

}  // namespace tavrolin
