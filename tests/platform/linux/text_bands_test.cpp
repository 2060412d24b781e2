#include "platform/linux/modules/text_bands.h"

#include "support/painted_screen.h"

#include <gtest/gtest.h>
#include <random>

namespace tavrolin {
namespace {

// The bands cover every row, in order, each a piece further down than the one before.
void expectCover(const std::vector<TextBand>& bands, int height) {
    ASSERT_FALSE(bands.empty());
    EXPECT_EQ(bands.front().top, 0);
    EXPECT_EQ(bands.back().bottom, height);
    for (std::size_t i = 1; i < bands.size(); ++i) {
        EXPECT_GT(bands[i].top, bands[i - 1].top);
        EXPECT_LE(bands[i].top, bands[i - 1].bottom);
        EXPECT_GT(bands[i].bottom, bands[i - 1].bottom);
    }
}

void expectNoLineCut(const std::vector<TextBand>& bands, const test::PaintedScreen& screen) {
    for (const auto& line : screen.lines) {
        bool inside = false;
        for (const TextBand& band : bands) {
            inside = inside || (line.box.top() >= band.top && line.box.bottom() < band.bottom);
        }
        EXPECT_TRUE(inside) << line.text.toStdString() << " at rows " << line.box.top() << "-" << line.box.bottom();
    }
}

QImage grey(const QImage& image) {
    return image.convertToFormat(QImage::Format_Grayscale8);
}

TEST(TextBands, CutsAScreenBetweenLinesDespiteItsSidebarBorder) {
    const auto screen = test::paintUiScreen(14);
    const auto bands = textBands(grey(screen.image), 8);
    expectCover(bands, 800);
    expectNoLineCut(bands, screen);
    EXPECT_GE(bands.size(), 6u);
    int withText = 0;
    for (const TextBand& band : bands) {
        if (band.fontHeight == 0) {
            continue;  // a band of empty rows
        }
        ++withText;
        EXPECT_GE(band.fontHeight, 13) << band.top << "-" << band.bottom;
        EXPECT_LT(band.fontHeight, 20) << band.top << "-" << band.bottom;
    }
    EXPECT_GE(withText, 6);
}

TEST(TextBands, SmallTextIsEstimatedSmall) {
    for (int pixelSize : {9, 10, 11, 12}) {
        const auto screen = test::paintUiScreen(pixelSize);
        const auto bands = textBands(grey(screen.image), 8);
        expectCover(bands, 800);
        expectNoLineCut(bands, screen);
        for (const TextBand& band : bands) {
            EXPECT_LT(band.fontHeight, 13) << pixelSize << " px, rows " << band.top << "-" << band.bottom;
        }
    }
    for (int pixelSize : {14, 16}) {
        for (const TextBand& band : textBands(grey(test::paintUiScreen(pixelSize).image), 8)) {
            if (band.fontHeight > 0) {  // bands of empty rows have no estimate
                EXPECT_GE(band.fontHeight, 13) << pixelSize << " px, rows " << band.top << "-" << band.bottom;
            }
        }
    }
}

TEST(TextBands, TightLinesWithoutClearRowsStayOneBand) {
    // Lines 16 px apart at 16 px: descenders meet the next line's capitals.
    test::ScreenPainter painter(QSize(600, 200));
    for (int i = 0; i < 12; ++i) {
        painter.text(QPoint(10, 14 + i * 16), QStringLiteral("Quickly jumping gray fox, hopping by"), 16);
    }
    const auto screen = painter.finish();
    const auto bands = textBands(grey(screen.image), 8);
    expectCover(bands, 200);
    expectNoLineCut(bands, screen);
}

TEST(TextBands, NoiseHasNoCleanRowsAndDegenerateImagesStillCover) {
    QImage noise(320, 240, QImage::Format_Grayscale8);
    std::mt19937 random(7);
    for (int y = 0; y < noise.height(); ++y) {
        uchar* row = noise.scanLine(y);
        for (int x = 0; x < noise.width(); ++x) {
            row[x] = uchar(random() & 0xFF);
        }
    }
    const auto noisy = textBands(noise, 8);
    ASSERT_EQ(noisy.size(), 1u);
    expectCover(noisy, 240);

    EXPECT_TRUE(textBands(QImage(), 8).empty());
    QImage dot(1, 1, QImage::Format_Grayscale8);
    dot.fill(0);
    expectCover(textBands(dot, 8), 1);
    QImage column(1, 20000, QImage::Format_Grayscale8);
    column.fill(255);
    const auto tall = textBands(column, 8);
    expectCover(tall, 20000);
    EXPECT_EQ(tall.size(), 8u);
    expectCover(textBands(QImage(40, 30, QImage::Format_RGB32), 0), 30);
    // No band is planned lower than 32 rows.
    QImage low(200, 100, QImage::Format_Grayscale8);
    low.fill(255);
    EXPECT_EQ(textBands(low, 16).size(), 3u);
}

}  // namespace
}  // namespace tavrolin
