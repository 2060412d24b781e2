#include "core/brand_colors.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

QPalette paletteWith(const QColor& window, const QColor& text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(BrandColorsTest, FixedColoursAreExactOpaqueSrgb) {
    const struct {
        QColor color;
        QRgb rgb;
    } cases[] = {
        {BrandColors::indigo(), 0xFF6366F1}, {BrandColors::purple(), 0xFFA855F7}, {BrandColors::pink(), 0xFFEC4899}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.color.rgba(), c.rgb);
        EXPECT_EQ(c.color.spec(), QColor::Rgb);
    }
}

TEST(BrandColorsTest, AccentFollowsThePaletteItIsDrawnWith) {
    const QPalette light = paletteWith(QColor(0xF0, 0xF0, 0xF0), Qt::black);
    const QPalette dark = paletteWith(QColor(0x2A, 0x2A, 0x2A), QColor(0xEE, 0xEE, 0xEE));
    EXPECT_EQ(BrandColors::accent(light).rgba(), 0xFF6D5DF5u);
    EXPECT_EQ(BrandColors::accent(dark).rgba(), 0xFF8B7FFAu);

    // A widget switching theme gets the other value on its next paint.
    QWidget widget;
    widget.setPalette(light);
    EXPECT_EQ(BrandColors::accent(widget.palette()), BrandColors::accentLight());
    widget.setPalette(dark);
    EXPECT_EQ(BrandColors::accent(widget.palette()), BrandColors::accentDark());
}

TEST(BrandGradientTest, RunsFromIndigoTopLeftToPinkBottomRightOnAnyShape) {
    const QLinearGradient& gradient = BrandGradient::primary();
    EXPECT_EQ(&gradient, &BrandGradient::primary());
    ASSERT_EQ(gradient.stops().size(), 3);
    EXPECT_DOUBLE_EQ(gradient.stops()[1].first, 0.5);

    // Fill a wide rectangle and look at the corners: the gradient must scale with the shape.
    QImage image(200, 50, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.fillRect(image.rect(), gradient);
    }
    const auto near = [](QRgb actual, const QColor& expected) {
        return std::abs(qRed(actual) - expected.red()) <= 6 && std::abs(qGreen(actual) - expected.green()) <= 6 &&
               std::abs(qBlue(actual) - expected.blue()) <= 6;
    };
    EXPECT_TRUE(near(image.pixel(0, 0), BrandColors::indigo()));
    EXPECT_TRUE(near(image.pixel(199, 49), BrandColors::pink()));
    EXPECT_TRUE(near(image.pixel(100, 25), BrandColors::purple()));
}

}  // namespace
}  // namespace tavrolin
