#pragma once

#include "core/app_settings.h"
#include "core/app_settings_providing.h"
#include "core/defaults_store.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace tavrolin {

class UserLanguagePreferencesProviding;

// Owns the current settings for the life of the process. Loaded once at construction from
// the defaults key "appSettings"; replaced as a whole by the writers (the settings save path,
// the dictation scratchpad's language change).
class AppSettingsStore final : public AppSettingsProviding {
public:
    static inline const QString defaultsKey = QStringLiteral("appSettings");

    // Without language preferences the session's locale is used (UserLanguagePreferencesService
    // without a keyboard).
    // When the defaults file could not be parsed and was set aside, the loaded value is stored
    // in the new one, so that the next start keeps online features and usage statistics as
    // this one found them.
    AppSettingsStore(DefaultsStore& defaults,
                     std::shared_ptr<const UserLanguagePreferencesProviding> languagePreferences = nullptr);

    // A copy of the current value; safe from any thread.
    AppSettings settings() const override;
    // Replaces the current value (in memory only).
    void setSettings(const AppSettings& settings);

    // Makes the sanitised `settings` current and writes it under "appSettings". The value is
    // current even when the write fails; the answer is then the reason, for the user to see.
    std::optional<QString> persist(const AppSettings& settings);

    DefaultsStore& defaults() const { return defaults_; }
    const UserLanguagePreferencesProviding& languagePreferences() const { return *languagePreferences_; }

    // The sanitised stored settings; the fresh value (with the user's languages) when nothing is
    // stored or the stored value cannot be decoded. Stored settings that cannot be used still
    // keep online features and usage statistics off unless they hold them on as readable
    // booleans (a file that cannot be read at all: off). Never writes: an undecodable value
    // stays stored as it is until a writer saves new settings.
    static AppSettings load(const DefaultsStore& defaults, const UserLanguagePreferencesProviding& languagePreferences);

private:
    DefaultsStore& defaults_;
    std::shared_ptr<const UserLanguagePreferencesProviding> languagePreferences_;
    mutable std::mutex mutex_;
    AppSettings settings_;
};

}  // namespace tavrolin
