#include "window_translation/source_language_detection.h"

#include "support/fakes/scripted_language_recognizer.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

RecognizedTextBlock block(const QString& text, std::vector<AppLanguage> languages = {}) {
    return {text, QRectF(0, 0, 100, 20), std::move(languages)};
}

class SourceLanguageDetection : public ::testing::Test {
protected:
    std::optional<DetectedSourceLanguage> detect(const std::vector<RecognizedTextBlock>& blocks,
                                                 const std::set<AppLanguage>& boosted = {}) {
        return detectSourceLanguage(blocks, AppLanguage::automatic, boosted, recognizer);
    }
    std::optional<DetectedSourceLanguage> detect(const QString& text, const std::set<AppLanguage>& boosted = {}) {
        return detect(std::vector<RecognizedTextBlock>{block(text)}, boosted);
    }

    test::ScriptedLanguageRecognizer recognizer;
};

TEST_F(SourceLanguageDetection, AFixedSourceIsReturnedWithFullConfidenceWithoutLookingAtText) {
    const auto fixed = detectSourceLanguage({}, AppLanguage::french, {}, recognizer);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(*fixed, (DetectedSourceLanguage{AppLanguage::french, QStringLiteral("French"), 1.0}));
    EXPECT_TRUE(recognizer.askedTexts().isEmpty());
}

TEST_F(SourceLanguageDetection, NoTextOrOnlyWeakEvidenceGivesNothing) {
    EXPECT_FALSE(detect(std::vector<RecognizedTextBlock>{}));
    EXPECT_FALSE(detect(std::vector<RecognizedTextBlock>{block(QStringLiteral(" \n ")), block(QStringLiteral("\t"))}));
    EXPECT_FALSE(detect(QStringLiteral("12:45")));
}

TEST_F(SourceLanguageDetection, ShortKeywordsFollowTheWorkedExamples) {
    // hola: 10.5 + 33 = 43.5, alone and above 28.
    EXPECT_EQ(detect(QStringLiteral("hola")),
              (DetectedSourceLanguage{AppLanguage::spanish, QStringLiteral("Spanish"), 1.0}));
    // para: Spanish 31.9 against Portuguese 26.1, share 0.55: not accepted.
    EXPECT_EQ(detect(QStringLiteral("para")),
              (DetectedSourceLanguage{AppLanguage::spanish, QStringLiteral("Spanish"), 0.49}));
    // con: Italian 26.1 alone but below 28; favoured it doubles to 52.2.
    EXPECT_EQ(detect(QStringLiteral("con")),
              (DetectedSourceLanguage{AppLanguage::italian, QStringLiteral("Italian"), 0.49}));
    EXPECT_EQ(detect(QStringLiteral("con"), {AppLanguage::italian}),
              (DetectedSourceLanguage{AppLanguage::italian, QStringLiteral("Italian"), 1.0}));
    // Favouring another language changes nothing.
    EXPECT_EQ(detect(QStringLiteral("con"), {AppLanguage::german})->confidence, 0.49);
}

TEST_F(SourceLanguageDetection, AScoreOfExactlyFiveStaysAndJustBelowIsDropped) {
    // 20 characters, 6 tokens, "this" weighs 1.0: (8 + 22) / 6 = 5.0.
    const auto five = detect(QStringLiteral("this aa bb cc dd eee"));
    ASSERT_TRUE(five);
    EXPECT_EQ(five->appLanguage, AppLanguage::english);
    EXPECT_EQ(five->confidence, 0.49);
    // 23 characters, 5 tokens, "the" weighs 0.8: (9.2 + 22) x 0.8 / 5 = 4.992.
    EXPECT_FALSE(detect(QStringLiteral("the aaaa bbbb cccc dddd")));
}

TEST_F(SourceLanguageDetection, EqualBestScoresGoToTheNameThatSortsFirst) {
    // Digits only: the statistical recognizer is the only evidence, 30 x 0.5 each.
    recognizer.script(QStringLiteral("123456"), {{QStringLiteral("es"), 0.5}, {QStringLiteral("it"), 0.5}});
    const auto tie = detect(QStringLiteral("123456"));
    ASSERT_TRUE(tie);
    EXPECT_EQ(tie->appLanguage, AppLanguage::italian);
    EXPECT_EQ(tie->confidence, 0.49);
}

TEST_F(SourceLanguageDetection, AcceptanceByShareAfterWeakLanguagesAreDropped) {
    // 80 characters without letters: block weight 36 + whole-text weight 28 = 64 for the
    // statistical recognizer alone: German 40, French 20, Dutch 4 (dropped).
    const QString digits = QStringLiteral("1234567890 ").repeated(7) + QStringLiteral("123");
    ASSERT_EQ(digits.size(), 80);
    recognizer.script(digits,
                      {{QStringLiteral("de"), 0.625}, {QStringLiteral("fr"), 0.3125}, {QStringLiteral("nl"), 0.0625}});
    const auto detected = detect(digits);
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->appLanguage, AppLanguage::german);
    EXPECT_NEAR(detected->confidence, 40.0 / 60.0, 1e-12);

    // Without the share rule a runner-up this close would win nothing.
    recognizer.script(digits, {{QStringLiteral("de"), 0.5}, {QStringLiteral("fr"), 0.5}});
    EXPECT_EQ(detect(digits)->confidence, 0.49);
}

TEST_F(SourceLanguageDetection, HebrewIsNeverDetected) {
    // The recognizer's first language is Hebrew: it takes position one, Spanish gets the
    // second position's weight; a statistical Hebrew share is dropped, and Spanish keeps its own
    // half only.
    recognizer.script(QStringLiteral("1234567"), {{QStringLiteral("iw"), 0.5}, {QStringLiteral("es"), 0.5}});
    const auto detected = detect(
        std::vector<RecognizedTextBlock>{block(QStringLiteral("1234567"), {AppLanguage::hebrew, AppLanguage::spanish})},
        {AppLanguage::hebrew});
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->appLanguage, AppLanguage::spanish);
    // 7 x 0.8 + 30 x 0.5 = 20.6, alone but below 28.
    EXPECT_EQ(detected->confidence, 0.49);

    recognizer.script(QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD"), QStringLiteral("he"));
    EXPECT_FALSE(detect(QStringLiteral("\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD"), {AppLanguage::hebrew}));
}

TEST_F(SourceLanguageDetection, AStatisticalProbabilityCountsAsItStands) {
    // A short text the recognizer is unsure of: German at 0.6 and nothing else. Weights 6 (the
    // block) and 24 (the whole text) give 18, below 28, where shares of the sum would give 30.
    recognizer.script(QStringLiteral("123456"), {{QStringLiteral("de"), 0.6}});
    const auto unsure = detect(QStringLiteral("123456"));
    ASSERT_TRUE(unsure);
    EXPECT_EQ(unsure->appLanguage, AppLanguage::german);
    EXPECT_EQ(unsure->confidence, 0.49);
}

TEST_F(SourceLanguageDetection, RecognizerLanguagesCountOnlyTheFirstTwoPositions) {
    // 4 characters: 5.6 for the first, 3.2 for the second, nothing for the third.
    const std::vector<AppLanguage> languages = {AppLanguage::dutch, AppLanguage::polish, AppLanguage::thai};
    const auto detected = detect(std::vector<RecognizedTextBlock>{block(QStringLiteral("1234"), languages)},
                                 {AppLanguage::polish, AppLanguage::thai});
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->appLanguage, AppLanguage::polish);  // 6.4 against 5.6
    EXPECT_NEAR(detected->confidence, 0.49, 1e-12);
}

TEST_F(SourceLanguageDetection, ScriptsAndLettersPointToTheirLanguages) {
    EXPECT_EQ(detect(QStringLiteral("\u3053\u308C\u306F\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8\u3067\u3059"))
                  ->appLanguage,
              AppLanguage::japanese);
    EXPECT_EQ(detect(QStringLiteral("\u0645\u0631\u062D\u0628\u0627 \u0628\u0643\u0645"))->appLanguage,
              AppLanguage::arabic);
    EXPECT_EQ(
        detect(QStringLiteral("\u0457\u0436\u0430\u043A \u0454\u0434\u043D\u0456\u0441\u0442\u044C"))->appLanguage,
        AppLanguage::ukrainian);
    EXPECT_EQ(detect(QStringLiteral("\u0441\u044A\u0435\u0448\u044C \u0435\u0449\u0451 \u044D\u0442\u0438\u0445"))
                  ->appLanguage,
              AppLanguage::russian);
}

TEST_F(SourceLanguageDetection, DecomposedLettersCountLikeComposedOnes) {
    const QString composed = QStringLiteral("ol\u00E1");
    const QString decomposed = QStringLiteral("ola\u0301");
    const auto fromComposed = detect(composed);
    ASSERT_TRUE(fromComposed);
    EXPECT_EQ(fromComposed->appLanguage, AppLanguage::portuguese);
    EXPECT_EQ(detect(decomposed), fromComposed);

    const auto french = detect(QStringLiteral("cre\u0300me bru\u0302le\u0301e"));
    EXPECT_EQ(french, detect(QStringLiteral("cr\u00E8me br\u00FBl\u00E9e")));
}

TEST_F(SourceLanguageDetection, TheStatisticalRecognizerSeesTextsOfSixCharactersOrMore) {
    recognizer.script(QStringLiteral("Guten Morgen"), QStringLiteral("de"));
    const auto detected =
        detect(std::vector<RecognizedTextBlock>{block(QStringLiteral("Guten Morgen")), block(QStringLiteral("Tag"))});
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->appLanguage, AppLanguage::german);
    const QStringList asked = recognizer.askedTexts();
    EXPECT_TRUE(asked.contains(QStringLiteral("Guten Morgen")));
    EXPECT_TRUE(asked.contains(QStringLiteral("Guten Morgen\nTag")));
    EXPECT_FALSE(asked.contains(QStringLiteral("Tag")));
}

TEST_F(SourceLanguageDetection, TextThatIsNotWellFormedIsScoredWithoutHarm) {
    QString broken = QStringLiteral("hola ");
    broken.append(QChar(0xD800));  // a lone surrogate
    broken.append(QChar(0));
    broken.append(QChar(0xDC00));
    broken.append(QStringLiteral(" \uFFFD\uFFFD"));
    const auto detected = detect(broken);
    ASSERT_TRUE(detected);
    EXPECT_EQ(detected->appLanguage, AppLanguage::spanish);
}

TEST(LanguageKeywords, NineteenLanguagesAndOneHundredFiftyKeywords) {
    const auto& table = languageKeywords();
    EXPECT_EQ(table.size(), 19u);
    std::size_t keywords = 0;
    for (const auto& [language, words] : table) {
        EXPECT_NE(language, AppLanguage::hebrew);
        EXPECT_NE(language, AppLanguage::automatic);
        keywords += words.size();
        for (const auto& [word, weight] : words) {
            EXPECT_EQ(word, word.toLower());
            EXPECT_GT(weight, 0.0);
        }
    }
    EXPECT_EQ(keywords, 150u);
    EXPECT_EQ(table.at(AppLanguage::spanish).at(QStringLiteral("pagina")), 1.1);
    EXPECT_EQ(table.at(AppLanguage::turkish).at(QStringLiteral("te\u015Fekk\u00FCrler")), 1.5);
}

}  // namespace
}  // namespace tavrolin
