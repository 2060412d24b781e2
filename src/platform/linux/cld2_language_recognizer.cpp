#include "platform/linux/cld2_language_recognizer.h"

#include "platform/desktop_backend.h"

// clang-format off
#include <cstdio>  // CLD2's header needs it first
#include <cld2/public/compact_lang_det.h>
#include <cld2/public/encodings.h>
// clang-format on

#include <algorithm>
#include <limits>

namespace CLD2 {
// Declared in CLD2's internal header, exported by the library.
const char* LanguageCode(Language lang);
}  // namespace CLD2

namespace tavrolin {

namespace {

// CLD2 answers nothing at all for a text that is not "interchange-valid" UTF-8: one NUL,
// control character, lone surrogate or noncharacter would hide the language of everything
// around it. Such characters carry no language: they become blanks.
QString interchangeValid(const QString& text) {
    QString clean = text;
    for (qsizetype i = 0; i < clean.size(); ++i) {
        const char16_t unit = clean[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < clean.size() && QChar::isLowSurrogate(clean[i + 1].unicode())) {
            ++i;  // a proper pair (noncharacters above the BMP are rare enough to keep)
            continue;
        }
        const bool control =
            (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') || (unit >= 0x7f && unit <= 0x9f);
        const bool nonCharacter = (unit >= 0xfdd0 && unit <= 0xfdef) || unit == 0xfffe || unit == 0xffff;
        if (control || nonCharacter || QChar::isSurrogate(unit)) {
            clean[i] = u' ';
        }
    }
    return clean;
}

}  // namespace

std::optional<QString> Cld2LanguageRecognizer::normalizedIdentifier(const QString& cld2Code) {
    if (cld2Code.isEmpty() || cld2Code == u"un" || cld2Code == u"xxx" || cld2Code == u"xx" ||
        cld2Code.startsWith(u"xx-")) {
        return std::nullopt;
    }
    if (cld2Code == u"iw") {
        return QStringLiteral("he");
    }
    if (cld2Code == u"zh" || cld2Code.startsWith(u"zh-")) {
        return QStringLiteral("zh");
    }
    return cld2Code;
}

QString Cld2LanguageRecognizer::cld2Code(const QString& identifier) {
    return identifier == u"he" ? QStringLiteral("iw") : identifier;
}

namespace {

struct Cld2Result {
    CLD2::Language languages[3] = {CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE, CLD2::UNKNOWN_LANGUAGE};
    int percents[3] = {0, 0, 0};
    int textBytes = 0;
};

Cld2Result detect(const QByteArray& utf8, int flags, const char* contentLanguageHint) {
    Cld2Result result;
    double scores[3] = {0, 0, 0};
    bool reliable = false;
    int validPrefixBytes = 0;
    CLD2::CLDHints hints{contentLanguageHint, "", CLD2::UNKNOWN_ENCODING, CLD2::UNKNOWN_LANGUAGE};
    CLD2::ExtDetectLanguageSummaryCheckUTF8(utf8.constData(), static_cast<int>(utf8.size()),
                                            /*is_plain_text=*/true, contentLanguageHint ? &hints : nullptr, flags,
                                            result.languages, result.percents, scores,
                                            /*resultchunkvector=*/nullptr, &result.textBytes, &reliable,
                                            &validPrefixBytes);
    return result;
}

std::optional<QString> identifierOf(CLD2::Language language) {
    if (language == CLD2::UNKNOWN_LANGUAGE) {
        return std::nullopt;
    }
    return Cld2LanguageRecognizer::normalizedIdentifier(QString::fromLatin1(CLD2::LanguageCode(language)));
}

}  // namespace

std::vector<LanguageHypothesis> Cld2LanguageRecognizer::hypotheses(const QString& text,
                                                                   LanguageRecognitionOptions options) const {
    std::vector<LanguageHypothesis> result;
    const QByteArray utf8 = interchangeValid(text).toUtf8();
    if (utf8.isEmpty() || utf8.size() > std::numeric_limits<int>::max()) {
        return result;
    }

    const int flags = options.bestEffort ? CLD2::kCLDFlagBestEffort : 0;
    const Cld2Result own = detect(utf8, flags, nullptr);
    // How far CLD2's shares can be trusted as probabilities: in full from fullEvidenceBytes on.
    const double evidence = std::clamp(static_cast<double>(own.textBytes) / fullEvidenceBytes, 0.0, 1.0);

    for (int i = 0; i < 3; ++i) {
        const auto identifier = identifierOf(own.languages[i]);
        if (!identifier || own.percents[i] <= 0) {
            continue;
        }
        // Two scripts of one language (zh and zh-Hant) fold into one hypothesis.
        auto existing = std::find_if(result.begin(), result.end(),
                                     [&](const auto& h) { return h.languageIdentifier == *identifier; });
        const double probability = own.percents[i] / 100.0 * evidence;
        if (existing != result.end()) {
            existing->probability += probability;
        } else {
            result.push_back({*identifier, probability});
        }
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const auto& a, const auto& b) { return a.probability > b.probability; });
    if (result.empty() || evidence >= 1.0 || options.hints.empty()) {
        return result;
    }

    // A short text: the hints that CLD2 accepts when told to expect them share what CLD2's own
    // answer leaves open, each staying just below that answer.
    std::vector<QString> fitting;
    for (const QString& hint : options.hints) {
        const bool listed =
            std::any_of(result.begin(), result.end(), [&](const auto& h) { return h.languageIdentifier == hint; });
        if (listed || std::find(fitting.begin(), fitting.end(), hint) != fitting.end()) {
            continue;
        }
        const QByteArray code = cld2Code(hint).toLatin1();
        const Cld2Result hinted = detect(utf8, flags, code.constData());
        if (identifierOf(hinted.languages[0]) == hint) {
            fitting.push_back(hint);
        }
    }
    double ownTotal = 0;
    for (const auto& h : result) {
        ownTotal += h.probability;
    }
    const double lowestOwn = result.back().probability;
    for (const QString& hint : fitting) {
        const double share = (1.0 - ownTotal) / static_cast<double>(fitting.size());
        result.push_back({hint, std::min(share, lowestOwn * 0.99)});
    }
    return result;
}

std::unique_ptr<LanguageRecognizer> makeSystemLanguageRecognizer() {
    return std::make_unique<Cld2LanguageRecognizer>();
}

}  // namespace tavrolin
