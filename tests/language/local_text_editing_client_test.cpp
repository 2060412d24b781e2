#include "language/local_text_editing_client.h"

#include "support/async.h"
#include "support/fakes/scripted_text_spell_checker.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace tavrolin;
using tavrolin::test::ScriptedTextSpellChecker;

namespace {

QString corrected(ScriptedTextSpellChecker& checker, const QString& text) {
    return LocalTextEditingClient::correctedText(checker, text, QStringLiteral("en"));
}

}  // namespace

TEST(LocalTextEditing, PrecedenceOfTheCandidates) {
    struct Case {
        const char* name;
        QString word;
        QStringList guesses;
        std::optional<QString> correction;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"first one-letter insertion wins over a later one", "Ths", {"This", "Thus", "The"}, std::nullopt, "This"},
        {"insertion wins over the system correction", "wrld", {"weld", "world"}, QString("weld"), "world"},
        {"system correction equal to the first guess",
         "recieve",
         {"receive", "relieve"},
         QString("receive"),
         "receive"},
        {"system correction compared without case, used as it is",
         "recieve",
         {"receive", "relieve"},
         QString("Receive"),
         "Receive"},
        {"system correction not the first guess, two guesses",
         "recieve",
         {"relieve", "receive"},
         QString("receive"),
         "recieve"},
        {"one safe guess used although it differs from the correction", "wierd", {"weird"}, QString("wired"), "weird"},
        {"two guesses without insertion or correction", "wierd", {"weird", "wired"}, std::nullopt, "wierd"},
        {"no guesses", "zxqv", {}, QString("zxqv"), "zxqv"},
        {"a correction equal to the word is no correction", "colour", {"colour"}, std::nullopt, "colour"},
        {"the system correction alone is not enough", "wierd", {}, QString("weird"), "wierd"},
        {"an unsafe system correction is ignored", "wierd", {"we ird", "weird", "wired"}, QString("we ird"), "wierd"},
    };
    for (const Case& c : cases) {
        ScriptedTextSpellChecker checker;
        checker.misspell(c.word, c.guesses, c.correction);
        EXPECT_EQ(corrected(checker, c.word), c.expected) << c.name;
    }
}

TEST(LocalTextEditing, UnsafeGuessesAreNeverUsed) {
    struct Case {
        const char* name;
        QString word;
        QString guess;
    };
    const std::vector<Case> cases = {
        {"two words", "alot", "a lot"},
        {"leading blank", "wrd", " word"},
        {"trailing line break", "wrd", "word\n"},
        {"digit", "wrd", "w0rd"},
        {"code-like character", "wrd", "w_rd"},
        {"internal capital", "iphone", "iPhone"},
        {"empty", "wrd", ""},
    };
    for (const Case& c : cases) {
        ScriptedTextSpellChecker checker;
        checker.misspell(c.word, {c.guess}, c.guess);
        EXPECT_EQ(corrected(checker, c.word), c.word) << c.name;
    }
}

TEST(LocalTextEditing, CapitalisationOfTheWordIsCarriedOver) {
    ScriptedTextSpellChecker checker;
    checker.misspell("Helo", {"hello"});
    checker.misspell("Wrold", {"world"});
    checker.misspell("wrold", {"World"});
    checker.misspell("\u00C9cole", {});  // only here so the text has a capitalised non-ASCII word
    checker.misspell("Ecol", {"\u00E9cole"});
    EXPECT_EQ(corrected(checker, "Helo there"), "Hello there");
    EXPECT_EQ(corrected(checker, "Wrold and wrold"), "World and World");  // a capital in the guess stays
    EXPECT_EQ(corrected(checker, "Ecol"), QString::fromUtf8("\u00C9cole"));
}

TEST(LocalTextEditing, ProtectedTokensAndWordsAreLeftAlone) {
    const std::vector<std::pair<const char*, QString>> cases = {
        {"web address", "see https://exmaple.com/pagez now"},
        {"plain http address", "see (http://exmaple.com) now"},
        {"www address", "see www.exmaple.org now"},
        {"e-mail address", "write to jon@exmaple.com today"},
        {"file name", "open reprot.txt please"},
        {"underscore", "call reprot_final please"},
        {"digit in the token", "item reprot2 please"},
        {"internal capital in the token", "the fooReprot class"},
        {"all capitals", "the REPROT file"},
        {"internal capital in the word", "my iReprot phone"},
    };
    for (const auto& [name, text] : cases) {
        ScriptedTextSpellChecker checker;
        for (const char* word : {"exmaple", "pagez", "reprot", "reprot2", "REPROT", "iReprot", "fooReprot", "jon"}) {
            checker.misspell(word, {"example", "report", "pages", "REPORT", "iReport", "john"});
        }
        EXPECT_EQ(corrected(checker, text), text) << name;
        if (QString(name) != "all capitals") {  // acronyms are rejected by the candidate filter
            EXPECT_EQ(checker.guessQueries(), 0) << name << ": rejected words cost no suggestion query";
        }
    }
}

TEST(LocalTextEditing, SentencePunctuationDoesNotProtectAWord) {
    ScriptedTextSpellChecker checker;
    checker.misspell("reprot", {"report"});
    EXPECT_EQ(corrected(checker, "Read the reprot."), "Read the report.");
    EXPECT_EQ(corrected(checker, "(reprot), \"reprot\"!"), "(report), \"report\"!");
}

TEST(LocalTextEditing, SeveralCorrectionsKeepTheTextBetweenThem) {
    ScriptedTextSpellChecker checker;
    checker.misspell("teh", {"tech"});  // one shorter than its replacement
    checker.misspell("accomodate", {"accommodate"});
    const QString text = QString::fromUtf8("teh \U0001F600 café — we accomodate\nteh end");
    EXPECT_EQ(corrected(checker, text), QString::fromUtf8("tech \U0001F600 café — we accommodate\ntech end"));
}

TEST(LocalTextEditing, DuplicateGuessesDifferingInCaseCountOnce) {
    EXPECT_EQ(LocalTextEditingClient::uniqueSafeGuesses({"Tha", "tha", "thx", "THX", "tha"}, "thz"),
              QStringList({"Tha", "thx"}));
    // "the" and "The" are one guess, so the single-guess rule applies.
    ScriptedTextSpellChecker checker;
    checker.misspell("hte", {"the", "The"});
    EXPECT_EQ(corrected(checker, "hte"), "the");
}

TEST(LocalTextEditing, CaseRules) {
    for (const char* word : {"iPhone", "McDonald", "abC", "\u00E9\u00C9"}) {
        EXPECT_TRUE(LocalTextEditingClient::hasInternalUppercase(QString::fromUtf8(word))) << word;
    }
    for (const char* word : {"Hello", "HTTP", "hello", "", "1A", "A-B"}) {
        EXPECT_FALSE(LocalTextEditingClient::hasInternalUppercase(QString::fromUtf8(word))) << word;
    }
    for (const char* word : {"Hello", "A", "\u00C9cole", "E\u0301cole"}) {
        EXPECT_TRUE(LocalTextEditingClient::isCapitalizedWord(QString::fromUtf8(word))) << word;
    }
    for (const char* word : {"HEllo", "hello", "1st", "", "HTTP"}) {
        EXPECT_FALSE(LocalTextEditingClient::isCapitalizedWord(QString::fromUtf8(word))) << word;
    }
    // A single capital letter is not an acronym; two are.
    EXPECT_EQ(LocalTextEditingClient::safeReplacementCandidate("a", "A"), QString("A"));
    EXPECT_EQ(LocalTextEditingClient::safeReplacementCandidate("nasa", "NASAA"), std::nullopt);
}

TEST(LocalTextEditing, NothingToCorrect) {
    ScriptedTextSpellChecker checker;
    EXPECT_EQ(corrected(checker, ""), "");
    EXPECT_EQ(checker.searches(), 0);
    EXPECT_EQ(corrected(checker, "all words are fine"), "all words are fine");
    EXPECT_EQ(checker.searches(), 1);
}

// A checker that answers a range ending at or before the search offset, or outside the text,
// must not stall the scan; overlapping ranges are not applied twice.
TEST(LocalTextEditing, TheScanAlwaysMovesForward) {
    const QString text = "abc defg hij";
    {
        ScriptedTextSpellChecker checker;
        checker.misspell("defg", {"deft"});  // not used: the replayed ranges decide
        std::vector<std::optional<TextRange>> ranges;
        ranges.push_back(TextRange{4, 4});  // "defg"
        for (int i = 0; i < 100; ++i) {
            ranges.push_back(TextRange{0, 2});  // behind the offset, again and again
        }
        checker.replayRanges(ranges);
        EXPECT_EQ(corrected(checker, text), "abc deft hij");  // examined once, applied once
        EXPECT_LE(checker.searches(), text.size() + 1);
    }
    {
        ScriptedTextSpellChecker checker;
        checker.misspell("defg", {"deft"});
        checker.replayRanges({TextRange{4, 4}, TextRange{5, 2}, TextRange{6, 100}, TextRange{-3, 2}, TextRange{9, 0},
                              TextRange{std::numeric_limits<qsizetype>::max(), 5}});
        const QString result = corrected(checker, text);
        EXPECT_EQ(result.size(), text.size());  // no overlapping replacement, nothing out of bounds
        EXPECT_LE(checker.searches(), 7);
    }
    {
        // A checker answering the same empty range forever: one unit at a time to the end.
        ScriptedTextSpellChecker checker;
        checker.replayRanges(std::vector<std::optional<TextRange>>(1000, TextRange{3, 0}));
        EXPECT_EQ(corrected(checker, text), text);
        EXPECT_EQ(checker.searches(), text.size());
    }
}

TEST(LocalTextEditing, LanguageOfTheSpellCheck) {
    struct Case {
        AppLanguage source;
        AppLanguage target;
        const char* expected;
    };
    for (const Case& c :
         {Case{AppLanguage::automatic, AppLanguage::automatic, "en"},
          Case{AppLanguage::german, AppLanguage::automatic, "de"}, Case{AppLanguage::german, AppLanguage::french, "fr"},
          Case{AppLanguage::automatic, AppLanguage::russian, "ru"}}) {
        auto checker = std::make_shared<ScriptedTextSpellChecker>();
        LocalTextEditingClient client(checker);
        test::await(client.edit("some text", c.source, c.target));
        ASSERT_FALSE(checker->languages().isEmpty());
        EXPECT_EQ(checker->languages().front(), c.expected);
    }
}

TEST(LocalTextEditing, EditRunsOffTheMainThread) {
    auto checker = std::make_shared<ScriptedTextSpellChecker>();
    checker->misspell("mesage", {"message", "menage"});
    LocalTextEditingClient client(checker);
    EXPECT_EQ(test::await(client.edit("a mesage", AppLanguage::english, AppLanguage::english)), "a message");
    ASSERT_FALSE(checker->threads().empty());
    for (QThread* thread : checker->threads()) {
        EXPECT_NE(thread, QCoreApplication::instance()->thread());
    }
    // An empty text is not even handed to the checker.
    EXPECT_EQ(test::await(client.edit("", AppLanguage::english, AppLanguage::english)), "");
    EXPECT_EQ(checker->searches(), 1);
}

// The checker is told once, before any guesses query, of exactly the ranges it will be asked
// about, in text order: protected tokens and rejected words are not among them.
TEST(LocalTextEditing, TheCheckerIsToldOfTheWordsToGuessBeforehand) {
    ScriptedTextSpellChecker checker;
    checker.misspell("teh", {"the"});
    checker.misspell("mesage", {"menage", "metage"});  // two guesses, neither an insertion: stays
    checker.misspell("reprot", {"report"});
    const QString text = "teh mesage in reprot.txt and teh reprot";
    EXPECT_EQ(corrected(checker, text), "the mesage in reprot.txt and the report");
    const std::vector<TextRange> expected = {{0, 3}, {4, 6}, {29, 3}, {33, 6}};
    ASSERT_EQ(checker.prepared().size(), 1u);
    EXPECT_EQ(checker.prepared().front(), expected);
    EXPECT_EQ(checker.guessQueriesBeforePreparing(), std::vector<int>{0});
    EXPECT_EQ(checker.guessedRanges(), expected);

    ScriptedTextSpellChecker nothingToGuess;
    nothingToGuess.misspell("reprot", {"report"});
    EXPECT_EQ(corrected(nothingToGuess, "open reprot.txt"), "open reprot.txt");
    EXPECT_TRUE(nothingToGuess.prepared().empty());
}
