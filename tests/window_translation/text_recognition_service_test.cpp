#include "window_translation/text_recognition_service.h"

#include "support/fakes/fixed_preferred_languages.h"
#include "support/fakes/scripted_language_recognizer.h"
#include "support/fakes/scripted_text_recognition_engine.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class TextRecognitionServiceTest : public ::testing::Test {
protected:
    TextRecognitionService service(std::set<AppLanguage> favoured = {}) {
        return TextRecognitionService(engine, recognizer,
                                      std::make_shared<test::FixedPreferredLanguages>(std::move(favoured)));
    }
    // A 1x image; its height decides the smallest row height read (1.5 %).
    static QImage image(int width = 400, int height = 200) {
        QImage result(width, height, QImage::Format_RGB32);
        result.fill(Qt::white);
        return result;
    }

    std::shared_ptr<test::ScriptedTextRecognitionEngine> engine =
        std::make_shared<test::ScriptedTextRecognitionEngine>(QStringList{"deu", "eng", "fra", "rus"});
    std::shared_ptr<test::ScriptedLanguageRecognizer> recognizer = std::make_shared<test::ScriptedLanguageRecognizer>();
};

TEST_F(TextRecognitionServiceTest, TrimsLinesAndDropsThoseWithoutText) {
    engine->addLine(QStringLiteral("  Save changes \n"), QRectF(20, 30, 100, 14));
    engine->addLine(QStringLiteral(" \n\t "), QRectF(20, 60, 100, 14));
    engine->addLine(QString(), QRectF(20, 90, 100, 14));
    const auto result = service().recognizeText(image(), AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].text, QStringLiteral("Save changes"));
    EXPECT_FALSE(result.detectedSourceLanguage);
}

TEST_F(TextRecognitionServiceTest, TextThatWasNotUtf8IsKeptAsReadAndDetectionCopes) {
    QString broken = QString::fromUtf8("\xff\xfe caf\xc3 \xe2\x82 ok");
    broken.append(QChar(0xDC00));  // an unpaired surrogate
    engine->addLine(broken, QRectF(20, 30, 100, 14));
    const auto result = service().recognizeText(image(), AppLanguage::automatic, true);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].text, broken.trimmed());
    EXPECT_FALSE(result.detectedSourceLanguage);
}

TEST_F(TextRecognitionServiceTest, BoxesTurnBottomLeftGrowAndExpandToWholePixels) {
    // Top-left x 10.2 to 20.6, y 30.4 to 40.6 in an image 100 high: bottom-left y 59.4 to 69.6.
    engine->script({{QStringLiteral("word"), QRectF(10.2, 30.4, 10.4, 10.2), 10.2}});
    const auto result = service().recognizeText(image(400, 100), AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].boundingBox, QRectF(6, 56, 19, 17));
}

TEST_F(TextRecognitionServiceTest, BoxesAtTheImageEdgeAreClippedAndOutsideOnesDropped) {
    engine->script({{QStringLiteral("left edge"), QRectF(0, 0, 50, 12), 12},
                    {QStringLiteral("inside"), QRectF(100, 100, 50, 12), 12},
                    {QStringLiteral("right bottom"), QRectF(380, 190, 20, 10), 10},
                    {QStringLiteral("outside"), QRectF(420, 50, 30, 12), 12}});
    const auto result = service().recognizeText(image(400, 200), AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), 3u);
    // The top line touches the left and top edges: 4 narrower than a line grown on both sides.
    EXPECT_EQ(result.blocks[0].text, QStringLiteral("left edge"));
    EXPECT_EQ(result.blocks[0].boundingBox, QRectF(0, 185, 54, 15));
    EXPECT_EQ(result.blocks[1].boundingBox, QRectF(96, 85, 58, 18));
    EXPECT_EQ(result.blocks[2].boundingBox, QRectF(376, 0, 24, 13));
}

TEST_F(TextRecognitionServiceTest, RowHeightNotInkHeightDecidesWhetherTextIsTooSmall) {
    // 1.5 % of 1000 rows: 15.
    engine->script({{QStringLiteral("one more"), QRectF(10, 100, 80, 9), 15},
                    {QStringLiteral("tiny print"), QRectF(10, 200, 80, 14), 14.9},
                    {QStringLiteral("no height"), QRectF(10, 300, 80, 14), std::nan("")}});
    const auto result = service().recognizeText(image(400, 1000), AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].text, QStringLiteral("one more"));
}

TEST_F(TextRecognitionServiceTest, LinesComeInReadingOrder) {
    // Top-left y grows downwards: the 20 row is highest; 62 and 60 share a row (bottoms 2 apart).
    engine->script({{QStringLiteral("third"), QRectF(200, 62, 50, 12), 12},
                    {QStringLiteral("second"), QRectF(10, 60, 50, 12), 12},
                    {QStringLiteral("last"), QRectF(10, 120, 50, 12), 12},
                    {QStringLiteral("first"), QRectF(300, 20, 50, 12), 12}});
    const auto result = service().recognizeText(image(), AppLanguage::automatic, false);
    QStringList order;
    for (const auto& block : result.blocks) {
        order.append(block.text);
    }
    EXPECT_EQ(order, (QStringList{"first", "second", "third", "last"}));
}

TEST_F(TextRecognitionServiceTest, AFixedSourceReadsWithItsOwnDataAndNamesItForEveryLine) {
    engine->addLine(QStringLiteral("Bonjour"), QRectF(10, 10, 60, 14));
    engine->addLine(QStringLiteral("Merci"), QRectF(10, 40, 60, 14));
    const auto result = service({AppLanguage::russian}).recognizeText(image(), AppLanguage::french, true);
    ASSERT_EQ(engine->calls().size(), 1u);
    EXPECT_EQ(engine->calls()[0].languages, QStringList{"fra"});
    ASSERT_EQ(result.blocks.size(), 2u);
    for (const auto& block : result.blocks) {
        EXPECT_EQ(block.detectedLanguages, std::vector<AppLanguage>{AppLanguage::french});
    }
    EXPECT_EQ(result.detectedSourceLanguage,
              (DetectedSourceLanguage{AppLanguage::french, QStringLiteral("French"), 1.0}));
}

TEST_F(TextRecognitionServiceTest, AutomaticReadsEnglishPlusInstalledFavouredLanguagesAtMostThree) {
    EXPECT_EQ(service().recognitionLanguages(AppLanguage::automatic), QStringList{"eng"});
    // Japanese has no data here; English is listed once.
    EXPECT_EQ(service({AppLanguage::japanese, AppLanguage::russian, AppLanguage::english})
                  .recognitionLanguages(AppLanguage::automatic),
              (QStringList{"eng", "rus"}));
    EXPECT_EQ(service({AppLanguage::german, AppLanguage::french, AppLanguage::russian})
                  .recognitionLanguages(AppLanguage::automatic),
              (QStringList{"eng", "deu", "fra"}));
    engine->setInstalledLanguages({"chi_sim", "chi_tra", "eng", "heb"});
    EXPECT_EQ(service({AppLanguage::chinese, AppLanguage::hebrew}).recognitionLanguages(AppLanguage::automatic),
              (QStringList{"eng", "chi_sim", "chi_tra"}));

    engine->addLine(QStringLiteral("Hello"), QRectF(10, 10, 60, 14));
    const auto result = service({AppLanguage::chinese}).recognizeText(image(), AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_TRUE(result.blocks[0].detectedLanguages.empty());
}

TEST_F(TextRecognitionServiceTest, AFixedSourceWithoutDataNamesThePackageToInstall) {
    engine->addLine(QStringLiteral("Hello"), QRectF(10, 10, 60, 14));
    try {
        service().recognizeText(image(), AppLanguage::japanese, false);
        FAIL() << "no error";
    } catch (const TextRecognitionError& error) {
        EXPECT_STREQ(error.what(), "Text recognition for Japanese needs the package tesseract-ocr-jpn.");
    }
    try {
        service().recognitionLanguages(AppLanguage::chinese);
        FAIL() << "no error";
    } catch (const TextRecognitionError& error) {
        EXPECT_STREQ(
            error.what(),
            "Text recognition for Chinese needs the packages tesseract-ocr-chi-sim and tesseract-ocr-chi-tra.");
    }
    EXPECT_TRUE(engine->calls().empty());
}

TEST_F(TextRecognitionServiceTest, EngineFailuresPassUnchanged) {
    engine->failWith(QStringLiteral("Text recognition failed on the image."));
    try {
        service().recognizeText(image(), AppLanguage::english, true);
        FAIL() << "no error";
    } catch (const TextRecognitionError& error) {
        EXPECT_STREQ(error.what(), "Text recognition failed on the image.");
    }
}

TEST_F(TextRecognitionServiceTest, EmptyImagesHaveNoLinesAndAutomaticDetectionFindsNothing) {
    engine->addLine(QStringLiteral("Hello"), QRectF(10, 10, 60, 14));
    for (const QImage& empty : {QImage(), QImage(0, 0, QImage::Format_RGB32)}) {
        const auto automatic = service().recognizeText(empty, AppLanguage::automatic, true);
        EXPECT_TRUE(automatic.blocks.empty());
        EXPECT_FALSE(automatic.detectedSourceLanguage);
        EXPECT_EQ(service().recognizeText(empty, AppLanguage::german, true).detectedSourceLanguage->confidence, 1.0);
    }
    EXPECT_TRUE(engine->calls().empty());
}

TEST_F(TextRecognitionServiceTest, DetectionOverTheLinesWhenAsked) {
    engine->addLine(QStringLiteral("hola"), QRectF(10, 10, 60, 14));
    const auto result = service().recognizeText(image(), AppLanguage::automatic, true);
    ASSERT_TRUE(result.detectedSourceLanguage);
    EXPECT_EQ(result.detectedSourceLanguage->appLanguage, AppLanguage::spanish);
    // The service's own detection takes the caller's favoured languages.
    const auto boosted =
        service().detectSourceLanguage(result.blocks, AppLanguage::automatic, {AppLanguage::portuguese});
    EXPECT_EQ(boosted->appLanguage, AppLanguage::spanish);
}

}  // namespace
}  // namespace tavrolin
