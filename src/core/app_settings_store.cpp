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
      settings_(load(defaults_, *languagePreferences_)) {}

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
    if (const auto document = storedDocument(defaults)) {
        if (const auto decoded = AppSettings::fromJson(*document)) {
            return decoded->sanitized();
        }
    }
    return AppSettings::fresh(languagePreferences).sanitized();
}

}  // namespace tavrolin
