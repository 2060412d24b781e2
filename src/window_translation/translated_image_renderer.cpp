#include "window_translation/translated_image_renderer.h"

#include "core/app_log.h"
#include "core/capture_workflow_error.h"
#include "window_translation/image_space.h"
#include "window_translation/qt_translated_text_measurer.h"
#include "window_translation/rect_geometry.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <set>

namespace tavrolin {

namespace {

constexpr double uniformSpread = 0.15;
constexpr double darkLuminance = 0.55;
constexpr double maximumCornerRadius = 6;

double srgbToLinear(double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double value) {
    value = std::clamp(value, 0.0, 1.0);
    return value <= 0.0031308 ? value * 12.92 : 1.055 * std::pow(value, 1.0 / 2.4) - 0.055;
}

const std::array<double, 256>& linearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> values{};
        for (int level = 0; level < 256; ++level) {
            values[static_cast<std::size_t>(level)] = srgbToLinear(level / 255.0);
        }
        return values;
    }();
    return table;
}

// The whole pixels of a bottom-left rectangle as QImage columns and rows, clipped to the image.
std::optional<QRect> pixelRect(const QRectF& rect, const QImage& image) {
    const auto clipped = geometry::intersection(geometry::integral(rect), QRectF(0, 0, image.width(), image.height()));
    if (!clipped || clipped->width() < 1 || clipped->height() < 1) {
        return std::nullopt;
    }
    return image_space::toTopLeft(clipped->toRect(), image.height());
}

// Writing systems a missing font is reported for, with the package that covers them.
struct ScriptFont {
    QChar::Script script;
    const char* name;
    const char* package;
};

constexpr std::array<ScriptFont, 12> scriptFonts{{
    {QChar::Script_Latin, "Latin", "fonts-noto-core"},
    {QChar::Script_Cyrillic, "Cyrillic", "fonts-noto-core"},
    {QChar::Script_Greek, "Greek", "fonts-noto-core"},
    {QChar::Script_Arabic, "Arabic", "fonts-noto-core"},
    {QChar::Script_Hebrew, "Hebrew", "fonts-noto-core"},
    {QChar::Script_Devanagari, "Devanagari", "fonts-noto-core"},
    {QChar::Script_Thai, "Thai", "fonts-noto-core"},
    {QChar::Script_Han, "Chinese", "fonts-noto-cjk"},
    {QChar::Script_Hiragana, "Japanese", "fonts-noto-cjk"},
    {QChar::Script_Katakana, "Japanese", "fonts-noto-cjk"},
    {QChar::Script_Hangul, "Korean", "fonts-noto-cjk"},
    {QChar::Script_Bopomofo, "Chinese", "fonts-noto-cjk"},
}};

bool hasMissingGlyph(const QTextLayout& layout) {
    const QList<QGlyphRun> runs = layout.glyphRuns();
    for (const QGlyphRun& run : runs) {
        const QList<quint32> indexes = run.glyphIndexes();
        if (std::find(indexes.begin(), indexes.end(), 0U) != indexes.end()) {
            return true;
        }
    }
    return false;
}

// Once per process and writing system: a script without an installed font draws as empty
// boxes; the log names the package that would draw it.
void reportMissingFonts(const QString& text, double fontSize) {
    static std::mutex mutex;
    static std::set<int> checked;
    std::vector<const ScriptFont*> scripts;
    {
        std::lock_guard lock(mutex);
        for (qsizetype index = 0; index < text.size(); ++index) {
            const char32_t scalar = text.at(index).isHighSurrogate() && index + 1 < text.size()
                                        ? QChar::surrogateToUcs4(text.at(index), text.at(index + 1))
                                        : text.at(index).unicode();
            const QChar::Script script = QChar::script(scalar);
            for (const ScriptFont& entry : scriptFonts) {
                if (entry.script == script && checked.insert(script).second) {
                    scripts.push_back(&entry);
                }
            }
        }
    }
    for (const ScriptFont* entry : scripts) {
        QString sample;
        for (qsizetype index = 0; index < text.size() && sample.size() < 64; ++index) {
            if (text.at(index).isSurrogate()) {
                continue;
            }
            if (QChar::script(text.at(index).unicode()) == entry->script) {
                sample.append(text.at(index));
            }
        }
        if (sample.isEmpty()) {
            continue;
        }
        QTextLayout layout(sample, translated_text::font(fontSize), translated_text::pixelDevice());
        translated_text::typeset(layout, 1e6, WritingDirection::leftToRight);
        if (hasMissingGlyph(layout)) {
            const QString name = QString::fromLatin1(entry->name);
            const QString package = QString::fromLatin1(entry->package);
            AppLog::screenshotTranslation().error([&] {
                return QStringLiteral("No installed font draws %1 text; install the package %2").arg(name, package);
            });
        }
    }
}

// Sets the text into the rectangle (top-left pixels): the lines that fit, the last of them cut
// short with an ellipsis when more text follows. Draws them when given a painter; answers the
// lines' texts as drawn.
QStringList drawText(QPainter* painter, const TranslatedTextBlockLayout& layout, const QRectF& textRect,
                     QPaintDevice* device) {
    const QString text = translated_text::displayText(layout.translatedText);
    const QFont font = translated_text::font(layout.fontSize);
    QTextLayout textLayout(text, font, device);
    translated_text::typeset(textLayout, textRect.width(), layout.writingDirection);
    const int lineCount = textLayout.lineCount();
    QStringList drawn;
    if (lineCount == 0) {
        return drawn;
    }
    int visible = 1;
    while (visible < lineCount) {
        const QTextLine line = textLayout.lineAt(visible);
        if (line.y() + line.height() * translated_text::lineHeightFactor > textRect.height() + 0.5) {
            break;
        }
        ++visible;
    }
    const QPointF origin = textRect.topLeft();
    const int whole = visible == lineCount ? visible : visible - 1;
    for (int index = 0; index < whole; ++index) {
        const QTextLine line = textLayout.lineAt(index);
        if (painter) {
            line.draw(painter, origin);
        }
        drawn.append(text.mid(line.textStart(), line.textLength()));
    }
    if (whole == lineCount) {
        return drawn;
    }
    const QTextLine last = textLayout.lineAt(whole);
    QString rest = text.mid(last.textStart());
    rest.replace(QChar::LineSeparator, QLatin1Char(' '));
    const QFontMetricsF metrics(font, device);
    // The ellipsis must show even where the rest (broken only at line breaks) fits one line.
    QString elided = metrics.elidedText(rest, Qt::ElideRight, textRect.width());
    if (elided == rest) {
        elided = metrics.elidedText(rest + QChar(0x2026), Qt::ElideRight, textRect.width());
    }
    QTextLayout lastLayout(elided, font, device);
    translated_text::typeset(lastLayout, textRect.width(), layout.writingDirection);
    if (lastLayout.lineCount() > 0 && painter) {
        lastLayout.lineAt(0).draw(painter, origin + QPointF(0, last.y()));
    }
    drawn.append(elided);
    return drawn;
}

}  // namespace

bool TranslatedImageRenderer::isBackgroundUniform(const QRectF& rect, const QImage& source) {
    const auto pixels = pixelRect(rect, source);
    if (!pixels) {
        return true;
    }
    std::array<int, 3> low{255, 255, 255};
    std::array<int, 3> high{0, 0, 0};
    for (int row = pixels->top(); row <= pixels->bottom(); ++row) {
        const uchar* line = source.constScanLine(row);
        for (int column = pixels->left(); column <= pixels->right(); ++column) {
            const uchar* pixel = line + 4 * column;
            for (std::size_t channel = 0; channel < 3; ++channel) {
                low[channel] = std::min<int>(low[channel], pixel[channel]);
                high[channel] = std::max<int>(high[channel], pixel[channel]);
            }
        }
    }
    int spread = 0;
    for (std::size_t channel = 0; channel < 3; ++channel) {
        spread = std::max(spread, high[channel] - low[channel]);
    }
    return spread / 255.0 <= uniformSpread;
}

std::optional<QColor> TranslatedImageRenderer::averageColor(const QRectF& rect, const QImage& source) {
    // Pixels whose centres lie inside the rectangle (bottom-left columns and rows).
    const int firstColumn = std::max(0, static_cast<int>(std::ceil(rect.x() - 0.5)));
    const int endColumn = std::min(source.width(), static_cast<int>(std::ceil(rect.x() + rect.width() - 0.5)));
    const int firstRow = std::max(0, static_cast<int>(std::ceil(rect.y() - 0.5)));
    const int endRow = std::min(source.height(), static_cast<int>(std::ceil(rect.y() + rect.height() - 0.5)));
    if (!(rect.width() > 0) || !(rect.height() > 0) || firstColumn >= endColumn || firstRow >= endRow) {
        return std::nullopt;
    }
    const auto& toLinear = linearTable();
    std::array<double, 3> sum{0, 0, 0};
    for (int row = firstRow; row < endRow; ++row) {
        const uchar* line = source.constScanLine(image_space::imageRow(row, source.height()));
        for (int column = firstColumn; column < endColumn; ++column) {
            const uchar* pixel = line + 4 * column;
            for (std::size_t channel = 0; channel < 3; ++channel) {
                sum[channel] += toLinear[pixel[channel]];
            }
        }
    }
    const double count = static_cast<double>(endColumn - firstColumn) * static_cast<double>(endRow - firstRow);
    std::array<int, 3> levels{};
    for (std::size_t channel = 0; channel < 3; ++channel) {
        levels[channel] = static_cast<int>(std::lround(linearToSrgb(sum[channel] / count) * 255.0));
    }
    return QColor(levels[0], levels[1], levels[2]);
}

bool TranslatedImageRenderer::isDark(const QColor& color) {
    if (!color.isValid()) {
        return false;
    }
    const QColor rgb = color.toRgb();
    const double luminance = 0.2126 * rgb.redF() + 0.7152 * rgb.greenF() + 0.0722 * rgb.blueF();
    return luminance < darkLuminance;
}

QStringList TranslatedImageRenderer::drawnLines(const TranslatedTextBlockLayout& layout) {
    return drawText(nullptr, layout, QRectF(QPointF(0, 0), layout.textRect.size()), translated_text::pixelDevice());
}

double TranslatedImageRenderer::cornerRadius(double backgroundHeight) {
    return std::min(0.2 * backgroundHeight, maximumCornerRadius);
}

void TranslatedImageRenderer::draw(const TranslatedTextBlockLayout& layout, QPainter& painter, const QImage& source) {
    const QColor fill = averageColor(layout.backgroundRect, source).value_or(QColor(Qt::white));
    const QColor textColor = isDark(fill) ? QColor(Qt::white) : QColor(Qt::black);
    const double imageHeight = source.height();
    const QRectF background = image_space::toTopLeft(layout.backgroundRect, imageHeight);
    const QRectF textRect = image_space::toTopLeft(layout.textRect, imageHeight);
    const double radius = cornerRadius(layout.backgroundRect.height());

    QPainterPath patch;
    patch.addRoundedRect(background, radius, radius, Qt::AbsoluteSize);
    painter.fillPath(patch, fill);

    painter.save();
    painter.setClipPath(patch);
    painter.setPen(textColor);
    drawText(&painter, layout, textRect, painter.device());
    painter.restore();
    reportMissingFonts(layout.translatedText, layout.fontSize);
}

QImage TranslatedImageRenderer::renderTranslatedImage(const QImage& source,
                                                      const std::vector<TranslatedTextBlock>& blocks,
                                                      WritingDirection writingDirection) const {
    if (source.isNull() || source.width() < 1 || source.height() < 1) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::failedToRenderTranslatedImage);
    }
    // The untouched pixels every colour is sampled from, and the bitmap painted into.
    const QImage sample = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    QImage output = sample.copy();
    if (sample.isNull() || output.isNull()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::failedToRenderTranslatedImage);
    }
    // One point, one pixel: the fonts' fractional sizes are pixel sizes; painting is in the
    // image's own pixels whatever its pixel ratio.
    output.setDevicePixelRatio(1);
    output.setDotsPerMeterX(2835);
    output.setDotsPerMeterY(2835);

    const QRectF canvas(0, 0, source.width(), source.height());
    const auto layouts = layoutEngine.layout(
        blocks, canvas, writingDirection, [&sample](const QRectF& rect) { return isBackgroundUniform(rect, sample); });
    {
        QPainter painter;
        if (!painter.begin(&output)) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::failedToRenderTranslatedImage);
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        for (const TranslatedTextBlockLayout& layout : layouts) {
            draw(layout, painter, sample);
        }
        painter.end();
    }
    output.setDotsPerMeterX(source.dotsPerMeterX());
    output.setDotsPerMeterY(source.dotsPerMeterY());
    output.setDevicePixelRatio(source.devicePixelRatio());
    return output;
}

}  // namespace tavrolin
