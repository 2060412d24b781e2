#include "window_translation/qt_translated_text_measurer.h"

#include <QGuiApplication>
#include <QImage>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace translated_text {

QString displayText(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    result.replace(QLatin1Char('\n'), QChar::LineSeparator);
    result.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return result;
}

QFont font(double fontSize) {
    QFont result(QGuiApplication::font().family());
    result.setPointSizeF(fontSize);
    result.setWeight(QFont::Medium);
    return result;
}

QPaintDevice* pixelDevice() {
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_RGBA8888_Premultiplied);
        // 72 dots per inch: 2835 dots per metre, which Qt reads back as 72.
        image.setDotsPerMeterX(2835);
        image.setDotsPerMeterY(2835);
        return image;
    }();
    return &device;
}

QSizeF typeset(QTextLayout& layout, double widthLimit, WritingDirection writingDirection) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (writingDirection == WritingDirection::rightToLeft) {
        option.setTextDirection(Qt::RightToLeft);
        option.setAlignment(Qt::AlignRight | Qt::AlignAbsolute);
    } else {
        option.setTextDirection(Qt::LeftToRight);
        option.setAlignment(Qt::AlignLeft | Qt::AlignAbsolute);
    }
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    double width = 0;
    double y = 0;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLeadingIncluded(true);
        line.setLineWidth(widthLimit);
        line.setPosition(QPointF(0, y));
        width = std::max(width, line.naturalTextWidth());
        y += line.height() * lineHeightFactor;
    }
    layout.endLayout();
    return QSizeF(width, y);
}

}  // namespace translated_text

QSizeF QtTranslatedTextMeasurer::measure(const QString& text, double fontSize, double widthLimit) const {
    QTextLayout layout(translated_text::displayText(text), translated_text::font(fontSize),
                       translated_text::pixelDevice());
    const QSizeF size = translated_text::typeset(layout, widthLimit, WritingDirection::leftToRight);
    // Whole pixels, rounded outward (a hair of floating-point noise does not add a pixel).
    return QSizeF(std::ceil(size.width() - 1e-6), std::ceil(size.height() - 1e-6));
}

}  // namespace tavrolin
