#include "selection_popup/desktop_selection_translation_popup_presenter.h"

#include "core/app_language.h"
#include "platform/clock.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/keyboard_grabbing.h"
#include "window_translation/active_window_snapshot.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QPointer>
#include <QPropertyAnimation>

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

constexpr double minimumWidth = 220;
constexpr double widestWidth = 900;
constexpr double preferredWidth = 300;
constexpr double horizontalPadding = 32;
constexpr std::chrono::milliseconds noticeDuration{1000};
constexpr std::chrono::milliseconds fadeDuration{250};

const QString nothingSelected = QStringLiteral("Nothing selected");

}  // namespace

void DesktopSelectionTranslationPopupPresenter::LaterDeleter::operator()(QObject* object) const {
    // The panel may be closing from inside its own event handler.
    if (object) {
        object->deleteLater();
    }
}

DesktopSelectionTranslationPopupPresenter::Dependencies DesktopSelectionTranslationPopupPresenter::systemDependencies(
    std::shared_ptr<GlobalMouseMonitoring> mouseMonitoring, std::shared_ptr<KeyboardGrabbing> keyboardGrab,
    OverlayWindowMarking markAsOverlayWindow) {
    Dependencies d;
    d.clock = std::make_shared<SystemClock>();
    d.scheduler = std::make_shared<QtScheduler>();
    d.mouseMonitoring = std::move(mouseMonitoring);
    d.keyboardGrab = std::move(keyboardGrab);
    d.markAsOverlayWindow = std::move(markAsOverlayWindow);
    return d;
}

DesktopSelectionTranslationPopupPresenter::DesktopSelectionTranslationPopupPresenter(
    std::shared_ptr<ActiveWindowDetecting> activeWindowDetector, SelectionTranslationPopupFrameResolver frameResolver,
    Dependencies dependencies)
    : activeWindowDetector_(std::move(activeWindowDetector)),
      frameResolver_(std::move(frameResolver)),
      dependencies_(std::move(dependencies)) {}

DesktopSelectionTranslationPopupPresenter::~DesktopSelectionTranslationPopupPresenter() {
    lifetime_.end();
    fadeCompletion_.reset();
    clear(false);
}

void DesktopSelectionTranslationPopupPresenter::setMinimumDisplayDuration(double seconds) {
    minimumDisplayDuration_ = clampedDisplayDuration(seconds);
    if (panel_) {
        panel_->minimumDisplayDuration = minimumDisplayDuration_;
    }
}

SelectionTranslationPopupContent DesktopSelectionTranslationPopupPresenter::content(
    const SelectionTranslationResult& result) {
    SelectionTranslationPopupContent content;
    content.translatedText = result.translatedText;
    content.originalText = result.originalText == result.translatedText ? QString() : result.originalText;
    content.languagePair =
        displayName(result.sourceLanguage) + QStringLiteral(" \u2192 ") + displayName(result.targetLanguage);
    return content;
}

double DesktopSelectionTranslationPopupPresenter::popupWidth(const SelectionTranslationPopupContent& content,
                                                             double maximumWidth) {
    const double upper = std::max(std::min(maximumWidth, widestWidth), minimumWidth);
    const double lower = std::min(upper, preferredWidth);
    const double measured =
        std::max({SelectionTranslationPopupSizing::measuredWidth(content.translatedText,
                                                                 SelectionTranslationPopupSizing::translatedFont()),
                  SelectionTranslationPopupSizing::measuredWidth(content.originalText,
                                                                 SelectionTranslationPopupSizing::originalFont()),
                  SelectionTranslationPopupSizing::measuredWidth(
                      content.languagePair, SelectionTranslationPopupSizing::languagePairMeasuringFont())});
    return std::min(upper, std::max(lower, std::ceil(measured + horizontalPadding)));
}

void DesktopSelectionTranslationPopupPresenter::present(const SelectionTranslationResult& result,
                                                        const std::optional<QRectF>& fallbackWindowFrame) {
    clear(false);
    showPanel(content(result), fallbackWindowFrame, result.screenFrame, true);
}

void DesktopSelectionTranslationPopupPresenter::presentNothingSelected(
    const std::optional<QRectF>& fallbackWindowFrame) {
    clear(false);
    SelectionTranslationPopupContent notice;
    notice.translatedText = nothingSelected;
    showPanel(notice, fallbackWindowFrame, std::nullopt, false);
    const auto weak = lifetime_.weak();
    autoDismissTask_ = dependencies_.scheduler->scheduleAfter(noticeDuration, [weak] {
        if (auto* self = weak.get()) {
            self->dismissWithFade();
        }
    });
}

void DesktopSelectionTranslationPopupPresenter::showPanel(const SelectionTranslationPopupContent& baseContent,
                                                          const std::optional<QRectF>& fallbackWindowFrame,
                                                          const std::optional<QRectF>& screenHintFrame,
                                                          bool interactive) {
    std::optional<QRectF> detectedFrame;
    if (activeWindowDetector_) {
        try {
            detectedFrame = activeWindowDetector_->detectActiveWindow().bounds;
        } catch (...) {
            // No window in front: the popup goes by the other frames.
        }
    }
    const QSizeF maximum = frameResolver_.maximumPopupSize(fallbackWindowFrame, detectedFrame, screenHintFrame);

    SelectionTranslationPopupContent content = baseContent;
    content.width = popupWidth(content, maximum.width());
    content.maxHeight = maximum.height();
    content.scrollsVertically = false;
    auto view = std::make_unique<SelectionTranslationPopupView>(content);
    if (maximum.height() < view->fittingHeight()) {
        content.scrollsVertically = true;
        view = std::make_unique<SelectionTranslationPopupView>(content);
    }
    const QSizeF size(content.width, std::min(maximum.height(), static_cast<double>(view->fittingHeight())));

    const SelectionTranslationPopupFrameResolver::Anchor anchor = SelectionTranslationPopupFrameResolver::anchor(
        fallbackWindowFrame, detectedFrame, screenHintFrame, frameResolver_.currentScreenLayout());
    const QRectF frame = SelectionTranslationPopupFrameResolver::centeredIn(anchor.frame, anchor.visibleFrame, size);

    std::unique_ptr<SelectionTranslationPanel, LaterDeleter> panel(
        new SelectionTranslationPanel(dependencies_.clock, interactive, dependencies_.markAsOverlayWindow));
    panel->minimumDisplayDuration = minimumDisplayDuration_;
    const QDateTime now = dependencies_.clock->now();
    panel->appearDate = now;
    panel->setContentView(std::move(view), frame);

    if (interactive) {
        const auto weak = lifetime_.weak();
        const auto dismiss = [weak] {
            if (auto* self = weak.get()) {
                self->attemptDismiss(true);
            }
        };
        panel->onDismiss = dismiss;
        panel->orderFront();
        // The application beneath stays active; the popup hears the keyboard through a grab.
        if (dependencies_.keyboardGrab) {
            dependencies_.keyboardGrab->grab(panel->winId());
        }
        if (dependencies_.mouseMonitoring) {
            globalMouseMonitor_ = dependencies_.mouseMonitoring->addMouseDownMonitor(dismiss);
        }
    } else {
        panel->orderFront();
        panel->repaint();
    }
    panel_ = std::move(panel);
    appearDate_ = now;
}

void DesktopSelectionTranslationPopupPresenter::attemptDismiss(bool notify) {
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
        if (!self || self->scheduledDismissIdentifier_ != identifier) {
            return;
        }
        self->clear(notify);
    });
}

void DesktopSelectionTranslationPopupPresenter::clear(bool notify) {
    cancelScheduledDismiss();
    autoDismissTask_.reset();
    removeGlobalMouseMonitor();
    if (dependencies_.keyboardGrab) {
        dependencies_.keyboardGrab->release();
    }
    if (panel_) {
        panel_->onDismiss = nullptr;
        panel_->orderOut();
        panel_.reset();
    }
    appearDate_.reset();
    if (notify && onDismiss_) {
        onDismiss_();
    }
}

void DesktopSelectionTranslationPopupPresenter::cancelScheduledDismiss() {
    if (scheduledDismissWorkItem_) {
        scheduledDismissWorkItem_->cancel();
    }
    scheduledDismissWorkItem_.reset();
    scheduledDismissIdentifier_.reset();
}

void DesktopSelectionTranslationPopupPresenter::removeGlobalMouseMonitor() {
    globalMouseMonitor_.reset();
}

void DesktopSelectionTranslationPopupPresenter::dismissWithFade() {
    cancelScheduledDismiss();
    if (!panel_) {
        return;
    }
    const QPointer<SelectionTranslationPanel> faded(panel_.get());
    auto* animation = new QPropertyAnimation(faded.data(), "windowOpacity", faded.data());
    animation->setDuration(static_cast<int>(fadeDuration.count()));
    animation->setEndValue(0.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
    const auto weak = lifetime_.weak();
    fadeCompletion_ = dependencies_.scheduler->scheduleAfter(fadeDuration, [weak, faded] {
        auto* const self = weak.get();
        if (!self || !faded) {
            return;
        }
        faded->orderOut();
        faded->setWindowOpacity(1.0);
        DesktopSelectionTranslationPopupPresenter* presenter = self;
        // A popup presented during the fade has replaced this one and stays.
        if (presenter->panel_.get() != faded.data()) {
            return;
        }
        presenter->panel_.reset();
        presenter->appearDate_.reset();
        if (presenter->onDismiss_) {
            presenter->onDismiss_();
        }
    });
}

}  // namespace tavrolin
