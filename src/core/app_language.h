#pragma once

#include "core/raw_value.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrolin {

// The closed list of languages the program speaks about, in picker order. The raw value of a
// case is its code ("auto", "ar", "zh", ...).
enum class AppLanguage : std::uint8_t {
    automatic,
    arabic,
    chinese,
    dutch,
    english,
    german,
    french,
    hebrew,
    hindi,
    indonesian,
    spanish,
    italian,
    polish,
    portuguese,
    japanese,
    korean,
    russian,
    thai,
    turkish,
    ukrainian,
    vietnamese,
};

QString rawValue(AppLanguage language);
template <>
std::optional<AppLanguage> fromRawValue<AppLanguage>(QStringView raw);

// English name shown in pickers ("Auto Detect" for automatic).
QString displayName(AppLanguage language);
// The "Translating..." text written in the language itself, shown while a translation into it
// is running.
QString translationLoadingText(AppLanguage language);
// Locale identifiers handed to text recognition and dictation (empty for automatic).
QStringList recognitionIdentifiers(AppLanguage language);
bool isRightToLeft(AppLanguage language);

// The derived case lists. Hebrew is never a source; it is a target only while online features
// are on (only the server translates it). Automatic is never a target.
struct AppLanguages {
    AppLanguages() = delete;

    // All 21 cases in declaration order.
    static const std::vector<AppLanguage>& allCases();
    // Every case but automatic: what can be translated into, native and second language.
    static const std::vector<AppLanguage>& targetCases();
    // Every case but hebrew, automatic first: what a picker offers as a source.
    static const std::vector<AppLanguage>& sourceCases();
    // The same cases as sourceCases, built once for the life of the process: the languages
    // text recognition limits its detection to.
    static const std::vector<AppLanguage>& sourceDetectionCases();

    // The list unchanged while online features are on, otherwise without hebrew (order kept).
    static std::vector<AppLanguage> filteredCases(const std::vector<AppLanguage>& cases, bool onlineFeaturesEnabled);

    // Maps a system language identifier ("en-US", "pt_BR", "iw", "zh-Hant-TW") to the first
    // case of availableCases whose code equals the identifier's first piece, lower-cased;
    // "iw" counts as "he". None when nothing matches.
    static std::optional<AppLanguage> fromLanguageIdentifier(QStringView identifier,
                                                             const std::vector<AppLanguage>& availableCases);
};

// A source and a target chosen together in a language picker.
struct TranslationLanguagePair {
    AppLanguage source = AppLanguage::automatic;
    AppLanguage target = AppLanguage::english;

    // An automatic source, or two different languages.
    bool isValidSelection() const { return source == AppLanguage::automatic || source != target; }
    bool operator==(const TranslationLanguagePair&) const = default;
};

}  // namespace tavrolin
