// The offline editor on the real Hunspell English dictionary of the system.
#include "language/local_text_editing_client.h"
#include "language/system_text_spell_checker.h"
#include "platform/desktop_backend.h"
#include "support/async.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

using namespace tavrolin;

namespace {

QString edited(const QString& text, AppLanguage source = AppLanguage::english,
               AppLanguage target = AppLanguage::english,
               std::shared_ptr<SystemTextSpellChecker> checker =
                   std::make_shared<SystemTextSpellChecker>(loadSystemSpellingDictionary)) {
    LocalTextEditingClient client(std::move(checker));
    return test::await(client.edit(text, source, target));
}

}  // namespace

TEST(HunspellEditing, CommonMisspellingsAreCorrected) {
    EXPECT_EQ(edited("We cannot accomodate this mesage. It occured at the old adress."),
              "We cannot accommodate this message. It occurred at the old address.");
    EXPECT_EQ(edited("Accomodate them, please."), "Accommodate them, please.");
}

TEST(HunspellEditing, WordsWithoutOneSafeSuggestionStay) {
    // Several suggestions, none a one-letter insertion, and no automatic correction to break the tie.
    for (const char* word : {"wierd", "langauge", "definately", "seperate"}) {
        const QString text = QStringLiteral("a %1 thing").arg(QLatin1String(word));
        EXPECT_EQ(edited(text), text) << word;
    }
}

TEST(HunspellEditing, TokensThatAreNotProseAreUntouched) {
    const std::vector<QString> texts = {
        "see https://exmaple.com/pagez and www.exmaple.org/documnets today",
        "write to jonn.smiht@exmaple.com",
        "open reprot_fianl.txt and mesage.docx",
        "call fooBarr() or set_valeu = 3",
        "the NASAA and UNESKO files",
        "my iPhnoe and MacBoook",
        "version 2nd3 of mesage2",
    };
    for (const QString& text : texts) {
        EXPECT_EQ(edited(text), text);
    }
}

TEST(HunspellEditing, ALanguageWithoutDictionaryIsLeftUnchanged) {
    QTemporaryDir onlyEnglish;
    ASSERT_TRUE(onlyEnglish.isValid());
    const QDir system(SystemTextSpellChecker::defaultDictionaryDirectories().front());
    for (const char* file : {"en_US.aff", "en_US.dic"}) {
        ASSERT_TRUE(QFile::link(system.filePath(file), QDir(onlyEnglish.path()).filePath(file)));
    }
    auto checker =
        std::make_shared<SystemTextSpellChecker>(loadSystemSpellingDictionary, QStringList{onlyEnglish.path()});
    const QString text = "We cannot accomodate this mesage.";
    EXPECT_EQ(edited(text, AppLanguage::english, AppLanguage::german, checker), text);
    EXPECT_FALSE(checker->hasDictionary("de"));
    // The target wins over the source; an automatic target falls back to the source, then English.
    EXPECT_EQ(edited(text, AppLanguage::german, AppLanguage::english, checker), "We cannot accommodate this message.");
    EXPECT_EQ(edited(text, AppLanguage::german, AppLanguage::automatic, checker), text);
    EXPECT_EQ(edited(text, AppLanguage::automatic, AppLanguage::automatic, checker),
              "We cannot accommodate this message.");

    auto nothingInstalled = std::make_shared<SystemTextSpellChecker>(
        loadSystemSpellingDictionary, QStringList{QDir(onlyEnglish.path()).filePath("none")});
    EXPECT_EQ(edited(text, AppLanguage::english, AppLanguage::english, nothingInstalled), text);
}

TEST(HunspellEditing, RangesAreUtf16AndSkipNonWords) {
    SystemTextSpellChecker checker(loadSystemSpellingDictionary);
    const QString text = QString::fromUtf8("\U0001F600 naive 2024 mesage, don't");
    const auto range = checker.checkSpelling(text, 0, "en");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(text.mid(range->location, range->length), "mesage");
    EXPECT_FALSE(checker.checkSpelling(text, range->location + range->length, "en").has_value());
    EXPECT_TRUE(checker.guesses(*range, text, "en").contains("message"));
    EXPECT_FALSE(checker.correction(*range, text, "en").has_value());
    EXPECT_TRUE(checker.guesses(TextRange{40, 5}, text, "en").isEmpty());  // outside the text
}

TEST(HunspellEditing, ConcurrentEditsShareOneDictionarySafely) {
    auto checker = std::make_shared<SystemTextSpellChecker>(loadSystemSpellingDictionary);
    const QString text = "It occured to me that the adress was wrong.";
    const QString expected = "It occurred to me that the address was wrong.";
    std::vector<QString> results(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] { results[i] = LocalTextEditingClient::correctedText(*checker, text, "en"); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const QString& result : results) {
        EXPECT_EQ(result, expected);
    }
}

namespace {

// Common misspellings, one of them capitalised; each needs its own suggestion search.
const char* const misspelledWords[] = {
    "accomodate", "mesage",   "occured",  "adress",    "Recieve",    "definately", "seperate",   "wierd",
    "untill",     "langauge", "becuase",  "tommorow",  "neccessary", "goverment",  "enviroment", "beleive",
    "thier",      "truely",   "begining", "existance", "freind",     "arguement",  "calender",   "embarass",
};

// The words in prose, some twice, so both the corrected and the unchanged ones show.
QString textWithMisspellings(int first, int count) {
    QStringList words;
    for (int i = first; i < first + count; ++i) {
        words << "the" << QString::fromLatin1(misspelledWords[i % std::size(misspelledWords)]) << "was";
        if (i % 5 == 0) {
            words << QString::fromLatin1(misspelledWords[i % std::size(misspelledWords)]).toLower() + ".";
        }
    }
    return words.join(' ');
}

}  // namespace

// Several instances of the dictionary searching at once, while other threads of the program
// are busy too, give exactly what one instance gives alone: the same suggestions in the same
// order, hence the same corrections.
TEST(HunspellEditing, ParallelSuggestionsMatchOneInstance) {
    const QString text = textWithMisspellings(0, int(std::size(misspelledWords)));
    SystemTextSpellChecker single(loadSystemSpellingDictionary, SystemTextSpellChecker::defaultDictionaryDirectories(),
                                  1);
    SystemTextSpellChecker pooled(loadSystemSpellingDictionary, SystemTextSpellChecker::defaultDictionaryDirectories(),
                                  4);

    const QString expected = LocalTextEditingClient::correctedText(single, text, "en");
    EXPECT_EQ(single.instanceCount("en"), 1);
    EXPECT_NE(expected, text);
    QString result;
    {
        std::atomic<bool> done = false;
        std::vector<std::jthread> busy;
        for (int i = 0; i < 4; ++i) {
            busy.emplace_back([&done] {
                volatile unsigned sink = 0;
                while (!done) {
                    sink = sink + 1;
                }
            });
        }
        result = LocalTextEditingClient::correctedText(pooled, text, "en");
        done = true;
    }
    EXPECT_EQ(result, expected);
    EXPECT_GE(pooled.instanceCount("en"), 2);
    EXPECT_LE(pooled.instanceCount("en"), 4);

    for (const char* word : misspelledWords) {
        const QString sentence = QStringLiteral("a %1 b").arg(QLatin1String(word));
        const TextRange range{2, qsizetype(qstrlen(word))};
        EXPECT_EQ(pooled.guesses(range, sentence, "en"), single.guesses(range, sentence, "en")) << word;
    }
}

// A text with a single unknown word loads no second instance.
TEST(HunspellEditing, OneUnknownWordLoadsNoSecondInstance) {
    SystemTextSpellChecker checker(loadSystemSpellingDictionary, SystemTextSpellChecker::defaultDictionaryDirectories(),
                                   4);
    EXPECT_EQ(LocalTextEditingClient::correctedText(checker, "It occured twice: occured.", "en"),
              "It occurred twice: occurred.");
    EXPECT_EQ(checker.instanceCount("en"), 1);
    EXPECT_EQ(checker.instanceCount("de"), 0);
}

// Edits on several threads at once, on one shared checker and on checkers of their own, all
// loading their dictionaries at the same moment with no other dictionary loaded in the process,
// give the single-instance corrections.
TEST(HunspellEditing, ConcurrentParallelEditsAreSafe) {
    const QString first = textWithMisspellings(0, 8);
    const QString second = textWithMisspellings(6, 8);
    QString expectedFirst;
    QString expectedSecond;
    {
        SystemTextSpellChecker single(loadSystemSpellingDictionary,
                                      SystemTextSpellChecker::defaultDictionaryDirectories(), 1);
        expectedFirst = LocalTextEditingClient::correctedText(single, first, "en");
        expectedSecond = LocalTextEditingClient::correctedText(single, second, "en");
    }

    SystemTextSpellChecker shared(loadSystemSpellingDictionary, SystemTextSpellChecker::defaultDictionaryDirectories(),
                                  3);
    std::vector<QString> results(4);
    std::latch start(std::ptrdiff_t(results.size()));
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        start.arrive_and_wait();
        results[0] = LocalTextEditingClient::correctedText(shared, first, "en");
    });
    threads.emplace_back([&] {
        start.arrive_and_wait();
        results[1] = LocalTextEditingClient::correctedText(shared, second, "en");
    });
    for (std::size_t i = 2; i < results.size(); ++i) {
        threads.emplace_back([&, i] {
            SystemTextSpellChecker own(loadSystemSpellingDictionary,
                                       SystemTextSpellChecker::defaultDictionaryDirectories(), 2);
            start.arrive_and_wait();
            results[i] = LocalTextEditingClient::correctedText(own, i == 2 ? first : second, "en");
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(results[0], expectedFirst);
    EXPECT_EQ(results[1], expectedSecond);
    EXPECT_EQ(results[2], expectedFirst);
    EXPECT_EQ(results[3], expectedSecond);
    EXPECT_LE(shared.instanceCount("en"), 3);
}
