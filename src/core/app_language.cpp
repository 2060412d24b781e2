#include "core/app_language.h"

#include <array>
#include <string_view>

namespace tavrolin {

namespace {

struct LanguageRow {
    AppLanguage language;
    std::string_view code;
    std::string_view displayName;
    std::string_view loadingText;                            // UTF-8, ends in three ASCII dots
    std::array<std::string_view, 5> recognitionIdentifiers;  // empty entries unused
    bool rightToLeft;
};

// Declaration order is picker order; every list below derives from it.
constexpr std::array<LanguageRow, 21> kLanguages{{
    {AppLanguage::automatic, "auto", "Auto Detect", "Translating...", {}, false},
    {AppLanguage::arabic, "ar", "Arabic", "جارٍ الترجمة...", {"ar-SA", "ar-AE"}, true},
    {AppLanguage::chinese, "zh", "Chinese", "正在翻译...", {"zh-Hans", "zh-Hant", "zh-CN", "zh-TW", "zh-HK"}, false},
    {AppLanguage::dutch, "nl", "Dutch", "Vertalen...", {"nl-NL"}, false},
    {AppLanguage::english, "en", "English", "Translating...", {"en-US", "en-GB"}, false},
    {AppLanguage::german, "de", "German", "Wird übersetzt...", {"de-DE"}, false},
    {AppLanguage::french, "fr", "French", "Traduction en cours...", {"fr-FR"}, false},
    {AppLanguage::hebrew, "he", "Hebrew", "מתרגם...", {"he-IL"}, true},
    {AppLanguage::hindi, "hi", "Hindi", "अनुवाद हो रहा है...", {"hi-IN"}, false},
    {AppLanguage::indonesian, "id", "Indonesian", "Sedang menerjemahkan...", {"id-ID"}, false},
    {AppLanguage::spanish, "es", "Spanish", "Traduciendo...", {"es-ES", "es-MX"}, false},
    {AppLanguage::italian, "it", "Italian", "Traduzione in corso...", {"it-IT"}, false},
    {AppLanguage::polish, "pl", "Polish", "Tłumaczenie...", {"pl-PL"}, false},
    {AppLanguage::portuguese, "pt", "Portuguese", "Traduzindo...", {"pt-BR", "pt-PT"}, false},
    {AppLanguage::japanese, "ja", "Japanese", "翻訳中...", {"ja-JP"}, false},
    {AppLanguage::korean, "ko", "Korean", "번역 중...", {"ko-KR"}, false},
    {AppLanguage::russian, "ru", "Russian", "Перевод...", {"ru-RU"}, false},
    {AppLanguage::thai, "th", "Thai", "กำลังแปล...", {"th-TH"}, false},
    {AppLanguage::turkish, "tr", "Turkish", "Çevriliyor...", {"tr-TR"}, false},
    {AppLanguage::ukrainian, "uk", "Ukrainian", "Триває переклад...", {"uk-UA"}, false},
    {AppLanguage::vietnamese, "vi", "Vietnamese", "Đang dịch...", {"vi-VN"}, false},
}};

constexpr bool rowsFollowDeclarationOrder() {
    for (std::size_t i = 0; i < kLanguages.size(); ++i) {
        if (static_cast<std::size_t>(kLanguages[i].language) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowDeclarationOrder(), "the language table must follow the enum order");

const LanguageRow& row(AppLanguage language) {
    return kLanguages.at(static_cast<std::size_t>(language));
}

QString utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<AppLanguage> casesWithout(AppLanguage excluded) {
    std::vector<AppLanguage> cases;
    for (const auto& entry : kLanguages) {
        if (entry.language != excluded) {
            cases.push_back(entry.language);
        }
    }
    return cases;
}

}  // namespace

QString rawValue(AppLanguage language) {
    return utf8(row(language).code);
}

template <>
std::optional<AppLanguage> fromRawValue<AppLanguage>(QStringView raw) {
    for (const auto& entry : kLanguages) {
        if (raw == QLatin1StringView(entry.code.data(), static_cast<qsizetype>(entry.code.size()))) {
            return entry.language;
        }
    }
    return std::nullopt;
}

QString displayName(AppLanguage language) {
    return utf8(row(language).displayName);
}

QString translationLoadingText(AppLanguage language) {
    return utf8(row(language).loadingText);
}

QStringList recognitionIdentifiers(AppLanguage language) {
    QStringList identifiers;
    for (const auto identifier : row(language).recognitionIdentifiers) {
        if (!identifier.empty()) {
            identifiers.append(utf8(identifier));
        }
    }
    return identifiers;
}

bool isRightToLeft(AppLanguage language) {
    return row(language).rightToLeft;
}

const std::vector<AppLanguage>& AppLanguages::allCases() {
    static const std::vector<AppLanguage> cases = [] {
        std::vector<AppLanguage> all;
        for (const auto& entry : kLanguages) {
            all.push_back(entry.language);
        }
        return all;
    }();
    return cases;
}

const std::vector<AppLanguage>& AppLanguages::targetCases() {
    static const std::vector<AppLanguage> cases = casesWithout(AppLanguage::automatic);
    return cases;
}

const std::vector<AppLanguage>& AppLanguages::sourceCases() {
    static const std::vector<AppLanguage> cases = casesWithout(AppLanguage::hebrew);
    return cases;
}

const std::vector<AppLanguage>& AppLanguages::sourceDetectionCases() {
    // A function-local static: built once, thread-safely, on first use.
    static const std::vector<AppLanguage> cases = sourceCases();
    return cases;
}

std::vector<AppLanguage> AppLanguages::filteredCases(const std::vector<AppLanguage>& cases,
                                                     bool onlineFeaturesEnabled) {
    if (onlineFeaturesEnabled) {
        return cases;
    }
    std::vector<AppLanguage> filtered;
    filtered.reserve(cases.size());
    for (const auto language : cases) {
        if (language != AppLanguage::hebrew) {
            filtered.push_back(language);
        }
    }
    return filtered;
}

std::optional<AppLanguage> AppLanguages::fromLanguageIdentifier(QStringView identifier,
                                                                const std::vector<AppLanguage>& availableCases) {
    QString code;
    bool found = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= identifier.size() && !found; ++i) {
        if (i == identifier.size() || identifier[i] == u'-' || identifier[i] == u'_') {
            if (i > start) {
                code = identifier.mid(start, i - start).toString();
                found = true;
            }
            start = i + 1;
        }
    }
    if (!found) {
        code = identifier.toString();
    }
    code = code.toLower();
    if (code == u"iw") {
        code = QStringLiteral("he");
    }
    for (const auto language : availableCases) {
        if (rawValue(language) == code) {
            return language;
        }
    }
    return std::nullopt;
}

}  // namespace tavrolin
