#include "core/text_language_detector.h"

#include "core/text_units.h"
#include "platform/language_recognizer.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <vector>

namespace tavrolin {

namespace {

constexpr std::array<char16_t, 8> kUkrainianLetters{u'\u0404', u'\u0406', u'\u0407', u'\u0454',
                                                    u'\u0456', u'\u0457', u'\u0490', u'\u0491'};

struct ScriptRange {
    char32_t first;
    char32_t last;
    AppLanguage language;
};

constexpr std::array<ScriptRange, 8> kScriptRanges{{
    {0x0400, 0x052F, AppLanguage::russian},  // Cyrillic and Cyrillic Supplement
    {0x0600, 0x06FF, AppLanguage::arabic},
    {0x0750, 0x077F, AppLanguage::arabic},    // Arabic Supplement
    {0x3040, 0x30FF, AppLanguage::japanese},  // Hiragana and Katakana
    {0x4E00, 0x9FFF, AppLanguage::chinese},   // CJK Unified Ideographs
    {0xAC00, 0xD7AF, AppLanguage::korean},    // Hangul Syllables
    {0x0900, 0x097F, AppLanguage::hindi},     // Devanagari
    {0x0E00, 0x0E7F, AppLanguage::thai},
}};

constexpr double kShortTextConfidence = 0.55;
constexpr qsizetype kShortTextCharacters = 15;
constexpr std::size_t kCandidateCount = 3;

bool isUkrainianLetter(char16_t c) {
    return std::find(kUkrainianLetters.begin(), kUkrainianLetters.end(), c) != kUkrainianLetters.end();
}

// True when a Ukrainian letter stands as a character of its own (not carrying a combining mark,
// which would make it another character).
bool containsUkrainianCharacter(QStringView text) {
    std::optional<QTextBoundaryFinder> finder;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isUkrainianLetter(text.at(i).unicode())) {
            continue;
        }
        if (!finder) {
            finder.emplace(QTextBoundaryFinder::Grapheme, text.toString());
        }
        finder->setPosition(i + 1);
        if (finder->isAtBoundary()) {
            return true;
        }
    }
    return false;
}

std::optional<AppLanguage> mapped(const QString& identifier) {
    return AppLanguages::fromLanguageIdentifier(identifier, AppLanguages::targetCases());
}

}  // namespace

std::optional<AppLanguage> TextLanguageDetector::detectByScript(QStringView text) {
    if (containsUkrainianCharacter(text)) {
        return AppLanguage::ukrainian;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t scalar = text.at(i).unicode();
        if (QChar::isHighSurrogate(scalar) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            scalar = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        for (const ScriptRange& range : kScriptRanges) {
            if (scalar >= range.first && scalar <= range.last) {
                return range.language;
            }
        }
    }
    return std::nullopt;
}

std::optional<AppLanguage> TextLanguageDetector::detectAppLanguage(const QString& text,
                                                                   const std::set<AppLanguage>& boostedLanguages,
                                                                   const LanguageRecognizer& recognizer) {
    if (const auto byScript = detectByScript(text)) {
        return byScript;
    }
    // The user's languages go to the recognizer as hints: on a short text it then lists those
    // that fit beside its own guess, so the rules below can prefer them.
    LanguageRecognitionOptions options{true, {}};
    for (const AppLanguage language : boostedLanguages) {
        if (language != AppLanguage::automatic) {
            options.hints.push_back(rawValue(language));
        }
    }
    std::vector<LanguageHypothesis> hypotheses = recognizer.hypotheses(text, options);
    if (hypotheses.empty()) {
        return std::nullopt;
    }
    std::stable_sort(
        hypotheses.begin(), hypotheses.end(),
        [](const LanguageHypothesis& a, const LanguageHypothesis& b) { return a.probability > b.probability; });

    auto isBoosted = [&](const std::optional<AppLanguage>& language) {
        return language && boostedLanguages.count(*language) > 0;
    };

    std::vector<AppLanguage> candidates;
    for (std::size_t i = 0; i < std::min(kCandidateCount, hypotheses.size()); ++i) {
        const auto language = mapped(hypotheses[i].languageIdentifier);
        if (isBoosted(language)) {
            candidates.push_back(*language);
        }
    }

    if (!candidates.empty() && hypotheses.front().probability < kShortTextConfidence &&
        graphemeCount(text.trimmed()) <= kShortTextCharacters) {
        return candidates.front();
    }

    // Ties keep the recognizer's order: the first best score wins.
    std::optional<AppLanguage> best;
    double bestScore = -1;
    for (const LanguageHypothesis& hypothesis : hypotheses) {
        const auto language = mapped(hypothesis.languageIdentifier);
        const double score = isBoosted(language) ? hypothesis.probability * 2 : hypothesis.probability;
        if (score > bestScore) {
            bestScore = score;
            best = language;
        }
    }
    return best;
}

}  // namespace tavrolin
