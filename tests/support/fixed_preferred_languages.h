#pragma once

#include "core/user_preferred_languages_providing.h"

#include <set>
#include <utility>

namespace tavrolin::test {

// The user's favoured languages, as set (English by default).
class FixedPreferredLanguages final : public UserPreferredLanguagesProviding {
public:
    explicit FixedPreferredLanguages(std::set<AppLanguage> languages = {AppLanguage::english})
        : languages(std::move(languages)) {}
    std::set<AppLanguage> languages;
    std::set<AppLanguage> boostedLanguages() const override { return languages; }
};

}  // namespace tavrolin::test
