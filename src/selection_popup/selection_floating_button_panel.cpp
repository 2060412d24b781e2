#include "selection_popup/selection_floating_button_panel.h"

#include "platform/clock.h"
#include "platform/global_mouse_monitoring.h"

#include <QAbstractButton>
#include <QCursor>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSvgRenderer>

static void initSelectionPopupIcons() {
    Q_INIT_RESOURCE(selection_popup_icons);
}

namespace tavrolin {

namespace geo = selection_popup_geometry;

FloatingWindowEnvironment FloatingWindowEnvironment::system(std::shared_ptr<GlobalInputMonitoring> monitoring,
                                                            OverlayWindowMarking markAsOverlayWindow) {
    FloatingWindowEnvironment environment;
    environment.scheduler = std::make_shared<QtScheduler>();
    environment.monitoring = std::move(monitoring);
    environment.markAsOverlayWindow = std::move(markAsOverlayWindow);
    environment.pointerPosition = [] { return QPointF(QCursor::pos()); };
    environment.screens = [] {
        std::vector<geo::ScreenArea> screens;
        const QScreen* primary = QGuiApplication::primaryScreen();
        if (primary) {
            screens.push_back({primary->geometry(), primary->availableGeometry()});
        }
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen != primary) {
                screens.push_back({screen->geometry(), screen->availableGeometry()});
            }
        }
        return screens;
    };
    return environment;
}

FloatingDismissMonitors::~FloatingDismissMonitors() {
    remove();
}

void FloatingDismissMonitors::install(GlobalInputMonitoring* monitoring, std::function<void()> dismiss) {
    remove();
    if (!monitoring) {
        return;
    }
    lifetime_.renew();
    // Later on the main thread: the dismissal removes the very monitor that is calling.
    auto later = [alive = lifetime_.weak(), dismiss] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [alive, dismiss] {
                if (alive) {
                    dismiss();
                }
            },
            Qt::QueuedConnection);
    };
    raw_ = monitoring->addRawInputMonitor([later](const RawInputEvent& event) {
        const bool click = event.kind == RawInputEvent::Kind::buttonPress && !event.overOwnWindow &&
                           !(event.detail >= 4 && event.detail <= 7);
        const bool escape = event.kind == RawInputEvent::Kind::keyPress && event.detail == escapeKeysym;
        if (click || escape) {
            later();
        }
    });
    active_ = monitoring->addActiveApplicationMonitor(later);
}

void FloatingDismissMonitors::remove() {
    lifetime_.end();
    raw_.reset();
    active_.reset();
}

QWidget* makeFloatingWindow(bool transparentForInput, const OverlayWindowMarking& markAsOverlayWindow) {
    auto* window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::WindowDoesNotAcceptFocus |
                                            (transparentForInput ? Qt::WindowTransparentForInput : Qt::WindowFlags()));
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->setFocusPolicy(Qt::NoFocus);
    // The hints must be on the native window before it is mapped.
    if (markAsOverlayWindow) {
        markAsOverlayWindow(window->winId());
    }
    return window;
}

namespace {

const QColor buttonFill(250, 250, 250);
const QColor separator(0, 0, 0, 56);

// One square action button: a rounded plate with the action's icon.
class FloatingActionButton final : public QAbstractButton {
public:
    FloatingActionButton(const QString& title, const QString& tooltip, const QString& icon,
                         std::function<void(const QString&)> onHover, QWidget* parent)
        : QAbstractButton(parent), tooltip_(tooltip), icon_(icon), onHover_(std::move(onHover)) {
        setFixedSize(int(geo::buttonSide), int(geo::buttonSide));
        setFocusPolicy(Qt::NoFocus);
        setAccessibleName(title);
        setAccessibleDescription(tooltip);
        setObjectName(title);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF plate = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
        painter.setPen(QPen(separator, 0.5));
        painter.setBrush(isDown() ? buttonFill.darker(110) : buttonFill);
        painter.drawRoundedRect(plate, 7, 7);
        QSvgRenderer renderer(icon_);
        renderer.render(&painter, QRectF(7, 7, 14, 14));
    }
    void enterEvent(QEnterEvent* event) override {
        QAbstractButton::enterEvent(event);
        onHover_(tooltip_);
    }
    void leaveEvent(QEvent* event) override {
        QAbstractButton::leaveEvent(event);
        onHover_(QString());
    }

private:
    QString tooltip_;
    QString icon_;
    std::function<void(const QString&)> onHover_;
};

// White text on a dark rounded plate.
class TooltipView final : public QWidget {
public:
    TooltipView(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
        QFont f = font();
        f.setPixelSize(11);
        f.setWeight(QFont::Medium);
        setFont(f);
    }
    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text_) + 16, metrics.height() + 10};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 199));
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(rect()).adjusted(8, 5, -8, -5), Qt::AlignCenter | Qt::TextSingleLine, text_);
    }

private:
    QString text_;
};

}  // namespace

SelectionFloatingButtonPanel::SelectionFloatingButtonPanel(FloatingWindowEnvironment environment,
                                                           std::function<void()> onTranslate,
                                                           std::function<void()> onFlip, std::function<void()> onEdit)
    : environment_(std::move(environment)),
      onTranslate_(std::move(onTranslate)),
      onFlip_(std::move(onFlip)),
      onEdit_(std::move(onEdit)) {
    initSelectionPopupIcons();
}

SelectionFloatingButtonPanel::~SelectionFloatingButtonPanel() {
    lifetime_.end();
    autoDismissTask_.reset();
    monitors_.remove();
    delete tooltipPanel_.data();
    delete panel_.data();
}

void SelectionFloatingButtonPanel::show(const std::optional<QRectF>& anchor, const SelectionPopupMode& mode) {
    dismiss();
    const std::vector<geo::ScreenArea> screens =
        environment_.screens ? environment_.screens() : std::vector<geo::ScreenArea>{};
    const QPointF pointer = environment_.pointerPosition ? environment_.pointerPosition() : QPointF();
    const QRectF frame = geo::rowFrame(anchor, pointer, mode, screens);

    QWidget* row = makeFloatingWindow(false, environment_.markAsOverlayWindow);
    row->setObjectName(QStringLiteral("selectionFloatingButtons"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(int(geo::buttonSpacing));
    const auto alive = lifetime_.weak();
    auto hover = [this, alive](const QString& text) {
        if (alive) {
            text.isEmpty() ? hideTooltip() : showTooltip(text);
        }
    };
    auto add = [&](const QString& title, const QString& tooltip, const QString& icon,
                   std::function<void()> SelectionFloatingButtonPanel::*action) {
        auto* button = new FloatingActionButton(title, tooltip, icon, hover, row);
        QObject::connect(button, &QAbstractButton::clicked, button, [this, alive, action] {
            if (alive) {
                runAction(this->*action);
            }
        });
        layout->addWidget(button);
    };
    if (mode.offersFlip) {
        add(QStringLiteral("Flip"), QStringLiteral("Flip language"), QStringLiteral(":/selection_popup/icons/flip.svg"),
            &SelectionFloatingButtonPanel::onFlip_);
    }
    if (mode.offersEdit) {
        add(QStringLiteral("Edit"), QStringLiteral("Edit text"), QStringLiteral(":/selection_popup/icons/edit.svg"),
            &SelectionFloatingButtonPanel::onEdit_);
    }
    if (mode.offersTranslate) {
        add(QStringLiteral("Translate"), QStringLiteral("Translate selection"),
            QStringLiteral(":/selection_popup/icons/translate.svg"), &SelectionFloatingButtonPanel::onTranslate_);
    }
    row->setGeometry(frame.toAlignedRect());
    row->show();
    row->raise();
    panel_ = row;
    installDismissMonitors();
    scheduleAutoDismiss();
}

void SelectionFloatingButtonPanel::runAction(const std::function<void()>& action) {
    // The row closes after the action, also when the action has nothing to do.
    const std::function<void()> copy = action;
    if (copy) {
        copy();
    }
    dismiss();
}

void SelectionFloatingButtonPanel::dismiss() {
    autoDismissTask_.reset();
    monitors_.remove();
    hideTooltip();
    if (panel_) {
        panel_->hide();
        // Deleted later: a button of the row may be the caller.
        panel_->deleteLater();
        panel_ = nullptr;
    }
    if (onDismiss_) {
        const std::function<void()> onDismiss = onDismiss_;
        onDismiss();
    }
}

void SelectionFloatingButtonPanel::showTooltip(const QString& text) {
    if (!panel_) {
        return;
    }
    hideTooltip();
    QWidget* window = makeFloatingWindow(true, environment_.markAsOverlayWindow);
    window->setObjectName(QStringLiteral("selectionFloatingTooltip"));
    auto* view = new TooltipView(text, window);
    const QSizeF size = view->sizeHint();
    const QRectF frame =
        geo::tooltipFrame(QRectF(panel_->geometry()), size,
                          environment_.screens ? environment_.screens() : std::vector<geo::ScreenArea>{});
    window->setGeometry(frame.toAlignedRect());
    view->setGeometry(window->rect());
    window->setAccessibleName(text);
    window->show();
    window->raise();
    tooltipPanel_ = window;
}

void SelectionFloatingButtonPanel::hideTooltip() {
    if (tooltipPanel_) {
        tooltipPanel_->hide();
        tooltipPanel_->deleteLater();
        tooltipPanel_ = nullptr;
    }
}

void SelectionFloatingButtonPanel::installDismissMonitors() {
    const auto alive = lifetime_.weak();
    monitors_.install(environment_.monitoring.get(), [this, alive] {
        if (alive) {
            dismiss();
        }
    });
}

void SelectionFloatingButtonPanel::scheduleAutoDismiss() {
    if (!environment_.scheduler) {
        return;
    }
    const auto alive = lifetime_.weak();
    autoDismissTask_ = environment_.scheduler->scheduleAfter(
        geo::timerDelay(autoDismissDelay_, defaultAutoDismissDelay, QtScheduler::maximumDelay), [this, alive] {
            if (alive) {
                dismiss();
            }
        });
}

}  // namespace tavrolin
