#include "platform/linux/cld2_language_recognizer.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

struct Sample {
    const char* text;
    const char* expected;  // nullptr: no language
};

class Cld2Recognition : public ::testing::TestWithParam<Sample> {};

TEST_P(Cld2Recognition, DominantLanguage) {
    const Cld2LanguageRecognizer recognizer;
    const auto language = recognizer.dominantLanguage(QString::fromUtf8(GetParam().text));
    if (GetParam().expected == nullptr) {
        EXPECT_EQ(language, std::nullopt);
    } else {
        EXPECT_EQ(language, QString::fromUtf8(GetParam().expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, Cld2Recognition,
                         ::testing::Values(Sample{"The weather is lovely today and we are going to the park.", "en"},
                                           Sample{"Hello", "en"}, Sample{"Привет", "ru"},
                                           Sample{"Привет, как дела? Мы давно не виделись.", "ru"},
                                           Sample{"Привіт, як справи? Ми давно не бачилися, розкажи мені все.", "uk"},
                                           Sample{"שלום, מה שלומך? אני שמח לראות אותך שוב.", "he"},
                                           Sample{"今天天气很好，我们一起去公园散步吧。", "zh"},
                                           Sample{"我們今天一起去公園散步，天氣非常好。", "zh"},
                                           Sample{"Le chat dort sur le canapé pendant que nous travaillons.", "fr"},
                                           Sample{"12345 !!! ???", nullptr}, Sample{"", nullptr},
                                           Sample{"   \n\t ", nullptr}));

TEST(Cld2Recognizer, HypothesesAreOrderedAndBounded) {
    const Cld2LanguageRecognizer recognizer;
    const auto hypotheses = recognizer.hypotheses(
        QString::fromUtf8("This sentence is English. Это предложение написано по-русски и довольно длинное."));
    ASSERT_FALSE(hypotheses.empty());
    EXPECT_LE(hypotheses.size(), 3u);
    double total = 0;
    for (std::size_t i = 0; i < hypotheses.size(); ++i) {
        EXPECT_GT(hypotheses[i].probability, 0.0);
        EXPECT_LE(hypotheses[i].probability, 1.0);
        if (i > 0) {
            EXPECT_GE(hypotheses[i - 1].probability, hypotheses[i].probability);
        }
        total += hypotheses[i].probability;
    }
    EXPECT_LE(total, 1.0 + 1e-9);
}

TEST(Cld2Recognizer, ShortTextsAreGuessesAndListTheHintsThatFit) {
    const Cld2LanguageRecognizer recognizer;
    // CLD2 alone: German, as a guess well below certainty.
    const auto alone = recognizer.hypotheses(QStringLiteral("Dank je"));
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone[0].languageIdentifier, "de");
    EXPECT_LT(alone[0].probability, 0.55);

    // Dutch fits when hinted and follows CLD2's own answer; Russian does not fit, and a hint
    // already answered is not listed twice.
    LanguageRecognitionOptions options;
    options.hints = {QStringLiteral("ru"), QStringLiteral("nl"), QStringLiteral("de"), QStringLiteral("nl")};
    const auto hinted = recognizer.hypotheses(QStringLiteral("Dank je"), options);
    ASSERT_EQ(hinted.size(), 2u);
    EXPECT_EQ(hinted[0], alone[0]);
    EXPECT_EQ(hinted[1].languageIdentifier, "nl");
    EXPECT_GT(hinted[1].probability, 0.0);
    EXPECT_LT(hinted[1].probability, hinted[0].probability);

    // Hebrew is hinted under CLD2's own code and comes back as "he".
    EXPECT_EQ(Cld2LanguageRecognizer::cld2Code("he"), "iw");
    EXPECT_EQ(Cld2LanguageRecognizer::cld2Code("nl"), "nl");

    // A long text counts in full and takes no hint.
    options.hints = {QStringLiteral("nl")};
    const auto sentence =
        recognizer.hypotheses(QStringLiteral("Guten Morgen, wie geht es dir heute? Wir sehen uns im Park."), options);
    ASSERT_EQ(sentence.size(), 1u);
    EXPECT_EQ(sentence[0].languageIdentifier, "de");
    EXPECT_GT(sentence[0].probability, 0.9);
}

TEST(Cld2Recognizer, SurvivesBrokenAndHugeInput) {
    const Cld2LanguageRecognizer recognizer;
    QString broken = QStringLiteral("Hello there, this is a test ");
    broken += QChar(0xD800);  // lone surrogate
    broken += QChar(0);
    broken += QStringLiteral(" of broken input text in English.");
    EXPECT_EQ(recognizer.dominantLanguage(broken), QStringLiteral("en"));

    const QString huge = QStringLiteral("Die Katze schläft auf dem Sofa. ").repeated(4000);
    EXPECT_EQ(recognizer.dominantLanguage(huge), QStringLiteral("de"));
}

TEST(Cld2Recognizer, NormalizesIdentifiers) {
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier("iw"), QStringLiteral("he"));
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier("zh-Hant"), QStringLiteral("zh"));
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier("zh-TW"), QStringLiteral("zh"));
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier("un"), std::nullopt);
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier(""), std::nullopt);
    EXPECT_EQ(Cld2LanguageRecognizer::normalizedIdentifier("en"), QStringLiteral("en"));
}

}  // namespace
}  // namespace tavrolin
