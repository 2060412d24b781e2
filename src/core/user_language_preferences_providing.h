#pragma once

#include "core/app_language.h"

namespace tavrolin {

// What a fresh installation guesses about its user: the native language and the second
// ("company") language.
class UserLanguagePreferencesProviding {
public:
    virtual ~UserLanguagePreferencesProviding() = default;
    virtual AppLanguage detectNativeLanguage() const = 0;
    virtual AppLanguage detectCompanyLanguage() const = 0;
};

}  // namespace tavrolin
