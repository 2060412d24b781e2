#pragma once

#include "core/app_language.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <set>

namespace tavrolin {

class LanguageRecognizer;

// Decides the language of a short piece of user text: by script where the script is
// unambiguous, else by the statistical recognizer, leaning towards the user's own ("boosted")
// languages. Stateless; every call may run on any thread.
struct TextLanguageDetector {
    TextLanguageDetector() = delete;

    // Ukrainian when one of its eight letters (Є І Ї Ґ and their lower case) appears; otherwise
    // the first code point in a Cyrillic, Arabic, kana, CJK ideograph, Hangul, Devanagari or
    // Thai range decides. None for every other script (Latin, Hebrew, Greek...).
    static std::optional<AppLanguage> detectByScript(QStringView text);

    // The script step, then the recognizer: among its top three hypotheses a boosted language
    // wins outright on a text of at most 15 characters whose best hypothesis is below 0.55;
    // otherwise boosted hypotheses count double and the best score decides. None when that is
    // not one of the 20 target languages, or when nothing is recognised.
    static std::optional<AppLanguage> detectAppLanguage(const QString& text,
                                                        const std::set<AppLanguage>& boostedLanguages,
                                                        const LanguageRecognizer& recognizer);
};

}  // namespace tavrolin
