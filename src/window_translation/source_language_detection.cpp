#include "window_translation/source_language_detection.h"

#include "core/text_units.h"
#include "language/translation_text_filter.h"

#include <QHash>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <utility>

namespace tavrolin {

using namespace Qt::StringLiterals;

namespace {

using Scores = std::map<AppLanguage, double>;

void mergeLanguageScores(Scores& into, const Scores& from, double factor = 1.0) {
    for (const auto& [language, score] : from) {
        into[language] += score * factor;
    }
}

// The languages detection may choose from the statistical recognizer's hypotheses: every
// supported language but Hebrew.
const std::vector<AppLanguage>& statisticalLanguages() {
    static const std::vector<AppLanguage> languages = [] {
        std::vector<AppLanguage> cases;
        for (AppLanguage language : AppLanguages::sourceDetectionCases()) {
            if (language != AppLanguage::automatic) {
                cases.push_back(language);
            }
        }
        return cases;
    }();
    return languages;
}

struct ScriptRange {
    char32_t first;
    char32_t last;
    AppLanguage language;
};

constexpr ScriptRange scriptRanges[] = {
    {0x0600, 0x06FF, AppLanguage::arabic},   {0x0750, 0x077F, AppLanguage::arabic},
    {0x08A0, 0x08FF, AppLanguage::arabic},   {0x0E00, 0x0E7F, AppLanguage::thai},
    {0x0900, 0x097F, AppLanguage::hindi},    {0x4E00, 0x9FFF, AppLanguage::chinese},
    {0x3040, 0x30FF, AppLanguage::japanese}, {0xAC00, 0xD7AF, AppLanguage::korean},
};

struct LetterHint {
    QString letters;
    AppLanguage language;
    double factor;
};

const std::vector<LetterHint>& letterHints() {
    static const std::vector<LetterHint> hints = {
        {u"іїєґ"_s, AppLanguage::ukrainian, 0.9},          {u"ыэёъ"_s, AppLanguage::russian, 0.9},
        {u"ñ¿¡áíóúü"_s, AppLanguage::spanish, 0.8},        {u"äöüß"_s, AppLanguage::german, 0.8},
        {u"ãõâêôç"_s, AppLanguage::portuguese, 0.8},       {u"ąćęłńóśźż"_s, AppLanguage::polish, 0.85},
        {u"çğıİıöşü"_s, AppLanguage::turkish, 0.85},       {u"ăâđêôơư"_s, AppLanguage::vietnamese, 0.9},
        {u"çœæàâêèéëîïôûùÿ"_s, AppLanguage::french, 0.35},
    };
    return hints;
}

// Keyword -> the languages it belongs to, with its weight in each.
const QHash<QString, std::vector<std::pair<AppLanguage, double>>>& keywordIndex() {
    static const auto index = [] {
        QHash<QString, std::vector<std::pair<AppLanguage, double>>> byKeyword;
        for (const auto& [language, keywords] : languageKeywords()) {
            for (const auto& [keyword, weight] : keywords) {
                byKeyword[keyword].emplace_back(language, weight);
            }
        }
        return byKeyword;
    }();
    return index;
}

QString lowerCased(const QString& text) {
    return text.normalized(QString::NormalizationForm_C).toLower().normalized(QString::NormalizationForm_C);
}

// The evidence of one text at weight 1; a weight scales every score of a kind alike.
struct TextEvidence {
    Scores statistical;
    Scores orthography;
    Scores keywords;
};

Scores statisticalScores(const QString& text, const LanguageRecognizer& recognizer) {
    const QString trimmed = text.trimmed();
    if (graphemeCount(trimmed) < 6) {
        return {};
    }
    // The recognizer cannot be limited to our languages: the hypotheses that are not ours add
    // nothing. A probability counts as it stands; the recognizer lowers it for a text too short
    // to be sure of, and that doubt must reach the scores.
    Scores scores;
    for (const LanguageHypothesis& hypothesis : recognizer.hypotheses(trimmed)) {
        const auto language =
            AppLanguages::fromLanguageIdentifier(hypothesis.languageIdentifier, statisticalLanguages());
        if (language && hypothesis.probability > 0) {
            scores[*language] += hypothesis.probability;
        }
    }
    return scores;
}

Scores orthographyScores(const QString& lower) {
    int letters = 0;
    int scriptCounts[std::size(scriptRanges)] = {};
    forEachScalar(lower, [&](char32_t scalar) {
        if (TranslationTextStats::isLetter(scalar)) {
            ++letters;
        }
        for (std::size_t i = 0; i < std::size(scriptRanges); ++i) {
            if (scalar >= scriptRanges[i].first && scalar <= scriptRanges[i].last) {
                ++scriptCounts[i];
                break;
            }
        }
    });
    Scores scores;
    if (letters == 0) {
        return scores;
    }
    for (std::size_t i = 0; i < std::size(scriptRanges); ++i) {
        if (scriptCounts[i] > 0) {
            const double factor = scriptRanges[i].language == AppLanguage::chinese ? 0.7 : 1.0;
            scores[scriptRanges[i].language] += factor * scriptCounts[i] / letters;
        }
    }

    // Letter hints count characters: a hint letter carrying a further combining mark is
    // another character and does not count.
    const auto& hints = letterHints();
    std::vector<int> hintCounts(hints.size(), 0);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lower);
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end != -1; end = finder.toNextBoundary()) {
        if (end - start == 1) {
            const QChar character = lower[start];
            if (character.unicode() >= 0x80) {
                for (std::size_t i = 0; i < hints.size(); ++i) {
                    if (hints[i].letters.contains(character)) {
                        ++hintCounts[i];
                    }
                }
            }
        }
        start = end;
    }
    for (std::size_t i = 0; i < hints.size(); ++i) {
        if (hintCounts[i] > 0) {
            scores[hints[i].language] += hints[i].factor * hintCounts[i] / letters;
        }
    }
    return scores;
}

Scores keywordScores(const QString& lower) {
    const auto& index = keywordIndex();
    Scores raw;
    int tokens = 0;
    QString token;
    auto endToken = [&] {
        if (token.isEmpty()) {
            return;
        }
        ++tokens;
        const auto found = index.constFind(token);
        if (found != index.constEnd()) {
            for (const auto& [language, weight] : *found) {
                raw[language] += weight;
            }
        }
        token.clear();
    };
    forEachScalar(lower, [&](char32_t scalar) {
        if (TranslationTextStats::isLetter(scalar)) {
            token.append(QStringView(QChar::fromUcs4(scalar)));
        } else {
            endToken();
        }
    });
    endToken();
    if (tokens == 0) {
        return {};
    }
    for (auto& [language, sum] : raw) {
        sum /= tokens;
    }
    return raw;
}

TextEvidence evidenceOf(const QString& text, const LanguageRecognizer& recognizer) {
    const QString lower = lowerCased(text);
    return {statisticalScores(text.normalized(QString::NormalizationForm_C), recognizer), orthographyScores(lower),
            keywordScores(lower)};
}

void addEvidence(Scores& scores, const TextEvidence& evidence, double statisticalWeight, double orthographyWeight,
                 double keywordWeight) {
    mergeLanguageScores(scores, evidence.statistical, statisticalWeight);
    mergeLanguageScores(scores, evidence.orthography, orthographyWeight);
    mergeLanguageScores(scores, evidence.keywords, keywordWeight);
}

}  // namespace

const std::map<AppLanguage, std::map<QString, double>>& languageKeywords() {
    static const std::map<AppLanguage, std::map<QString, double>> table = [] {
        const std::vector<std::pair<AppLanguage, std::vector<std::pair<QString, double>>>> rows = {
            {AppLanguage::arabic,
             {{u"مرحبا"_s, 1.8},
              {u"شكرا"_s, 1.8},
              {u"هذا"_s, 1.2},
              {u"هذه"_s, 1.2},
              {u"ترجمة"_s, 1.5},
              {u"اللغة"_s, 1.3},
              {u"العربية"_s, 1.7}}},
            {AppLanguage::dutch,
             {{u"hallo"_s, 1.4},
              {u"dank"_s, 1.3},
              {u"deze"_s, 1.1},
              {u"pagina"_s, 1.0},
              {u"vertalen"_s, 1.3},
              {u"met"_s, 0.9},
              {u"niet"_s, 1.0},
              {u"een"_s, 0.9}}},
            {AppLanguage::chinese,
             {{u"你好"_s, 1.8},
              {u"谢谢"_s, 1.8},
              {u"这是"_s, 1.3},
              {u"翻译"_s, 1.6},
              {u"中文"_s, 1.7},
              {u"页面"_s, 1.4}}},
            {AppLanguage::english,
             {{u"the"_s, 0.8},
              {u"and"_s, 0.8},
              {u"this"_s, 1.0},
              {u"that"_s, 0.9},
              {u"with"_s, 0.9},
              {u"from"_s, 0.9},
              {u"your"_s, 1.0},
              {u"page"_s, 1.0},
              {u"download"_s, 1.1},
              {u"settings"_s, 1.0}}},
            {AppLanguage::french,
             {{u"bonjour"_s, 1.5},
              {u"merci"_s, 1.5},
              {u"avec"_s, 1.1},
              {u"dans"_s, 1.1},
              {u"pour"_s, 1.0},
              {u"vous"_s, 1.2},
              {u"nous"_s, 1.2},
              {u"une"_s, 1.1},
              {u"des"_s, 1.0},
              {u"est"_s, 0.9},
              {u"pas"_s, 1.0},
              {u"sur"_s, 0.9},
              {u"revoir"_s, 1.2}}},
            {AppLanguage::hindi,
             {{u"नमस्ते"_s, 1.8},
              {u"धन्यवाद"_s, 1.8},
              {u"यह"_s, 1.1},
              {u"है"_s, 1.0},
              {u"अनुवाद"_s, 1.5},
              {u"हिंदी"_s, 1.7}}},
            {AppLanguage::indonesian,
             {{u"halo"_s, 1.4},
              {u"terima"_s, 1.3},
              {u"kasih"_s, 1.3},
              {u"halaman"_s, 1.2},
              {u"terjemahan"_s, 1.5},
              {u"bahasa"_s, 1.2},
              {u"ini"_s, 0.9},
              {u"dengan"_s, 1.0},
              {u"untuk"_s, 1.0}}},
            {AppLanguage::italian,
             {{u"ciao"_s, 1.4},
              {u"grazie"_s, 1.4},
              {u"pagina"_s, 1.0},
              {u"tradurre"_s, 1.2},
              {u"questo"_s, 1.0},
              {u"con"_s, 0.9},
              {u"per"_s, 0.9}}},
            {AppLanguage::japanese,
             {{u"こんにちは"_s, 1.8},
              {u"ありがとう"_s, 1.8},
              {u"これは"_s, 1.4},
              {u"翻訳"_s, 1.6},
              {u"日本語"_s, 1.7}}},
            {AppLanguage::korean,
             {{u"안녕하세요"_s, 1.8},
              {u"감사합니다"_s, 1.8},
              {u"이것은"_s, 1.4},
              {u"번역"_s, 1.6},
              {u"한국어"_s, 1.7}}},
            {AppLanguage::polish,
             {{u"cześć"_s, 1.4},
              {u"dziekuje"_s, 1.3},
              {u"dziękuję"_s, 1.5},
              {u"strona"_s, 1.2},
              {u"tłumaczenie"_s, 1.6},
              {u"polski"_s, 1.6},
              {u"tekst"_s, 1.0}}},
            {AppLanguage::portuguese,
             {{u"ola"_s, 1.3},
              {u"olá"_s, 1.5},
              {u"obrigado"_s, 1.5},
              {u"pagina"_s, 1.0},
              {u"traduzir"_s, 1.3},
              {u"você"_s, 1.2},
              {u"com"_s, 0.9},
              {u"para"_s, 0.9},
              {u"esta"_s, 0.9},
              {u"português"_s, 1.6}}},
            {AppLanguage::russian,
             {{u"это"_s, 1.2},
              {u"как"_s, 1.0},
              {u"что"_s, 1.0},
              {u"русский"_s, 1.5},
              {u"страница"_s, 1.3},
              {u"перевод"_s, 1.2},
              {u"текст"_s, 1.0}}},
            {AppLanguage::spanish,
             {{u"hola"_s, 1.5},
              {u"gracias"_s, 1.5},
              {u"esta"_s, 1.1},
              {u"este"_s, 1.1},
              {u"como"_s, 1.0},
              {u"para"_s, 1.1},
              {u"pero"_s, 1.0},
              {u"pagina"_s, 1.1},
              {u"espanol"_s, 1.4},
              {u"traducir"_s, 1.3},
              {u"puede"_s, 1.0},
              {u"tiene"_s, 1.0},
              {u"mucho"_s, 1.0},
              {u"texto"_s, 1.0}}},
            {AppLanguage::thai, {{u"สวัสดี"_s, 1.8}, {u"ขอบคุณ"_s, 1.8}, {u"แปล"_s, 1.5}, {u"ภาษาไทย"_s, 1.7}}},
            {AppLanguage::turkish,
             {{u"merhaba"_s, 1.5},
              {u"teşekkürler"_s, 1.5},
              {u"tesekkurler"_s, 1.3},
              {u"çeviri"_s, 1.6},
              {u"ceviri"_s, 1.4},
              {u"türkçe"_s, 1.7},
              {u"turkce"_s, 1.5},
              {u"sayfa"_s, 1.2}}},
            {AppLanguage::ukrainian,
             {{u"це"_s, 1.2},
              {u"як"_s, 1.0},
              {u"що"_s, 1.0},
              {u"український"_s, 1.5},
              {u"сторінка"_s, 1.3},
              {u"переклад"_s, 1.2},
              {u"текст"_s, 1.0}}},
            {AppLanguage::vietnamese,
             {{u"xin"_s, 1.1},
              {u"chào"_s, 1.5},
              {u"cam"_s, 1.0},
              {u"ơn"_s, 1.2},
              {u"cảm"_s, 1.3},
              {u"trang"_s, 1.0},
              {u"dịch"_s, 1.6},
              {u"tiếng"_s, 1.5},
              {u"việt"_s, 1.6}}},
            {AppLanguage::german,
             {{u"und"_s, 0.9},
              {u"mit"_s, 1.0},
              {u"nicht"_s, 1.1},
              {u"eine"_s, 1.0},
              {u"seite"_s, 1.1},
              {u"diese"_s, 1.0},
              {u"wird"_s, 1.0},
              {u"übersetzen"_s, 1.3}}},
        };
        std::map<AppLanguage, std::map<QString, double>> keywords;
        for (const auto& [language, words] : rows) {
            for (const auto& [word, weight] : words) {
                keywords[language][word.normalized(QString::NormalizationForm_C)] = weight;
            }
        }
        return keywords;
    }();
    return table;
}

std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>& blocks,
                                                           AppLanguage requestedSourceLanguage,
                                                           const std::set<AppLanguage>& boostedLanguages,
                                                           const LanguageRecognizer& recognizer) {
    if (requestedSourceLanguage != AppLanguage::automatic) {
        return DetectedSourceLanguage{requestedSourceLanguage, displayName(requestedSourceLanguage), 1.0};
    }
    QStringList texts;
    texts.reserve(qsizetype(blocks.size()));
    for (const RecognizedTextBlock& block : blocks) {
        texts.append(block.text);
    }
    const QString joined = texts.join(u'\n').trimmed();
    if (joined.isEmpty()) {
        return std::nullopt;
    }

    Scores scores;
    // The same text often comes twice (one block is the whole text): read it once.
    QHash<QString, TextEvidence> evidence;
    auto evidenceFor = [&](const QString& text) -> const TextEvidence& {
        auto found = evidence.find(text);
        if (found == evidence.end()) {
            found = evidence.insert(text, evidenceOf(text, recognizer));
        }
        return *found;
    };

    for (const RecognizedTextBlock& block : blocks) {
        const double w = std::max(double(graphemeCount(block.text)), 1.0);
        // The recognizer's first two languages; an entry that cannot be a source (Hebrew) still
        // takes its place.
        const double positionFactors[] = {1.4, 0.8};
        for (std::size_t i = 0; i < std::min<std::size_t>(2, block.detectedLanguages.size()); ++i) {
            const AppLanguage language = block.detectedLanguages[i];
            if (language != AppLanguage::hebrew && language != AppLanguage::automatic) {
                scores[language] += w * positionFactors[i];
            }
        }
        addEvidence(scores, evidenceFor(block.text), std::max(0.45 * w, 6.0), std::max(0.6 * w, 8.0),
                    std::max(0.4 * w, 7.0));
    }

    const double n = double(graphemeCount(joined));
    addEvidence(scores, evidenceFor(joined), std::max(0.35 * n, 24.0), std::max(0.2 * n, 18.0),
                std::max(0.22 * n, 22.0));

    for (AppLanguage language : boostedLanguages) {
        const auto found = scores.find(language);
        if (found != scores.end()) {
            found->second *= 2;
        }
    }

    std::vector<std::pair<AppLanguage, double>> ranked;
    for (const auto& [language, score] : scores) {
        if (score >= 5.0) {
            ranked.emplace_back(language, score);
        }
    }
    if (ranked.empty()) {
        return std::nullopt;
    }
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        if (a.second != b.second) {
            return a.second > b.second;
        }
        return displayName(a.first) < displayName(b.first);
    });

    const double best = ranked[0].second;
    const double runnerUp = ranked.size() > 1 ? ranked[1].second : 0.0;
    double total = 0;
    for (const auto& entry : ranked) {
        total += entry.second;
    }
    const double share = total > 0 ? best / total : 0.0;
    const bool accepted = best >= 28 && (runnerUp == 0 || best >= 2.5 * runnerUp || share >= 0.62);
    const double confidence = accepted ? std::max(share, 0.5) : std::min(share, 0.49);
    return DetectedSourceLanguage{ranked[0].first, displayName(ranked[0].first), confidence};
}

}  // namespace tavrolin
