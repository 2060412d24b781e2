#include "selection_popup/selection_first_use_hint.h"

#include "core/defaults_store.h"
#include "platform/clock.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>
#include <QVariantAnimation>

namespace tavrolin {

namespace geo = selection_popup_geometry;
using HintContext = SelectionFirstUseHintStateStore::HintContext;

// ---- state store

QString SelectionFirstUseHintStateStore::rawValue(HintContext context) {
    return context == HintContext::editable ? QStringLiteral("editable") : QStringLiteral("nonEditable");
}

std::optional<HintContext> SelectionFirstUseHintStateStore::fromRawValue(const QString& raw) {
    if (raw == QLatin1String("editable")) {
        return HintContext::editable;
    }
    if (raw == QLatin1String("nonEditable")) {
        return HintContext::nonEditable;
    }
    return std::nullopt;
}

QString SelectionFirstUseHintStateStore::key(HintContext context) {
    return QStringLiteral("selectionHint.") + rawValue(context) + QStringLiteral(".shown.v1");
}

bool SelectionFirstUseHintStateStore::hasShownHint(HintContext context) const {
    return defaults_.boolValue(key(context), false);
}

void SelectionFirstUseHintStateStore::markHintShown(HintContext context) {
    defaults_.setBool(key(context), true);
}

// ---- content

namespace {

const QString flipIcon = QStringLiteral(":/selection_popup/icons/flip.svg");
const QString translateIcon = QStringLiteral(":/selection_popup/icons/translate.svg");
const QString editIcon = QStringLiteral(":/selection_popup/icons/edit.svg");
const QString closeIcon = QStringLiteral(":/selection_popup/icons/close.svg");

}  // namespace

SelectionFirstUseHintContent SelectionFirstUseHintContent::forEditableSelection(const SelectionPopupMode& mode,
                                                                                std::function<void()> onClose) {
    SelectionFirstUseHintContent content;
    content.title = QStringLiteral("Write faster in text fields");
    content.subtitle = QStringLiteral("Select text in an editable field, then choose an action below.");
    if (mode.offersFlip) {
        content.actions.push_back(
            {flipIcon, QStringLiteral("Flip language"), QStringLiteral("Swap text between your languages")});
    }
    if (mode.offersTranslate) {
        content.actions.push_back(
            {translateIcon, QStringLiteral("Translate"), QStringLiteral("Translate selection in place")});
    }
    if (mode.offersEdit) {
        content.actions.push_back(
            {editIcon, QStringLiteral("Edit text"), QStringLiteral("AI-powered text improvements")});
    }
    content.onClose = std::move(onClose);
    return content;
}

SelectionFirstUseHintContent SelectionFirstUseHintContent::forNonEditableSelection(std::function<void()> onClose) {
    SelectionFirstUseHintContent content;
    content.title = QStringLiteral("Translate selected text");
    content.subtitle = QStringLiteral("Select text in any app, then use the Tavrolin action below.");
    content.actions.push_back(
        {translateIcon, QStringLiteral("Translate"), QStringLiteral("Translate selected text to your language")});
    content.onClose = std::move(onClose);
    return content;
}

// ---- the card's view

namespace {

constexpr double inset = 14;
constexpr double cardWidth = 240;

QFont pixelFont(const QFont& base, int pixels, QFont::Weight weight = QFont::Normal) {
    QFont f = base;
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

// The close button: an invisible target over the painted mark, so the whole card can be scaled
// while it fades; it carries the accessible name.
class CloseTarget final : public QAbstractButton {
public:
    explicit CloseTarget(QWidget* parent) : QAbstractButton(parent) {
        setAccessibleName(QStringLiteral("Close"));
        setObjectName(QStringLiteral("Close"));
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {}
};

// Title, close mark, subtitle, divider and one row per action on a rounded card. Everything is
// painted, under a scale about the bottom centre and a vertical offset for the fades.
class HintCardView final : public QWidget {
public:
    HintCardView(SelectionFirstUseHintContent content, QWidget* parent)
        : QWidget(parent), content_(std::move(content)), close_(new CloseTarget(this)) {
        QObject::connect(close_, &QAbstractButton::clicked, this, [this] {
            if (content_.onClose) {
                const std::function<void()> onClose = content_.onClose;
                onClose();
            }
        });
    }

    QSize sizeHint() const override { return QSize(int(cardWidth), int(std::ceil(layoutHeight()))); }

    void setPose(double scale, double offset) {
        scale_ = scale;
        offset_ = offset;
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override { close_->setGeometry(int(width() - inset - 16), int(inset - 1), 16, 16); }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), palette().window());
        painter.translate(width() / 2.0, height() + offset_);
        painter.scale(scale_, scale_);
        painter.translate(-width() / 2.0, -double(height()));

        QPainterPath card;
        card.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 14, 14);
        painter.fillPath(card, QColor(246, 246, 246));
        painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
        painter.drawPath(card);
        painter.setClipPath(card);

        const double textWidth = width() - 2 * inset;
        double y = inset;
        painter.setFont(titleFont());
        painter.setPen(QColor(20, 20, 20));
        const double titleHeight = QFontMetricsF(titleFont()).height();
        painter.drawText(QRectF(inset, y, textWidth - 20, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         content_.title);
        QSvgRenderer(closeIcon).render(&painter, QRectF(width() - inset - 15, y, 14, 14));
        y += titleHeight + 4;

        painter.setFont(subtitleFont());
        painter.setPen(QColor(90, 90, 90));
        const QRectF subtitle(inset, y, textWidth, subtitleHeight());
        painter.drawText(subtitle, Qt::AlignLeft | Qt::TextWordWrap, content_.subtitle);
        y += subtitle.height() + 10;

        painter.setPen(QPen(QColor(0, 0, 0, 30), 1));
        painter.drawLine(QPointF(inset, y), QPointF(width() - inset, y));
        y += 1 + 8;

        for (const auto& action : content_.actions) {
            const double h = rowHeight();
            QSvgRenderer(action.icon).render(&painter, QRectF(inset + 2, y + (h - 14) / 2, 14, 14));
            const double x = inset + 18 + 8;
            painter.setFont(rowTitleFont());
            painter.setPen(QColor(20, 20, 20));
            const double tH = QFontMetricsF(rowTitleFont()).height();
            painter.drawText(QRectF(x, y, textWidth - 26, tH), Qt::AlignLeft | Qt::AlignVCenter, action.title);
            painter.setFont(descriptionFont());
            painter.setPen(QColor(130, 130, 130));
            const QFontMetricsF dm(descriptionFont());
            painter.drawText(QRectF(x, y + tH + 1, textWidth - 26, dm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                             dm.elidedText(action.description, Qt::ElideRight, textWidth - 26));
            y += h + 6;
        }
    }

private:
    QFont titleFont() const { return pixelFont(font(), 13, QFont::DemiBold); }
    QFont subtitleFont() const { return pixelFont(font(), 11); }
    QFont rowTitleFont() const { return pixelFont(font(), 11, QFont::DemiBold); }
    QFont descriptionFont() const { return pixelFont(font(), 10); }

    double subtitleHeight() const {
        const QFontMetricsF metrics(subtitleFont());
        const QRectF bounds = metrics.boundingRect(QRectF(0, 0, cardWidth - 2 * inset, 1000),
                                                   Qt::AlignLeft | Qt::TextWordWrap, content_.subtitle);
        // At most two lines.
        return std::min(bounds.height(), 2 * metrics.lineSpacing());
    }
    double rowHeight() const {
        return QFontMetricsF(rowTitleFont()).height() + 1 + QFontMetricsF(descriptionFont()).height();
    }
    double layoutHeight() const {
        const double rows = double(content_.actions.size()) * (rowHeight() + 6);
        return inset + QFontMetricsF(titleFont()).height() + 4 + subtitleHeight() + 10 + 1 + 8 + rows + inset;
    }

    SelectionFirstUseHintContent content_;
    CloseTarget* close_;
    double scale_ = 1;
    double offset_ = 0;
};

// Runs one fade of the card: opacity and pose from `from` to `to` (0 hidden, 1 shown).
void animate(QWidget* window, HintCardView* view, bool in, std::function<void()> finished) {
    auto* animation = new QVariantAnimation(window);
    animation->setDuration(in ? SelectionFirstUseHintPanel::fadeInMs : SelectionFirstUseHintPanel::fadeOutMs);
    animation->setEasingCurve(in ? QEasingCurve::OutCubic : QEasingCurve::InCubic);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    QObject::connect(animation, &QVariantAnimation::valueChanged, window, [window, view, in](const QVariant& value) {
        const double t = value.toDouble();
        if (in) {
            window->setWindowOpacity(t);
            view->setPose(0.96 + 0.04 * t, -8 * (1 - t));
        } else {
            window->setWindowOpacity(1 - t);
            view->setPose(1 - 0.02 * t, 4 * t);
        }
    });
    if (finished) {
        QObject::connect(animation, &QVariantAnimation::finished, window, std::move(finished));
    }
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace

// ---- panel

SelectionFirstUseHintPanel::SelectionFirstUseHintPanel(FloatingWindowEnvironment environment)
    : environment_(std::move(environment)) {}

SelectionFirstUseHintPanel::~SelectionFirstUseHintPanel() {
    lifetime_.end();
    autoDismissTask_.reset();
    monitors_.remove();
    delete panel_.data();
    for (const QPointer<QWidget>& window : fading_) {
        delete window.data();
    }
}

void SelectionFirstUseHintPanel::show(const QRectF& anchor, SelectionFirstUseHintContent content) {
    dismiss();
    QWidget* window = makeFloatingWindow(false, environment_.markAsOverlayWindow);
    window->setObjectName(QStringLiteral("selectionFirstUseHint"));
    window->setAccessibleName(content.title);
    auto* view = new HintCardView(std::move(content), window);
    const QRectF frame = geo::hintFrame(anchor, QSizeF(view->sizeHint()),
                                        environment_.screens ? environment_.screens() : std::vector<geo::ScreenArea>{});
    window->setGeometry(frame.toAlignedRect());
    view->setGeometry(window->rect());
    window->setWindowOpacity(0);
    view->setPose(0.96, -8);
    window->show();
    window->raise();
    panel_ = window;
    animate(window, view, true, nullptr);

    const auto alive = lifetime_.weak();
    monitors_.install(environment_.monitoring.get(), [this, alive] {
        if (alive) {
            dismiss();
        }
    });
    if (environment_.scheduler) {
        autoDismissTask_ = environment_.scheduler->scheduleAfter(autoDismissDelay, [this, alive] {
            if (alive) {
                dismiss();
            }
        });
    }
}

void SelectionFirstUseHintPanel::dismiss() {
    autoDismissTask_.reset();
    monitors_.remove();
    QWidget* window = panel_;
    panel_ = nullptr;
    if (!window) {
        return;
    }
    auto* view = window->findChild<HintCardView*>();
    if (!view) {
        window->hide();
        window->deleteLater();
        return;
    }
    // A fade-in still running stops where it is.
    for (auto* running : window->findChildren<QVariantAnimation*>()) {
        running->stop();
    }
    const QPointer<QWidget> guarded(window);
    std::erase_if(fading_, [](const QPointer<QWidget>& w) { return w.isNull(); });
    fading_.push_back(guarded);
    animate(window, view, false, [guarded] {
        if (guarded) {
            guarded->hide();
            guarded->deleteLater();
        }
    });
}

// ---- controller

SelectionFirstUseHintController::SelectionFirstUseHintController(SelectionFirstUseHintStateStore stateStore,
                                                                 FloatingWindowEnvironment environment)
    : stateStore_(stateStore), scheduler_(environment.scheduler), hintPanel_(std::move(environment)) {}

SelectionFirstUseHintController::~SelectionFirstUseHintController() {
    lifetime_.end();
    showTask_.reset();
}

void SelectionFirstUseHintController::maybeShowHint(const SelectionPopupMode& mode, bool isEditable,
                                                    const QRectF& anchor) {
    const HintContext context = isEditable ? HintContext::editable : HintContext::nonEditable;
    if (stateStore_.hasShownHint(context) || pendingContext_ == context || !scheduler_) {
        return;
    }
    pendingContext_ = context;
    const std::uint64_t generation = ++currentGeneration_;
    const auto alive = lifetime_.weak();
    showTask_ = scheduler_->scheduleAfter(showDelay, [this, alive, generation, context, mode, anchor] {
        if (!alive || generation != currentGeneration_) {
            return;
        }
        auto onClose = [this, alive] {
            if (alive) {
                dismiss();
            }
        };
        hintPanel_.show(anchor, context == HintContext::editable
                                    ? SelectionFirstUseHintContent::forEditableSelection(mode, onClose)
                                    : SelectionFirstUseHintContent::forNonEditableSelection(onClose));
        // Recorded as soon as the card is up, so that closing it at once still counts.
        stateStore_.markHintShown(context);
        pendingContext_.reset();
    });
}

void SelectionFirstUseHintController::dismiss() {
    ++currentGeneration_;
    showTask_.reset();
    pendingContext_.reset();
    hintPanel_.dismiss();
}

}  // namespace tavrolin
