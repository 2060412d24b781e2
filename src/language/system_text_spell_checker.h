#pragma once

#include "language/text_spell_checking.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>

namespace tavrolin {

// Spell checking with the Hunspell dictionaries installed on the system. A language code
// ("en", "ru", ...) picks a dictionary by file name: the language's own regional variants
// first (en_US before en_GB), then <code>_<CODE>, then <code>, then any <code>_*.
// A language without an installed dictionary finds no misspellings, so texts in it are left
// as they are. Hunspell has no single automatic correction: `correction` is always absent.
//
// Thread safety: every method may be called from any thread. Each language's dictionary is
// loaded once, on first use, and kept; Hunspell is not thread-safe, so every query on one
// dictionary runs under that dictionary's own lock. Suggestions (the slow query, tens of
// milliseconds) are cached per word.
class SystemTextSpellChecker final : public TextSpellChecking {
public:
    static QStringList defaultDictionaryDirectories();

    explicit SystemTextSpellChecker(QStringList dictionaryDirectories = defaultDictionaryDirectories());
    ~SystemTextSpellChecker() override;
    SystemTextSpellChecker(const SystemTextSpellChecker&) = delete;
    SystemTextSpellChecker& operator=(const SystemTextSpellChecker&) = delete;

    std::optional<TextRange> checkSpelling(const QString& text, qsizetype startingAt,
                                           const QString& language) override;
    QStringList guesses(TextRange wordRange, const QString& text, const QString& language) override;
    std::optional<QString> correction(TextRange wordRange, const QString& text,
                                      const QString& language) override;

    // Whether a dictionary is installed for the language (loads it when it is).
    bool hasDictionary(const QString& language);
    // The base path (without .aff/.dic) of the dictionary the language would use, or empty.
    QString dictionaryPath(const QString& language) const;

private:
    class Dictionary;
    std::shared_ptr<Dictionary> dictionaryFor(const QString& language);

    const QStringList directories_;
    std::mutex mutex_;  // guards dictionaries_ only
    std::map<QString, std::shared_ptr<Dictionary>> dictionaries_;  // null: none installed
};

}  // namespace tavrolin
