#pragma once

// The one place through which the application reports what it did. Every report writes its
// line to AppLog::telemetry(); only while both telemetryEnabled and onlineFeaturesEnabled are
// on does it become a TelemetryEvent handed to the client.
//
//   auto context = reporter.makeContext(TelemetryAction::editText, TelemetryTrigger::hotkey);
//   ... run the workflow ...
//   reporter.send(context, true, std::nullopt, true);             // success with duration
//   reporter.send(context, false, u"unknown_error"_s, true);      // failure
//   reporter.send(context);                                       // plain command

#include "core/app_language.h"
#include "core/app_metadata.h"
#include "core/app_settings_providing.h"
#include "core/device_identifier.h"
#include "core/telemetry_action.h"
#include "core/telemetry_client.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

class TelemetryEventReporter final {
public:
    struct Context {
        TelemetryAction action = TelemetryAction::appLaunch;
        TelemetryTrigger trigger = TelemetryTrigger::appLifecycle;
        QDateTime startedAt;
        std::optional<QString> hotkeyConfig;
        std::optional<AppLanguage> sourceLanguage;
        std::optional<AppLanguage> targetLanguage;
        std::optional<QString> targetAppBundleId;
        std::optional<TelemetrySettingsSnapshot> settingsSnapshot;

        bool operator==(const Context&) const = default;
    };

    using FrontmostAppBundleIdProvider = std::function<std::optional<QString>()>;
    // The operating system's version text as events carry it ("6.1.0").
    using OSVersionProvider = std::function<QString()>;
    using LocaleProvider = std::function<QLocale()>;
    using Clock = std::function<QDateTime()>;

    // Empty callbacks take the defaults: no front application (the composition root hands in the
    // desktop's), the kernel release's three numbers, the system locale, the current time.
    TelemetryEventReporter(std::shared_ptr<TelemetryClient> client, const AppSettingsProviding& settingsStore,
                           DeviceIdentifier& deviceIdentifier, InfoDictionary bundle,
                           FrontmostAppBundleIdProvider frontmostAppBundleIdProvider = {},
                           OSVersionProvider osVersionProvider = {}, LocaleProvider localeProvider = {},
                           Clock clock = {});

    // Made when the action starts, before any guard, so a refused action has a context too.
    Context makeContext(TelemetryAction action, TelemetryTrigger trigger,
                        std::optional<AppLanguage> sourceLanguage = std::nullopt,
                        std::optional<AppLanguage> targetLanguage = std::nullopt,
                        std::optional<TelemetrySettingsSnapshot> settingsSnapshot = std::nullopt) const;

    void send(const Context& context, std::optional<bool> success = std::nullopt,
              std::optional<QString> errorCode = std::nullopt, bool includeDuration = false) const;

    // Reports the installation when the device identifier was created by this process.
    void reportAppInstallIfNeeded() const;
    void reportAppLaunch() const;

    // Whole milliseconds from start to end, truncated toward zero and never negative; absent
    // when the difference cannot be represented (an invalid time).
    static std::optional<qint64> durationMilliseconds(const QDateTime& startedAt, const QDateTime& end);

    // The "event ..." line of the usage-event log.
    static QString logLine(TelemetryAction action, TelemetryTrigger trigger, const std::optional<QString>& hotkey,
                           std::optional<AppLanguage> source, std::optional<AppLanguage> target,
                           std::optional<bool> success, const std::optional<QString>& errorCode,
                           std::optional<qint64> durationMs, const std::optional<QString>& targetApp);

private:
    void reportLifecycle(TelemetryAction action, const DeviceIdentifierResolution& resolution) const;
    TelemetryEvent baseEvent(const DeviceIdentifierResolution& resolution, TelemetryAction action,
                             TelemetryTrigger trigger, const QDateTime& eventTime) const;

    std::shared_ptr<TelemetryClient> client_;
    const AppSettingsProviding& settingsStore_;
    DeviceIdentifier& deviceIdentifier_;
    InfoDictionary bundle_;
    FrontmostAppBundleIdProvider frontmostAppBundleIdProvider_;
    OSVersionProvider osVersionProvider_;
    LocaleProvider localeProvider_;
    Clock clock_;
};

}  // namespace tavrolin
