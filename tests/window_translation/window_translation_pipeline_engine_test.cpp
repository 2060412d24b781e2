#include "language/system_translation_client.h"
#include "platform/desktop_backend.h"
#include "platform/language_recognizer.h"
#include "platform/text_recognition_engine.h"
#include "support/async.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/painted_screen.h"
#include "window_translation/image_space.h"
#include "window_translation/qt_translated_text_measurer.h"
#include "window_translation/screenshot_translation_service.h"
#include "window_translation/text_recognition_service.h"

#include <QGlyphRun>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

const QColor darkPanel(0x20, 0x21, 0x24);

// English lines on a light panel (left) and on a dark one (right), on rows of their own (the
// recognizer reads text on one row as one line, whatever lies between).
test::PaintedScreen paintPanels() {
    test::ScreenPainter painter(QSize(900, 420), QColor(0xF4, 0xF5, 0xF7));
    painter.fill(QRect(460, 0, 440, 420), darkPanel);
    painter.text(QPoint(30, 60), QStringLiteral("Welcome to your new account"), 16);
    painter.text(QPoint(30, 160), QStringLiteral("Your files are saved every hour"), 16);
    painter.text(QPoint(30, 260), QStringLiteral("Open the settings to change it"), 16);
    const QColor lightInk(0xE8, 0xEA, 0xED);
    painter.text(QPoint(490, 110), QStringLiteral("Good morning and welcome back"), 16, lightInk);
    painter.text(QPoint(490, 210), QStringLiteral("The meeting starts in ten minutes"), 16, lightInk);
    painter.text(QPoint(490, 310), QStringLiteral("Please close the door quietly"), 16, lightInk);
    return painter.finish();
}

TEST(WindowTranslationPipeline, TranslatesEnglishPanelsToSpanishInsideTheirPatchesOnly) {
    auto preferred = std::make_shared<test::FixedPreferredLanguages>(std::set<AppLanguage>{AppLanguage::english});
    auto recognizer = std::make_shared<TextRecognitionService>(
        makeSystemTextRecognitionEngine(), std::shared_ptr<const LanguageRecognizer>(makeSystemLanguageRecognizer()),
        preferred);
    auto client =
        std::make_shared<SystemTranslationClient>(makeSystemTranslationEngine(), makeSystemLanguageRecognizer());
    const ScreenshotTranslationService service =
        ScreenshotTranslationService::configured(recognizer, client, preferred, AppLanguage::german);
    const test::PaintedScreen screen = paintPanels();

    const TranslatedScreenshot result = test::await(
        service.translateText(screen.image, TranslationLanguagePair{AppLanguage::automatic, AppLanguage::spanish}));
    EXPECT_EQ(result.translationState.displayName(), QStringLiteral("English -> Spanish"));
    ASSERT_EQ(result.image.size(), screen.image.size());

    // Where the patches are: the same steps, public ones, on the same image.
    const RecognizedTextResult recognized = recognizer->recognizeText(screen.image, AppLanguage::automatic, false);
    std::vector<RecognizedTextGroup> kept;
    for (const RecognizedTextGroup& group : service.grouper.group(recognized.blocks)) {
        if (service.passesTextFilter(group.text)) {
            kept.push_back(group);
        }
    }
    // Six painted lines; the recognizer may read a line as more than one piece.
    ASSERT_GE(kept.size(), 6U);
    const auto translated = test::await(service.translateRecognizedGroupsResult(
        kept, AppLanguage::automatic, std::nullopt, preferred->boostedLanguages(), AppLanguage::spanish));
    const QImage source = screen.image.convertToFormat(QImage::Format_RGBA8888);
    const auto layouts = service.layoutEngine.layout(
        translated.blocks, QRectF(0, 0, source.width(), source.height()), WritingDirection::leftToRight,
        [&source](const QRectF& rect) { return TranslatedImageRenderer::isBackgroundUniform(rect, source); });
    ASSERT_EQ(layouts.size(), translated.blocks.size());

    const QImage output = result.image.convertToFormat(QImage::Format_RGBA8888);
    std::vector<QRect> patches;
    for (const auto& layout : layouts) {
        patches.push_back(image_space::toTopLeft(layout.backgroundRect, source.height()).toRect());
    }
    int changedOutside = 0;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const bool inPatch = std::any_of(patches.begin(), patches.end(),
                                             [x, y](const QRect& patch) { return patch.contains(x, y); });
            if (!inPatch && source.pixel(x, y) != output.pixel(x, y)) {
                ++changedOutside;
            }
        }
    }
    EXPECT_EQ(changedOutside, 0);

    int onDark = 0;
    for (const QRect& patch : patches) {
        const bool onDarkPanel = patch.left() >= 460;
        onDark += onDarkPanel ? 1 : 0;
        int lightest = 0;
        int darkest = 255;
        for (int y = patch.top() + 3; y <= patch.bottom() - 3; ++y) {
            for (int x = patch.left() + 3; x <= patch.right() - 3; ++x) {
                lightest = std::max(lightest, qGray(output.pixel(x, y)));
                darkest = std::min(darkest, qGray(output.pixel(x, y)));
            }
        }
        if (onDarkPanel) {
            EXPECT_GT(lightest, 200) << "light text on the dark panel";
            // The fill is the panel's mean with its old text, lifted in linear light, still dark.
            EXPECT_LT(darkest, 110) << "the patch keeps a dark colour";
        } else {
            EXPECT_LT(darkest, 60) << "dark text on the light panel";
            EXPECT_GT(lightest, 200);
        }
    }
    EXPECT_GE(onDark, 3);
    EXPECT_GE(static_cast<int>(patches.size()) - onDark, 3);
}

TEST(WindowTranslationPipeline, InstalledFontsDrawEveryTargetScript) {
    const std::vector<std::pair<const char*, QString>> samples{
        {"Latin", QStringLiteral("Configuración guardada")},
        {"Cyrillic", QStringLiteral("Настройки сохранены")},
        {"Greek", QStringLiteral("Οι ρυθμίσεις αποθηκεύτηκαν")},
        {"Arabic", QStringLiteral("تم حفظ الإعدادات")},
        {"Hebrew", QStringLiteral("ההגדרות נשמרו")},
        {"Devanagari", QStringLiteral("सेटिंग्स सहेजी गईं")},
        {"Thai", QStringLiteral("บันทึกการตั้งค่าแล้ว")},
        {"Chinese", QStringLiteral("设置已保存")},
        {"Japanese", QStringLiteral("設定を保存しました")},
        {"Korean", QStringLiteral("설정이 저장되었습니다")},
    };
    for (const auto& [script, text] : samples) {
        QTextLayout layout(text, translated_text::font(16), translated_text::pixelDevice());
        translated_text::typeset(layout, 400, WritingDirection::leftToRight);
        const QList<QGlyphRun> runs = layout.glyphRuns();
        ASSERT_FALSE(runs.isEmpty()) << script;
        for (const QGlyphRun& run : runs) {
            const QList<quint32> glyphs = run.glyphIndexes();
            EXPECT_EQ(std::count(glyphs.begin(), glyphs.end(), 0U), 0)
                << script << " has characters no installed font draws (" << run.rawFont().familyName().toStdString()
                << ")";
        }
    }
}

}  // namespace
}  // namespace tavrolin
