#include "language/focused_field_service_support.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "core/text_language_detector.h"
#include "core/text_units.h"
#include "language/message_lines.h"
#include "platform/language_recognizer.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

FocusedFieldInput FocusedFieldInput::choose(const FocusedTextFieldSnapshot& snapshot) {
    if (snapshot.selectedText && !snapshot.selectedText->isEmpty()) {
        return {*snapshot.selectedText, true};
    }
    return {snapshot.fullText, false};
}

void requireNonEmptyInput(const QString& text) {
    if (text.isEmpty()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::focusedTextFieldEmpty);
    }
}

void requireWithinCharacterLimit(const QString& text) {
    // A text can only exceed the limit in clusters if it exceeds it in code units.
    if (text.size() <= CaptureWorkflowError::characterLimit) {
        return;
    }
    const qsizetype count = graphemeCount(text);
    if (count > CaptureWorkflowError::characterLimit) {
        throw CaptureWorkflowError::textExceedsCharacterLimit(count);
    }
}

bool isBlankAnswer(const QString& answer) {
    return answer.trimmed().isEmpty();
}

void requireInstalledPair(TranslationPairAvailability availability, AppLanguage source, AppLanguage target) {
    switch (availability) {
    case TranslationPairAvailability::installed:
        return;
    case TranslationPairAvailability::supported:
        throw CaptureWorkflowError::translationLanguagePairNotInstalled(displayName(source), displayName(target));
    case TranslationPairAvailability::unsupported:
        break;
    }
    throw CaptureWorkflowError::translationLanguagePairUnsupported(displayName(source), displayName(target));
}

QString acceptedTranslation(const QStringList& translated) {
    if (translated.isEmpty() || translated.front().isEmpty()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::failedToReplaceFocusedTextFieldText);
    }
    if (isBlankAnswer(translated.front())) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::textTranslationInvalidResponse);
    }
    return translated.front();
}

QCoro::Task<QString> translateFieldText(std::shared_ptr<TranslationClient> client, QString text, AppLanguage source,
                                        AppLanguage target) {
    // Awaited into a variable: g++ 12 leaks the awaited frame of a co_await used as an argument.
    const TranslationPairAvailability availability = co_await client->availability(source, target);
    requireInstalledPair(availability, source, target);
    // The list is built before the await: g++ 12 cannot keep a braced list alive across one.
    const QString original = text;
    QStringList texts;
    texts.append(std::move(text));
    const QStringList translated = co_await client->translate(std::move(texts), source, target);
    co_await resumeOnMainThread();
    // The device translates each line as its own; the server gets the message whole, and a
    // translator there may still take a line for the rest of the one before it.
    co_return withLinesOf(acceptedTranslation(translated), original);
}

void logFieldSteps(const FieldStepTimes& steps, bool done) {
    const qint64 serviceMs =
        std::max<qint64>(0, steps.totalMs - steps.focusMs - steps.fieldMs - steps.writeMs - steps.checkMs);
    AppLog::app().info([&] {
        return QStringLiteral(
                   "focused field steps focus_ms=%1 field_ms=%2 service_ms=%3 write_ms=%4 check_ms=%5 total_ms=%6 "
                   "result=%7")
            .arg(steps.focusMs)
            .arg(steps.fieldMs)
            .arg(serviceMs)
            .arg(steps.writeMs)
            .arg(steps.checkMs)
            .arg(steps.totalMs)
            .arg(done ? QStringLiteral("done") : QStringLiteral("failed"));
    });
}

int sanitizedRetryCount(int count) {
    return std::max(count, 0);
}

double sanitizedRetryDelay(double delay) {
    return std::isnan(delay) ? 0.0 : std::max(delay, 0.0);
}

std::optional<AppLanguage> detectServiceLanguage(const QString& text, const std::set<AppLanguage>& boosted,
                                                 const LanguageRecognizer* recognizer) {
    if (recognizer) {
        return TextLanguageDetector::detectAppLanguage(text, boosted, *recognizer);
    }
    return TextLanguageDetector::detectByScript(text);
}

}  // namespace tavrolin
