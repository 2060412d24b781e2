#include "window_translation/screenshot_translation_service.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/fixed_advance_text_measurer.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/fakes/memory_log_sink.h"
#include "support/fakes/recording_translation_clients.h"
#include "support/fakes/scripted_language_recognizer.h"
#include "support/fakes/scripted_text_recognition_engine.h"
#include "window_translation/image_space.h"
#include "window_translation/text_recognition_service.h"

#include <QImage>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Recognition through the service over a scripted engine; detection answers as set.
class ScriptedDetection final : public TextRecognizing {
public:
    explicit ScriptedDetection(std::shared_ptr<const TextRecognizing> recognizer)
        : recognizer_(std::move(recognizer)) {}
    std::optional<DetectedSourceLanguage> detection;
    mutable int detections = 0;

    RecognizedTextResult recognizeText(const QImage& image, AppLanguage sourceLanguage,
                                       bool shouldDetectSourceLanguage) const override {
        return recognizer_->recognizeText(image, sourceLanguage, shouldDetectSourceLanguage);
    }
    std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>&,
                                                               AppLanguage requested,
                                                               const std::set<AppLanguage>&) const override {
        ++detections;
        if (requested != AppLanguage::automatic) {
            return DetectedSourceLanguage{requested, displayName(requested), 1.0};
        }
        return detection;
    }

private:
    std::shared_ptr<const TextRecognizing> recognizer_;
};

// Answers every text with the scripted answers, in order.
class ScriptedAnswers final : public TranslationClient {
public:
    QStringList answers;
    using TranslationClient::translate;
    QCoro::Task<TranslationPairAvailability> availability(AppLanguage, AppLanguage) override {
        co_return TranslationPairAvailability::installed;
    }
    QCoro::Task<QStringList> translate(QStringList, AppLanguage, AppLanguage) override { co_return answers; }
};

DetectedSourceLanguage detected(AppLanguage language, double confidence) {
    return DetectedSourceLanguage{language, displayName(language), confidence};
}

struct ScreenshotTranslationTest : ::testing::Test {
    std::shared_ptr<test::ScriptedTextRecognitionEngine> engine =
        std::make_shared<test::ScriptedTextRecognitionEngine>(QStringList{"eng", "rus"});
    std::shared_ptr<test::FixedPreferredLanguages> preferred =
        std::make_shared<test::FixedPreferredLanguages>(std::set<AppLanguage>{AppLanguage::english});
    std::shared_ptr<ScriptedDetection> recognizer =
        std::make_shared<ScriptedDetection>(std::make_shared<TextRecognitionService>(
            engine, std::make_shared<test::ScriptedLanguageRecognizer>(), preferred));
    std::shared_ptr<test::EventLog> events = std::make_shared<test::EventLog>();
    std::shared_ptr<test::RecordingDeviceTranslationClient> client =
        std::make_shared<test::RecordingDeviceTranslationClient>(events);
    std::shared_ptr<test::MemoryLogSink> log = std::make_shared<test::MemoryLogSink>();
    ScreenshotTranslationService service;
    QImage image{600, 400, QImage::Format_RGB32};

    ScreenshotTranslationTest() {
        previousSink = AppLog::setSink(log);
        image.fill(Qt::white);
        service.textRecognitionService = recognizer;
        service.textFilter = TranslationTextFilter{2, 5, 2};
        service.composer.narrowThresholdRatio = 0.9;
        service.layoutEngine.measurer = std::make_shared<test::FixedAdvanceTextMeasurer>();
        service.translationClient = client;
        service.preferredLanguagesProvider = preferred;
        service.secondaryLanguage = AppLanguage::german;
        for (const auto& [source, target] :
             std::vector<std::pair<AppLanguage, AppLanguage>>{{AppLanguage::english, AppLanguage::spanish},
                                                              {AppLanguage::german, AppLanguage::english},
                                                              {AppLanguage::russian, AppLanguage::spanish},
                                                              {AppLanguage::spanish, AppLanguage::english}}) {
            client->setAvailability(source, target, TranslationPairAvailability::installed);
        }
    }
    ~ScreenshotTranslationTest() override { AppLog::setSink(previousSink); }
    std::shared_ptr<LogSink> previousSink;

    // Lines far apart (each its own paragraph), 20 high, at the left; row 0 at the top.
    void lines(const QStringList& texts) {
        std::vector<TextRecognitionLine> scripted;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            const QRectF box(20 + 10 * i, 20 + 60 * i, 300, 20);
            scripted.push_back({texts[i], box, 20});
        }
        engine->script(scripted);
    }
    TranslatedScreenshot translate(AppLanguage source, AppLanguage target) {
        return test::await(service.translateText(image, TranslationLanguagePair{source, target}));
    }
    QStringList debugLines() const { return log->messages(LogCategory::screenshotTranslation); }
};

TEST_F(ScreenshotTranslationTest, AnImageWithoutTextComesBackUntranslatedWithoutAskingTheClient) {
    engine->script({});
    const TranslatedScreenshot result = translate(AppLanguage::automatic, AppLanguage::english);
    EXPECT_EQ(result.image.cacheKey(), image.cacheKey());
    EXPECT_EQ(result.translationState,
              (TranslationPreviewState{{AppLanguage::automatic, AppLanguage::english}, std::nullopt}));
    EXPECT_TRUE(events->events().isEmpty());

    // Only separators, digits and stray letters: nothing is worth translating either.
    lines({QStringLiteral("12:45"), QStringLiteral("— Menu"), QStringLiteral("x")});
    EXPECT_EQ(translate(AppLanguage::automatic, AppLanguage::english).image.cacheKey(), image.cacheKey());
    EXPECT_TRUE(events->events().isEmpty());
    EXPECT_EQ(recognizer->detections, 0);

    // A system that cannot translate refuses before reading anything.
    const auto readsBefore = engine->calls().size();
    service.isSystemSupported = [] { return false; };
    try {
        translate(AppLanguage::automatic, AppLanguage::english);
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::translationRequiresMacOS26);
    }
    EXPECT_EQ(engine->calls().size(), readsBefore);
}

TEST_F(ScreenshotTranslationTest, TheFilterDropsSeparatorsNumbersAndStrayLetters) {
    const auto passes = [this](const char* text) { return service.passesTextFilter(QString::fromUtf8(text)); };
    EXPECT_FALSE(passes("\u2014 Settings and more"));
    EXPECT_FALSE(passes("- Settings and more"));
    EXPECT_FALSE(passes("Settings and more /"));
    EXPECT_FALSE(passes("\u2013Settings and more"));
    EXPECT_FALSE(passes("Settings and more\\"));
    EXPECT_TRUE(passes("  Settings and more \n"));
    EXPECT_TRUE(passes("Ok"));
    EXPECT_FALSE(passes("a"));
    EXPECT_FALSE(passes("a b c d e f"));
    EXPECT_TRUE(passes("the ox"));
    EXPECT_TRUE(passes("\u6771\u4eac"));
    EXPECT_FALSE(passes("\u6771"));
    EXPECT_FALSE(passes("12:45"));
    EXPECT_FALSE(passes("$9.99"));
    EXPECT_FALSE(passes("   "));
}

TEST_F(ScreenshotTranslationTest, UnsureDetectionFallsBackToTheSecondLanguage) {
    lines({QStringLiteral("Guten Morgen zusammen"), QStringLiteral("Wie geht es dir heute")});
    recognizer->detection = detected(AppLanguage::english, 0.05);
    const TranslatedScreenshot result = translate(AppLanguage::automatic, AppLanguage::english);
    EXPECT_EQ(result.translationState.appliedTranslation,
              (AppliedTranslation{AppLanguage::german, AppLanguage::english}));
    EXPECT_TRUE(debugLines().contains(
        QStringLiteral("Low confidence source detection (0.050000) \u2014 falling back to second language German")));
    EXPECT_EQ(events->matching(QStringLiteral("translate")),
              QStringList{QStringLiteral("translate de>en [Guten Morgen zusammen|Wie geht es dir heute]")});

    // When the second language is the target itself there is nothing to translate.
    events = std::make_shared<test::EventLog>();
    client = std::make_shared<test::RecordingDeviceTranslationClient>(events);
    service.translationClient = client;
    service.secondaryLanguage = AppLanguage::english;
    const TranslatedScreenshot same = translate(AppLanguage::automatic, AppLanguage::english);
    EXPECT_EQ(same.image.cacheKey(), image.cacheKey());
    EXPECT_FALSE(same.translationState.appliedTranslation);
    EXPECT_TRUE(events->events().isEmpty());
}

TEST_F(ScreenshotTranslationTest, DetectedTargetLanguageFallsBackToTheSecondLanguage) {
    lines({QStringLiteral("Buenos dias amigos"), QStringLiteral("Hasta luego amigos")});
    recognizer->detection = detected(AppLanguage::english, 0.9);
    service.secondaryLanguage = AppLanguage::spanish;
    const TranslatedScreenshot result = translate(AppLanguage::automatic, AppLanguage::english);
    EXPECT_EQ(result.translationState.appliedTranslation,
              (AppliedTranslation{AppLanguage::spanish, AppLanguage::english}));
    EXPECT_TRUE(debugLines().contains(
        QStringLiteral("Detected source matches target language English; falling back to second language Spanish")));
    EXPECT_TRUE(debugLines().contains(QStringLiteral("translation: Spanish -> English")));

    // A confident detection of a language the application does not offer is an error.
    recognizer->detection = DetectedSourceLanguage{std::nullopt, QStringLiteral("Swahili"), 0.8};
    try {
        translate(AppLanguage::automatic, AppLanguage::english);
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::translationSourceLanguageUnsupported(QStringLiteral("Swahili")));
    }
}

TEST_F(ScreenshotTranslationTest, AutomaticSourceSendsOnlyParagraphsInThatLanguageAnExplicitOneSendsAll) {
    // Paint the Cyrillic line's area so a change there would show.
    const QRectF cyrillicBox(30, 80, 300, 20);
    image.fill(QColor(240, 240, 240));
    lines(
        {QStringLiteral("Hello world friends"), QStringLiteral("Привет мир друзья"), QStringLiteral("See you later")});
    recognizer->detection = detected(AppLanguage::english, 0.9);
    const TranslatedScreenshot automatic = translate(AppLanguage::automatic, AppLanguage::spanish);
    EXPECT_EQ(events->matching(QStringLiteral("translate")),
              QStringList{QStringLiteral("translate en>es [Hello world friends|See you later]")});
    const QImage before = image.convertToFormat(QImage::Format_RGBA8888);
    const QImage after = automatic.image.convertToFormat(QImage::Format_RGBA8888);
    EXPECT_EQ(before.copy(cyrillicBox.toRect()), after.copy(cyrillicBox.toRect()));
    EXPECT_NE(before, after);
    EXPECT_EQ(automatic.translationState.selectedLanguagePair,
              (TranslationLanguagePair{AppLanguage::english, AppLanguage::spanish}));

    const TranslatedScreenshot russian = translate(AppLanguage::russian, AppLanguage::spanish);
    EXPECT_EQ(events->matching(QStringLiteral("translate ru")),
              QStringList{QStringLiteral("translate ru>es [Hello world friends|Привет мир друзья|See you later]")});
    EXPECT_EQ(russian.translationState.appliedTranslation,
              (AppliedTranslation{AppLanguage::russian, AppLanguage::spanish}));
    // The engine read the explicit source's language.
    EXPECT_EQ(engine->calls().back().languages, QStringList{"rus"});
}

TEST_F(ScreenshotTranslationTest, PairsNotReadyFailWithBothNamesAndNoTranslation) {
    lines({QStringLiteral("Hello world friends")});
    recognizer->detection = detected(AppLanguage::english, 0.9);
    client->setAvailability(AppLanguage::english, AppLanguage::french, TranslationPairAvailability::supported);
    try {
        translate(AppLanguage::automatic, AppLanguage::french);
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::translationLanguagePairNotInstalled(QStringLiteral("English"),
                                                                                   QStringLiteral("French")));
    }
    EXPECT_TRUE(debugLines().contains(QStringLiteral("availability finished: English -> French = supported")));
    try {
        translate(AppLanguage::automatic, AppLanguage::italian);
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::translationLanguagePairUnsupported(QStringLiteral("English"),
                                                                                  QStringLiteral("Italian")));
    }
    EXPECT_TRUE(events->matching(QStringLiteral("translate")).isEmpty());

    // The client's own failure passes through unchanged, logged.
    client->failTranslationsFrom(AppLanguage::english, std::make_exception_ptr(std::runtime_error("engine stopped")));
    EXPECT_THROW(translate(AppLanguage::automatic, AppLanguage::spanish), std::runtime_error);
    EXPECT_TRUE(debugLines().contains(QStringLiteral("translate failed: English -> Spanish, error=engine stopped")));
}

TEST_F(ScreenshotTranslationTest, RecognitionFailuresPassThroughLogged) {
    engine->failWith(QStringLiteral("no language data"));
    EXPECT_THROW(translate(AppLanguage::automatic, AppLanguage::english), TextRecognitionError);
    EXPECT_TRUE(debugLines().contains(QStringLiteral("OCR failed: Auto Detect, error=no language data")));
}

TEST_F(ScreenshotTranslationTest, ShortOrBlankAnswersDrawTheParagraphsOwnText) {
    std::vector<RecognizedTextGroup> groups;
    for (const char* text : {"First paragraph here", "Second paragraph here", "Third paragraph here"}) {
        const RecognizedTextBlock line{QString::fromUtf8(text), QRectF(20, 300 - 50 * groups.size(), 300, 20), {}};
        groups.push_back(RecognizedTextGroup{line.text, line.boundingBox, {line}});
    }
    client->truncateResultsTo(1);
    const auto shortAnswer = test::await(
        service.translateRecognizedGroupsResult(groups, AppLanguage::english, std::nullopt, {}, AppLanguage::spanish));
    ASSERT_EQ(shortAnswer.blocks.size(), 3U);
    EXPECT_EQ(shortAnswer.blocks[0].translatedText, QStringLiteral("First paragraph here (en>es device)"));
    EXPECT_EQ(shortAnswer.blocks[1].translatedText, QStringLiteral("Second paragraph here"));
    EXPECT_EQ(shortAnswer.blocks[2].translatedText, QStringLiteral("Third paragraph here"));

    // Blank answers, and more answers than questions (the extra one belongs to nothing).
    auto scripted = std::make_shared<ScriptedAnswers>();
    scripted->answers = {QStringLiteral(" \n "), QStringLiteral("  Segundo  "), QString(), QStringLiteral("extra")};
    service.translationClient = scripted;
    const auto blank = test::await(
        service.translateRecognizedGroupsResult(groups, AppLanguage::english, std::nullopt, {}, AppLanguage::spanish));
    ASSERT_EQ(blank.blocks.size(), 3U);
    EXPECT_EQ(blank.blocks[0].translatedText, QStringLiteral("First paragraph here"));
    EXPECT_EQ(blank.blocks[1].translatedText, QStringLiteral("Segundo"));
    EXPECT_EQ(blank.blocks[2].translatedText, QStringLiteral("Third paragraph here"));
    EXPECT_EQ(blank.appliedTranslation, (AppliedTranslation{AppLanguage::english, AppLanguage::spanish}));
}

TEST_F(ScreenshotTranslationTest, GermanToEnglishStateShowsTheDetectedSource) {
    lines({QStringLiteral("Guten Morgen zusammen")});
    recognizer->detection = detected(AppLanguage::german, 0.9);
    const TranslatedScreenshot result = translate(AppLanguage::automatic, AppLanguage::english);
    EXPECT_EQ(result.translationState.selectedLanguagePair,
              (TranslationLanguagePair{AppLanguage::german, AppLanguage::english}));
    EXPECT_EQ(result.translationState.appliedTranslation,
              (AppliedTranslation{AppLanguage::german, AppLanguage::english}));
    EXPECT_EQ(result.translationState.displayName(), QStringLiteral("German -> English"));
    EXPECT_EQ(TranslationPreviewState({AppLanguage::automatic, AppLanguage::french}, std::nullopt).displayName(),
              QStringLiteral("Auto Detect -> French"));
}

TEST_F(ScreenshotTranslationTest, ACallKeepsTheSecondLanguageItStartedWith) {
    lines({QStringLiteral("Guten Morgen zusammen")});
    recognizer->detection = detected(AppLanguage::english, 0.01);
    // Started, suspended on recognition; the settings change the second language meanwhile.
    auto task = service.translateText(image, TranslationLanguagePair{AppLanguage::automatic, AppLanguage::english});
    service.secondaryLanguage = AppLanguage::english;
    const TranslatedScreenshot result = test::await(std::move(task));
    EXPECT_EQ(result.translationState.appliedTranslation,
              (AppliedTranslation{AppLanguage::german, AppLanguage::english}));
}

TEST_F(ScreenshotTranslationTest, BadInputDoesNotCrash) {
    // A null image has no lines.
    const TranslatedScreenshot nothing = test::await(
        service.translateText(QImage(), TranslationLanguagePair{AppLanguage::automatic, AppLanguage::english}));
    EXPECT_TRUE(nothing.image.isNull());

    // Control characters in the recognised text and in the answers.
    lines({QStringLiteral("Hello\u0001 world\u0007 friends\u001b[0m")});
    recognizer->detection = detected(AppLanguage::english, 0.9);
    auto scripted = std::make_shared<ScriptedAnswers>();
    scripted->answers = {QStringLiteral("Hola\u0000\u0008 mundo\r\n\u202e amigos\uFFFF")};
    service.translationClient = scripted;
    service.layoutEngine.measurer = nullptr;
    const TranslatedScreenshot result = translate(AppLanguage::automatic, AppLanguage::spanish);
    EXPECT_EQ(result.image.size(), image.size());
    EXPECT_TRUE(result.translationState.appliedTranslation);
}

TEST_F(ScreenshotTranslationTest, TheSourceLanguageCheckFollowsLineLanguagesThenScripts) {
    using S = ScreenshotTranslationService;
    const auto group = [](const QString& text, std::vector<AppLanguage> languages = {}) {
        const RecognizedTextBlock line{text, QRectF(0, 0, 10, 10), std::move(languages)};
        return RecognizedTextGroup{text, line.boundingBox, {line}};
    };
    EXPECT_TRUE(S::sourceLanguageFits(AppLanguage::english, group(QStringLiteral("Привет"), {AppLanguage::english})));
    EXPECT_FALSE(S::sourceLanguageFits(AppLanguage::english, group(QStringLiteral("Привет"))));
    EXPECT_TRUE(S::sourceLanguageFits(AppLanguage::ukrainian, group(QStringLiteral("Привіт"))));
    EXPECT_TRUE(S::sourceLanguageFits(AppLanguage::japanese, group(QStringLiteral("東京へようこそ"))));
    EXPECT_FALSE(S::sourceLanguageFits(AppLanguage::chinese, group(QStringLiteral("東京へようこそ"))));
    EXPECT_FALSE(S::sourceLanguageFits(AppLanguage::english, group(QStringLiteral("OK Привет"))));
    EXPECT_FALSE(S::sourceLanguageFits(AppLanguage::english, group(QStringLiteral("12:45"))));
    EXPECT_FALSE(S::sourceLanguageFits(AppLanguage::automatic, group(QStringLiteral("Hello"))));
    EXPECT_TRUE(S::sourceLanguageFits(AppLanguage::vietnamese, group(QStringLiteral("Xin chào thế giới"))));
    EXPECT_EQ(S::scripts(QStringLiteral("Hello мир 東京 한국 ไทย नमस्ते مرحبا カナ")),
              (std::set<S::TextScript>{S::TextScript::latin, S::TextScript::cyrillic, S::TextScript::han,
                                       S::TextScript::hangul, S::TextScript::thai, S::TextScript::devanagari,
                                       S::TextScript::arabic, S::TextScript::kana}));
}

}  // namespace
}  // namespace tavrolin
