#include "platform/linux/cld2_language_recognizer.h"

#include <cstdio>  // CLD2's header needs it first

#include <cld2/public/compact_lang_det.h>

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
        if (QChar::isHighSurrogate(unit) && i + 1 < clean.size() &&
            QChar::isLowSurrogate(clean[i + 1].unicode())) {
            ++i;  // a proper pair (noncharacters above the BMP are rare enough to keep)
            continue;
        }
        const bool control = (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') ||
                             (unit >= 0x7f && unit <= 0x9f);
        const bool nonCharacter = (unit >= 0xfdd0 && unit <= 0xfdef) || unit == 0xfffe ||
                                  unit == 0xffff;
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

std::vector<LanguageHypothesis> Cld2LanguageRecognizer::hypotheses(
    const QString& text, LanguageRecognitionOptions options) const {
    std::vector<LanguageHypothesis> result;
    const QByteArray utf8 = interchangeValid(text).toUtf8();
    if (utf8.isEmpty() || utf8.size() > std::numeric_limits<int>::max()) {
        return result;
    }

    CLD2::Language languages[3];
    int percents[3] = {0, 0, 0};
    double scores[3] = {0, 0, 0};
    int textBytes = 0;
    bool reliable = false;
    int validPrefixBytes = 0;
    const int flags = options.bestEffort ? CLD2::kCLDFlagBestEffort : 0;
    CLD2::ExtDetectLanguageSummaryCheckUTF8(utf8.constData(), static_cast<int>(utf8.size()),
                                           /*is_plain_text=*/true, /*cld_hints=*/nullptr, flags,
                                           languages, percents, scores,
                                           /*resultchunkvector=*/nullptr, &textBytes, &reliable,
                                           &validPrefixBytes);

    for (int i = 0; i < 3; ++i) {
        if (languages[i] == CLD2::UNKNOWN_LANGUAGE || percents[i] <= 0) {
            continue;
        }
        const auto identifier =
            normalizedIdentifier(QString::fromLatin1(CLD2::LanguageCode(languages[i])));
        if (!identifier) {
            continue;
        }
        // Two scripts of one language (zh and zh-Hant) fold into one hypothesis.
        auto existing = std::find_if(result.begin(), result.end(), [&](const auto& h) {
            return h.languageIdentifier == *identifier;
        });
        const double probability = percents[i] / 100.0;
        if (existing != result.end()) {
            existing->probability += probability;
        } else {
            result.push_back({*identifier, probability});
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        return a.probability > b.probability;
    });
    return result;
}

std::unique_ptr<LanguageRecognizer> makeSystemLanguageRecognizer() {
    return std::make_unique<Cld2LanguageRecognizer>();
}

}  // namespace tavrolin
