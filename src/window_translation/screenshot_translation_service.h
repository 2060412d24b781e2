#pragma once

#include "core/app_language.h"
#include "core/user_preferred_languages_providing.h"
#include "language/translation_client.h"
#include "language/translation_system_requirement.h"
#include "language/translation_text_filter.h"
#include "window_translation/recognized_text_grouper.h"
#include "window_translation/text_recognizing.h"
#include "window_translation/translated_block_composer.h"
#include "window_translation/translated_image_renderer.h"
#include "window_translation/translated_text_layout_engine.h"
#include "window_translation/translation_preview_state.h"

#include <QCoroTask>
#include <QImage>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tavrolin {

struct TranslatedScreenshot {
    // The translated image, or the image handed in when nothing was translated.
    QImage image;
    TranslationPreviewState translationState;
};

// Turns the captured image of a window into a translated image of it: recognises its lines,
// joins them into paragraphs, drops what is not worth translating, chooses the source
// language, translates every paragraph in one request and paints the translations over the
// recognised text. A value: copies are independent, and a call keeps the fields it started
// with (a later change of secondaryLanguage applies to the next call).
struct ScreenshotTranslationService {
    std::shared_ptr<const TextRecognizing> textRecognitionService;
    RecognizedTextGrouper grouper;
    TranslationTextFilter textFilter;
    TranslatedBlockComposer composer;
    TranslatedTextLayoutEngine layoutEngine;
    std::shared_ptr<TranslationClient> translationClient;
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguagesProvider;
    // The user's second language: the source when detection is unsure or finds the target.
    AppLanguage secondaryLanguage = AppLanguage::english;
    // Whether this system can translate at all.
    TranslationSystemCheck isSystemSupported = isTranslationSystemSupported;

    // The service as the application runs it: filter 2 / 5 / 2, narrow lines below 0.9 of the
    // widest, patches padded 6 / 4 with text inset 5 / 3, fonts 9 to 50, 20 pixels from text
    // beside, at most 2.4 times as wide.
    static ScreenshotTranslationService configured(std::shared_ptr<const TextRecognizing> recognizer,
                                                   std::shared_ptr<TranslationClient> client,
                                                   std::shared_ptr<const UserPreferredLanguagesProviding> preferred,
                                                   AppLanguage secondaryLanguage);

    // Start it on the GUI thread: recognition runs on the thread pool, the rest (rendering
    // included) where the call resumes. Throws CaptureWorkflowError (translationRequiresMacOS26,
    // translationSourceLanguageUnsupported, translationLanguagePairNotInstalled,
    // translationLanguagePairUnsupported, failedToRenderTranslatedImage) and passes the
    // recognizer's and the translation client's errors on unchanged.
    QCoro::Task<TranslatedScreenshot> translateText(QImage image, TranslationLanguagePair languagePair) const;
    // Returns at once; what a translation of a window into the target language will most likely
    // need starts loading meanwhile: the recognizer's languages of an automatic source, and the
    // translation of the sources a detection falls to (English, which recognition always reads,
    // and the second language). Call it on the thread that translates.
    void prepare(AppLanguage targetLanguage) const;

    // The letter scripts the source-language check knows.
    enum class TextScript { arabic, cyrillic, devanagari, han, hangul, kana, latin, thai };

    // Whether a paragraph goes to translation: some letters, no separator at either end, and
    // enough letters for its kind of text.
    bool passesTextFilter(const QString& text) const;
    // The source language the groups are translated from. Throws
    // translationSourceLanguageUnsupported for a confident detection of another language.
    AppLanguage resolveSourceLanguage(AppLanguage requestedSourceLanguage,
                                      const std::optional<DetectedSourceLanguage>& detectedSourceLanguage,
                                      AppLanguage targetLanguage) const;
    // Whether a paragraph is written in the language: one of its lines was recognised in it,
    // or all its letters are in scripts the language uses.
    static bool sourceLanguageFits(AppLanguage language, const RecognizedTextGroup& group);
    static std::set<TextScript> scripts(const QString& text);

    struct GroupsTranslation {
        std::vector<TranslatedTextBlock> blocks;
        std::optional<AppliedTranslation> appliedTranslation;
    };
    // From the paragraphs worth translating to the blocks to draw and the pair used.
    QCoro::Task<GroupsTranslation> translateRecognizedGroupsResult(
        std::vector<RecognizedTextGroup> groups, AppLanguage requestedSourceLanguage,
        std::optional<DetectedSourceLanguage> fallbackDetectedSourceLanguage, std::set<AppLanguage> boostedLanguages,
        AppLanguage targetLanguage) const;

private:
    static QCoro::Task<TranslatedScreenshot> run(ScreenshotTranslationService service, QImage image,
                                                 TranslationLanguagePair languagePair);
    static QCoro::Task<GroupsTranslation> translateGroups(ScreenshotTranslationService service,
                                                          std::vector<RecognizedTextGroup> groups,
                                                          AppLanguage requestedSourceLanguage,
                                                          std::optional<DetectedSourceLanguage> detected,
                                                          std::set<AppLanguage> boostedLanguages,
                                                          AppLanguage targetLanguage);
    static QCoro::Task<std::map<int, QString>> translateTextByGroupIndex(
        std::shared_ptr<TranslationClient> client, std::vector<std::pair<int, RecognizedTextGroup>> chosen,
        AppLanguage sourceLanguage, AppLanguage targetLanguage);
    std::vector<TranslatedTextBlock> composeTranslatedBlocks(const std::vector<RecognizedTextGroup>& groups,
                                                             const std::map<int, QString>& translatedTextByIndex) const;
};

}  // namespace tavrolin
