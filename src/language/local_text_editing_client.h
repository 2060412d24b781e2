#pragma once

#include "language/text_editing_client.h"
#include "language/text_spell_checking.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tavrolin {

// The editor used while online features are off: it changes only words the spell checker
// reports as misspelled, and only when one replacement is clearly safe. Addresses, file
// names, code, numbers, words with an internal capital and acronyms are never touched.
// It never fails; a text with nothing to correct comes back unchanged.
//
// The scan runs on a worker thread (dictionary queries take tens of milliseconds each).
class LocalTextEditingClient final : public TextEditingClient {
public:
    explicit LocalTextEditingClient(std::shared_ptr<TextSpellChecking> spellChecker);

    QCoro::Task<QString> edit(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override;

    // The spell-checking language: the target's code, else the source's, else "en".
    static QString spellCheckingLanguage(AppLanguage sourceLanguage, AppLanguage targetLanguage);
    // The whole correction pass, synchronous, on the calling thread.
    static QString correctedText(TextSpellChecking& spellChecker, const QString& text, const QString& language);

    // The rules, exposed for their own tests.
    static bool isProtectedToken(TextRange wordRange, const QString& text);
    static bool hasInternalUppercase(const QString& text);
    static bool isCapitalizedWord(const QString& text);
    static std::optional<QString> safeReplacementCandidate(const QString& candidate, const QString& originalWord);
    static QStringList uniqueSafeGuesses(const QStringList& guesses, const QString& originalWord);
    static std::optional<QString> safeCorrection(const QStringList& uniqueSafeGuesses,
                                                 const std::optional<QString>& systemCorrection,
                                                 const QString& originalWord);

    const std::shared_ptr<TextSpellChecking>& spellChecker() const { return spellChecker_; }

private:
    std::shared_ptr<TextSpellChecking> spellChecker_;
};

}  // namespace tavrolin
