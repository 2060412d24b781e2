#include "core/app_language.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(AppLanguageTable, CodesRoundTripAndAreUnique) {
    const auto& all = AppLanguages::allCases();
    ASSERT_EQ(all.size(), 21u);
    QSet<QString> codes;
    for (const auto language : all) {
        const QString code = rawValue(language);
        codes.insert(code);
        EXPECT_EQ(fromRawValue<AppLanguage>(code), language) << code.toStdString();
    }
    EXPECT_EQ(codes.size(), 21);
    // Exact, case-sensitive lookup.
    EXPECT_EQ(fromRawValue<AppLanguage>(u"EN"), std::nullopt);
    EXPECT_EQ(fromRawValue<AppLanguage>(u"en "), std::nullopt);
    EXPECT_EQ(fromRawValue<AppLanguage>(u""), std::nullopt);
    EXPECT_EQ(fromRawValue<AppLanguage>(u"iw"), std::nullopt);
}

TEST(AppLanguageTable, PickerOrderAndSampleRows) {
    const auto& all = AppLanguages::allCases();
    QStringList codes;
    for (const auto language : all) {
        codes << rawValue(language);
    }
    EXPECT_EQ(codes.join(u','), "auto,ar,zh,nl,en,de,fr,he,hi,id,es,it,pl,pt,ja,ko,ru,th,tr,uk,vi");

    EXPECT_EQ(displayName(AppLanguage::automatic), "Auto Detect");
    EXPECT_EQ(translationLoadingText(AppLanguage::ukrainian), QString::fromUtf8("Триває переклад..."));
    EXPECT_EQ(translationLoadingText(AppLanguage::arabic), QString::fromUtf8("جارٍ الترجمة..."));
    EXPECT_EQ(recognitionIdentifiers(AppLanguage::chinese),
              QStringList({"zh-Hans", "zh-Hant", "zh-CN", "zh-TW", "zh-HK"}));
    EXPECT_TRUE(recognitionIdentifiers(AppLanguage::automatic).isEmpty());
}

TEST(AppLanguageTable, EveryLanguageHasItsOwnTexts) {
    for (const auto language : AppLanguages::allCases()) {
        const QString loading = translationLoadingText(language);
        SCOPED_TRACE(rawValue(language).toStdString());
        // Three ASCII dots, not an ellipsis character, so the loading frame measures them alike.
        EXPECT_TRUE(loading.endsWith(QLatin1StringView("...")));
        EXPECT_FALSE(loading.contains(QChar(0x2026)));
        EXPECT_FALSE(displayName(language).isEmpty());
        EXPECT_EQ(recognitionIdentifiers(language).isEmpty(), language == AppLanguage::automatic);
        for (const auto& identifier : recognitionIdentifiers(language)) {
            // Every recognition locale maps back to its own language.
            EXPECT_EQ(AppLanguages::fromLanguageIdentifier(identifier, AppLanguages::targetCases()), language);
        }
        EXPECT_EQ(isRightToLeft(language), language == AppLanguage::arabic || language == AppLanguage::hebrew);
    }
}

TEST(AppLanguageCases, DerivedLists) {
    const auto& targets = AppLanguages::targetCases();
    ASSERT_EQ(targets.size(), 20u);
    EXPECT_EQ(targets.front(), AppLanguage::arabic);
    EXPECT_EQ(std::count(targets.begin(), targets.end(), AppLanguage::automatic), 0);

    const auto& sources = AppLanguages::sourceCases();
    ASSERT_EQ(sources.size(), 20u);
    EXPECT_EQ(sources.front(), AppLanguage::automatic);
    EXPECT_EQ(std::count(sources.begin(), sources.end(), AppLanguage::hebrew), 0);

    EXPECT_EQ(AppLanguages::sourceDetectionCases(), sources);
    EXPECT_EQ(&AppLanguages::sourceDetectionCases(), &AppLanguages::sourceDetectionCases());
}

TEST(AppLanguageCases, FilteredCasesDropHebrewOnlyOffline) {
    const auto offline = AppLanguages::filteredCases(AppLanguages::targetCases(), false);
    EXPECT_EQ(offline.size(), 19u);
    EXPECT_EQ(std::count(offline.begin(), offline.end(), AppLanguage::hebrew), 0);
    // Order kept: the offline list is the full list with the one gap.
    auto expected = AppLanguages::targetCases();
    expected.erase(std::find(expected.begin(), expected.end(), AppLanguage::hebrew));
    EXPECT_EQ(offline, expected);

    EXPECT_EQ(AppLanguages::filteredCases(AppLanguages::targetCases(), true), AppLanguages::targetCases());
    const std::vector<AppLanguage> onlyHebrew{AppLanguage::hebrew, AppLanguage::hebrew};
    EXPECT_TRUE(AppLanguages::filteredCases(onlyHebrew, false).empty());
}

struct IdentifierCase {
    const char* identifier;
    std::optional<AppLanguage> expected;
};

class FromLanguageIdentifier : public ::testing::TestWithParam<IdentifierCase> {};

TEST_P(FromLanguageIdentifier, AgainstTargetCases) {
    const auto& param = GetParam();
    EXPECT_EQ(AppLanguages::fromLanguageIdentifier(QString::fromUtf8(param.identifier), AppLanguages::targetCases()),
              param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, FromLanguageIdentifier,
    ::testing::Values(IdentifierCase{"en-US", AppLanguage::english}, IdentifierCase{"en_GB", AppLanguage::english},
                      IdentifierCase{"EN", AppLanguage::english}, IdentifierCase{"en", AppLanguage::english},
                      IdentifierCase{"zh-Hant-TW", AppLanguage::chinese},
                      IdentifierCase{"zh-Hans", AppLanguage::chinese}, IdentifierCase{"pt_BR", AppLanguage::portuguese},
                      IdentifierCase{"iw", AppLanguage::hebrew}, IdentifierCase{"iw-IL", AppLanguage::hebrew},
                      IdentifierCase{"IW_il", AppLanguage::hebrew}, IdentifierCase{"-en", AppLanguage::english},
                      IdentifierCase{"__ru--RU", AppLanguage::russian}, IdentifierCase{"", std::nullopt},
                      IdentifierCase{"--", std::nullopt}, IdentifierCase{"_", std::nullopt},
                      IdentifierCase{"sv-SE", std::nullopt}, IdentifierCase{"fil", std::nullopt},
                      IdentifierCase{"auto", std::nullopt}, IdentifierCase{"e", std::nullopt},
                      IdentifierCase{"eng", std::nullopt}));

TEST(AppLanguageIdentifier, DependsOnTheGivenList) {
    const auto offlineTargets = AppLanguages::filteredCases(AppLanguages::targetCases(), false);
    EXPECT_EQ(AppLanguages::fromLanguageIdentifier(u"iw", offlineTargets), std::nullopt);
    EXPECT_EQ(AppLanguages::fromLanguageIdentifier(u"iw-IL", offlineTargets), std::nullopt);
    EXPECT_EQ(AppLanguages::fromLanguageIdentifier(u"auto", AppLanguages::allCases()), AppLanguage::automatic);
    EXPECT_EQ(AppLanguages::fromLanguageIdentifier(u"en", {}), std::nullopt);
}

TEST(TranslationLanguagePairTest, ValidSelection) {
    EXPECT_TRUE((TranslationLanguagePair{AppLanguage::automatic, AppLanguage::english}).isValidSelection());
    EXPECT_TRUE((TranslationLanguagePair{AppLanguage::automatic, AppLanguage::automatic}).isValidSelection());
    EXPECT_FALSE((TranslationLanguagePair{AppLanguage::english, AppLanguage::english}).isValidSelection());
    EXPECT_TRUE((TranslationLanguagePair{AppLanguage::russian, AppLanguage::english}).isValidSelection());
}

TEST(AppLanguageJson, EncodesAsCodeAndRejectsEverythingElse) {
    EXPECT_EQ(rawValueToJson(AppLanguage::ukrainian), QJsonValue("uk"));
    // Through a real document, as settings are stored.
    const QJsonArray array{rawValueToJson(AppLanguage::automatic), rawValueToJson(AppLanguage::hebrew)};
    EXPECT_EQ(QJsonDocument(array).toJson(QJsonDocument::Compact), R"(["auto","he"])");

    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue("uk")), AppLanguage::ukrainian);
    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue("klingon")), std::nullopt);
    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue("English")), std::nullopt);
    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue(4)), std::nullopt);
    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue(QJsonValue::Null)), std::nullopt);
    EXPECT_EQ(rawValueFromJson<AppLanguage>(QJsonValue(QJsonArray{"en"})), std::nullopt);
}

}  // namespace
}  // namespace tavrolin
