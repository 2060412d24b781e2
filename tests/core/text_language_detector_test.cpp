#include "core/text_language_detector.h"

#include "support/fakes/scripted_language_recognizer.h"

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

using Boosted = std::set<AppLanguage>;

std::optional<AppLanguage> detect(const QString& text, std::vector<LanguageHypothesis> hypotheses,
                                  const Boosted& boosted) {
    test::ScriptedLanguageRecognizer recognizer;
    recognizer.script(text, std::move(hypotheses));
    return TextLanguageDetector::detectAppLanguage(text, boosted, recognizer);
}

}  // namespace

TEST(TextLanguageDetectorScript, FirstScriptCodePointDecides) {
    struct Case {
        const char* text;
        std::optional<AppLanguage> expected;
    };
    const Case cases[] = {
        {"Привіт, як справи?", AppLanguage::ukrainian},
        {"Ґанок", AppLanguage::ukrainian},
        {"Є питання", AppLanguage::ukrainian},
        {"Привет, как дела?", AppLanguage::russian},
        {"Здравей, как си?", AppLanguage::russian},  // Bulgarian
        {"Здраво, како си?", AppLanguage::russian},  // Serbian
        {"hello мир", AppLanguage::russian},
        {"Hi there مرحبا", AppLanguage::arabic},           // Latin before Arabic does not matter
        {"ݐ", AppLanguage::arabic},                        // Arabic Supplement
        {"日本語を勉強しています", AppLanguage::chinese},  // kanji first
        {"ひらがなと漢字", AppLanguage::japanese},         // kana first
        {"カタカナ", AppLanguage::japanese},
        {"안녕하세요", AppLanguage::korean},
        {"नमस्ते दुनिया", AppLanguage::hindi},
        {"สวัสดีครับ", AppLanguage::thai},
        {"Hello world", std::nullopt},
        {"שלום עולם", std::nullopt},  // Hebrew goes to the recognizer
        {"Καλημέρα", std::nullopt},
        {"12345 !?", std::nullopt},
        {"", std::nullopt},
        {"😀 𝒜", std::nullopt},  // astral code points outside the ranges
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextLanguageDetector::detectByScript(QString::fromUtf8(c.text)), c.expected) << c.text;
    }
    // A Ukrainian letter carrying a combining mark is another character.
    EXPECT_EQ(TextLanguageDetector::detectByScript(QString::fromUtf8("і\u0301")), AppLanguage::russian);
    // An astral code point does not hide a later script letter.
    EXPECT_EQ(TextLanguageDetector::detectByScript(QString::fromUtf8("😀 ok 한국")), AppLanguage::korean);
}

TEST(TextLanguageDetector, ScriptAnswersWithoutAskingTheRecognizer) {
    test::ScriptedLanguageRecognizer recognizer;
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("Привет", {}, recognizer), AppLanguage::russian);
    EXPECT_TRUE(recognizer.askedTexts().isEmpty());
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("", {AppLanguage::english}, recognizer), std::nullopt);
    ASSERT_EQ(recognizer.askedBestEffort().size(), 1);
    EXPECT_TRUE(recognizer.askedBestEffort().first()) << "short texts need the best-effort answer";
}

TEST(TextLanguageDetector, ShortGreetingPrefersATopThreeBoostedLanguage) {
    const Boosted boosted{AppLanguage::german, AppLanguage::russian};
    // Top hypothesis below 0.55 on a short text: the first boosted among the top three wins,
    // even over a better unboosted one.
    EXPECT_EQ(detect("Hallo du", {{"nl", 0.5}, {"af", 0.3}, {"de", 0.2}}, boosted), AppLanguage::german);
    // A boosted language only fourth does not count as a candidate: scores decide (nl 0.40 vs de 0.2).
    EXPECT_EQ(detect("Hallo du", {{"nl", 0.4}, {"af", 0.3}, {"fy", 0.2}, {"de", 0.1}}, boosted), AppLanguage::dutch);
    // Sorted by probability first, whatever order the recognizer used.
    EXPECT_EQ(detect("Hallo du", {{"de", 0.1}, {"nl", 0.5}, {"af", 0.3}}, boosted), AppLanguage::german);
    // Confident top hypothesis: the short-text rule stays out, doubled scores decide.
    EXPECT_EQ(detect("Hallo du", {{"nl", 0.6}, {"de", 0.35}}, boosted), AppLanguage::german);
    EXPECT_EQ(detect("Hallo du", {{"nl", 0.8}, {"de", 0.2}}, boosted), AppLanguage::dutch);
    // Exactly 0.55 is not below it.
    EXPECT_EQ(detect("Hallo du", {{"nl", 0.55}, {"de", 0.25}}, boosted), AppLanguage::dutch);
    // Fifteen characters still count as short (surrounding whitespace trimmed); sixteen do not.
    EXPECT_EQ(detect("  Hallo wie gehts\n", {{"nl", 0.5}, {"de", 0.2}}, boosted), AppLanguage::german);
    EXPECT_EQ(detect("  Hallo, wie gehts\n", {{"nl", 0.5}, {"de", 0.2}}, boosted), AppLanguage::dutch);
    // Characters are what a person sees: five flags are five characters.
    const QString flags = QString::fromUtf8("🇩🇪🇩🇪🇩🇪🇩🇪🇩🇪 hallo");
    EXPECT_EQ(detect(flags, {{"nl", 0.5}, {"de", 0.1}}, boosted), AppLanguage::german);
}

TEST(TextLanguageDetector, LongerTextsDoubleBoostedScores) {
    const QString longText = "This sentence is clearly longer than fifteen characters.";
    EXPECT_EQ(detect(longText, {{"de", 0.5}, {"en", 0.4}}, {AppLanguage::english}), AppLanguage::english);
    EXPECT_EQ(detect(longText, {{"de", 0.5}, {"en", 0.4}}, {}), AppLanguage::german);
    // A best score outside the 20 languages gives none, even when a target language follows.
    EXPECT_EQ(detect(longText, {{"sv", 0.7}, {"en", 0.3}}, {}), std::nullopt);
    EXPECT_EQ(detect(longText, {{"sv", 0.7}, {"en", 0.3}}, {AppLanguage::english}), std::nullopt);  // 0.7 > 0.6
    EXPECT_EQ(detect(longText, {{"sv", 0.5}, {"en", 0.3}}, {AppLanguage::english}), AppLanguage::english);
    // Identifiers go through the one mapping: regional and old codes are understood.
    EXPECT_EQ(detect(longText, {{"pt-BR", 0.9}}, {}), AppLanguage::portuguese);
    EXPECT_EQ(detect(longText, {{"iw", 0.9}}, {}), AppLanguage::hebrew);
    // Nothing recognised.
    EXPECT_EQ(detect(longText, {}, {AppLanguage::english}), std::nullopt);
    // Short text, low confidence, but no boosted candidate: plain scores.
    EXPECT_EQ(detect("ok ok", {{"sv", 0.4}, {"da", 0.3}}, {AppLanguage::english}), std::nullopt);
}

// The shapes the desktop's recognizer gives: one guess of its own on a short text, scaled well
// below certainty, followed by the user's languages that fit the text when hinted.
TEST(TextLanguageDetector, UsersLanguagesGoToTheRecognizerAndDecideItsShortGuesses) {
    test::ScriptedLanguageRecognizer recognizer;
    recognizer.script("Dank je", {{"de", 0.198}, {"nl", 0.196}});
    EXPECT_EQ(
        TextLanguageDetector::detectAppLanguage("Dank je", {AppLanguage::dutch, AppLanguage::automatic}, recognizer),
        AppLanguage::dutch);
    ASSERT_EQ(recognizer.askedHints().size(), 1);
    EXPECT_EQ(recognizer.askedHints().first(), QStringList({"nl"})) << "every boosted language but automatic is a hint";

    // The recognizer's own guess wins when it is one of the user's languages, and without a
    // fitting hint.
    recognizer.script("Hello", {{"en", 0.15}, {"nl", 0.149}});
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("Hello", {AppLanguage::dutch, AppLanguage::english}, recognizer),
              AppLanguage::english);
    recognizer.script("Bonjour", std::vector<LanguageHypothesis>{{"fr", 0.19}});
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("Bonjour", {AppLanguage::english}, recognizer),
              AppLanguage::french);

    // Past fifteen characters a weak guess still yields to a fitting boosted language by score.
    recognizer.script("Dank je wel allemaal", {{"de", 0.4}, {"nl", 0.39}});
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("Dank je wel allemaal", {AppLanguage::dutch}, recognizer),
              AppLanguage::dutch);
    EXPECT_EQ(TextLanguageDetector::detectAppLanguage("Dank je wel allemaal", {}, recognizer), AppLanguage::german);
}
