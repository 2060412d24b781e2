#pragma once

#include "core/user_preferred_languages_providing.h"

namespace tavrolin::test {

// The user's favoured languages, as the test sets them.
class FixedPreferredLanguages final : public UserPreferredLanguagesProviding {
public:
    explicit FixedPreferredLanguages(std::set<AppLanguage> languages) : languages_(std::move(languages)) {}
    std::set<AppLanguage> boostedLanguages() const override { return languages_; }

private:
    std::set<AppLanguage> languages_;
};

}  // namespace tavrolin::test
