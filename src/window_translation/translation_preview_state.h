#pragma once

#include "core/app_language.h"

#include <QString>

#include <optional>

namespace tavrolin {

// The language pair a translated window image was really translated with.
struct AppliedTranslation {
    AppLanguage sourceLanguage = AppLanguage::automatic;
    AppLanguage targetLanguage = AppLanguage::english;

    bool operator==(const AppliedTranslation&) const = default;
};

// Which pair the language picker shows as chosen, and which pair the image on screen was
// translated with (absent for an untranslated image).
struct TranslationPreviewState {
    TranslationLanguagePair selectedLanguagePair;
    std::optional<AppliedTranslation> appliedTranslation;

    // "German -> English": the applied pair when there is one, else the selected pair.
    QString displayName() const;

    bool operator==(const TranslationPreviewState&) const = default;
};

}  // namespace tavrolin
