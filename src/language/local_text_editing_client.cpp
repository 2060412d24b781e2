#include "language/local_text_editing_client.h"

#include <QCoroFuture>
#include <QTextBoundaryFinder>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>
#include <vector>

namespace tavrolin {

namespace {

// Underscore, slash, backslash, backtick, equals sign, angle, square and curly brackets.
bool isCodeLikeCharacter(char32_t c) {
    switch (c) {
    case U'_':
    case U'/':
    case U'\\':
    case U'`':
    case U'=':
    case U'<':
    case U'>':
    case U'[':
    case U']':
    case U'{':
    case U'}':
        return true;
    default:
        return false;
    }
}

// Punctuation that may surround a word without being part of it.
bool isTokenBoundaryPunctuation(QChar c) {
    switch (c.unicode()) {
    case u'.':
    case u',':
    case u'!':
    case u'?':
    case u';':
    case u':':
    case u'"':
    case u'\'':
    case u'(':
    case u')':
    case u'[':
    case u']':
    case u'{':
    case u'}':
    case u'<':
    case u'>':
        return true;
    default:
        return false;
    }
}

bool isUppercaseLetter(char32_t c) {
    const QChar::Category category = QChar::category(c);
    return category == QChar::Letter_Uppercase || category == QChar::Letter_Titlecase;
}

bool containsDecimalDigit(const QString& text) {
    const auto codePoints = text.toUcs4();
    return std::any_of(codePoints.begin(), codePoints.end(), [](char32_t c) { return QChar::isDigit(c); });
}

bool containsCodeLikeCharacter(const QString& text) {
    const auto codePoints = text.toUcs4();
    return std::any_of(codePoints.begin(), codePoints.end(), isCodeLikeCharacter);
}

bool containsLetter(const QString& text) {
    const auto codePoints = text.toUcs4();
    return std::any_of(codePoints.begin(), codePoints.end(), [](char32_t c) { return QChar::isLetter(c); });
}

bool containsWhitespace(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

QStringList graphemes(const QString& text) {
    QStringList result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        result.append(text.mid(start, end - start));
        start = end;
    }
    return result;
}

// Whether `longer` is `shorter` with exactly one character inserted somewhere.
bool isOneCharacterInsertion(const QStringList& longer, const QStringList& shorter) {
    if (longer.size() != shorter.size() + 1) {
        return false;
    }
    qsizetype i = 0;
    while (i < shorter.size() && longer[i] == shorter[i]) {
        ++i;
    }
    for (qsizetype j = i; j < shorter.size(); ++j) {
        if (longer[j + 1] != shorter[j]) {
            return false;
        }
    }
    return true;
}

// The end of a range, saturated instead of overflowing for ranges other code made up.
qsizetype rangeEnd(TextRange range) {
    if (range.length > 0 && range.location > std::numeric_limits<qsizetype>::max() - range.length) {
        return std::numeric_limits<qsizetype>::max();
    }
    return range.location + range.length;
}

struct Correction {
    TextRange range;
    QString replacement;
};

// Whether the word at `range` is worth asking the checker about: the rules that need no query.
bool isCandidateForCorrection(const QString& text, TextRange range) {
    if (LocalTextEditingClient::isProtectedToken(range, text)) {
        return false;
    }
    const QString word = text.mid(range.location, range.length);
    return !word.isEmpty() && !containsDecimalDigit(word) && !containsCodeLikeCharacter(word) &&
           !LocalTextEditingClient::hasInternalUppercase(word);
}

std::optional<QString> chooseCorrection(TextSpellChecking& checker, const QString& text, TextRange range,
                                        const QString& language) {
    const QString word = text.mid(range.location, range.length);
    const QStringList safeGuesses =
        LocalTextEditingClient::uniqueSafeGuesses(checker.guesses(range, text, language), word);
    const std::optional<QString> systemCorrection = checker.correction(range, text, language);
    const std::optional<QString> chosen = LocalTextEditingClient::safeCorrection(safeGuesses, systemCorrection, word);
    if (!chosen || *chosen == word) {
        return std::nullopt;
    }
    return chosen;
}

}  // namespace

LocalTextEditingClient::LocalTextEditingClient(std::shared_ptr<TextSpellChecking> spellChecker)
    : spellChecker_(std::move(spellChecker)) {}

QString LocalTextEditingClient::spellCheckingLanguage(AppLanguage sourceLanguage, AppLanguage targetLanguage) {
    if (targetLanguage != AppLanguage::automatic) {
        return rawValue(targetLanguage);
    }
    if (sourceLanguage != AppLanguage::automatic) {
        return rawValue(sourceLanguage);
    }
    return QStringLiteral("en");
}

QCoro::Task<QString> LocalTextEditingClient::edit(QString text, AppLanguage sourceLanguage,
                                                  AppLanguage targetLanguage) {
    if (text.isEmpty()) {
        co_return text;
    }
    const QString language = spellCheckingLanguage(sourceLanguage, targetLanguage);
    std::shared_ptr<TextSpellChecking> checker = spellChecker_;
    // The future is built in its own statement: a capturing lambda inside the co_await
    // expression is destroyed twice by this compiler.
    QFuture<QString> future =
        QtConcurrent::run([checker, text, language] { return correctedText(*checker, text, language); });
    co_return co_await future;
}

QString LocalTextEditingClient::correctedText(TextSpellChecking& checker, const QString& text,
                                              const QString& language) {
    if (text.isEmpty()) {
        return text;
    }
    // First the misspelled words worth a guesses query, in text order; then the queries, so the
    // checker can be told of all the words at once and work on them together.
    std::vector<TextRange> candidates;
    const qsizetype length = text.size();
    qsizetype offset = 0;
    while (offset < length) {
        const std::optional<TextRange> found = checker.checkSpelling(text, offset, language);
        if (!found) {
            break;
        }
        if (found->length <= 0) {
            ++offset;
            continue;
        }
        // Every step moves forward, whatever range the checker answers: a range ending at or
        // before the offset would otherwise repeat forever. A range starting before the offset
        // overlaps words already examined and is not examined again.
        const TextRange range = *found;
        const bool startsAtOrAfterOffset = range.location >= offset;
        offset = std::max(offset + 1, rangeEnd(range));
        if (!startsAtOrAfterOffset || !isValidRange(range, length, 1)) {
            continue;
        }
        if (isCandidateForCorrection(text, range)) {
            candidates.push_back(range);
        }
    }
    if (candidates.empty()) {
        return text;
    }
    checker.prepareGuesses(candidates, text, language);
    std::vector<Correction> corrections;
    for (const TextRange range : candidates) {
        if (auto replacement = chooseCorrection(checker, text, range, language)) {
            corrections.push_back({range, std::move(*replacement)});
        }
    }
    if (corrections.empty()) {
        return text;
    }
    std::sort(corrections.begin(), corrections.end(),
              [](const Correction& a, const Correction& b) { return a.range.location > b.range.location; });
    QString result = text;
    for (const Correction& correction : corrections) {
        result.replace(correction.range.location, correction.range.length, correction.replacement);
    }
    return result;
}

bool LocalTextEditingClient::isProtectedToken(TextRange wordRange, const QString& text) {
    qsizetype start = std::clamp<qsizetype>(wordRange.location, 0, text.size());
    qsizetype end = std::clamp<qsizetype>(rangeEnd(wordRange), start, text.size());
    while (start > 0 && !text.at(start - 1).isSpace()) {
        --start;
    }
    while (end < text.size() && !text.at(end).isSpace()) {
        ++end;
    }
    while (start < end && isTokenBoundaryPunctuation(text.at(start))) {
        ++start;
    }
    while (end > start && isTokenBoundaryPunctuation(text.at(end - 1))) {
        --end;
    }
    const QString core = text.mid(start, end - start);
    const QString lower = core.toLower();
    return lower.startsWith(QStringLiteral("http://")) || lower.startsWith(QStringLiteral("https://")) ||
           lower.startsWith(QStringLiteral("www.")) || core.contains(QLatin1Char('@')) ||
           core.contains(QLatin1Char('.')) || core.isEmpty() || containsDecimalDigit(core) ||
           containsCodeLikeCharacter(core) || hasInternalUppercase(core);
}

bool LocalTextEditingClient::hasInternalUppercase(const QString& text) {
    bool seenLowercase = false;
    for (const char32_t c : text.toUcs4()) {
        if (seenLowercase && isUppercaseLetter(c)) {
            return true;
        }
        if (QChar::category(c) == QChar::Letter_Lowercase) {
            seenLowercase = true;
        }
    }
    return false;
}

bool LocalTextEditingClient::isCapitalizedWord(const QString& text) {
    const QStringList characters = graphemes(text);
    if (characters.isEmpty()) {
        return false;
    }
    const QString& first = characters.front();
    const char32_t firstCodePoint = first.toUcs4().value(0);
    if (!QChar::isLetter(firstCodePoint) || first.toLower() == first || first.toUpper() != first) {
        return false;
    }
    const QString rest = text.mid(first.size());
    return rest.toLower() == rest;
}

std::optional<QString> LocalTextEditingClient::safeReplacementCandidate(const QString& candidate,
                                                                        const QString& originalWord) {
    if (candidate.isEmpty() || candidate.trimmed() != candidate || containsWhitespace(candidate) ||
        containsDecimalDigit(candidate) || containsCodeLikeCharacter(candidate) || hasInternalUppercase(candidate)) {
        return std::nullopt;
    }
    // An all-capitals word of two or more characters is an acronym: nothing replaces it.
    if (originalWord.toUpper() == originalWord && containsLetter(originalWord) && graphemes(originalWord).size() > 1) {
        return std::nullopt;
    }
    if (hasInternalUppercase(originalWord)) {
        return std::nullopt;
    }
    if (isCapitalizedWord(originalWord)) {
        const QStringList characters = graphemes(candidate);
        return characters.front().toUpper() + candidate.mid(characters.front().size());
    }
    return candidate;
}

QStringList LocalTextEditingClient::uniqueSafeGuesses(const QStringList& guesses, const QString& originalWord) {
    QStringList kept;
    QStringList keptLowercased;
    for (const QString& guess : guesses) {
        const std::optional<QString> candidate = safeReplacementCandidate(guess, originalWord);
        if (!candidate) {
            continue;
        }
        const QString lowered = candidate->toLower();
        if (keptLowercased.contains(lowered)) {
            continue;
        }
        kept.append(*candidate);
        keptLowercased.append(lowered);
    }
    return kept;
}

std::optional<QString> LocalTextEditingClient::safeCorrection(const QStringList& uniqueSafeGuesses,
                                                              const std::optional<QString>& systemCorrection,
                                                              const QString& originalWord) {
    const QStringList wordCharacters = graphemes(originalWord.toLower());
    for (const QString& guess : uniqueSafeGuesses) {
        if (isOneCharacterInsertion(graphemes(guess.toLower()), wordCharacters)) {
            return guess;
        }
    }
    if (systemCorrection && !uniqueSafeGuesses.isEmpty()) {
        const std::optional<QString> safe = safeReplacementCandidate(*systemCorrection, originalWord);
        if (safe && uniqueSafeGuesses.front().toLower() == safe->toLower()) {
            return safe;
        }
    }
    if (uniqueSafeGuesses.size() == 1) {
        return uniqueSafeGuesses.front();
    }
    return std::nullopt;
}

}  // namespace tavrolin
