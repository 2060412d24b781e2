#include "window_translation/screenshot_overlay_view.h"

#include "core/app_language.h"
#include "core/brand_colors.h"
#include "platform/clock.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int edgeMargin = 18;

QFont pixelFont(int pixelSize, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// The dark "heads-up" material of the card and the badge, painted opaque.
QColor hudColor() {
    return QColor(38, 38, 42);
}
QColor labelColor() {
    return QColor(245, 245, 247);
}
QColor secondaryLabelColor() {
    return QColor(245, 245, 247, 140);
}

bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
        return true;
    default:
        return false;
    }
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

}  // namespace

// ---- TranslationFrameView

TranslationFrameView::TranslationFrameView(QWidget* parent, std::function<double()> seconds)
    : QWidget(parent), seconds_(std::move(seconds)) {
    started_.start();
    if (!seconds_) {
        seconds_ = [this] { return static_cast<double>(started_.nsecsElapsed()) / 1e9; };
    }
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    ticker_.setInterval(tickIntervalMs);
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, &TranslationFrameView::tick);
    followWindow();
}

double TranslationFrameView::bandAlpha(int index, double phase) {
    const double t = static_cast<double>(index) / (bandCount - 1);
    const double alpha = 0.3 * std::pow(1.0 - t, 1.15) * (1.0 + waveAmplitude * std::sin(phase - t * waveSpanRadians));
    return std::clamp(alpha, 0.0, 1.0);
}

QPainterPath TranslationFrameView::bandRing(const QRectF& bounds, int index) {
    const double width = featherWidth / bandCount;
    const double a = outerInset + index * width;
    const double b = a + width;
    QPainterPath ring;
    ring.setFillRule(Qt::OddEvenFill);
    const double outerRadius = std::max(cornerRadius - 0.22 * a, 8.0);
    const double innerRadius = std::max(cornerRadius - 0.22 * b, 8.0);
    ring.addRoundedRect(bounds.adjusted(a, a, -a, -a), outerRadius, outerRadius);
    ring.addRoundedRect(bounds.adjusted(b, b, -b, -b), innerRadius, innerRadius);
    return ring;
}

bool TranslationFrameView::drawsFrame(const QSizeF& size) {
    const double minimum = featherWidth * 2 + 4;
    return size.width() > minimum && size.height() > minimum;
}

void TranslationFrameView::paintEvent(QPaintEvent*) {
    if (!drawsFrame(size())) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double phase = 2 * pi * waveFrequencyHz * seconds_();
    QColor color = BrandColors::purple();
    const QRectF bounds = rect();
    for (int i = 0; i < bandCount; ++i) {
        color.setAlphaF(static_cast<float>(bandAlpha(i, phase)));
        painter.fillPath(bandRing(bounds, i), color);
    }
}

bool TranslationFrameView::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        followWindow();
    }
    return QWidget::event(event);
}

bool TranslationFrameView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        // The window's visibility changes after the event is delivered.
        QTimer::singleShot(0, this, &TranslationFrameView::updateTicking);
    }
    return QWidget::eventFilter(watched, event);
}

void TranslationFrameView::followWindow() {
    QWidget* top = window();
    if (top == watchedWindow_) {
        return;
    }
    if (watchedWindow_) {
        watchedWindow_->removeEventFilter(this);
    }
    watchedWindow_ = top;
    if (top && top != this) {
        top->installEventFilter(this);
    }
    updateTicking();
}

void TranslationFrameView::updateTicking() {
    // The ticks run while the window is on screen, also while the frame itself is hidden
    // during a loading card, so the ripple never restarts visibly.
    const bool inShownWindow = watchedWindow_ && watchedWindow_ != this && watchedWindow_->isVisible();
    if (inShownWindow && !ticker_.isActive()) {
        ticker_.start();
    } else if (!inShownWindow && ticker_.isActive()) {
        ticker_.stop();
    }
}

void TranslationFrameView::tick() {
    if (!isVisible() || !drawsFrame(size())) {
        return;
    }
    // Only the border band changes: repaint a ring one pixel wider than the glow.
    const int band = static_cast<int>(std::ceil(featherWidth)) + 1;
    QRegion region(rect());
    region -= QRegion(rect().adjusted(band, band, -band, -band));
    update(region);
}

// ---- the badge: the language pair at the top right; a button while the pair can be changed

class ScreenshotOverlayView::Badge final : public QWidget {
public:
    explicit Badge(ScreenshotOverlayView* owner) : QWidget(owner), owner_(owner) {
        setFont(pixelFont(13, QFont::DemiBold));
    }
    QString text;
    bool selectable = false;

    QSize sizeFor(int maximumWidth) const {
        const QFontMetrics metrics(font());
        const int width = std::min(metrics.horizontalAdvance(text) + 2 * 12 + 1, std::max(0, maximumWidth));
        return {width, metrics.height() + 2 * 8};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.fillPath(roundedRect(rect(), 12), hudColor());
        painter.setPen(labelColor());
        const QRect textRect = rect().adjusted(12, 8, -12, -8);
        const QString shown = QFontMetrics(font()).elidedText(text, Qt::ElideRight, textRect.width());
        painter.drawText(textRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (!selectable) {
            // Without its button the badge is part of the picture: the click dismisses.
            event->ignore();
            return;
        }
        event->accept();
        owner_->didPressTranslationBadge();
    }

private:
    ScreenshotOverlayView* owner_;
};

// ---- ScreenshotOverlayView

ScreenshotOverlayView::ScreenshotOverlayView(QSize size, std::shared_ptr<Clock> clock, QWidget* parent)
    : QWidget(parent),
      clock_(std::move(clock)),
      appearDate_(clock_->now()),
      statusText_(translationLoadingText(AppLanguage::english)) {
    setGeometry(QRect(QPoint(0, 0), size));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    frame_ = new TranslationFrameView(this);
    frame_->setGeometry(rect());
    frame_->hide();
    badge_ = new Badge(this);
    badge_->hide();
    spinner_.setInterval(83);
    connect(&spinner_, &QTimer::timeout, this, [this] {
        spinnerStep_ = (spinnerStep_ + 1) % 12;
        update(loaderRect());
    });
}

ScreenshotOverlayView::~ScreenshotOverlayView() = default;

void ScreenshotOverlayView::setMinimumDisplayDuration(double seconds) {
    minimumDisplayDuration_ = clampedDisplayDuration(seconds);
}

void ScreenshotOverlayView::showLoading(const QString& message, bool usesServer) {
    appearDate_ = clock_->now();
    statusText_ = message;
    configureLoadingStyle(usesServer);
    frame_->hide();
    badge_->hide();
    badge_->text.clear();
    badge_->selectable = false;
    badge_->setToolTip({});
    showingImage_ = false;
    image_ = QImage();
    showingLoader_ = true;
    spinner_.start();
    updateWindowMask();
    update();
}

void ScreenshotOverlayView::configureLoadingStyle(bool usesServer) {
    usesServer_ = usesServer;
    if (showingLoader_) {
        updateWindowMask();
    }
    update();
}

void ScreenshotOverlayView::showImage(const QImage& image, QSize size, const QString& translationDisplayName,
                                      bool isTranslationSelectable) {
    appearDate_ = clock_->now();
    setGeometry(QRect(QPoint(0, 0), size));
    // A picture with more pixels than the window has logical pixels (a scaled desktop) is
    // drawn at the window's size.
    image_ = image;
    const QString trimmed = translationDisplayName.trimmed();
    badge_->text = trimmed;
    badge_->selectable = isTranslationSelectable && !trimmed.isEmpty();
    badge_->setToolTip(badge_->selectable ? badgeToolTip : QString());
    badge_->setCursor(badge_->selectable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    badge_->setVisible(!trimmed.isEmpty());
    layoutBadge();
    showingImage_ = true;
    showingLoader_ = false;
    configureLoadingStyle(false);
    spinner_.stop();
    frame_->setGeometry(rect());
    frame_->show();
    frame_->raise();
    badge_->raise();
    updateWindowMask();
    update();
}

QRect ScreenshotOverlayView::loaderRect() const {
    const QFontMetrics metrics(pixelFont(16, QFont::DemiBold));
    int width = std::max(minimumLoaderWidth, metrics.horizontalAdvance(statusText_) + 2 * 20 + 1);
    if (usesServer_) {
        const int hint = 14 + 6 + QFontMetrics(pixelFont(11, QFont::Medium)).horizontalAdvance(serverHintText);
        width = std::max(width, hint + 2 * 20 + 1);
    }
    width = std::min(width, std::max(minimumLoaderWidth, this->width()));
    const int height = loaderHeight();
    return {(this->width() - width) / 2, (this->height() - height) / 2, width, height};
}

QWidget* ScreenshotOverlayView::badge() const {
    return badge_;
}
QString ScreenshotOverlayView::badgeText() const {
    return badge_->text;
}
bool ScreenshotOverlayView::isBadgeSelectable() const {
    return badge_->isVisibleTo(this) && badge_->selectable;
}

void ScreenshotOverlayView::didPressTranslationBadge() {
    if (onTranslationBadgePressed) {
        onTranslationBadgePressed(badge_);
    }
}

void ScreenshotOverlayView::dismissalCheck() {
    const double elapsed = static_cast<double>(appearDate_.msecsTo(clock_->now())) / 1000.0;
    if (elapsed >= minimumDisplayDuration_ && onDismiss) {
        onDismiss();
    }
}

void ScreenshotOverlayView::keyPressEvent(QKeyEvent* event) {
    // Modifier keys arrive as key presses too, so pressing one dismisses as well.
    event->accept();
    dismissalCheck();
}

void ScreenshotOverlayView::keyReleaseEvent(QKeyEvent* event) {
    // Letting go of a modifier changes the modifiers as much as pressing one does; other keys
    // already dismissed on their press.
    event->accept();
    if (!event->isAutoRepeat() && isModifierKey(event->key())) {
        dismissalCheck();
    }
}

void ScreenshotOverlayView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    dismissalCheck();
}

void ScreenshotOverlayView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    frame_->setGeometry(rect());
    layoutBadge();
    updateWindowMask();
}

void ScreenshotOverlayView::layoutBadge() {
    const QSize badgeSize = badge_->sizeFor(width() - 2 * edgeMargin);
    badge_->setGeometry(width() - edgeMargin - badgeSize.width(), edgeMargin, badgeSize.width(), badgeSize.height());
}

void ScreenshotOverlayView::updateWindowMask() {
    QWidget* top = window();
    if (top == this) {
        return;
    }
    if (showingLoader_) {
        const QRect card = loaderRect().translated(mapTo(top, QPoint(0, 0)));
        top->setMask(QRegion(roundedRect(card, 18).toFillPolygon().toPolygon()));
    } else {
        top->clearMask();
    }
}

void ScreenshotOverlayView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (showingImage_ && !image_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRectF(rect()), image_);
        paintWatermark(painter);
    }
    if (showingLoader_) {
        paintLoader(painter);
    }
}

void ScreenshotOverlayView::paintWatermark(QPainter& painter) const {
    painter.setFont(pixelFont(32, QFont::DemiBold));
    const QRect area = rect().adjusted(edgeMargin, 0, -edgeMargin, -14);
    const int flags = Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine;
    painter.setPen(QColor(0, 0, 0, 89));
    painter.drawText(area.translated(0, 1), flags, brandText);
    painter.setPen(QColor(255, 255, 255, 128));
    painter.drawText(area, flags, brandText);
}

void ScreenshotOverlayView::paintLoader(QPainter& painter) const {
    const QRect card = loaderRect();
    painter.fillPath(roundedRect(card, 18), hudColor());

    // Spinner: twelve spokes, the leading one brightest.
    const QPointF centre(card.center().x() + 0.5, card.top() + 26 + 16);
    painter.save();
    painter.translate(centre);
    QPen spoke(labelColor(), 3.0, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < 12; ++i) {
        QColor color = labelColor();
        color.setAlphaF(static_cast<float>(0.15 + 0.85 * ((i + 12 - spinnerStep_) % 12) / 11.0));
        spoke.setColor(color);
        painter.setPen(spoke);
        painter.drawLine(QPointF(0, -8), QPointF(0, -15));
        painter.rotate(30);
    }
    painter.restore();

    const QFont statusFont = pixelFont(16, QFont::DemiBold);
    const QFontMetrics statusMetrics(statusFont);
    const int statusTop = card.top() + 26 + 32 + 14;
    const QRect statusRect(card.left() + 20, statusTop, card.width() - 40, statusMetrics.height());
    painter.setFont(statusFont);
    painter.setPen(labelColor());
    painter.drawText(statusRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                     statusMetrics.elidedText(statusText_, Qt::ElideRight, statusRect.width()));

    const QFont smallFont = pixelFont(11, QFont::Medium);
    const QFontMetrics smallMetrics(smallFont);
    painter.setFont(smallFont);
    painter.setPen(secondaryLabelColor());
    int brandTop = statusRect.bottom() + 1 + 8;
    if (usesServer_) {
        const int hintTop = statusRect.bottom() + 1 + 8;
        const int available = card.width() - 40 - 14 - 6;
        const QString hint = smallMetrics.elidedText(serverHintText, Qt::ElideRight, available);
        const int rowWidth = 14 + 6 + smallMetrics.horizontalAdvance(hint);
        const int rowLeft = card.left() + (card.width() - rowWidth) / 2;
        // The cloud: three puffs on a flat base, 14 by 14.
        QPainterPath cloud;
        const QRectF box(rowLeft, hintTop, 14, 14);
        cloud.addEllipse(QRectF(box.left() + 0.5, box.top() + 5.5, 6, 6));
        cloud.addEllipse(QRectF(box.left() + 3.5, box.top() + 2.5, 7.5, 7.5));
        cloud.addEllipse(QRectF(box.left() + 7.5, box.top() + 5, 6, 6));
        cloud.addRoundedRect(QRectF(box.left() + 0.5, box.top() + 8, 13, 3.5), 1.5, 1.5);
        painter.fillPath(cloud.simplified(), secondaryLabelColor());
        painter.drawText(QRect(rowLeft + 20, hintTop, rowWidth - 20, 14), Qt::AlignLeft | Qt::AlignVCenter, hint);
        brandTop = hintTop + 14 + 8;
    }
    const QRect brandRect(card.left() + 20, brandTop, card.width() - 40, smallMetrics.height());
    painter.drawText(brandRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                     smallMetrics.elidedText(brandText, Qt::ElideRight, brandRect.width()));
}

}  // namespace tavrolin
