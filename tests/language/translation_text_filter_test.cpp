#include "language/translation_text_filter.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

struct StatsCase {
    const char* name;
    QString text;
    TranslationTextStats expected;  // total, tokens, word-like, longest, compact
};

TranslationTextStats stats(int total, int tokens, int wordLike, int longest, int compact) {
    TranslationTextStats s;
    s.totalLetterCount = total;
    s.tokenCount = tokens;
    s.wordLikeTokenCount = wordLike;
    s.longestTokenLetterCount = longest;
    s.compactScriptLetterCount = compact;
    return s;
}

TEST(TranslationTextStatsTest, MeasuresTexts) {
    const StatsCase cases[] = {
        {"empty", QString(), stats(0, 0, 0, 0, 0)},
        {"only separators", QStringLiteral(" -- ,!? "), stats(0, 0, 0, 0, 0)},
        {"date in digits", QStringLiteral("2024-05-17"), stats(0, 3, 0, 0, 0)},
        {"two-letter word", QStringLiteral("OK"), stats(2, 1, 0, 2, 0)},
        {"two words", QStringLiteral("Hello, world!"), stats(10, 2, 2, 5, 0)},
        {"digits inside a token", QStringLiteral("abc123 x9"), stats(4, 2, 1, 3, 0)},
        // The ideographic full stop separates and is no letter; kanji and kana are compact.
        {"japanese", QStringLiteral(u"日本語です。ありがとう"), stats(10, 2, 2, 5, 10)},
        {"hangul syllables", QStringLiteral(u"안녕하세요"), stats(5, 1, 1, 5, 5)},
        // Compatibility jamo lie outside the syllable block: letters, not compact.
        {"hangul compatibility jamo", QStringLiteral(u"ㅎㅎㅎ"), stats(3, 1, 1, 3, 0)},
        // The katakana middle dot is in the range but is punctuation.
        {"katakana middle dot", QStringLiteral(u"カタ・カナ"), stats(4, 2, 0, 2, 4)},
        // The first and last letters of the compact ranges count; the letters just outside
        // (Bopomofo, Yi) do not.
        {"compact range edges", QStringLiteral(u"\u3041\u30FA\u3400\u4DBF\u4E00\u9FFF\uAC00\uD7A3"),
         stats(8, 1, 1, 8, 8)},
        {"just outside the ranges", QStringLiteral(u"\u3105\uA000"), stats(2, 1, 0, 2, 0)},
        // e + combining acute: two letters, one token.
        {"combining accent", QStringLiteral(u"e\u0301"), stats(2, 1, 0, 2, 0)},
        {"emoji separates", QStringLiteral(u"ab\U0001F600cd"), stats(4, 2, 0, 2, 0)},
        // A supplementary-plane ideograph (CJK extension B) is a letter outside the compact
        // ranges and stays inside its token.
        {"supplementary letter", QStringLiteral(u"\U00020000\U00020001"), stats(2, 1, 0, 2, 0)},
        {"roman numeral letter-number", QStringLiteral(u"Ⅻ"), stats(0, 1, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TranslationTextStats measured(c.text);
        EXPECT_EQ(measured.totalLetterCount, c.expected.totalLetterCount);
        EXPECT_EQ(measured.tokenCount, c.expected.tokenCount);
        EXPECT_EQ(measured.wordLikeTokenCount, c.expected.wordLikeTokenCount);
        EXPECT_EQ(measured.longestTokenLetterCount, c.expected.longestTokenLetterCount);
        EXPECT_EQ(measured.compactScriptLetterCount, c.expected.compactScriptLetterCount);
    }
}

TEST(TranslationTextStatsTest, UnpairedSurrogatesSeparateAndAreNoLetters) {
    QString text = QStringLiteral("ab");
    text.append(QChar(0xD800));
    text.append(QStringLiteral("cd"));
    text.append(QChar(0xDC00));
    const TranslationTextStats measured(text);
    EXPECT_EQ(measured, stats(4, 2, 0, 2, 0));
    EXPECT_EQ(TranslationTextStats::letterCount(text), 4);
}

}  // namespace
}  // namespace tavrolin
