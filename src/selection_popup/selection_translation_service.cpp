#include "selection_popup/selection_translation_service.h"

#include "core/capture_workflow_error.h"
#include "core/user_preferred_languages_provider.h"
#include "language/focused_field_service_support.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>
#include <utility>

namespace tavrolin {

namespace {

using Structured = SelectionTranslationStructuredText;

// One ICU expression, compiled once and searched over a QString's own UTF-16 buffer, so that
// match positions are UTF-16 offsets into the string.
class IcuPattern {
public:
    explicit IcuPattern(const char16_t* pattern) {
        UErrorCode status = U_ZERO_ERROR;
        pattern_.reset(icu::RegexPattern::compile(icu::UnicodeString(pattern), 0, status));
        if (U_FAILURE(status)) {
            pattern_.reset();
        }
    }

    bool isValid() const { return pattern_ != nullptr; }

    // Whether a search anywhere in `text` finds the pattern.
    bool isFound(const QString& text) const {
        bool found = false;
        forEachMatch(text, [&found](int, int) {
            found = true;
            return false;
        });
        return found;
    }

    // Calls `onMatch(start, end)` for every match in order until it answers false.
    template <typename OnMatch>
    void forEachMatch(const QString& text, OnMatch onMatch) const {
        if (!pattern_) {
            return;
        }
        const icu::UnicodeString input(false, reinterpret_cast<const char16_t*>(text.utf16()),
                                       static_cast<int32_t>(text.size()));
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern_->matcher(input, status));
        if (U_FAILURE(status) || !matcher) {
            return;
        }
        while (matcher->find(status) && U_SUCCESS(status)) {
            const int32_t start = matcher->start(status);
            const int32_t end = matcher->end(status);
            if (U_FAILURE(status) || !onMatch(start, end)) {
                return;
            }
        }
    }

private:
    std::unique_ptr<icu::RegexPattern> pattern_;
};

// One or more blank lines (only spaces, tabs or carriage returns) between two line feeds.
const IcuPattern& blankLineRun() {
    static const IcuPattern pattern(uR"re(\n[ \t\r]*\n(?:[ \t\r]*\n)*)re");
    return pattern;
}

// A list marker, a numbered item or a check box at the start of a trimmed line.
const IcuPattern& listItemStart() {
    static const IcuPattern pattern(uR"re(^(?:[-*•>]\s+|\d+[.)]\s+|\[[ xX]\]\s+))re");
    return pattern;
}

// Two or more spaces between two non-space characters: column-aligned text.
const IcuPattern& columnGap() {
    static const IcuPattern pattern(uR"re(\S {2,}\S)re");
    return pattern;
}

// A full stop, exclamation or question mark at the end, then closing quotes or brackets and
// citation marks.
const IcuPattern& sentenceEnd() {
    static const IcuPattern pattern(uR"re([.!?]["')\]]*(?:\[[^\]]+\]|\([^)]+\))*$)re");
    return pattern;
}

// An ASCII capital or digit at the start, possibly after one opening quote or bracket.
const IcuPattern& sentenceStart() {
    static const IcuPattern pattern(uR"re(^["'(\[]?[A-Z0-9])re");
    return pattern;
}

// Tab and the Unicode space separators; not line breaks.
bool isWhitespace(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

bool isNewline(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x000A && u <= 0x000D) || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

QString trimmedOfWhitespace(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isWhitespace(text.at(start))) {
        ++start;
    }
    while (end > start && isWhitespace(text.at(end - 1))) {
        --end;
    }
    return text.mid(start, end - start);
}

QStringList splitAtNewlines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNewline(text.at(i))) {
            lines.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    lines.append(text.mid(start));
    return lines;
}

struct Paragraph {
    QString text;
    bool isSeparator = false;
};

std::vector<Paragraph> splitIntoParagraphs(const QString& text) {
    if (!blankLineRun().isValid()) {
        return {Paragraph{text, false}};
    }
    std::vector<Paragraph> paragraphs;
    qsizetype cursor = 0;
    blankLineRun().forEachMatch(text, [&](int start, int end) {
        if (start > cursor) {
            paragraphs.push_back({text.mid(cursor, start - cursor), false});
        }
        paragraphs.push_back({text.mid(start, end - start), true});
        cursor = end;
        return true;
    });
    if (cursor < text.size()) {
        paragraphs.push_back({text.mid(cursor), false});
    }
    return paragraphs;
}

class Builder {
public:
    void appendParagraph(const QString& paragraph) {
        const QStringList lines = splitAtNewlines(paragraph);
        QStringList contentLines;
        for (const QString& line : lines) {
            if (!trimmedOfWhitespace(line).isEmpty()) {
                contentLines.append(line);
            }
        }
        if (!isLineSensitive(contentLines)) {
            appendProseLines(contentLines, paragraph);
            return;
        }
        // Item by item: each non-blank line is translated alone (without its indentation),
        // blank ones stay as they are.
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString trimmed = trimmedOfWhitespace(lines.at(i));
            if (!trimmed.isEmpty()) {
                appendTranslation(trimmed);
            } else {
                appendLiteral(lines.at(i));
            }
            if (i + 1 < lines.size()) {
                appendLiteral(QStringLiteral("\n"));
            }
        }
    }

    void appendLiteral(const QString& text) { structured.segments.emplace_back(Structured::Literal{text}); }

    Structured structured;

private:
    static bool isLineSensitive(const QStringList& lines) {
        if (lines.size() < 2) {
            return false;
        }
        for (const QString& line : lines) {
            if (listItemStart().isFound(trimmedOfWhitespace(line)) || line.contains(u'\t') ||
                columnGap().isFound(line)) {
                return true;
            }
        }
        return false;
    }

    // Lines a text view wrapped inside one sentence are joined; a line break stays only where
    // one sentence ends and the next line starts a new one.
    void appendProseLines(const QStringList& lines, const QString& fallback) {
        if (lines.isEmpty()) {
            appendLiteral(fallback);
            return;
        }
        QStringList current;
        for (const QString& untrimmed : lines) {
            const QString line = trimmedOfWhitespace(untrimmed);
            if (!current.isEmpty() && sentenceEnd().isFound(current.last()) && sentenceStart().isFound(line)) {
                appendTranslation(current.join(u' '));
                appendLiteral(QStringLiteral("\n"));
                current = QStringList{line};
            } else {
                current.append(line);
            }
        }
        appendTranslation(current.join(u' '));
    }

    void appendTranslation(const QString& text) {
        const auto index = static_cast<int>(structured.translationInputs.size());
        structured.translationInputs.append(text);
        structured.segments.emplace_back(Structured::Translation{index, text});
    }
};

QString normalizedLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// Every input has a non-blank answer; answers beyond the inputs do not count.
bool isUsable(const QStringList& inputs, const QStringList& outputs) {
    if (inputs.isEmpty() || outputs.size() < inputs.size()) {
        return false;
    }
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        if (isBlankAnswer(outputs.at(i))) {
            return false;
        }
    }
    return true;
}

}  // namespace

Structured Structured::build(const QString& text) {
    Builder builder;
    for (const Paragraph& paragraph : splitIntoParagraphs(text)) {
        if (paragraph.isSeparator) {
            builder.appendLiteral(paragraph.text);
        } else {
            builder.appendParagraph(paragraph.text);
        }
    }
    return std::move(builder.structured);
}

QString Structured::compose(const QStringList& outputs) const {
    QString composed;
    for (const Segment& segment : segments) {
        if (const auto* literal = std::get_if<Literal>(&segment)) {
            composed += literal->text;
            continue;
        }
        const auto& translation = std::get<Translation>(segment);
        const QString answer = translation.index >= 0 && translation.index < outputs.size()
                                   ? outputs.at(translation.index).trimmed()
                                   : QString();
        composed += answer.isEmpty() ? translation.fallback : answer;
    }
    return composed.trimmed();
}

SelectionTranslationService::SelectionTranslationService(
    std::shared_ptr<TranslationClient> translationClient, std::shared_ptr<const AppSettingsProviding> settingsStore,
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider,
    TranslationSystemCheck isSystemSupported, std::shared_ptr<const LanguageRecognizer> recognizer)
    : translationClient_(std::move(translationClient)),
      settingsStore_(std::move(settingsStore)),
      preferredLanguagesProvider_(std::move(preferredLanguagesProvider)),
      isSystemSupported_(std::move(isSystemSupported)),
      recognizer_(std::move(recognizer)) {
    if (!preferredLanguagesProvider_) {
        preferredLanguagesProvider_ = std::make_shared<UserPreferredLanguagesProvider>(settingsStore_->settings());
    }
}

QCoro::Task<SelectionTranslationResult> SelectionTranslationService::translate(
    FocusedTextFieldSnapshot snapshot) const {
    co_await resumeOnMainThread();
    if (isSystemSupported_ && !isSystemSupported_()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
    const QString text = snapshot.selectedText.value_or(QString());
    // A selection of nothing but blanks and line breaks has nothing to translate: it is
    // reported as no selection rather than as a language problem.
    if (text.trimmed().isEmpty()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::noTextSelected);
    }
    requireWithinCharacterLimit(text);

    const AppSettings settings = settingsStore_->settings();
    const AppLanguage target = settings.targetLanguage;
    const AppLanguage second = settings.messageTargetLanguage;
    const AppLanguage detected =
        detectServiceLanguage(text, preferredLanguagesProvider_->boostedLanguages(), recognizer_.get())
            .value_or(second);
    // A text detected in the native language is taken to be in the second language.
    const AppLanguage source = detected == target && second != target ? second : detected;

    SelectionTranslationResult result{text, text, source, target, snapshot.screenFrame};
    if (source == target) {
        co_return result;
    }
    const TranslationPairAvailability availability = co_await translationClient_->availability(source, target);
    co_await resumeOnMainThread();
    requireInstalledPair(availability, source, target);

    const Structured structured = Structured::build(normalizedLineEnds(text));
    QStringList inputs = structured.translationInputs;
    const QStringList outputs = co_await translationClient_->translate(std::move(inputs), source, target);
    co_await resumeOnMainThread();
    if (!isUsable(structured.translationInputs, outputs)) {
        throw CaptureWorkflowError::translationLanguagePairUnsupported(displayName(source), displayName(target));
    }
    result.translatedText = structured.compose(outputs);
    co_return result;
}

}  // namespace tavrolin
