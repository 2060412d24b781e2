#pragma once

#include "core/app_language.h"

#include <set>

namespace tavrolin {

// The languages that language detection favours: the user's own.
class UserPreferredLanguagesProviding {
public:
    virtual ~UserPreferredLanguagesProviding() = default;
    virtual std::set<AppLanguage> boostedLanguages() const = 0;
};

}  // namespace tavrolin
