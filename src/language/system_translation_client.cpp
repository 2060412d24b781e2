#include "language/system_translation_client.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "language/message_lines.h"

#include <algorithm>
#include <optional>

namespace tavrolin {

namespace {

// A decimal integer with an optional sign that names a position of the list, or none.
std::optional<qsizetype> position(const std::optional<QString>& identifier, qsizetype count) {
    if (!identifier || identifier->isEmpty()) {
        return std::nullopt;
    }
    QStringView digits(*identifier);
    if (digits.front() == u'+' || digits.front() == u'-') {
        digits = digits.mid(1);
    }
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    for (const QChar ch : digits) {
        if (ch < u'0' || ch > u'9') {
            return std::nullopt;
        }
    }
    bool ok = false;
    const qlonglong value = identifier->toLongLong(&ok);
    if (!ok || value < 0 || value >= count) {
        return std::nullopt;
    }
    return static_cast<qsizetype>(value);
}

// The code point at `index` of `text`, and in `length` how many code units it takes.
char32_t codePointAt(const QString& text, qsizetype index, qsizetype& length) {
    const QChar unit = text[index];
    if (unit.isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate()) {
        length = 2;
        return QChar::surrogateToUcs4(unit, text[index + 1]);
    }
    length = 1;
    return unit.unicode();
}

bool isCapital(char32_t codePoint) {
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Letter_Uppercase || category == QChar::Letter_Titlecase;
}

// Whether `text` starts, after blanks, with a lower-case letter.
bool startsInLowerCase(const QString& text) {
    for (qsizetype index = 0, length = 0; index < text.size(); index += length) {
        const char32_t codePoint = codePointAt(text, index, length);
        if (!QChar::isSpace(codePoint)) {
            return QChar::category(codePoint) == QChar::Letter_Lowercase;
        }
    }
    return false;
}

// The engine takes every text for a sentence and capitalises its first letter, so a word or a
// phrase taken from inside a sentence ("weather", "is nice") would come back as the start of one.
// A source that starts with a lower-case letter gets its result's first letter (after any opening
// punctuation, "¿es...?") in lower case too. Capitals that are not the sentence's keep: a first
// word of capitals (an acronym), the English "I", and German results (every noun has one).
QString followSourceCase(const QString& source, const QString& result, AppLanguage target) {
    if (target == AppLanguage::german || !startsInLowerCase(source)) {
        return result;
    }
    for (qsizetype index = 0, length = 0; index < result.size(); index += length) {
        const char32_t codePoint = codePointAt(result, index, length);
        if (QChar::isLetterOrNumber(codePoint) && !isCapital(codePoint)) {
            return result;
        }
        if (!isCapital(codePoint)) {
            continue;  // opening punctuation or a blank
        }
        qsizetype nextLength = 0;
        const char32_t next = index + length < result.size() ? codePointAt(result, index + length, nextLength) : 0;
        if (isCapital(next) || (target == AppLanguage::english && codePoint == U'I' && !QChar::isLetter(next))) {
            return result;
        }
        return result.left(index) + result.mid(index, length).toLower() + result.mid(index + length);
    }
    return result;
}

// A text put back together from its lines' translations: each line keeps the blanks the user put
// around it and the break after it; a blank line stays as it is. A text one of whose lines got no
// answer has no translation (an empty string).
QString joinedLines(const std::vector<MessageLine>& lines, const std::vector<std::optional<QString>>& translated) {
    QString joined;
    for (std::size_t j = 0; j < lines.size(); ++j) {
        const QString& line = lines[j].text;
        const QString content = line.trimmed();
        if (content.isEmpty() && lines.size() > 1) {
            joined += line + lines[j].lineBreak;
            continue;
        }
        if (!translated[j]) {
            return QString();
        }
        const qsizetype leading = line.indexOf(content);
        joined += line.left(leading) + *translated[j] + line.mid(leading + content.size()) + lines[j].lineBreak;
    }
    return joined;
}

}  // namespace

SystemTranslationClient::SystemTranslationClient(std::shared_ptr<OnDeviceTranslationEngine> engine,
                                                 std::shared_ptr<const LanguageRecognizer> recognizer)
    : engine_(std::move(engine)), recognizer_(std::move(recognizer)) {}

QCoro::Task<TranslationPairAvailability> SystemTranslationClient::availability(AppLanguage source, AppLanguage target) {
    if (source == AppLanguage::automatic || target == AppLanguage::automatic) {
        co_return TranslationPairAvailability::unsupported;
    }
    // Awaited into a variable first: a co_await in a switch condition leaks the awaited task's
    // frame with g++ 12.
    const auto status = co_await engine_->status(rawValue(source), rawValue(target));
    switch (status) {
    case OnDeviceTranslationStatus::installed:
        co_return TranslationPairAvailability::installed;
    case OnDeviceTranslationStatus::supported:
        co_return TranslationPairAvailability::supported;
    case OnDeviceTranslationStatus::unsupported:
        break;
    }
    co_return TranslationPairAvailability::unsupported;
}

void SystemTranslationClient::prepare(AppLanguage source, AppLanguage target) {
    if (source == AppLanguage::automatic || target == AppLanguage::automatic || source == target) {
        return;
    }
    engine_->prepare(rawValue(source), rawValue(target));
}

QCoro::Task<QStringList> SystemTranslationClient::translate(QStringList texts, AppLanguage source, AppLanguage target) {
    if (target == AppLanguage::automatic) {
        co_return texts;
    }
    QString sourceCode;
    if (source != AppLanguage::automatic) {
        sourceCode = rawValue(source);
    } else {
        const auto sample =
            std::find_if(texts.cbegin(), texts.cend(), [](const QString& text) { return !text.isEmpty(); });
        if (sample == texts.cend()) {
            co_return texts;
        }
        const auto detected = recognizer_->dominantLanguage(*sample, {.bestEffort = true});
        if (!detected) {
            co_return texts;
        }
        sourceCode = *detected;
    }

    // Each line of each text goes to the engine as a text of its own: a line break the user
    // wrote ends a sentence, and the engine would take the next line for the rest of this one.
    struct LinePlace {
        qsizetype text = 0;
        std::size_t line = 0;
    };
    std::vector<std::vector<MessageLine>> lines;
    std::vector<LinePlace> places;
    std::vector<OnDeviceTranslationRequest> requests;
    lines.reserve(static_cast<std::size_t>(texts.size()));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        lines.push_back(messageLines(texts[i]));
        for (std::size_t j = 0; j < lines.back().size(); ++j) {
            const QString& line = lines.back()[j].text;
            if (line.trimmed().isEmpty() && lines.back().size() > 1) {
                continue;  // a blank line stays as it is
            }
            requests.push_back({line, QString::number(places.size())});
            places.push_back({i, j});
        }
    }

    std::vector<OnDeviceTranslationResponse> responses;
    try {
        responses = co_await engine_->translate(sourceCode, rawValue(target), std::move(requests));
    } catch (const OnDeviceTranslationError& error) {
        AppLog::app().notice(
            QStringLiteral("on-device translation failed: %1").arg(QString::fromStdString(error.detail())));
        if (error.kind() == OnDeviceTranslationError::Kind::engineMissing) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
        }
        throw;
    }

    std::vector<std::vector<std::optional<QString>>> translated(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        translated[i].resize(lines[i].size());
    }
    for (const auto& response : responses) {
        if (const auto index = position(response.clientIdentifier, static_cast<qsizetype>(places.size()))) {
            const LinePlace& place = places[static_cast<std::size_t>(*index)];
            const QString& line = lines[static_cast<std::size_t>(place.text)][place.line].text;
            translated[static_cast<std::size_t>(place.text)][place.line] =
                followSourceCase(line, withSpacesOf(response.targetText.trimmed(), line), target);
        }
    }
    QStringList results(texts.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        results[static_cast<qsizetype>(i)] = joinedLines(lines[i], translated[i]).trimmed();
    }
    co_return results;
}

}  // namespace tavrolin
