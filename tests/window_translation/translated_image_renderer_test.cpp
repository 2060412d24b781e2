#include "window_translation/translated_image_renderer.h"

#include "core/capture_workflow_error.h"
#include "support/thread_cpu_time.h"
#include "window_translation/image_space.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Left half one colour, right half another.
QImage halves(QColor left, QColor right, QSize size = QSize(100, 50)) {
    QImage image(size, QImage::Format_RGBA8888);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width() / 2, size.height()), left);
    painter.fillRect(QRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height()), right);
    return image;
}

QImage solid(QColor color, QSize size = QSize(400, 200)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Pixels of `after` that differ from `before` outside `allowed` (top-left pixels).
int changedOutside(const QImage& before, const QImage& after, const QRect& allowed) {
    const QImage a = before.convertToFormat(QImage::Format_RGBA8888);
    const QImage b = after.convertToFormat(QImage::Format_RGBA8888);
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!allowed.contains(x, y) && a.pixel(x, y) != b.pixel(x, y)) {
                ++changed;
            }
        }
    }
    return changed;
}

// The lightest and darkest grey level inside a top-left rectangle.
std::pair<int, int> lightRange(const QImage& image, const QRect& area) {
    int low = 255;
    int high = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const int level = qGray(image.pixel(x, y));
            low = std::min(low, level);
            high = std::max(high, level);
        }
    }
    return {low, high};
}

TEST(TranslatedImageRenderer, UniformUpTo38LevelsAndOutsideTheImage) {
    const QImage spread38 = halves(QColor(100, 50, 50), QColor(138, 50, 50));
    const QImage spread39 = halves(QColor(100, 50, 50), QColor(100, 50, 89));
    EXPECT_TRUE(TranslatedImageRenderer::isBackgroundUniform(QRectF(40, 10, 20, 10), spread38));
    EXPECT_FALSE(TranslatedImageRenderer::isBackgroundUniform(QRectF(40, 10, 20, 10), spread39));
    EXPECT_TRUE(TranslatedImageRenderer::isBackgroundUniform(QRectF(0, 0, 40, 50), spread39));
    // Fractional edges round outward: 49.5..49.7 is column 49 alone, 49.5..50.1 reaches column 50.
    EXPECT_TRUE(TranslatedImageRenderer::isBackgroundUniform(QRectF(49.5, 0, 0.2, 5), spread39));
    EXPECT_FALSE(TranslatedImageRenderer::isBackgroundUniform(QRectF(49.5, 0, 0.6, 5), spread39));
    // A strip wholly outside the image is no reason to stop widening.
    EXPECT_TRUE(TranslatedImageRenderer::isBackgroundUniform(QRectF(200, 0, 50, 10), spread39));
}

TEST(TranslatedImageRenderer, AverageIsTakenInLinearLightAndDarknessOnSrgb) {
    const QImage blackWhite = halves(Qt::black, Qt::white);
    // Half black, half white is 0.5 in linear light: sRGB level 188, not 128.
    EXPECT_EQ(TranslatedImageRenderer::averageColor(QRectF(0, 0, 100, 50), blackWhite), QColor(188, 188, 188));
    EXPECT_EQ(TranslatedImageRenderer::averageColor(QRectF(0, 0, 40, 50), blackWhite), QColor(0, 0, 0));
    EXPECT_FALSE(TranslatedImageRenderer::averageColor(QRectF(300, 0, 10, 10), blackWhite));

    EXPECT_TRUE(TranslatedImageRenderer::isDark(QColor(140, 140, 140)));
    EXPECT_FALSE(TranslatedImageRenderer::isDark(QColor(141, 141, 141)));
    EXPECT_TRUE(TranslatedImageRenderer::isDark(QColor(0, 0, 255)));
    EXPECT_FALSE(TranslatedImageRenderer::isDark(QColor(0, 255, 0)));

    EXPECT_DOUBLE_EQ(TranslatedImageRenderer::cornerRadius(20), 4);
    EXPECT_DOUBLE_EQ(TranslatedImageRenderer::cornerRadius(30), 6);
    EXPECT_DOUBLE_EQ(TranslatedImageRenderer::cornerRadius(90), 6);
}

TEST(TranslatedImageRenderer, PatchesTakeTheLocalColourWithReadableTextAndTouchNothingElse) {
    const TranslatedImageRenderer renderer;
    for (const QColor background : {QColor(30, 30, 60), QColor(235, 235, 225)}) {
        const QImage source = solid(background);
        // Box near the top-left of the image: bottom-left y 150..170.
        const std::vector<TranslatedTextBlock> blocks{{QStringLiteral("Hola mundo"), QRectF(20, 150, 150, 20), 14}};
        const QImage rendered = renderer.renderTranslatedImage(source, blocks, WritingDirection::leftToRight);
        ASSERT_EQ(rendered.size(), source.size());
        EXPECT_EQ(rendered.format(), QImage::Format_RGBA8888_Premultiplied);

        const auto layouts = renderer.layoutEngine.layout(
            blocks, QRectF(0, 0, 400, 200), WritingDirection::leftToRight, [&](const QRectF& r) {
                return TranslatedImageRenderer::isBackgroundUniform(r, source.convertToFormat(QImage::Format_RGBA8888));
            });
        ASSERT_EQ(layouts.size(), 1U);
        const QRect patch = image_space::toTopLeft(layouts[0].backgroundRect, 200).toRect();
        EXPECT_EQ(changedOutside(source, rendered, patch), 0);
        const auto [low, high] = lightRange(rendered, patch.adjusted(3, 3, -3, -3));
        if (TranslatedImageRenderer::isDark(background)) {
            EXPECT_GT(high, 200) << "white text on a dark patch";
        } else {
            EXPECT_LT(low, 60) << "black text on a light patch";
        }
    }
}

TEST(TranslatedImageRenderer, WithoutBlocksTheResultIsACopyAndANullSourceFails) {
    const TranslatedImageRenderer renderer;
    const QImage source = halves(Qt::red, Qt::blue);
    const QImage copy = renderer.renderTranslatedImage(source, {}, WritingDirection::leftToRight);
    EXPECT_EQ(changedOutside(source, copy, QRect()), 0);

    try {
        renderer.renderTranslatedImage(QImage(), {}, WritingDirection::leftToRight);
        FAIL() << "a null image renders nothing";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::failedToRenderTranslatedImage);
    }
}

TEST(TranslatedImageRenderer, RightToLeftTextHugsTheRightEdge) {
    const TranslatedImageRenderer renderer;
    const QImage source = solid(Qt::white);
    for (const auto direction : {WritingDirection::leftToRight, WritingDirection::rightToLeft}) {
        const std::vector<TranslatedTextBlock> blocks{{QStringLiteral("abc"), QRectF(40, 100, 300, 30), 14}};
        const QImage rendered = renderer.renderTranslatedImage(source, blocks, direction);
        int leftmost = 400;
        int rightmost = 0;
        for (int y = 60; y < 110; ++y) {
            for (int x = 0; x < 400; ++x) {
                if (qGray(rendered.pixel(x, y)) < 128) {
                    leftmost = std::min(leftmost, x);
                    rightmost = std::max(rightmost, x);
                }
            }
        }
        ASSERT_LT(leftmost, rightmost) << "text was drawn";
        if (direction == WritingDirection::rightToLeft) {
            EXPECT_GT(leftmost, 200);
        } else {
            EXPECT_LT(rightmost, 200);
        }
    }
}

TEST(TranslatedImageRenderer, AHugeAnswerIsClippedElidedAndQuick) {
    const TranslatedImageRenderer renderer;
    const QImage source = solid(QColor(250, 250, 250), QSize(1280, 800));
    QString huge;
    while (huge.size() < 100000) {
        huge += QStringLiteral("palabra muy larga ");
    }
    const std::vector<TranslatedTextBlock> blocks{{huge, QRectF(100, 600, 300, 18), 18},
                                                  {QStringLiteral("Otra línea"), QRectF(100, 560, 300, 18), 18}};
    const auto started = test::threadCpuTime();
    const QImage rendered = renderer.renderTranslatedImage(source, blocks, WritingDirection::leftToRight);
    // Thirty milliseconds in an optimised build; this build carries sanitizers.
    EXPECT_LT((test::threadCpuTime() - started).count(), 600);

    const auto layouts = renderer.layoutEngine.layout(blocks, QRectF(0, 0, 1280, 800), WritingDirection::leftToRight);
    ASSERT_EQ(layouts.size(), 2U);
    EXPECT_TRUE(layouts[0].clipsText);
    EXPECT_EQ(layouts[0].fontSize, 9);
    const QStringList lines = TranslatedImageRenderer::drawnLines(layouts[0]);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.last().toStdString();
    // Nothing outside the two patches changed.
    QImage masked = rendered.convertToFormat(QImage::Format_RGBA8888);
    for (const auto& layout : layouts) {
        QPainter(&masked).fillRect(image_space::toTopLeft(layout.backgroundRect, 800), QColor(250, 250, 250));
    }
    EXPECT_EQ(changedOutside(source, masked, QRect()), 0);

    // A text that fits is drawn whole, without an ellipsis.
    TranslatedTextBlockLayout fits = layouts[1];
    EXPECT_EQ(TranslatedImageRenderer::drawnLines(fits), QStringList{QStringLiteral("Otra línea")});
}

}  // namespace
}  // namespace tavrolin
