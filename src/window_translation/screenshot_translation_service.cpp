#include "window_translation/screenshot_translation_service.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>
#include <utility>

namespace tavrolin {

namespace {

using TextScript = ScreenshotTranslationService::TextScript;

const Logger& logger() {
    return AppLog::screenshotTranslation();
}

QString name(AppLanguage language) {
    return displayName(language);
}

// The error as a user would read it.
QString readableDescription(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CaptureWorkflowError& workflowError) {
        return workflowError.errorDescription();
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

QString availabilityName(TranslationPairAvailability availability) {
    switch (availability) {
    case TranslationPairAvailability::installed:
        return QStringLiteral("installed");
    case TranslationPairAvailability::supported:
        return QStringLiteral("supported");
    case TranslationPairAvailability::unsupported:
        break;
    }
    return QStringLiteral("unsupported");
}

bool isSeparator(QChar character) {
    const char16_t code = character.unicode();
    return code == u'-' || code == u'\u2013' || code == u'\u2014' || code == u'/' || code == u'\\';
}

std::optional<TextScript> scriptOf(char32_t scalar) {
    const auto within = [scalar](char32_t low, char32_t high) { return scalar >= low && scalar <= high; };
    if (within(0x0041, 0x024F) || within(0x1E00, 0x1EFF)) {
        return TextScript::latin;
    }
    if (within(0x0400, 0x052F)) {
        return TextScript::cyrillic;
    }
    if (within(0x0600, 0x06FF) || within(0x0750, 0x077F) || within(0x08A0, 0x08FF)) {
        return TextScript::arabic;
    }
    if (within(0x0E00, 0x0E7F)) {
        return TextScript::thai;
    }
    if (within(0x0900, 0x097F)) {
        return TextScript::devanagari;
    }
    if (within(0x3040, 0x30FF)) {
        return TextScript::kana;
    }
    if (within(0x3400, 0x4DBF) || within(0x4E00, 0x9FFF)) {
        return TextScript::han;
    }
    if (within(0xAC00, 0xD7AF)) {
        return TextScript::hangul;
    }
    return std::nullopt;
}

std::set<TextScript> allowedScripts(AppLanguage language) {
    switch (language) {
    case AppLanguage::arabic:
        return {TextScript::arabic};
    case AppLanguage::chinese:
        return {TextScript::han};
    case AppLanguage::japanese:
        return {TextScript::han, TextScript::kana};
    case AppLanguage::korean:
        return {TextScript::hangul};
    case AppLanguage::russian:
    case AppLanguage::ukrainian:
        return {TextScript::cyrillic};
    case AppLanguage::hindi:
        return {TextScript::devanagari};
    case AppLanguage::thai:
        return {TextScript::thai};
    case AppLanguage::automatic:
        return {};
    default:
        return {TextScript::latin};
    }
}

std::vector<RecognizedTextBlock> linesOf(const std::vector<RecognizedTextGroup>& groups) {
    std::vector<RecognizedTextBlock> lines;
    for (const RecognizedTextGroup& group : groups) {
        lines.insert(lines.end(), group.blocks.begin(), group.blocks.end());
    }
    return lines;
}

TranslatedScreenshot untranslated(QImage image, TranslationLanguagePair languagePair) {
    return TranslatedScreenshot{std::move(image), TranslationPreviewState{languagePair, std::nullopt}};
}

struct RecognitionOutcome {
    RecognizedTextResult result;
    std::exception_ptr error;
};

}  // namespace

QString TranslationPreviewState::displayName() const {
    const AppLanguage source = appliedTranslation ? appliedTranslation->sourceLanguage : selectedLanguagePair.source;
    const AppLanguage target = appliedTranslation ? appliedTranslation->targetLanguage : selectedLanguagePair.target;
    return tavrolin::displayName(source) + QStringLiteral(" -> ") + tavrolin::displayName(target);
}

ScreenshotTranslationService ScreenshotTranslationService::configured(
    std::shared_ptr<const TextRecognizing> recognizer, std::shared_ptr<TranslationClient> client,
    std::shared_ptr<const UserPreferredLanguagesProviding> preferred, AppLanguage secondaryLanguage) {
    ScreenshotTranslationService service;
    service.textRecognitionService = std::move(recognizer);
    service.textFilter = TranslationTextFilter{2, 5, 2};
    service.composer.narrowThresholdRatio = 0.9;
    TranslatedTextLayoutEngine& layout = service.layoutEngine;
    layout.horizontalBackgroundPadding = 6;
    layout.verticalBackgroundPadding = 4;
    layout.horizontalTextInset = 5;
    layout.verticalTextInset = 3;
    layout.minimumFontSize = 9;
    layout.maximumFontSize = 50;
    layout.horizontalObstacleMargin = 20;
    layout.maximumHorizontalGrowthFactor = 2.4;
    service.translationClient = std::move(client);
    service.preferredLanguagesProvider = std::move(preferred);
    service.secondaryLanguage = secondaryLanguage;
    return service;
}

QCoro::Task<TranslatedScreenshot> ScreenshotTranslationService::translateText(
    QImage image, TranslationLanguagePair languagePair) const {
    // The call keeps the fields of this moment, whatever happens to the service meanwhile.
    return run(*this, std::move(image), languagePair);
}

QCoro::Task<TranslatedScreenshot> ScreenshotTranslationService::run(ScreenshotTranslationService service, QImage image,
                                                                    TranslationLanguagePair languagePair) {
    if (!service.isSystemSupported || !service.isSystemSupported()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::translationRequiresMacOS26);
    }

    const AppLanguage requested = languagePair.source;
    logger().debug([&] { return QStringLiteral("OCR start: %1").arg(name(requested)); });
    // Made in its own statement: g++ 12 destroys a lambda's captures twice when the lambda is
    // a temporary of a co_await expression.
    auto recognizer = service.textRecognitionService;
    QFuture<RecognitionOutcome> future = QtConcurrent::run([recognizer, image, requested] {
        RecognitionOutcome outcome;
        try {
            if (recognizer) {
                outcome.result = recognizer->recognizeText(image, requested, false);
            }
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    RecognitionOutcome recognition = co_await future;
    if (recognition.error) {
        logger().error([&] {
            return QStringLiteral("OCR failed: %1, error=%2")
                .arg(name(requested), readableDescription(recognition.error));
        });
        std::rethrow_exception(recognition.error);
    }
    const std::vector<RecognizedTextBlock>& lines = recognition.result.blocks;
    logger().debug([&] {
        return QStringLiteral("OCR finished: %1, blocks=%2")
            .arg(name(requested))
            .arg(static_cast<qint64>(lines.size()));
    });
    if (lines.empty()) {
        co_return untranslated(std::move(image), languagePair);
    }

    std::vector<RecognizedTextGroup> kept;
    for (RecognizedTextGroup& group : service.grouper.group(lines)) {
        if (service.passesTextFilter(group.text)) {
            kept.push_back(std::move(group));
        }
    }
    if (kept.empty()) {
        co_return untranslated(std::move(image), languagePair);
    }

    std::set<AppLanguage> boosted;
    std::optional<DetectedSourceLanguage> detected;
    if (requested == AppLanguage::automatic) {
        if (service.preferredLanguagesProvider) {
            boosted = service.preferredLanguagesProvider->boostedLanguages();
        }
        detected = service.textRecognitionService->detectSourceLanguage(linesOf(kept), AppLanguage::automatic, boosted);
    }

    GroupsTranslation translation =
        co_await translateGroups(service, std::move(kept), requested, detected, boosted, languagePair.target);
    if (translation.blocks.empty()) {
        co_return untranslated(std::move(image), languagePair);
    }

    const WritingDirection direction =
        isRightToLeft(languagePair.target) ? WritingDirection::rightToLeft : WritingDirection::leftToRight;
    TranslatedImageRenderer renderer{service.layoutEngine};
    QImage rendered = renderer.renderTranslatedImage(image, translation.blocks, direction);

    const AppLanguage shownSource =
        translation.appliedTranslation ? translation.appliedTranslation->sourceLanguage : languagePair.source;
    co_return TranslatedScreenshot{std::move(rendered),
                                   TranslationPreviewState{TranslationLanguagePair{shownSource, languagePair.target},
                                                           translation.appliedTranslation}};
}

bool ScreenshotTranslationService::passesTextFilter(const QString& text) const {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return false;
    }
    if (isSeparator(trimmed.front()) || isSeparator(trimmed.back())) {
        return false;
    }
    const TranslationTextStats stats(trimmed);
    if (stats.totalLetterCount == 0) {
        return false;
    }
    if (stats.compactScriptLetterCount > 0 && stats.totalLetterCount <= 2 * stats.compactScriptLetterCount) {
        return stats.totalLetterCount >= textFilter.minimumCompactScriptLetterCount;
    }
    if (stats.tokenCount > 1) {
        return stats.totalLetterCount >= textFilter.minimumAlphabeticMultiTokenLetterCount &&
               stats.wordLikeTokenCount >= 1;
    }
    return stats.longestTokenLetterCount >= textFilter.minimumAlphabeticSingleTokenLetterCount;
}

void ScreenshotTranslationService::prepare(AppLanguage targetLanguage) const {
    if (textRecognitionService) {
        textRecognitionService->prepare(AppLanguage::automatic);
    }
    if (!translationClient) {
        return;
    }
    if (targetLanguage != AppLanguage::english) {
        translationClient->prepare(AppLanguage::english, targetLanguage);
    }
    if (secondaryLanguage != AppLanguage::english && secondaryLanguage != targetLanguage) {
        translationClient->prepare(secondaryLanguage, targetLanguage);
    }
}

AppLanguage ScreenshotTranslationService::resolveSourceLanguage(
    AppLanguage requestedSourceLanguage, const std::optional<DetectedSourceLanguage>& detectedSourceLanguage,
    AppLanguage targetLanguage) const {
    if (requestedSourceLanguage != AppLanguage::automatic) {
        return requestedSourceLanguage;
    }
    if (!detectedSourceLanguage) {
        return secondaryLanguage;
    }
    AppLanguage candidate = secondaryLanguage;
    if (detectedSourceLanguage->confidence < 0.1) {
        logger().debug([&] {
            return QStringLiteral("Low confidence source detection (%1) \u2014 falling back to second language %2")
                .arg(QString::number(detectedSourceLanguage->confidence, 'f', 6), name(secondaryLanguage));
        });
    } else if (!detectedSourceLanguage->appLanguage) {
        throw CaptureWorkflowError::translationSourceLanguageUnsupported(detectedSourceLanguage->displayName);
    } else {
        candidate = *detectedSourceLanguage->appLanguage;
    }
    if (candidate == targetLanguage && secondaryLanguage != targetLanguage) {
        logger().debug([&] {
            return QStringLiteral("Detected source matches target language %1; falling back to second language %2")
                .arg(name(targetLanguage), name(secondaryLanguage));
        });
        return secondaryLanguage;
    }
    return candidate;
}

bool ScreenshotTranslationService::sourceLanguageFits(AppLanguage language, const RecognizedTextGroup& group) {
    for (const RecognizedTextBlock& line : group.blocks) {
        if (std::find(line.detectedLanguages.begin(), line.detectedLanguages.end(), language) !=
            line.detectedLanguages.end()) {
            return true;
        }
    }
    const std::set<TextScript> found = scripts(group.text);
    if (found.empty()) {
        return false;
    }
    const std::set<TextScript> allowed = allowedScripts(language);
    return std::all_of(found.begin(), found.end(), [&allowed](TextScript script) { return allowed.count(script) > 0; });
}

std::set<TextScript> ScreenshotTranslationService::scripts(const QString& text) {
    std::set<TextScript> found;
    for (const char32_t scalar : text.toUcs4()) {
        if (!TranslationTextStats::isLetter(scalar)) {
            continue;
        }
        if (const auto script = scriptOf(scalar)) {
            found.insert(*script);
        }
    }
    return found;
}

QCoro::Task<ScreenshotTranslationService::GroupsTranslation>
ScreenshotTranslationService::translateRecognizedGroupsResult(
    std::vector<RecognizedTextGroup> groups, AppLanguage requestedSourceLanguage,
    std::optional<DetectedSourceLanguage> fallbackDetectedSourceLanguage, std::set<AppLanguage> boostedLanguages,
    AppLanguage targetLanguage) const {
    return translateGroups(*this, std::move(groups), requestedSourceLanguage, std::move(fallbackDetectedSourceLanguage),
                           std::move(boostedLanguages), targetLanguage);
}

QCoro::Task<ScreenshotTranslationService::GroupsTranslation> ScreenshotTranslationService::translateGroups(
    ScreenshotTranslationService service, std::vector<RecognizedTextGroup> groups, AppLanguage requestedSourceLanguage,
    std::optional<DetectedSourceLanguage> detected, std::set<AppLanguage> boostedLanguages,
    AppLanguage targetLanguage) {
    if (groups.empty()) {
        co_return GroupsTranslation{};
    }
    if (!detected && service.textRecognitionService) {
        detected = service.textRecognitionService->detectSourceLanguage(linesOf(groups), requestedSourceLanguage,
                                                                        boostedLanguages);
    }
    const AppLanguage source = service.resolveSourceLanguage(requestedSourceLanguage, detected, targetLanguage);
    logger().info([&] { return QStringLiteral("translation: %1 -> %2").arg(name(source), name(targetLanguage)); });
    if (source == targetLanguage) {
        co_return GroupsTranslation{};
    }

    std::vector<std::pair<int, RecognizedTextGroup>> chosen;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        if (requestedSourceLanguage != AppLanguage::automatic || sourceLanguageFits(source, groups[index])) {
            chosen.emplace_back(static_cast<int>(index), groups[index]);
        }
    }
    if (chosen.empty()) {
        co_return GroupsTranslation{};
    }

    const std::map<int, QString> translated =
        co_await translateTextByGroupIndex(service.translationClient, std::move(chosen), source, targetLanguage);
    co_return GroupsTranslation{service.composeTranslatedBlocks(groups, translated),
                                AppliedTranslation{source, targetLanguage}};
}

QCoro::Task<std::map<int, QString>> ScreenshotTranslationService::translateTextByGroupIndex(
    std::shared_ptr<TranslationClient> client, std::vector<std::pair<int, RecognizedTextGroup>> chosen,
    AppLanguage sourceLanguage, AppLanguage targetLanguage) {
    const QString source = name(sourceLanguage);
    const QString target = name(targetLanguage);
    if (!client) {
        throw CaptureWorkflowError::translationLanguagePairUnsupported(source, target);
    }

    logger().debug([&] { return QStringLiteral("availability start: %1 -> %2").arg(source, target); });
    const TranslationPairAvailability availability = co_await client->availability(sourceLanguage, targetLanguage);
    logger().debug([&] {
        return QStringLiteral("availability finished: %1 -> %2 = %3")
            .arg(source, target, availabilityName(availability));
    });
    if (availability == TranslationPairAvailability::supported) {
        throw CaptureWorkflowError::translationLanguagePairNotInstalled(source, target);
    }
    if (availability != TranslationPairAvailability::installed) {
        throw CaptureWorkflowError::translationLanguagePairUnsupported(source, target);
    }

    QStringList texts;
    for (const auto& [index, group] : chosen) {
        texts.append(group.text);
    }
    logger().debug(
        [&] { return QStringLiteral("translate start: %1 -> %2, items=%3").arg(source, target).arg(texts.size()); });
    QStringList results;
    std::exception_ptr failure;
    try {
        results = co_await client->translate(texts, sourceLanguage, targetLanguage);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        logger().error([&] {
            return QStringLiteral("translate failed: %1 -> %2, error=%3")
                .arg(source, target, readableDescription(failure));
        });
        std::rethrow_exception(failure);
    }
    logger().debug([&] {
        return QStringLiteral("translate finished: %1 -> %2, items=%3").arg(source, target).arg(results.size());
    });

    // A client that answers fewer texts than it was sent leaves the rest in their own words;
    // extra answers belong to nothing.
    std::map<int, QString> byIndex;
    for (std::size_t position = 0; position < chosen.size(); ++position) {
        const auto& [index, group] = chosen[position];
        const auto answer = static_cast<qsizetype>(position);
        byIndex[index] = answer < results.size() ? results[answer] : group.text;
    }
    co_return byIndex;
}

std::vector<TranslatedTextBlock> ScreenshotTranslationService::composeTranslatedBlocks(
    const std::vector<RecognizedTextGroup>& groups, const std::map<int, QString>& translatedTextByIndex) const {
    std::vector<TranslatedTextBlock> blocks;
    for (std::size_t index = 0; index < groups.size(); ++index) {
        const auto entry = translatedTextByIndex.find(static_cast<int>(index));
        if (entry == translatedTextByIndex.end()) {
            continue;
        }
        QString text = entry->second.trimmed();
        if (text.isEmpty()) {
            text = groups[index].text;
        }
        for (TranslatedTextBlock& block : composer.compose(groups[index], text)) {
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

}  // namespace tavrolin
