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

INSTANTIATE_TEST_SUITE_P(
    Texts, Cld2Recognition,
    ::testing::Values(
        Sample{"The weather is lovely today and we are going to the park.", "en"},
        Sample{"Hello", "en"},
        Sample{"Привет", "ru"},
        Sample{"Привет, как дела? Мы давно не виделись.", "ru"},
        Sample{"Привіт, як справи? Ми давно не бачилися, розкажи мені все.", "uk"},
        Sample{"שלום, מה שלומך? אני שמח לראות אותך שוב.", "he"},
        Sample{"今天天气很好，我们一起去公园散步吧。", "zh"},
        Sample{"我們今天一起去公園散步，天氣非常好。", "zh"},
        Sample{"Le chat dort sur le canapé pendant que nous travaillons.", "fr"},
        Sample{"12345 !!! ???", nullptr},
        Sample{"", nullptr},
        Sample{"   \n\t ", nullptr}));

TEST(Cld2Recognizer, HypothesesAreOrderedAndBounded) {
    const Cld2LanguageRecognizer recognizer;
    const auto hypotheses = recognizer.hypotheses(QString::fromUtf8(
        "This sentence is English. Это предложение написано по-русски и довольно длинное."));
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
