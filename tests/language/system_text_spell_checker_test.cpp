#include "language/system_text_spell_checker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tavrolin;

// Which installed dictionary a language code picks (file names only; nothing is loaded).
TEST(SpellCheckerDictionaries, ChoiceByLanguageCode) {
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    const auto touch = [](const QTemporaryDir& dir, const QString& name, bool withAff = true) {
        QFile(QDir(dir.path()).filePath(name + ".dic")).open(QIODevice::WriteOnly);
        if (withAff) {
            QFile(QDir(dir.path()).filePath(name + ".aff")).open(QIODevice::WriteOnly);
        }
    };
    for (const char* name : {"en_AU", "en_GB", "en_US", "de_AT", "de_DE", "pt_PT", "nl", "ru_RU"}) {
        touch(first, name);
    }
    touch(first, "fr_FR", false);  // no .aff: unusable
    touch(second, "fr_CA");
    touch(second, "es_MX");
    touch(second, "es_AR");

    const auto loadNothing = [](const QByteArray&, const QByteArray&) -> std::unique_ptr<SpellingDictionary> {
        ADD_FAILURE() << "choosing a dictionary loaded one";
        return nullptr;
    };
    SystemTextSpellChecker checker(loadNothing, {first.path(), second.path()});
    const auto picked = [&](const char* language) { return QFileInfo(checker.dictionaryPath(language)).fileName(); };
    EXPECT_EQ(picked("en"), "en_US");  // the language's own first regional variant
    EXPECT_EQ(picked("de"), "de_DE");
    EXPECT_EQ(picked("pt"), "pt_PT");  // pt_BR is preferred but missing
    EXPECT_EQ(picked("nl"), "nl");
    EXPECT_EQ(picked("fr"), "fr_CA");  // fr_FR lacks its .aff
    EXPECT_EQ(picked("es"), "es_MX");
    EXPECT_EQ(picked("en-GB"), "en_GB");
    EXPECT_EQ(picked("he"), "");
    EXPECT_EQ(picked("../etc"), "");
    EXPECT_EQ(picked(""), "");
}
