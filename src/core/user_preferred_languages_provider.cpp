#include "core/user_preferred_languages_provider.h"

#include "core/user_language_preferences_service.h"

#include <utility>

namespace tavrolin {

namespace {

void insertMapped(std::set<AppLanguage>& set, const QString& identifier) {
    if (const auto language = AppLanguages::fromLanguageIdentifier(identifier, AppLanguages::targetCases())) {
        set.insert(*language);
    }
}

}  // namespace

UserPreferredLanguagesProvider::UserPreferredLanguagesProvider(
    AppSettings settings, std::shared_ptr<const UserLanguagePreferencesService> system)
    : settings_(std::move(settings)),
      system_(system ? std::move(system) : std::make_shared<const UserLanguagePreferencesService>()) {}

std::set<AppLanguage> UserPreferredLanguagesProvider::boostedLanguages() const {
    std::set<AppLanguage> boosted;
    for (const QString& identifier : system_->selectedInputSourceLanguageIdentifiers()) {
        insertMapped(boosted, identifier);
    }
    boosted.insert(settings_.targetLanguage);
    boosted.insert(settings_.messageTargetLanguage);
    boosted.insert(settings_.dictationLanguage.value_or(settings_.targetLanguage));
    const SystemLanguages languages = system_->systemLanguages();
    insertMapped(boosted, languages.localeIdentifier);
    for (const QString& identifier : languages.preferredLanguages) {
        insertMapped(boosted, identifier);
    }
    return boosted;
}

}  // namespace tavrolin
