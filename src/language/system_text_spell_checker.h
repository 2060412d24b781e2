#pragma once

#include "language/text_spell_checking.h"
#include "platform/spelling_dictionary.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>

namespace tavrolin {

// Spell checking with the dictionaries installed on the system (Hunspell's .aff and .dic files),
// each loaded through the given loader. A language code ("en", "ru", ...) picks a dictionary by
// file name: the language's own regional variants first (en_US before en_GB), then
// <code>_<CODE>, then <code>, then any <code>_*. A language without an installed dictionary finds
// no misspellings, so texts in it are left as they are. Hunspell has no single automatic
// correction: `correction` is always absent.
//
// Thread safety: every method may be called from any thread. Each language's dictionary is
// loaded once, on first use, and kept. A loaded instance is not thread-safe: each serves one
// thread at a time. Suggestions (the slow query, tens of milliseconds) are cached per word,
// one cache per language shared by all its instances.
//
// Parallel suggestions: `prepareGuesses` computes the suggestions for the distinct uncached
// words of a text on up to `instancesPerLanguage` threads, each with its own instance of the
// dictionary. The extra instances (about 8 MB each for English) are loaded only when a text has
// at least two words to compute, and then kept. The suggestions are exactly those one instance
// computes alone (the loader's instances must answer the same whatever runs beside them).
class SystemTextSpellChecker final : public TextSpellChecking {
public:
    static QStringList defaultDictionaryDirectories();
    // The processor count, from 1 to 4.
    static int defaultInstancesPerLanguage();

    explicit SystemTextSpellChecker(SpellingDictionaryLoader loader,
                                    QStringList dictionaryDirectories = defaultDictionaryDirectories(),
                                    int instancesPerLanguage = defaultInstancesPerLanguage());
    ~SystemTextSpellChecker() override;
    SystemTextSpellChecker(const SystemTextSpellChecker&) = delete;
    SystemTextSpellChecker& operator=(const SystemTextSpellChecker&) = delete;

    std::optional<TextRange> checkSpelling(const QString& text, qsizetype startingAt, const QString& language) override;
    QStringList guesses(TextRange wordRange, const QString& text, const QString& language) override;
    std::optional<QString> correction(TextRange wordRange, const QString& text, const QString& language) override;
    void prepareGuesses(const std::vector<TextRange>& wordRanges, const QString& text,
                        const QString& language) override;

    // Whether a dictionary is installed for the language (loads it when it is).
    bool hasDictionary(const QString& language);
    // The base path (without .aff/.dic) of the dictionary the language would use, or empty.
    QString dictionaryPath(const QString& language) const;
    // How many instances of the language's dictionary are loaded (0 when none is).
    int instanceCount(const QString& language);

private:
    class Dictionary;
    std::shared_ptr<Dictionary> dictionaryFor(const QString& language);

    const SpellingDictionaryLoader loader_;
    const QStringList directories_;
    const int instancesPerLanguage_;
    std::mutex mutex_;                                             // guards dictionaries_ only
    std::map<QString, std::shared_ptr<Dictionary>> dictionaries_;  // null: none installed
};

}  // namespace tavrolin
