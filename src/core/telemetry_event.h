#pragma once

#include "core/app_language.h"
#include "core/telemetry_action.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace tavrolin {

// The settings an event may carry. The native language (targetLanguage) travels along but an
// event takes its "targetLanguage" from the workflow, not from here.
struct TelemetrySettingsSnapshot {
    AppLanguage targetLanguage = AppLanguage::english;
    AppLanguage messageTargetLanguage = AppLanguage::english;
    bool launchAtLoginEnabled = false;
    bool telemetryEnabled = false;
    bool onlineFeaturesEnabled = false;

    bool operator==(const TelemetrySettingsSnapshot&) const = default;
};

// One usage event as the server receives it: one JSON object, absent optionals left out
// (never null). Languages travel as their codes.
struct TelemetryEvent {
    QString userId;       // the device identifier, an upper-case UUID
    QDateTime eventTime;  // when the action started; written in UTC with whole seconds
    TelemetryAction action = TelemetryAction::appLaunch;
    TelemetryTrigger trigger = TelemetryTrigger::appLifecycle;
    std::optional<QString> hotkeyConfig;
    std::optional<QString> appVersion;
    std::optional<QString> appBuild;
    QString osName;
    QString osVersion;
    QString uiLocale;
    std::optional<QString> sourceLanguage;
    std::optional<QString> targetLanguage;
    std::optional<bool> success;
    std::optional<QString> errorCode;
    std::optional<qint64> durationMs;
    std::optional<QString> targetAppBundleId;
    std::optional<QString> messageTargetLanguage;
    std::optional<bool> launchAtLoginEnabled;
    std::optional<bool> telemetryPreferenceEnabled;
    std::optional<bool> onlineFeaturesEnabled;

    bool operator==(const TelemetryEvent&) const = default;

    QJsonObject toJson() const;
    // Compact JSON text.
    QByteArray toJsonData() const;
    // Fails (none) on a missing required key, a value of the wrong JSON type, an unknown action
    // or trigger, or a malformed date. Unknown keys are ignored.
    static std::optional<TelemetryEvent> fromJson(const QJsonObject& object);
    static std::optional<TelemetryEvent> fromJsonData(const QByteArray& data);

    // "2026-03-01T09:15:30Z".
    static QString formatEventTime(const QDateTime& time);
    // The internet date-time form: whole seconds, "Z" or a "+hh:mm" offset.
    static std::optional<QDateTime> parseEventTime(const QString& text);
};

// The platform fields every event carries.
struct TelemetryPlatform {
    QString osName;     // "Linux"
    QString osVersion;  // the kernel release's first three numbers, "6.1.0"
    QString uiLocale;   // QLocale::system().name()

    static TelemetryPlatform current();
    // "6.1.0-18-amd64" gives "6.1.0", "5.10" gives "5.10.0"; missing numbers are 0.
    static QString osVersionFromKernelRelease(const QString& release);
};

}  // namespace tavrolin
