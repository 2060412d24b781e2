#include "selection_popup/selection_translation_panel.h"

#include "core/brand_colors.h"
#include "platform/clock.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrolin {

namespace {

constexpr double cornerRadius = 14;
constexpr int padding = 16;
constexpr int stripHeight = 2;

QFont pixelFont(int pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QPainterPath cardPath(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, cornerRadius, cornerRadius);
    return path;
}

// Selected text is shown as it is: markup in it is never interpreted.
QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, int width) {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setFont(font);
    label->setFixedWidth(width);
    label->setFocusPolicy(Qt::NoFocus);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

}  // namespace

double SelectionTranslationPopupSizing::measuredWidth(const QString& text, const QFont& font) {
    if (text.isEmpty()) {
        return 0;
    }
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const QString& line : text.split(u'\n')) {
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    return widest;
}

QFont SelectionTranslationPopupSizing::translatedFont() {
    return pixelFont(15, QFont::Medium);
}
QFont SelectionTranslationPopupSizing::originalFont() {
    return pixelFont(12, QFont::Normal);
}
QFont SelectionTranslationPopupSizing::languagePairFont() {
    return pixelFont(11, QFont::DemiBold);
}
QFont SelectionTranslationPopupSizing::languagePairMeasuringFont() {
    return pixelFont(11, QFont::Medium);
}

SelectionTranslationPopupView::SelectionTranslationPopupView(const SelectionTranslationPopupContent& content,
                                                             QWidget* parent)
    : QWidget(parent), content_(content) {
    const bool dark = BrandColors::isDark(palette());
    const QColor primary = dark ? QColor(0xF2, 0xF2, 0xF5) : QColor(0x1D, 0x1D, 0x1F);
    const QColor tertiary = dark ? QColor(0x8E, 0x8E, 0x93) : QColor(0x8A, 0x8A, 0x8E);
    const int width = std::max(static_cast<int>(content.width), 2 * padding + 1);
    const int textWidth = width - 2 * padding;

    stack_ = new QWidget;
    stack_->setAttribute(Qt::WA_TranslucentBackground);
    auto* layout = new QVBoxLayout(stack_);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(0);
    if (!content.languagePair.isEmpty()) {
        layout->addWidget(textLabel(content.languagePair, SelectionTranslationPopupSizing::languagePairFont(),
                                    BrandColors::accent(palette()), textWidth));
        layout->addSpacing(6);
    }
    layout->addWidget(
        textLabel(content.translatedText, SelectionTranslationPopupSizing::translatedFont(), primary, textWidth));
    if (!content.originalText.isEmpty()) {
        layout->addSpacing(8);
        auto* divider = new QFrame;
        divider->setObjectName(QStringLiteral("divider"));
        divider->setFrameShape(QFrame::HLine);
        divider->setFixedHeight(1);
        divider->setStyleSheet(QStringLiteral("background: %1; border: none;").arg(tertiary.name()));
        layout->addWidget(divider);
        layout->addSpacing(8);
        layout->addWidget(
            textLabel(content.originalText, SelectionTranslationPopupSizing::originalFont(), tertiary, textWidth));
    }
    layout->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    if (content.scrollsVertically && content.maxHeight) {
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        scroll->setFocusPolicy(Qt::NoFocus);
        scroll->setWidgetResizable(true);
        scroll->viewport()->setAutoFillBackground(false);
        scroll->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
        scroll->setWidget(stack_);
        scroll->setFixedHeight(static_cast<int>(*content.maxHeight));
        outer->addWidget(scroll);
    } else {
        outer->addWidget(stack_);
    }
    setFixedWidth(width);
}

int SelectionTranslationPopupView::fittingHeight() const {
    if (content_.scrollsVertically && content_.maxHeight) {
        return static_cast<int>(*content_.maxHeight);
    }
    QLayout* layout = stack_->layout();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width()) : layout->totalSizeHint().height();
}

void SelectionTranslationPopupView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect());
    const bool dark = BrandColors::isDark(palette());
    painter.fillPath(cardPath(card), dark ? QColor(0x2C, 0x2C, 0x2E) : QColor(0xF7, 0xF7, 0xF9));
    // The brand strip along the top edge, following the card's top corners.
    painter.save();
    painter.setClipPath(cardPath(card));
    painter.fillRect(QRectF(0, 0, card.width(), stripHeight), BrandGradient::primary());
    painter.restore();
}

SelectionTranslationPanel::SelectionTranslationPanel(std::shared_ptr<Clock> clock, bool interactive,
                                                     const OverlayWindowMarking& markAsOverlayWindow)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           (interactive ? Qt::WindowFlags() : Qt::WindowTransparentForInput)),
      clock_(std::move(clock)),
      interactive_(interactive) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(interactive ? Qt::StrongFocus : Qt::NoFocus);
    appearDate = clock_->now();
    // The hints must be on the native window before it is mapped.
    create();
    if (markAsOverlayWindow) {
        markAsOverlayWindow(winId());
    }
}

SelectionTranslationPanel::~SelectionTranslationPanel() = default;

void SelectionTranslationPanel::setContentView(std::unique_ptr<SelectionTranslationPopupView> view,
                                               const QRectF& frame) {
    delete view_;
    view_ = view.release();
    setGeometry(frame.toAlignedRect());
    view_->setParent(this);
    view_->setGeometry(rect());
    view_->show();
    // No compositor draws transparency here: the corners are cut out of the window itself.
    setMask(QRegion(cardPath(QRectF(rect())).toFillPolygon().toPolygon()));
}

void SelectionTranslationPanel::orderFront() {
    show();
    raise();
    if (interactive_) {
        setFocus(Qt::OtherFocusReason);
    }
}

void SelectionTranslationPanel::orderOut() {
    hide();
}

void SelectionTranslationPanel::dismissalCheck() {
    const double elapsed = static_cast<double>(appearDate.msecsTo(clock_->now())) / 1000.0;
    if (elapsed >= minimumDisplayDuration && onDismiss) {
        onDismiss();
    }
}

void SelectionTranslationPanel::keyPressEvent(QKeyEvent* event) {
    // Modifier keys arrive as key presses too, so a modifier change dismisses as well.
    event->accept();
    dismissalCheck();
}

void SelectionTranslationPanel::mousePressEvent(QMouseEvent* event) {
    event->accept();
    dismissalCheck();
}

}  // namespace tavrolin
