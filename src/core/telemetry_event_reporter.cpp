#include "core/telemetry_event_reporter.h"

#include "core/app_log.h"
#include "core/app_settings.h"

#include <QJsonValue>

namespace tavrolin {

namespace {

QString orNone(const std::optional<QString>& value) {
    return value ? *value : QStringLiteral("none");
}

QString codeOrNone(std::optional<AppLanguage> language) {
    return language ? rawValue(*language) : QStringLiteral("none");
}

QString boolOrNone(std::optional<bool> value) {
    if (!value) {
        return QStringLiteral("none");
    }
    return *value ? QStringLiteral("true") : QStringLiteral("false");
}

// A non-empty string value of the Info dictionary; anything else counts as missing.
QString infoString(const InfoDictionary& bundle, const QString& key, const QString& fallback) {
    const QJsonValue value = bundle.value(key);
    if (value.isString() && !value.toString().isEmpty()) {
        return value.toString();
    }
    return fallback;
}

// The shortcut whose display name a hot-key report carries.
std::optional<HotKeyShortcut> shortcutFor(TelemetryAction action, const AppSettings& settings) {
    switch (action) {
    case TelemetryAction::captureAndTranslateActiveWindow:
    case TelemetryAction::translateSelection:
        return settings.captureAndTranslateShortcut;
    case TelemetryAction::translateMessage:
        return settings.translateMessageShortcut;
    case TelemetryAction::editText:
        return settings.editTextShortcut;
    case TelemetryAction::writeText:
        return settings.writeTextShortcut;
    case TelemetryAction::flipLanguage:
        return settings.flipLanguageShortcut;
    case TelemetryAction::createPrompt:
        return settings.createPromptShortcut;
    default:
        return std::nullopt;
    }
}

}  // namespace

TelemetryEventReporter::TelemetryEventReporter(std::shared_ptr<TelemetryClient> client,
                                               const AppSettingsProviding& settingsStore,
                                               DeviceIdentifier& deviceIdentifier, InfoDictionary bundle,
                                               FrontmostAppBundleIdProvider frontmostAppBundleIdProvider,
                                               OSVersionProvider osVersionProvider, LocaleProvider localeProvider,
                                               Clock clock)
    : client_(std::move(client)),
      settingsStore_(settingsStore),
      deviceIdentifier_(deviceIdentifier),
      bundle_(std::move(bundle)),
      frontmostAppBundleIdProvider_(
          frontmostAppBundleIdProvider
              ? std::move(frontmostAppBundleIdProvider)
              : FrontmostAppBundleIdProvider([]() -> std::optional<QString> { return std::nullopt; })),
      osVersionProvider_(osVersionProvider ? std::move(osVersionProvider)
                                           : OSVersionProvider([] { return TelemetryPlatform::current().osVersion; })),
      localeProvider_(localeProvider ? std::move(localeProvider) : LocaleProvider([] { return QLocale::system(); })),
      clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); })) {}

TelemetryEventReporter::Context TelemetryEventReporter::makeContext(
    TelemetryAction action, TelemetryTrigger trigger, std::optional<AppLanguage> sourceLanguage,
    std::optional<AppLanguage> targetLanguage, std::optional<TelemetrySettingsSnapshot> settingsSnapshot) const {
    Context context;
    context.action = action;
    context.trigger = trigger;
    context.startedAt = clock_();
    if (trigger == TelemetryTrigger::hotkey) {
        if (const auto shortcut = shortcutFor(action, settingsStore_.settings())) {
            context.hotkeyConfig = shortcut->displayName();
        }
    }
    context.sourceLanguage = sourceLanguage;
    context.targetLanguage = targetLanguage;
    context.targetAppBundleId = frontmostAppBundleIdProvider_();
    context.settingsSnapshot = settingsSnapshot;
    return context;
}

std::optional<qint64> TelemetryEventReporter::durationMilliseconds(const QDateTime& startedAt, const QDateTime& end) {
    // Both times carry whole milliseconds, so the difference in milliseconds is already the
    // value truncated toward zero; an invalid time has no duration at all.
    if (!startedAt.isValid() || !end.isValid()) {
        return std::nullopt;
    }
    const qint64 start = startedAt.toMSecsSinceEpoch();
    const qint64 finish = end.toMSecsSinceEpoch();
    qint64 difference = 0;
    if (__builtin_sub_overflow(finish, start, &difference)) {
        return std::nullopt;
    }
    return std::max<qint64>(0, difference);
}

QString TelemetryEventReporter::logLine(TelemetryAction action, TelemetryTrigger trigger,
                                        const std::optional<QString>& hotkey, std::optional<AppLanguage> source,
                                        std::optional<AppLanguage> target, std::optional<bool> success,
                                        const std::optional<QString>& errorCode, std::optional<qint64> durationMs,
                                        const std::optional<QString>& targetApp) {
    return QStringLiteral(
               "event action=%1 trigger=%2 hotkey=%3 source=%4 target=%5 success=%6 error=%7 "
               "durationMs=%8 targetApp=%9")
        .arg(rawValue(action), rawValue(trigger), orNone(hotkey), codeOrNone(source), codeOrNone(target),
             boolOrNone(success), orNone(errorCode), durationMs ? QString::number(*durationMs) : QStringLiteral("none"),
             orNone(targetApp));
}

TelemetryEvent TelemetryEventReporter::baseEvent(const DeviceIdentifierResolution& resolution, TelemetryAction action,
                                                 TelemetryTrigger trigger, const QDateTime& eventTime) const {
    TelemetryEvent event;
    event.userId = resolution.idText();
    event.eventTime = eventTime;
    event.action = action;
    event.trigger = trigger;
    event.appVersion = infoString(bundle_, QStringLiteral("CFBundleShortVersionString"), QStringLiteral("0.1.0"));
    event.appBuild = infoString(bundle_, QStringLiteral("CFBundleVersion"), QStringLiteral("0"));
    event.osName = QStringLiteral("Linux");
    event.osVersion = osVersionProvider_();
    event.uiLocale = localeProvider_().name();
    return event;
}

void TelemetryEventReporter::send(const Context& context, std::optional<bool> success, std::optional<QString> errorCode,
                                  bool includeDuration) const {
    const QDateTime now = clock_();
    const std::optional<qint64> durationMs =
        includeDuration ? durationMilliseconds(context.startedAt, now) : std::nullopt;
    const DeviceIdentifierResolution resolution = deviceIdentifier_.currentResolution();

    AppLog::telemetry().info([&] {
        return logLine(context.action, context.trigger, context.hotkeyConfig, context.sourceLanguage,
                       context.targetLanguage, success, errorCode, durationMs, context.targetAppBundleId);
    });

    const AppSettings settings = settingsStore_.settings();
    if (!settings.telemetryEnabled || !settings.onlineFeaturesEnabled) {
        return;
    }

    TelemetryEvent event = baseEvent(resolution, context.action, context.trigger, context.startedAt);
    event.hotkeyConfig = context.hotkeyConfig;
    event.targetAppBundleId = context.targetAppBundleId;
    if (context.sourceLanguage) {
        event.sourceLanguage = rawValue(*context.sourceLanguage);
    }
    if (context.targetLanguage) {
        event.targetLanguage = rawValue(*context.targetLanguage);
    }
    event.success = success;
    event.errorCode = errorCode;
    event.durationMs = durationMs;
    if (const auto& snapshot = context.settingsSnapshot) {
        event.messageTargetLanguage = rawValue(snapshot->messageTargetLanguage);
        event.launchAtLoginEnabled = snapshot->launchAtLoginEnabled;
        event.telemetryPreferenceEnabled = snapshot->telemetryEnabled;
        event.onlineFeaturesEnabled = snapshot->onlineFeaturesEnabled;
    }
    client_->send(event);
}

void TelemetryEventReporter::reportAppInstallIfNeeded() const {
    const DeviceIdentifierResolution resolution = deviceIdentifier_.currentResolution();
    if (!resolution.wasCreated) {
        return;
    }
    reportLifecycle(TelemetryAction::appInstall, resolution);
}

void TelemetryEventReporter::reportAppLaunch() const {
    reportLifecycle(TelemetryAction::appLaunch, deviceIdentifier_.currentResolution());
}

void TelemetryEventReporter::reportLifecycle(TelemetryAction action,
                                             const DeviceIdentifierResolution& resolution) const {
    const QDateTime now = clock_();
    const AppSettings settings = settingsStore_.settings();
    AppLog::telemetry().info([&] {
        return logLine(action, TelemetryTrigger::appLifecycle, std::nullopt, std::nullopt, std::nullopt, true,
                       std::nullopt, std::nullopt, std::nullopt);
    });
    if (!settings.telemetryEnabled || !settings.onlineFeaturesEnabled) {
        return;
    }
    TelemetryEvent event = baseEvent(resolution, action, TelemetryTrigger::appLifecycle, now);
    event.success = true;
    event.messageTargetLanguage = rawValue(settings.messageTargetLanguage);
    event.launchAtLoginEnabled = settings.launchAtLoginEnabled;
    event.telemetryPreferenceEnabled = settings.telemetryEnabled;
    event.onlineFeaturesEnabled = settings.onlineFeaturesEnabled;
    client_->send(event);
}

}  // namespace tavrolin
