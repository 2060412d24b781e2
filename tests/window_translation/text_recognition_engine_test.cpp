#include "platform/desktop_backend.h"
#include "platform/linux/modules/tesseract_text_recognition_engine.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/painted_screen.h"
#include "window_translation/image_space.h"
#include "window_translation/recognized_text_grouper.h"
#include "window_translation/text_recognition_service.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace tavrolin {
namespace {

const std::set<AppLanguage> favoured = {AppLanguage::english, AppLanguage::russian, AppLanguage::french};

// An English paragraph, then a Russian and a French line, in DejaVu Sans at 14 px.
test::PaintedScreen paintMixedPage() {
    test::ScreenPainter painter(QSize(720, 300));
    painter.text(QPoint(30, 40), QStringLiteral("The quick brown fox jumps over"));
    painter.text(QPoint(30, 62), QStringLiteral("the lazy dog while the farmer"));
    painter.text(QPoint(30, 84), QStringLiteral("watches from the old wooden fence."));
    painter.text(QPoint(30, 150), QStringLiteral("Съешь же ещё этих мягких французских булок"));
    painter.text(QPoint(30, 220), QStringLiteral("Nous avons rendez-vous avec vous dans une heure"));
    return painter.finish();
}

class TextRecognitionEngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { engine = std::make_shared<TesseractTextRecognitionEngine>(); }
    static void TearDownTestSuite() { engine.reset(); }

    static TextRecognitionService service(std::shared_ptr<const TextRecognitionEngine> with = engine) {
        return TextRecognitionService(std::move(with), makeSystemLanguageRecognizer(),
                                      std::make_shared<test::FixedPreferredLanguages>(favoured));
    }

    static std::shared_ptr<TesseractTextRecognitionEngine> engine;
};

std::shared_ptr<TesseractTextRecognitionEngine> TextRecognitionEngineTest::engine;

TEST_F(TextRecognitionEngineTest, ReadsEveryPaintedLineExactlyInReadingOrderWhereItWasPainted) {
    const auto page = paintMixedPage();
    ASSERT_EQ(service().recognitionLanguages(AppLanguage::automatic), (QStringList{"eng", "fra", "rus"}));
    const auto result = service().recognizeText(page.image, AppLanguage::automatic, false);
    ASSERT_EQ(result.blocks.size(), page.lines.size());
    for (std::size_t i = 0; i < page.lines.size(); ++i) {
        const auto& painted = page.lines[i];
        const auto& read = result.blocks[i];
        EXPECT_EQ(read.text, painted.text);
        EXPECT_TRUE(read.detectedLanguages.empty());
        // The painted ink in bottom-left pixels, grown like every recognised box.
        const QRectF expected =
            image_space::fromTopLeft(QRectF(painted.box), page.image.height()).adjusted(-4, -3, 4, 3);
        const QRectF& box = read.boundingBox;
        EXPECT_NEAR(box.left(), expected.left(), 4) << painted.text.toStdString();
        EXPECT_NEAR(box.right(), expected.right(), 4) << painted.text.toStdString();
        EXPECT_NEAR(box.top(), expected.top(), 4) << painted.text.toStdString();
        EXPECT_NEAR(box.bottom(), expected.bottom(), 4) << painted.text.toStdString();
    }
}

TEST_F(TextRecognitionEngineTest, AnApplicationWindowReadsLineByLineAndColumnByColumn) {
    // Labels beside their fields, a sidebar beside the page: texts on one row that stand apart
    // come back as lines of their own.
    const auto screen = test::paintUiScreen(14);
    const auto lines = engine->recognizeLines(screen.image, {"eng"});
    QStringList read;
    for (const auto& line : lines) {
        read.append(line.text.trimmed());
    }
    // "Recent files" is painted twice: each painted line needs a line of its text at its place.
    for (const auto& painted : screen.lines) {
        const auto found = std::find_if(lines.begin(), lines.end(), [&](const TextRecognitionLine& line) {
            const QRectF& box = line.boundingBox;
            return line.text.trimmed() == painted.text && std::abs(box.top() - painted.box.top()) <= 3 &&
                   std::abs(box.bottom() - (painted.box.bottom() + 1)) <= 3 &&
                   std::abs(box.left() - painted.box.left()) <= 3 &&
                   std::abs(box.right() - (painted.box.right() + 1)) <= 3;
        });
        EXPECT_NE(found, lines.end()) << painted.text.toStdString() << " at " << painted.box.top() << " in "
                                      << read.join(u'|').toStdString();
    }
    EXPECT_EQ(lines.size(), screen.lines.size()) << read.join(u'|').toStdString();
}

TEST_F(TextRecognitionEngineTest, DetectionPicksTheLanguageOfEachParagraph) {
    const auto page = paintMixedPage();
    const auto result = service().recognizeText(page.image, AppLanguage::automatic, false);
    const auto groups = RecognizedTextGrouper().group(result.blocks);
    ASSERT_EQ(groups.size(), 3u);
    const AppLanguage expected[] = {AppLanguage::english, AppLanguage::russian, AppLanguage::french};
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const auto detected = service().detectSourceLanguage(groups[i].blocks, AppLanguage::automatic, favoured);
        ASSERT_TRUE(detected) << groups[i].text.toStdString();
        EXPECT_EQ(detected->appLanguage, expected[i]) << groups[i].text.toStdString();
        EXPECT_GE(detected->confidence, 0.5) << groups[i].text.toStdString();
    }
}

TEST_F(TextRecognitionEngineTest, AFixedFrenchSourceNamesFrenchForEveryLine) {
    const auto page = paintMixedPage();
    const auto result = service().recognizeText(page.image, AppLanguage::french, true);
    ASSERT_FALSE(result.blocks.empty());
    for (const auto& block : result.blocks) {
        EXPECT_EQ(block.detectedLanguages, std::vector<AppLanguage>{AppLanguage::french});
    }
    EXPECT_EQ(result.blocks.back().text, QStringLiteral("Nous avons rendez-vous avec vous dans une heure"));
    EXPECT_EQ(result.detectedSourceLanguage->appLanguage, AppLanguage::french);
}

TEST_F(TextRecognitionEngineTest, ASourceWithoutLanguageDataNamesItsPackage) {
    // A data folder holding English only, so the test holds wherever more data is installed.
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    ASSERT_TRUE(QFile::link(engine->dataPath() + QStringLiteral("/eng.traineddata"),
                            data.filePath(QStringLiteral("eng.traineddata"))));
    auto englishOnly = std::make_shared<TesseractTextRecognitionEngine>(TesseractEngineOptions{data.path(), 2});
    EXPECT_EQ(englishOnly->installedLanguages(), QStringList{"eng"});
    try {
        service(englishOnly).recognizeText(paintMixedPage().image, AppLanguage::japanese, false);
        FAIL() << "no error";
    } catch (const TextRecognitionError& error) {
        EXPECT_STREQ(error.what(), "Text recognition for Japanese needs the package tesseract-ocr-jpn.");
    }
    // The engine itself refuses codes it has no data for, and anything that is not a code.
    EXPECT_THROW(englishOnly->recognizeLines(paintMixedPage().image, {"rus"}), TextRecognitionError);
    EXPECT_THROW(englishOnly->recognizeLines(paintMixedPage().image, {"eng+rus"}), TextRecognitionError);
    EXPECT_THROW(englishOnly->recognizeLines(paintMixedPage().image, {}), TextRecognitionError);
}

TEST_F(TextRecognitionEngineTest, SmallTextOnAOneTimesImageIsReadFromALargerCopy) {
    test::ScreenPainter painter(QSize(600, 120));
    painter.text(QPoint(20, 40), QStringLiteral("Small print under the button"), 11);
    painter.text(QPoint(20, 80), QStringLiteral("Remember this device for thirty days"), 11);
    const auto page = painter.finish();
    const auto lines = engine->recognizeLines(page.image, {"eng"});
    QStringList texts;
    for (const auto& line : lines) {
        texts.append(line.text.trimmed());
    }
    texts.sort();
    EXPECT_EQ(texts, (QStringList{"Remember this device for thirty days", "Small print under the button"}));
    for (const auto& line : lines) {
        // Boxes in the image's own pixels, from the 2x copy: within the painted rows.
        EXPECT_GT(line.boundingBox.top(), 20);
        EXPECT_LT(line.boundingBox.bottom(), 90);
        EXPECT_GT(line.rowHeight, 8);
        EXPECT_LT(line.rowHeight, 18);
    }
}

TEST_F(TextRecognitionEngineTest, AScaledCaptureIsReadInItsOwnPixels) {
    test::ScreenPainter painter(QSize(800, 160));
    painter.text(QPoint(40, 80), QStringLiteral("Sharp text on a large display"), 28);
    auto page = painter.finish();
    page.image.setDevicePixelRatio(2);
    const auto result = service().recognizeText(page.image, AppLanguage::english, false);
    ASSERT_EQ(result.blocks.size(), 1u);
    EXPECT_EQ(result.blocks[0].text, QStringLiteral("Sharp text on a large display"));
    const QRectF expected = image_space::fromTopLeft(QRectF(page.lines[0].box), 160).adjusted(-4, -3, 4, 3);
    EXPECT_NEAR(result.blocks[0].boundingBox.left(), expected.left(), 4);
    EXPECT_NEAR(result.blocks[0].boundingBox.top(), expected.top(), 4);
}

// Light text on a dark panel beside a light one, cut into as many bands as eight threads plan:
// a band cut tight around a line on the dark side lost words.
TEST_F(TextRecognitionEngineTest, LightTextOnADarkPanelReadsWholeInFineBands) {
    test::ScreenPainter painter(QSize(900, 420), QColor(0xF4, 0xF5, 0xF7));
    painter.fill(QRect(460, 0, 440, 420), QColor(0x20, 0x21, 0x24));
    const QColor lightInk(0xE8, 0xEA, 0xED);
    painter.text(QPoint(30, 60), QStringLiteral("Welcome to your new account"), 16);
    painter.text(QPoint(490, 110), QStringLiteral("Good morning and welcome back"), 16, lightInk);
    painter.text(QPoint(30, 160), QStringLiteral("Your files are saved every hour"), 16);
    painter.text(QPoint(490, 210), QStringLiteral("The meeting starts in ten minutes"), 16, lightInk);
    painter.text(QPoint(490, 310), QStringLiteral("Please close the door quietly"), 16, lightInk);
    const auto page = painter.finish();
    auto eightThreads = std::make_shared<TesseractTextRecognitionEngine>(TesseractEngineOptions{{}, 8});
    const auto result = service(eightThreads).recognizeText(page.image, AppLanguage::english, false);
    QStringList texts;
    for (const auto& block : result.blocks) {
        texts.append(block.text);
    }
    for (const auto& line : page.lines) {
        EXPECT_TRUE(texts.contains(line.text))
            << line.text.toStdString() << " not in: " << texts.join(" | ").toStdString();
    }
}

// Readers asking from threads of their own, two at a time so that bands wait in the queue:
// every band is read on the engine's pool, whose threads load the language data once each.
TEST_F(TextRecognitionEngineTest, BandsAreReadOnlyOnTheEnginesOwnThreads) {
    const auto page = paintMixedPage();
    auto twoThreads = std::make_shared<TesseractTextRecognitionEngine>(TesseractEngineOptions{{}, 2});
    const QStringList languages{QStringLiteral("eng"), QStringLiteral("fra"), QStringLiteral("rus")};
    for (int round = 0; round < 3; ++round) {
        std::size_t found[2] = {};
        std::thread first([&] { found[0] = twoThreads->recognizeLines(page.image, languages).size(); });
        std::thread second([&] { found[1] = twoThreads->recognizeLines(page.image, languages).size(); });
        first.join();
        second.join();
        EXPECT_EQ(found[0], page.lines.size());
        EXPECT_EQ(found[1], page.lines.size());
    }
    EXPECT_GE(twoThreads->enginesLoaded(), 1);
    EXPECT_LE(twoThreads->enginesLoaded(), 2) << "an engine was loaded off the pool";

    // The window translation and the window text reader are handed the same engine.
    EXPECT_EQ(makeSystemTextRecognitionEngine(), makeSystemTextRecognitionEngine());
}

// A command loads its languages while it captures: every pool thread gets its engine and the
// read that follows loads none; a language that is not installed loads
// nothing and is left to the read to name.
TEST_F(TextRecognitionEngineTest, PreparingLoadsEachPoolThreadsEngineForTheReadThatFollows) {
    auto twoThreads = std::make_shared<TesseractTextRecognitionEngine>(TesseractEngineOptions{{}, 2});
    twoThreads->prepare({QStringLiteral("eng"), QStringLiteral("xyz")});
    twoThreads->prepare({});
    const QStringList languages{QStringLiteral("eng"), QStringLiteral("fra"), QStringLiteral("rus")};
    twoThreads->prepare(languages);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (twoThreads->enginesLoaded() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(twoThreads->enginesLoaded(), 2);
    const auto page = paintMixedPage();
    EXPECT_EQ(twoThreads->recognizeLines(page.image, languages).size(), page.lines.size());
    EXPECT_EQ(twoThreads->enginesLoaded(), 2) << "the read loaded engines of its own";
}

TEST_F(TextRecognitionEngineTest, BadImagesGiveNoLinesOrAClearError) {
    const auto recognize = [](const QImage& image) {
        return service().recognizeText(image, AppLanguage::automatic, true);
    };
    EXPECT_TRUE(recognize(QImage()).blocks.empty());
    EXPECT_TRUE(recognize(QImage(0, 0, QImage::Format_RGB32)).blocks.empty());
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(Qt::black);
    EXPECT_TRUE(recognize(dot).blocks.empty());
    QImage column(1, 20000, QImage::Format_RGB32);
    column.fill(Qt::white);
    EXPECT_TRUE(recognize(column).blocks.empty());

    QImage noise(640, 480, QImage::Format_RGB32);
    std::mt19937 random(11);
    for (int y = 0; y < noise.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) {
            row[x] = random();
        }
    }
    for (const auto& block : recognize(noise).blocks) {
        EXPECT_FALSE(block.text.isEmpty());
        EXPECT_TRUE(QRectF(0, 0, 640, 480).contains(block.boundingBox));
    }

    QImage huge(8000, 5001, QImage::Format_Mono);
    try {
        recognize(huge);
        FAIL() << "no error";
    } catch (const TextRecognitionError& error) {
        EXPECT_STREQ(error.what(), "The image of 8000 x 5001 pixels is too large for text recognition.");
    }
}

}  // namespace
}  // namespace tavrolin
