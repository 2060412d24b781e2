#pragma once

#include "core/app_settings.h"
#include "core/user_preferred_languages_providing.h"

#include <memory>

namespace tavrolin {

class UserLanguagePreferencesService;

// The boosted languages from the settings of the moment it was created (a copy that does not
// follow later changes) and from the system: the active keyboard layout, the locale and the
// preferred languages. Safe to call from any thread.
class UserPreferredLanguagesProvider final : public UserPreferredLanguagesProviding {
public:
    // Without a service: the session's locale (no keyboard).
    explicit UserPreferredLanguagesProvider(AppSettings settings,
                                            std::shared_ptr<const UserLanguagePreferencesService> system = nullptr);

    const AppSettings& settings() const { return settings_; }

    // The keyboard's languages, the native, second and dictation language (the native one when
    // none is set), the locale's language and the preferred languages.
    std::set<AppLanguage> boostedLanguages() const override;

private:
    AppSettings settings_;
    std::shared_ptr<const UserLanguagePreferencesService> system_;
};

}  // namespace tavrolin
