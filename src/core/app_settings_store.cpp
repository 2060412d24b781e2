#include "core/app_settings_store.h"

#include "core/user_language_preferences_service.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <utility>

namespace tavrolin {

namespace {

// The stored settings: a JSON object, or (as some writers store documents) data holding the
// JSON text. Anything else is unreadable.
std::optional<QJsonValue> storedDocument(const DefaultsStore& defaults) {
    const auto raw = defaults.rawValue(AppSettingsStore::defaultsKey);
    if (!raw) {
        return std::nullopt;
    }
    if (const auto bytes = defaults.dataIfPresent(AppSettingsStore::defaultsKey)) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            return QJsonValue();  // present but unreadable
        }
        return document.object();
    }
    return *raw;
}

}  // namespace

AppSettingsStore::AppSettingsStore(DefaultsStore& defaults,
                                   std::shared_ptr<const UserLanguagePreferencesProviding> languagePreferences)
    : defaults_(defaults),
      languagePreferences_(languagePreferences ? std::move(languagePreferences)
                                               : std::make_shared<const UserLanguagePreferencesService>()),
      settings_(load(defaults_, *languagePreferences_)) {
    // A file that could not be parsed has been set aside, and what the program writes next
    // (the device identifier) starts a new one: without settings in it, the next start would
    // take the fresh value and switch online features on again. Nothing stored is overwritten
    // here; a file kept as it is refuses the write.
    if (defaults_.foundUnreadableData() && !defaults_.contains(defaultsKey)) {
        defaults_.setRawValue(defaultsKey, settings_.toJson());
    }
}

AppSettings AppSettingsStore::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void AppSettingsStore::setSettings(const AppSettings& settings) {
    std::lock_guard lock(mutex_);
    settings_ = settings;
}

std::optional<QString> AppSettingsStore::persist(const AppSettings& settings) {
    const AppSettings sanitized = settings.sanitized();
    setSettings(sanitized);
    if (defaults_.setRawValue(defaultsKey, sanitized.toJson())) {
        return std::nullopt;
    }
    QString reason;
    if (const auto* file = dynamic_cast<const JsonFileDefaultsStore*>(&defaults_)) {
        reason = file->lastError();
    }
    if (reason.isEmpty()) {
        reason = QStringLiteral("the settings storage refused the change");
    }
    return QStringLiteral("The settings could not be saved: %1.").arg(reason);
}

AppSettings AppSettingsStore::load(const DefaultsStore& defaults,
                                   const UserLanguagePreferencesProviding& languagePreferences) {
    const auto document = storedDocument(defaults);
    if (document) {
        if (const auto decoded = AppSettings::fromJson(*document)) {
            return decoded->sanitized();
        }
    }
    AppSettings fresh = AppSettings::fresh(languagePreferences);
    if (document || defaults.foundUnreadableData()) {
        // The user's settings exist but cannot be used. The fresh value must not switch on what
        // they switched off: each switch is on only where the stored settings say so readably.
        const QJsonObject stored = document && document->isObject() ? document->toObject() : QJsonObject();
        fresh.onlineFeaturesEnabled = stored.value(QLatin1String("onlineFeaturesEnabled")) == QJsonValue(true);
        fresh.telemetryEnabled = stored.value(QLatin1String("telemetryEnabled")) == QJsonValue(true);
    }
    return fresh.sanitized();
}

}  // namespace tavrolin
