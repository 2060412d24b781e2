#include "settings_window/confirmation_dialog.h"

#include <QApplication>
#include <QEasingCurve>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace tavrolin {

namespace {

constexpr int glyphSize = 28;
constexpr int discSize = glyphSize + 2 * 8;
constexpr int cornerRadius = 10;
constexpr int shadowBlur = 12;
constexpr int shadowOffsetY = 4;

// Tango orange: the warning orange of freedesktop icon themes.
const QColor warningOrange = QColor::fromRgb(0xF5, 0x79, 0x00);

QFont fontOfSize(const QWidget* widget, int pointSize, QFont::Weight weight) {
    QFont font = widget->font();
    font.setPointSize(pointSize);
    font.setWeight(weight);
    return font;
}

// A soft shadow: rings of decreasing alpha around the card's rounded rectangle.
void paintCardShadow(QPainter& painter, const QRectF& card, qreal opacity) {
    painter.save();
    painter.setPen(Qt::NoPen);
    const QRectF shadow = card.translated(0, shadowOffsetY);
    for (int ring = shadowBlur; ring > 0; --ring) {
        const qreal alpha = 0.15 * opacity * (1.0 - qreal(ring) / (shadowBlur + 1)) / (shadowBlur / 3.0);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(alpha)));
        painter.drawRoundedRect(shadow.adjusted(-ring, -ring, ring, ring), cornerRadius + ring, cornerRadius + ring);
    }
    painter.restore();
}

}  // namespace

ConfirmationDialog::ConfirmationDialog(ConfirmationDialogContent content, std::function<void()> onDestructive,
                                       std::function<void()> onCancel, QWidget* parent)
    : QFrame(parent),
      content_(std::move(content)),
      onDestructive_(std::move(onDestructive)),
      onCancel_(std::move(onCancel)) {
    setObjectName(QStringLiteral("confirmationCard"));
    setFixedWidth(cardWidth);
    setAttribute(Qt::WA_TranslucentBackground);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(8);
    column->setSizeConstraint(QLayout::SetMinAndMaxSize);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(iconPixmap(content_, devicePixelRatioF()));
    icon->setFixedSize(discSize + 8, discSize + 8);
    icon->setAlignment(Qt::AlignCenter);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addSpacing(2);

    auto* title = new QLabel(content_.title, this);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(fontOfSize(this, 15, QFont::DemiBold));
    title->setAlignment(Qt::AlignHCenter);
    title->setWordWrap(true);
    title->setTextFormat(Qt::PlainText);
    column->addWidget(title);

    messageLabel_ = new QLabel(content_.message, this);
    messageLabel_->setObjectName(QStringLiteral("message"));
    messageLabel_->setFont(fontOfSize(this, 13, QFont::Normal));
    messageLabel_->setAlignment(Qt::AlignHCenter);
    messageLabel_->setWordWrap(true);
    messageLabel_->setTextFormat(Qt::PlainText);
    messageLabel_->setContentsMargins(4, 0, 4, 0);
    messageLabel_->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(messageLabel_);
    column->addSpacing(12 - column->spacing());

    auto* separator = new QFrame(this);
    separator->setFixedHeight(1);
    QColor line = palette().color(QPalette::Mid);
    line.setAlphaF(0.28f);
    separator->setStyleSheet(QStringLiteral("background: %1;").arg(line.name(QColor::HexArgb)));
    column->addWidget(separator);
    column->addSpacing(12 - column->spacing());

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addStretch();
    cancelButton_ = new QPushButton(content_.cancelTitle, this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    destructiveButton_ = new QPushButton(content_.destructiveTitle, this);
    destructiveButton_->setObjectName(QStringLiteral("destructive"));
    for (QPushButton* button : {cancelButton_, destructiveButton_}) {
        // Return and Escape belong to the card as a whole, not to the focused button.
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    QPalette destructivePalette = destructiveButton_->palette();
    destructivePalette.setColor(QPalette::ButtonText, QColor::fromRgb(0xCC, 0x00, 0x00));
    destructiveButton_->setPalette(destructivePalette);
    row->addWidget(cancelButton_);
    row->addWidget(destructiveButton_);
    row->addStretch();
    column->addLayout(row);

    connect(cancelButton_, &QPushButton::clicked, this, &ConfirmationDialog::cancel);
    connect(destructiveButton_, &QPushButton::clicked, this, &ConfirmationDialog::confirm);
}

QPixmap ConfirmationDialog::iconPixmap(const ConfirmationDialogContent& content, qreal devicePixelRatio) {
    QIcon glyph = QIcon::fromTheme(content.iconThemeName);
    if (glyph.isNull()) {
        glyph = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    }
    QPixmap white = glyph.pixmap(QSize(glyphSize, glyphSize), devicePixelRatio);
    {
        QPainter tint(&white);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(white.rect(), Qt::white);
    }
    QPixmap disc(QSize(discSize, discSize) * devicePixelRatio);
    disc.setDevicePixelRatio(devicePixelRatio);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(content.iconColor);
    painter.drawEllipse(QRectF(0, 0, discSize, discSize));
    painter.drawPixmap(QPointF(8, 8), white);
    return disc;
}

void ConfirmationDialog::confirm() {
    // Copies: the host may schedule this card's deletion from the callback.
    const auto callback = onDestructive_;
    if (callback) {
        callback();
    }
}

void ConfirmationDialog::cancel() {
    const auto callback = onCancel_;
    if (callback) {
        callback();
    }
}

void ConfirmationDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
}

void ConfirmationDialog::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void ConfirmationDialog::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

ConfirmationDialogOverlay::ConfirmationDialogOverlay(QWidget* host, std::function<void()> onCancel,
                                                     const DialogBuilder& dialog)
    : QWidget(host), onCancel_(std::move(onCancel)) {
    setObjectName(QStringLiteral("confirmationOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    dialog_ = dialog(this);
    dialog_->setParent(this);
    animation_ = new QVariantAnimation(this);
    animation_->setDuration(animationMs);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        progress_ = value.toReal();
        update();
    });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        progress_ = dimmed_ ? 1.0 : 0.0;
        dialog_->setVisible(dimmed_);
        if (dimmed_) {
            dialog_->setFocus(Qt::OtherFocusReason);
            // Keys still reach the overlay: the card's buttons pass Return and Escape up.
        }
        update();
        Q_EMIT entryAnimationFinished();
    });
    if (host) {
        host->installEventFilter(this);
        setGeometry(host->rect());
    }
    layoutDialog();
    dialog_->hide();
}

bool ConfirmationDialogOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        layoutDialog();
    }
    return QWidget::eventFilter(watched, event);
}

void ConfirmationDialogOverlay::layoutDialog() {
    dialog_->adjustSize();
    const QSize size = dialog_->sizeHint().expandedTo(dialog_->minimumSizeHint());
    dialog_->resize(ConfirmationDialog::cardWidth, size.height());
    dialog_->move((width() - dialog_->width()) / 2, (height() - dialog_->height()) / 2);
}

void ConfirmationDialogOverlay::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    raise();
    setFocus(Qt::OtherFocusReason);
    if (!dimmed_) {
        setDimmed(true);
    }
}

void ConfirmationDialogOverlay::setDimmed(bool dimmed) {
    dimmed_ = dimmed;
    layoutDialog();
    // While it grows the card is drawn from an image of itself, then the live card takes over.
    cardImage_ = dialog_->grab();
    dialog_->hide();
    animation_->stop();
    animation_->setStartValue(progress_);
    animation_->setEndValue(dimmed ? 1.0 : 0.0);
    animation_->start();
}

void ConfirmationDialogOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, float(dimmedOpacity * progress_)));
    const QRectF card = dialog_->geometry();
    const qreal scale = startScale + (1.0 - startScale) * progress_;
    painter.translate(card.center());
    painter.scale(scale, scale);
    painter.translate(-card.center());
    paintCardShadow(painter, card, progress_);
    if (!dialog_->isVisible() && !cardImage_.isNull()) {
        painter.setOpacity(progress_);
        painter.drawPixmap(card.topLeft(), cardImage_);
    }
}

void ConfirmationDialogOverlay::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        dialog_->cancel();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        dialog_->confirm();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void ConfirmationDialogOverlay::mousePressEvent(QMouseEvent* event) {
    backdropPressed_ = event->button() == Qt::LeftButton && !dialog_->geometry().contains(event->position().toPoint());
    event->accept();
}

void ConfirmationDialogOverlay::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = backdropPressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint()) &&
                       !dialog_->geometry().contains(event->position().toPoint());
    backdropPressed_ = false;
    event->accept();
    if (click) {
        const auto callback = onCancel_;
        if (callback) {
            callback();
        }
    }
}

namespace {

ConfirmationDialogOverlay* showConfirmation(QWidget* host, const ConfirmationDialogContent& content,
                                            std::function<void()> onClose, std::function<void()> onProceed) {
    auto* overlay = new ConfirmationDialogOverlay(host, onClose, [&](QWidget* parent) {
        return new ConfirmationDialog(
            content,
            [onClose, onProceed] {
                if (onProceed) {
                    onProceed();
                }
                if (onClose) {
                    onClose();
                }
            },
            [onClose] {
                if (onClose) {
                    onClose();
                }
            },
            parent);
    });
    overlay->show();
    return overlay;
}

}  // namespace

ConfirmationDialogContent DisableOnlineFeaturesDialog::content() {
    return {
        QStringLiteral("Disable online features?"),
        QStringLiteral("view-refresh"),
        warningOrange,
        QStringLiteral("  You will no longer have access to server   translation, text editing, writing, automatic   "
                       "app updates, or online-exclusive language pairs   until you re-enable online features."),
        QStringLiteral("Disable"),
        QStringLiteral("Cancel")};
}

ConfirmationDialogOverlay* DisableOnlineFeaturesDialog::show(QWidget* host, std::function<void()> onClose,
                                                             std::function<void()> onProceed) {
    return showConfirmation(host, content(), std::move(onClose), std::move(onProceed));
}

ConfirmationDialogContent ResetShortcutsConfirmationDialog::content() {
    return {
        QStringLiteral("Reset all shortcuts?"),
        QStringLiteral("edit-undo"),
        warningOrange,
        QStringLiteral("This will restore all shortcuts to their default values. Your translation and other settings "
                       "will remain unchanged."),
        QStringLiteral("Reset"),
        QStringLiteral("Cancel")};
}

ConfirmationDialogOverlay* ResetShortcutsConfirmationDialog::show(QWidget* host, std::function<void()> onClose,
                                                                  std::function<void()> onProceed) {
    return showConfirmation(host, content(), std::move(onClose), std::move(onProceed));
}

}  // namespace tavrolin
