// The offline editor on the real Hunspell English dictionary of the system.
#include "language/local_text_editing_client.h"
#include "language/system_text_spell_checker.h"

#include "support/async.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

using namespace tavrolin;

namespace {

QString edited(const QString& text, AppLanguage source = AppLanguage::english, AppLanguage target = AppLanguage::english,
               std::shared_ptr<SystemTextSpellChecker> checker = std::make_shared<SystemTextSpellChecker>()) {
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
    auto checker = std::make_shared<SystemTextSpellChecker>(QStringList{onlyEnglish.path()});
    const QString text = "We cannot accomodate this mesage.";
    EXPECT_EQ(edited(text, AppLanguage::english, AppLanguage::german, checker), text);
    EXPECT_FALSE(checker->hasDictionary("de"));
    // The target wins over the source; an automatic target falls back to the source, then English.
    EXPECT_EQ(edited(text, AppLanguage::german, AppLanguage::english, checker), "We cannot accommodate this message.");
    EXPECT_EQ(edited(text, AppLanguage::german, AppLanguage::automatic, checker), text);
    EXPECT_EQ(edited(text, AppLanguage::automatic, AppLanguage::automatic, checker),
              "We cannot accommodate this message.");

    auto nothingInstalled = std::make_shared<SystemTextSpellChecker>(QStringList{QDir(onlyEnglish.path()).filePath("none")});
    EXPECT_EQ(edited(text, AppLanguage::english, AppLanguage::english, nothingInstalled), text);
}

TEST(HunspellEditing, RangesAreUtf16AndSkipNonWords) {
    SystemTextSpellChecker checker;
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
    auto checker = std::make_shared<SystemTextSpellChecker>();
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
