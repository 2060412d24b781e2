#pragma once

#include "core/text_units.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tavrolin {

// A spell checker asked about one text in one language (a language code such as "en").
// Ranges are in UTF-16 code units of the text. The three queries are synchronous and may be
// slow (dictionary look-ups): callers run them off the main thread.
class TextSpellChecking {
public:
    virtual ~TextSpellChecking() = default;

    // The first misspelled word at or after `startingAt`, without wrapping to the start.
    virtual std::optional<TextRange> checkSpelling(const QString& text, qsizetype startingAt,
                                                   const QString& language) = 0;
    // Suggested spellings for the word at `wordRange`, best first.
    virtual QStringList guesses(TextRange wordRange, const QString& text, const QString& language) = 0;
    // The checker's single automatic correction for the word, when it has one.
    virtual std::optional<QString> correction(TextRange wordRange, const QString& text, const QString& language) = 0;
    // Told, before the `guesses` queries for these ranges, that they will follow: a checker able
    // to work on several words at once may compute them together. It changes no answer: each
    // later `guesses` returns exactly what it would have returned without this call.
    virtual void prepareGuesses(const std::vector<TextRange>& /*wordRanges*/, const QString& /*text*/,
                                const QString& /*language*/) {}
};

}  // namespace tavrolin
