#include "onboarding/onboarding_visuals.h"

#include "core/linux_wording.h"

#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace tavrolin {

QColor color(OnboardingTint tint) {
    switch (tint) {
    case OnboardingTint::blue:
        return QColor(0x1f, 0x78, 0xe0);
    case OnboardingTint::green:
        return QColor(0x2e, 0x9e, 0x4f);
    case OnboardingTint::orange:
        return QColor(0xe0, 0x7a, 0x10);
    case OnboardingTint::teal:
        return QColor(0x1c, 0x9a, 0xa8);
    case OnboardingTint::pink:
        return QColor(0xd6, 0x3c, 0x78);
    case OnboardingTint::indigo:
        return QColor(0x5b, 0x5b, 0xd6);
    case OnboardingTint::purple:
        return QColor(0x9b, 0x4d, 0xca);
    }
    return QColor(0x1f, 0x78, 0xe0);
}

KeyCapMetrics metrics(KeyCapStyle style) {
    switch (style) {
    case KeyCapStyle::tiny:
        return {10, 32, 24, false};
    case KeyCapStyle::tinyLetter:
        return {10, 22, 24, true};
    case KeyCapStyle::compact:
        return {12, 42, 30, false};
    case KeyCapStyle::compactLetter:
        return {12, 24, 30, true};
    case KeyCapStyle::modifier:
        return {20, 86, 58, false};
    case KeyCapStyle::wideLetter:
        return {22, 150, 58, true};
    }
    return {12, 42, 30, false};
}

namespace onboarding_style {

QFont font(const QWidget* widget, qreal pointSize, QFont::Weight weight) {
    QFont f = widget ? widget->font() : QFont();
    // The sizes are those of a desktop where a point is one logical pixel.
    f.setPixelSize(std::max(1, qRound(pointSize)));
    f.setWeight(weight);
    return f;
}

QLabel* label(const QString& text, qreal pointSize, QFont::Weight weight, bool secondary, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    // Texts come from the server and the user too: never read as markup.
    l->setTextFormat(Qt::PlainText);
    l->setFont(font(parent, pointSize, weight));
    if (secondary) {
        l->setForegroundRole(QPalette::PlaceholderText);
    }
    return l;
}

QColor controlBackground(const QPalette& palette) {
    return palette.color(QPalette::Button);
}
QColor textBackground(const QPalette& palette) {
    return palette.color(QPalette::Base);
}
QColor windowBackground(const QPalette& palette) {
    return palette.color(QPalette::Window);
}
QColor separator(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.18);
    return c;
}

void paintRoundedBox(QWidget* widget, const QColor& fill, const QColor& outline, qreal radius) {
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(outline.isValid() ? QPen(outline, 1) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, radius, radius);
}

QWidget* shortcutTiles(int spacing, QWidget* parent) {
    auto* grid = new QWidget(parent);
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(spacing);
    layout->setVerticalSpacing(spacing);
    int index = 0;
    for (const OnboardingShortcut& shortcut : OnboardingShortcut::all()) {
        layout->addWidget(new CompactShortcutTile(shortcut, grid), index / 2, index % 2);
        ++index;
    }
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    layout->setColumnMinimumWidth(0, 10);
    layout->setColumnMinimumWidth(1, 10);
    return grid;
}

}  // namespace onboarding_style

using namespace onboarding_style;

// ---- KeyCap

KeyCap::KeyCap(QString label, KeyCapStyle style, OnboardingTint tint, QWidget* parent)
    : QWidget(parent), label_(std::move(label)), style_(style), tint_(tint) {
    setFixedSize(sizeHint());
    setAccessibleName(label_);
}

QSize KeyCap::sizeHint() const {
    const KeyCapMetrics m = metrics(style_);
    return {m.width, m.height};
}

qreal KeyCap::drawnPointSize() const {
    const KeyCapMetrics m = metrics(style_);
    const qreal available = m.width - 6;
    QFont f = onboarding_style::font(this, m.fontSize, QFont::DemiBold);
    const qreal width = QFontMetricsF(f).horizontalAdvance(label_);
    if (width <= available || width <= 0) {
        return m.fontSize;
    }
    return std::max(m.fontSize * 0.8, m.fontSize * available / width);
}

void KeyCap::paintEvent(QPaintEvent*) {
    const KeyCapMetrics m = metrics(style_);
    const QColor tint = color(tint_);
    QColor fill = windowBackground(palette());
    QColor outline = separator(palette());
    QColor text = palette().color(QPalette::WindowText);
    if (m.letter) {
        fill = tint;
        fill.setAlphaF(0.14);
        outline = tint;
        outline.setAlphaF(0.42);
        text = tint;
    }
    paintRoundedBox(this, fill, outline, 6);
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(onboarding_style::font(this, drawnPointSize(), QFont::DemiBold));
    painter.setPen(text);
    const QRect area = rect().adjusted(3, 0, -3, 0);
    const QString shown = painter.fontMetrics().elidedText(label_, Qt::ElideRight, area.width());
    painter.drawText(area, Qt::AlignCenter, shown);
}

// ---- KeyCombo

KeyCombo::KeyCombo(const QString& letter, OnboardingTint tint, bool compact, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(compact ? 3 : 4);
    const KeyCapStyle neutral = compact ? KeyCapStyle::tiny : KeyCapStyle::compact;
    const KeyCapStyle letterStyle = compact ? KeyCapStyle::tinyLetter : KeyCapStyle::compactLetter;
    // The neutral caps never carry the tint; blue is only what their style ignores.
    caps_ = {new KeyCap(QStringLiteral("Ctrl"), neutral, OnboardingTint::blue, this),
             new KeyCap(QStringLiteral("Shift"), neutral, OnboardingTint::blue, this),
             new KeyCap(letter, letterStyle, tint, this)};
    for (KeyCap* cap : caps_) {
        row->addWidget(cap, 0, Qt::AlignVCenter);
    }
    setAccessibleName(QStringLiteral("Ctrl+Shift+") + letter);
}

// ---- OnboardingShortcut and its tile

const std::vector<OnboardingShortcut>& OnboardingShortcut::all() {
    static const std::vector<OnboardingShortcut> shortcuts{
        {QStringLiteral("W"), QStringLiteral("Write Message"),
         QStringLiteral("Turn your draft into your second language"), OnboardingTint::teal},
        {QStringLiteral("E"), QStringLiteral("Edit"), QStringLiteral("Fix typos and grammar"), OnboardingTint::pink},
        {QStringLiteral("R"), QStringLiteral("Rewrite"), QStringLiteral("Draft a workplace reply"),
         OnboardingTint::indigo},
        {QStringLiteral("T"), QStringLiteral("Translate"),
         QStringLiteral("Translate visible messages to your language"), OnboardingTint::orange},
        {QStringLiteral("D"), QStringLiteral("Dictation"), QStringLiteral("Speak naturally, edit, and copy"),
         OnboardingTint::purple},
        {QStringLiteral("F"), QStringLiteral("Flip Language"),
         QStringLiteral("Switch text between native and second language"), OnboardingTint::green},
    };
    return shortcuts;
}

ElidedLabel::ElidedLabel(QString text, QWidget* parent) : QLabel(parent), full_(std::move(text)) {
    setText(full_);
    setToolTip(full_);
    setAccessibleName(full_);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {10, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, width());
    if (shown != text()) {
        setText(shown);
    }
}

CompactShortcutTile::CompactShortcutTile(const OnboardingShortcut& shortcut, QWidget* parent)
    : QFrame(parent), shortcut_(shortcut) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(10);
    row->addWidget(new KeyCombo(shortcut.letter, shortcut.tint, true, this), 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(label(shortcut.title, 13, QFont::DemiBold, false, this));
    detail_ = new ElidedLabel(shortcut.detail, this);
    detail_->setFont(onboarding_style::font(this, 11));
    detail_->setForegroundRole(QPalette::PlaceholderText);
    text->addWidget(detail_);
    row->addLayout(text, 1);
}

void CompactShortcutTile::paintEvent(QPaintEvent*) {
    paintRoundedBox(this, controlBackground(palette()), QColor());
}

// ---- MockWindow

MockWindow::MockWindow(const QString& title, QWidget* content, QWidget* parent)
    : QWidget(parent), title_(title), content_(content) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, titleBarHeight, 1, 1);
    column->setSpacing(0);
    content_->setParent(this);
    content_->setAutoFillBackground(true);
    content_->setBackgroundRole(QPalette::Base);
    column->addWidget(content_);
    setAccessibleName(title);
}

void MockWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath clip;
    clip.addRoundedRect(frame, 8, 8);
    painter.setClipPath(clip);
    painter.fillRect(rect(), textBackground(palette()));
    painter.fillRect(QRect(0, 0, width(), titleBarHeight), controlBackground(palette()));
    const std::array<QColor, 3> dots{QColor(0xff, 0x5f, 0x57), QColor(0xfe, 0xbc, 0x2e), QColor(0x28, 0xc8, 0x40)};
    qreal x = 12;
    painter.setPen(Qt::NoPen);
    for (const QColor& dot : dots) {
        painter.setBrush(dot);
        painter.drawEllipse(QRectF(x, (titleBarHeight - 9) / 2.0, 9, 9));
        x += 9 + 8;
    }
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.setFont(onboarding_style::font(this, 12, QFont::Medium));
    const QRect titleArea(12 + 43 + 8, 0, width() - 2 * (12 + 43 + 8), titleBarHeight);
    painter.drawText(titleArea, Qt::AlignCenter,
                     painter.fontMetrics().elidedText(title_, Qt::ElideRight, titleArea.width()));
    painter.setClipping(false);
    painter.setPen(QPen(separator(palette()), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(frame, 8, 8);
}

// ---- ChatBubble

namespace {
class BubbleLabel final : public QLabel {
public:
    BubbleLabel(const QString& text, bool incoming, QWidget* parent) : QLabel(text, parent), incoming_(incoming) {
        setWordWrap(true);
        setContentsMargins(12, 9, 12, 9);
        setFont(onboarding_style::font(parent, 13));
        setMaximumWidth(ChatBubble::maximumBubbleWidth);
        // As wide as its text on one line, up to the limit; longer texts wrap.
        setMinimumWidth(std::min(ChatBubble::maximumBubbleWidth, fontMetrics().horizontalAdvance(text) + 24 + 2));
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, incoming ? palette().color(QPalette::WindowText) : QColor(Qt::white));
        setPalette(p);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        paintRoundedBox(this, incoming_ ? controlBackground(palette()) : color(OnboardingTint::blue), QColor());
        QLabel::paintEvent(event);
    }

private:
    bool incoming_;
};
}  // namespace

ChatBubble::ChatBubble(const QString& text, bool incoming, QWidget* parent) : QWidget(parent), incoming_(incoming) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    label_ = new BubbleLabel(text, incoming, this);
    if (!incoming) {
        row->addStretch(1);
    }
    row->addWidget(label_);
    if (incoming) {
        row->addStretch(1);
    }
}

// ---- the two illustrations

ShortcutMapIllustration::ShortcutMapIllustration(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    column->addStretch(1);
    auto* keys = new QHBoxLayout;
    keys->setSpacing(10);
    keys->addStretch(1);
    keys->addWidget(new KeyCap(QStringLiteral("Ctrl"), KeyCapStyle::modifier, OnboardingTint::blue, this));
    keys->addWidget(label(QStringLiteral("+"), 24, QFont::Medium, true, this));
    keys->addWidget(new KeyCap(QStringLiteral("Shift"), KeyCapStyle::modifier, OnboardingTint::blue, this));
    keys->addWidget(label(QStringLiteral("+"), 24, QFont::Medium, true, this));
    keys->addWidget(new KeyCap(QStringLiteral("W E R T D F"), KeyCapStyle::wideLetter, OnboardingTint::blue, this));
    keys->addStretch(1);
    column->addLayout(keys);
    QWidget* tiles = shortcutTiles(12, this);
    tiles->setMaximumWidth(520);
    column->addWidget(tiles);
    column->addStretch(1);
}

ReadyIllustration::ReadyIllustration(std::function<void()> onOpenAccessibilitySettings,
                                     std::function<void()> onOpenScreenRecordingSettings, QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    column->addStretch(1);
    auto* body = new QWidget(this);
    body->setMaximumWidth(560);
    auto* bodyColumn = new QVBoxLayout(body);
    bodyColumn->setContentsMargins(0, 0, 0, 0);
    bodyColumn->setSpacing(18);
    bodyColumn->addWidget(shortcutTiles(10, body));

    class PermissionsBox final : public QFrame {
    public:
        using QFrame::QFrame;

    protected:
        void paintEvent(QPaintEvent*) override { paintRoundedBox(this, controlBackground(palette()), QColor()); }
    };
    auto* box = new PermissionsBox(body);
    auto* boxColumn = new QVBoxLayout(box);
    boxColumn->setContentsMargins(14, 14, 14, 14);
    boxColumn->setSpacing(12);
    boxColumn->addWidget(label(linuxWording(u"macOS permissions"), 13, QFont::DemiBold, false, box));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    auto* accessibility = new QPushButton(QIcon::fromTheme(QStringLiteral("preferences-desktop-accessibility")),
                                          QStringLiteral("Accessibility Settings"), box);
    auto* screenRecording = new QPushButton(QIcon::fromTheme(QStringLiteral("video-display")),
                                            QStringLiteral("Screen Recording Settings"), box);
    QObject::connect(accessibility, &QPushButton::clicked, box, [callback = std::move(onOpenAccessibilitySettings)] {
        if (callback) {
            callback();
        }
    });
    QObject::connect(screenRecording, &QPushButton::clicked, box,
                     [callback = std::move(onOpenScreenRecordingSettings)] {
                         if (callback) {
                             callback();
                         }
                     });
    buttons->addWidget(accessibility);
    buttons->addWidget(screenRecording);
    buttons->addStretch(1);
    boxColumn->addLayout(buttons);
    bodyColumn->addWidget(box);
    accessibility_ = accessibility;
    screenRecording_ = screenRecording;
    column->addWidget(body);
    column->addStretch(1);
}

}  // namespace tavrolin
