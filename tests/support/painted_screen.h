#pragma once

// Screens of known text painted with QPainter, for the text recognition tests, benchmarks and
// test programs. Needs only Qt (and a QGuiApplication for the fonts).
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <vector>

namespace tavrolin::test {

struct PaintedTextLine {
    QString text;
    // The ink of the painted text, image pixels from the top-left.
    QRect box;
};

struct PaintedScreen {
    QImage image;
    // In the order they were painted.
    std::vector<PaintedTextLine> lines;
};

inline QFont paintedTextFont(int pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// Paints text lines onto an image, remembering each line's ink box.
class ScreenPainter {
public:
    explicit ScreenPainter(QSize size, QColor background = QColor(0xFF, 0xFF, 0xFF))
        : image_(size, QImage::Format_RGB32) {
        image_.fill(background);
        painter_.begin(&image_);
        painter_.setRenderHint(QPainter::TextAntialiasing);
    }

    void fill(const QRect& rect, QColor colour) { painter_.fillRect(rect, colour); }

    void frame(const QRect& rect, QColor border, QColor inside) {
        painter_.setPen(border);
        painter_.setBrush(inside);
        painter_.drawRect(rect.adjusted(0, 0, -1, -1));
    }

    // The text's baseline starts at `origin`.
    void text(QPoint origin, const QString& text, int pixelSize = 14, QColor ink = QColor(0x20, 0x21, 0x24)) {
        const QFont font = paintedTextFont(pixelSize);
        painter_.setFont(font);
        painter_.setPen(ink);
        painter_.drawText(origin, text);
        const QRect ink_box = QFontMetrics(font).tightBoundingRect(text).translated(origin);
        screen_.lines.push_back({text, ink_box});
    }

    // A bordered button with its label centred vertically.
    void button(const QRect& rect, const QString& label, int pixelSize = 14) {
        frame(rect, QColor(0x9A, 0xA0, 0xA6), QColor(0xF1, 0xF3, 0xF4));
        const QFontMetrics metrics(paintedTextFont(pixelSize));
        const int baseline = rect.center().y() + (metrics.ascent() - metrics.descent()) / 2;
        text(QPoint(rect.x() + 12, baseline), label, pixelSize);
    }

    PaintedScreen finish() {
        painter_.end();
        screen_.image = image_;
        return screen_;
    }

private:
    QImage image_;
    QPainter painter_;
    PaintedScreen screen_;
};

// A 1280x800 application window of 40 lines of English interface text (1 to 6 words each): a
// sidebar, a heading, labels beside fields, buttons and a short paragraph.
inline PaintedScreen paintUiScreen(int pixelSize = 14) {
    ScreenPainter screen(QSize(1280, 800));
    screen.fill(QRect(0, 0, 1280, 44), QColor(0xE8, 0xEA, 0xED));
    screen.text(QPoint(16, 28), QStringLiteral("Project settings"), pixelSize);
    screen.text(QPoint(1100, 28), QStringLiteral("Signed in"), pixelSize);

    screen.fill(QRect(0, 44, 240, 756), QColor(0xF4, 0xF5, 0xF7));
    screen.fill(QRect(240, 44, 1, 756), QColor(0xDA, 0xDC, 0xE0));
    const QStringList sidebar = {"Overview",      "Recent files", "Shared with me", "Starred",      "Downloads",
                                 "Team projects", "Calendar",     "Reports",        "Billing",      "Security keys",
                                 "Notifications", "Privacy",      "Help center",    "Send feedback"};
    for (int i = 0; i < sidebar.size(); ++i) {
        screen.text(QPoint(24, 84 + i * 40), sidebar[i], pixelSize);
    }

    screen.text(QPoint(280, 92), QStringLiteral("General preferences"), pixelSize + 6);
    const QStringList labels = {"Display name",     "Email address", "Time zone",
                                "Default language", "Backup folder", "Start page"};
    const QStringList values = {"Morgan Ellis", "morgan@example.org", "Central European Time",
                                "English",      "Documents backup",   "Recent files"};
    for (int i = 0; i < labels.size(); ++i) {
        const int top = 124 + i * 44;
        screen.text(QPoint(280, top + 21), labels[i], pixelSize);
        screen.frame(QRect(480, top, 360, 30), QColor(0xDA, 0xDC, 0xE0), QColor(0xFF, 0xFF, 0xFF));
        screen.text(QPoint(492, top + 21), values[i], pixelSize);
    }

    screen.button(QRect(280, 400, 150, 34), QStringLiteral("Save changes"), pixelSize);
    screen.button(QRect(446, 400, 100, 34), QStringLiteral("Cancel"), pixelSize);
    screen.button(QRect(562, 400, 190, 34), QStringLiteral("Reset to defaults"), pixelSize);

    const QStringList paragraph = {"Changes apply to every device", "where you are signed in with",
                                   "this account. Some settings",   "take effect after a restart,",
                                   "and shared projects keep",      "the owner's time zone."};
    for (int i = 0; i < paragraph.size(); ++i) {
        screen.text(QPoint(280, 480 + i * 22), paragraph[i], pixelSize);
    }

    screen.fill(QRect(241, 760, 1039, 40), QColor(0xE8, 0xEA, 0xED));
    screen.text(QPoint(260, 786), QStringLiteral("All changes saved"), pixelSize);
    screen.text(QPoint(1080, 786), QStringLiteral("Version 4.2"), pixelSize);
    return screen.finish();
}

}  // namespace tavrolin::test
