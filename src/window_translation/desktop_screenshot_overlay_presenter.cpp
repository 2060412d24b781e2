#include "window_translation/desktop_screenshot_overlay_presenter.h"

#include "platform/front_application.h"
#include "platform/front_window_activation.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/keyboard_grabbing.h"
#include "platform/window_list.h"
#include "window_translation/screenshot_overlay_panel.h"
#include "window_translation/screenshot_overlay_view.h"
#include "window_translation/translation_picker.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace tavrolin {

DesktopScreenshotOverlayPresenter::Dependencies DesktopScreenshotOverlayPresenter::systemDependencies(Desktop desktop) {
    Dependencies d;
    d.clock = std::make_shared<SystemClock>();
    d.scheduler = std::make_shared<QtScheduler>();
    d.makePanel = [mark = std::move(desktop.markAsOverlayWindow)] {
        return std::make_unique<ScreenshotOverlayPanel>(mark);
    };
    d.displays = [] { return WindowFrameConverter::currentDisplays(); };
    d.mouseMonitoring = std::move(desktop.mouseMonitoring);
    d.keyboardGrab = std::move(desktop.keyboardGrab);
    d.frontApplication = std::move(desktop.frontApplication);
    d.windowList = std::move(desktop.windowList);
    d.frontWindowActivation = std::move(desktop.frontWindowActivation);
    d.compositing = std::move(desktop.compositing);
    d.ownProcessId = QCoreApplication::applicationPid();
    return d;
}

DesktopScreenshotOverlayPresenter::DesktopScreenshotOverlayPresenter(
    std::shared_ptr<TranslationSetupSupport> translationSetupSupport, std::function<void()> openTranslationSetup,
    Dependencies dependencies)
    : translationSetupSupport_(std::move(translationSetupSupport)),
      openTranslationSetup_(std::move(openTranslationSetup)),
      dependencies_(std::move(dependencies)) {}

DesktopScreenshotOverlayPresenter::~DesktopScreenshotOverlayPresenter() {
    lifetime_.end();
    delete translationPickerPanel_.data();
    cancelScheduledDismiss();
    removeGlobalMouseMonitor();
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->release();
    }
    if (overlayPanel_) {
        overlayPanel_->orderOut();
    }
}

ScreenshotOverlayView* DesktopScreenshotOverlayPresenter::overlayView() const {
    return overlayPanel_ ? overlayPanel_->overlayView() : nullptr;
}

void DesktopScreenshotOverlayPresenter::setMinimumDisplayDuration(double seconds) {
    minimumDisplayDuration_ = clampedDisplayDuration(seconds);
    if (ScreenshotOverlayView* view = overlayView()) {
        view->setMinimumDisplayDuration(minimumDisplayDuration_);
    }
}

std::optional<QRectF> DesktopScreenshotOverlayPresenter::panelFrame(const QRectF& windowBounds) const {
    return WindowFrameConverter::appKitFrame(windowBounds, dependencies_.displays());
}

std::unique_ptr<OverlayPanelling> DesktopScreenshotOverlayPresenter::makePanel(const QRectF& frame) {
    std::unique_ptr<OverlayPanelling> panel = dependencies_.makePanel();
    panel->setFrame(frame);
    return panel;
}

void DesktopScreenshotOverlayPresenter::makePassive(OverlayPanelling& panel) {
    panel.setPassive(true);
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->release();
    }
}

void DesktopScreenshotOverlayPresenter::presentLoading(const QRectF& windowBounds, std::optional<qint32> ownerPID,
                                                       const QString& message, bool usesServer) {
    cancelScheduledDismiss();
    // Leaving a translated image (shown or being re-translated) for a new card counts as a
    // dismissal; leaving a card does not.
    clear(imageOverlayUp_);
    const std::optional<QRectF> frame = panelFrame(windowBounds);
    if (!frame) {
        return;
    }
    std::unique_ptr<OverlayPanelling> panel = makePanel(*frame);
    makePassive(*panel);
    appearDate_ = dependencies_.clock->now();
    showCard(*panel, *frame, message, usesServer);
    panel->orderFront();
    overlayPanel_ = std::move(panel);
    overlayFrame_ = frame;
    ownerPID_ = ownerPID;
}

void DesktopScreenshotOverlayPresenter::showCard(OverlayPanelling& panel, const QRectF& frame, const QString& message,
                                                 bool usesServer) {
    // The card is laid out over the whole window, whatever the panel's size now.
    ScreenshotOverlayView* view = makeOverlayView(panel, frame.size().toSize());
    if (!dependencies_.compositing || dependencies_.compositing->isCompositingManagerRunning()) {
        panel.setFrame(frame);
        view->showLoading(message, usesServer);
        return;
    }
    // Without a compositor the panel's window is cut to the card's shape, yet a window manager
    // that frames it without that shape would black out the window around the card: the panel
    // is no larger than the card, so nothing but the card can hide the window.
    view->showLoading(message, usesServer);
    const QRect card = view->loaderRect();
    panel.setFrame(QRectF(frame.topLeft() + QPointF(card.topLeft()), QSizeF(card.size())));
    view->setGeometry(QRect(QPoint(0, 0), card.size()));
    // The card's place in the smaller view, and the window's shape with it.
    view->configureLoadingStyle(usesServer);
}

void DesktopScreenshotOverlayPresenter::showLoading(const QString& message, bool usesServer) {
    cancelScheduledDismiss();
    closeTranslationPicker();
    if (!overlayView() || !overlayFrame_) {
        return;
    }
    appearDate_ = dependencies_.clock->now();
    makePassive(*overlayPanel_);
    showCard(*overlayPanel_, *overlayFrame_, message, usesServer);
}

bool DesktopScreenshotOverlayPresenter::presentImage(
    const QImage& image, const QRectF& windowBounds, std::optional<qint32> ownerPID,
    const QString& translationDisplayName, const TranslationLanguagePair& selectedLanguagePair,
    bool onlineFeaturesEnabled, std::function<void(TranslationLanguagePair)> onTranslationRequested) {
    cancelScheduledDismiss();
    const std::optional<QRectF> frame = panelFrame(windowBounds);
    if (!frame) {
        clear(false);
        return false;
    }
    // The picture comes in a window of its own, mapped over the card's: the card's window, given
    // the picture's size, would show a frame or two of the card stretched, or of nothing, before
    // the picture is drawn in it. The new window shows what lay under it until it is drawn, the
    // card included, and the card's window goes once the new one is above it.
    std::unique_ptr<OverlayPanelling> card = std::move(overlayPanel_);
    std::unique_ptr<OverlayPanelling> panel = makePanel(*frame);
    panel->setPassive(false);
    ScreenshotOverlayView* view = makeOverlayView(*panel, frame->size().toSize());
    selectedLanguagePair_ = selectedLanguagePair;
    onTranslationRequested_ = std::move(onTranslationRequested);
    imageOverlayUp_ = true;
    onlineFeaturesEnabled_ = onlineFeaturesEnabled;
    appearDate_ = dependencies_.clock->now();
    view->showImage(image, frame->size().toSize(), translationDisplayName, true);
    panel->orderFront();
    if (card) {
        retirePanel(std::move(card));
    }
    overlayFrame_ = frame;
    // The covered application stays active: the overlay hears the keyboard through a grab
    // instead of taking the focus.
    view->setFocus(Qt::OtherFocusReason);
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->grab(panel->nativeWindow());
    }
    overlayPanel_ = std::move(panel);
    ownerPID_ = ownerPID;
    installGlobalMouseMonitor();
    return true;
}

ScreenshotOverlayView* DesktopScreenshotOverlayPresenter::makeOverlayView(OverlayPanelling& panel, QSize size) {
    if (ScreenshotOverlayView* view = panel.overlayView()) {
        view->setGeometry(QRect(QPoint(0, 0), size));
        view->setMinimumDisplayDuration(minimumDisplayDuration_);
        return view;
    }
    auto view = std::make_unique<ScreenshotOverlayView>(size, dependencies_.clock);
    view->setMinimumDisplayDuration(minimumDisplayDuration_);
    const auto weak = lifetime_.weak();
    view->onDismiss = [weak] {
        if (auto* self = weak.get()) {
            self->attemptClear(true);
        }
    };
    view->onTranslationBadgePressed = [weak](QWidget* anchor) {
        if (auto* self = weak.get()) {
            self->showTranslationPicker(anchor);
        }
    };
    ScreenshotOverlayView* raw = view.get();
    panel.setOverlayView(std::move(view));
    return raw;
}

void DesktopScreenshotOverlayPresenter::clear(bool notify) {
    cancelScheduledDismiss();
    closeTranslationPicker();
    selectedLanguagePair_.reset();
    onTranslationRequested_ = nullptr;
    imageOverlayUp_ = false;
    removeGlobalMouseMonitor();
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->release();
    }
    if (overlayPanel_) {
        retirePanel(std::move(overlayPanel_));
    }
    appearDate_.reset();
    overlayFrame_.reset();
    if (ownerPID_) {
        activateCoveredApplication(*ownerPID_);
    }
    ownerPID_.reset();
    if (notify && onDismiss_) {
        onDismiss_();
    }
}

namespace {

// Keeps a panel taken off screen until the event loop that retired it deletes it.
class RetiredPanel final : public QObject {
public:
    explicit RetiredPanel(std::unique_ptr<OverlayPanelling> panel) : panel_(std::move(panel)) {}

private:
    std::unique_ptr<OverlayPanelling> panel_;
};

}  // namespace

void DesktopScreenshotOverlayPresenter::retirePanel(std::unique_ptr<OverlayPanelling> panel) {
    panel->orderOut();
    // A deferred deletion, not a zero timer: the clear may run inside the panel's own event
    // delivery and open a modal window there (the share question after a dismissing click),
    // whose event loop runs timers but leaves deletions posted outside it to the loop that
    // delivered the event, once that delivery is over.
    (new RetiredPanel(std::move(panel)))->deleteLater();
}

void DesktopScreenshotOverlayPresenter::activateCoveredApplication(qint32 pid) {
    // Only when we took the front (an alert of ours, say) does the covered application get it back.
    const std::optional<FrontApplication> front =
        dependencies_.frontApplication ? dependencies_.frontApplication->frontApplication() : std::nullopt;
    if (!front || front->processId != dependencies_.ownProcessId) {
        return;
    }
    if (!dependencies_.windowList) {
        return;
    }
    for (const WindowListEntry& entry : dependencies_.windowList->onScreenWindows()) {
        if (entry.ownerPID == pid && entry.windowNumber) {
            if (!frontWindowActivation_ && dependencies_.frontWindowActivation) {
                frontWindowActivation_ = dependencies_.frontWindowActivation();
            }
            if (frontWindowActivation_) {
                frontWindowActivation_->activate(*entry.windowNumber);
            }
            return;
        }
    }
}

void DesktopScreenshotOverlayPresenter::attemptClear(bool notify) {
    const auto delay = remainingDisplayTime(appearDate_, dependencies_.clock->now(), minimumDisplayDuration_);
    if (delay.count() == 0) {
        clear(notify);
        return;
    }
    if (scheduledDismissWorkItem_) {
        return;
    }
    const QUuid identifier = QUuid::createUuid();
    scheduledDismissIdentifier_ = identifier;
    const auto weak = lifetime_.weak();
    scheduledDismissWorkItem_ = dependencies_.scheduler->scheduleAfter(delay, [weak, identifier, notify] {
        auto* const self = weak.get();
        if (!self) {
            return;
        }
        DesktopScreenshotOverlayPresenter* presenter = self;
        if (presenter->scheduledDismissIdentifier_ != identifier) {
            return;
        }
        presenter->clear(notify);
    });
}

void DesktopScreenshotOverlayPresenter::cancelScheduledDismiss() {
    if (scheduledDismissWorkItem_) {
        scheduledDismissWorkItem_->cancel();
    }
    scheduledDismissWorkItem_.reset();
    scheduledDismissIdentifier_.reset();
}

TranslationPickerPanel* DesktopScreenshotOverlayPresenter::translationPickerPanel() const {
    return translationPickerPanel_.data();
}

void DesktopScreenshotOverlayPresenter::showTranslationPicker(QWidget* anchor) {
    if (!selectedLanguagePair_ || !onTranslationRequested_ || !anchor || !anchor->window()) {
        return;
    }
    closeTranslationPicker();

    const TranslationLanguagePair initial =
        initialTranslationPickerPair(*selectedLanguagePair_, onlineFeaturesEnabled_);
    const auto weak = lifetime_.weak();
    TranslationPickerView::Callbacks callbacks;
    callbacks.onCancel = [weak] {
        if (auto* self = weak.get()) {
            self->closeTranslationPicker();
        }
    };
    callbacks.onApply = [weak](TranslationLanguagePair pair) {
        auto* const self = weak.get();
        if (!self) {
            return;
        }
        DesktopScreenshotOverlayPresenter* presenter = self;
        presenter->closeTranslationPicker();
        presenter->selectedLanguagePair_ = pair;
        if (auto requested = presenter->onTranslationRequested_) {
            requested(pair);
        }
    };
    callbacks.onOpenTranslationSetup = openTranslationSetup_;
    auto* view =
        new TranslationPickerView(initial, translationSetupSupport_, onlineFeaturesEnabled_, std::move(callbacks));
    auto* panel = new TranslationPickerPanel(view);

    const QRect anchorRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    std::vector<PickerScreen> screens;
    for (QScreen* screen : QGuiApplication::screens()) {
        screens.push_back({screen->geometry(), screen->availableGeometry()});
    }
    std::optional<QRect> primary;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        primary = screen->availableGeometry();
    }
    const auto place = [panel, view, anchorRect, screens, primary] {
        const int width = static_cast<int>(TranslationPickerPopoverGeometry::width);
        const int contentHeight =
            static_cast<int>(TranslationPickerPopoverGeometry::arrowHeight) + view->heightForWidth(width);
        panel->setGeometry(translationPickerFrame(anchorRect, contentHeight, screens, primary));
    };
    place();
    // A setup notice that arrives later needs more room than the panel opened with: the panel
    // grows (and shrinks again) by the same placement rules, rather than squeezing the notice
    // and its button out of sight.
    view->onContentChanged = place;
    translationPickerPanel_ = panel;

    // The menus and Return/Escape need the focus, and a menu's popup takes a grab of its own:
    // the overlay lets go of the keyboard while the picker is open.
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->release();
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
    view->sourceMenu()->setFocus(Qt::PopupFocusReason);
}

void DesktopScreenshotOverlayPresenter::closeTranslationPicker() {
    TranslationPickerPanel* panel = translationPickerPanel_.data();
    if (!panel) {
        return;
    }
    translationPickerPanel_.clear();
    panel->hide();
    panel->deleteLater();
    if (overlayPanel_ && !overlayPanel_->isPassive()) {
        if (ScreenshotOverlayView* view = overlayPanel_->overlayView()) {
            view->setFocus(Qt::OtherFocusReason);
        }
        if (dependencies_.keyboardGrab) {
            dependencies_.keyboardGrab->grab(overlayPanel_->nativeWindow());
        }
    }
}

void DesktopScreenshotOverlayPresenter::removeGlobalMouseMonitor() {
    globalMouseMonitor_.reset();
}

void DesktopScreenshotOverlayPresenter::installGlobalMouseMonitor() {
    removeGlobalMouseMonitor();
    if (!dependencies_.mouseMonitoring) {
        return;
    }
    const auto weak = lifetime_.weak();
    globalMouseMonitor_ = dependencies_.mouseMonitoring->addMouseDownMonitor([weak] {
        if (auto* self = weak.get()) {
            self->attemptClear(true);
        }
    });
}

}  // namespace tavrolin
