#pragma once

#include "core/lifetime_token.h"
#include "selection_popup/selection_popup_seams.h"
#include "selection_popup/selection_translation_panel.h"
#include "selection_popup/selection_translation_popup_frame_resolver.h"

#include <QDateTime>
#include <QObject>
#include <QUuid>

#include <memory>
#include <optional>

namespace tavrolin {

class ActiveWindowDetecting;
class Clock;
class GlobalMouseMonitor;
class GlobalMouseMonitoring;
class KeyboardGrabbing;
class ScheduledCall;
class Scheduler;

// The result popup of a selection translation and the "Nothing selected" notice. At most one is
// on screen. The result popup hears the next key (through a keyboard grab, so the application
// beneath stays active and never gets the key) or click, in it or anywhere else, and closes then,
// but not before its minimum display time; an earlier request is deferred to the end of that
// time. The notice lets clicks through and fades out after a second.
class DesktopSelectionTranslationPopupPresenter final : public SelectionTranslationPopupPresenter {
public:
    struct Dependencies {
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Scheduler> scheduler;
        std::shared_ptr<GlobalMouseMonitoring> mouseMonitoring;
        std::shared_ptr<KeyboardGrabbing> keyboardGrab;
        OverlayWindowMarking markAsOverlayWindow;
    };

    // The system clock and Qt timers, with the desktop's mouse monitor, keyboard grab and window
    // hints. Opens no window.
    static Dependencies systemDependencies(std::shared_ptr<GlobalMouseMonitoring> mouseMonitoring,
                                           std::shared_ptr<KeyboardGrabbing> keyboardGrab,
                                           OverlayWindowMarking markAsOverlayWindow);

    DesktopSelectionTranslationPopupPresenter(std::shared_ptr<ActiveWindowDetecting> activeWindowDetector,
                                              SelectionTranslationPopupFrameResolver frameResolver,
                                              Dependencies dependencies);
    ~DesktopSelectionTranslationPopupPresenter() override;

    double minimumDisplayDuration() const override { return minimumDisplayDuration_; }
    void setMinimumDisplayDuration(double seconds) override;
    void setOnDismiss(std::function<void()> onDismiss) override { onDismiss_ = std::move(onDismiss); }
    void present(const SelectionTranslationResult& result, const std::optional<QRectF>& fallbackWindowFrame) override;
    void presentNothingSelected(const std::optional<QRectF>& fallbackWindowFrame) override;

    // Closes the popup now, or at the end of its minimum display time.
    void attemptDismiss(bool notify);
    void clear(bool notify);

    // The popup's content for a result: the pair, the translation, the original unless equal.
    static SelectionTranslationPopupContent content(const SelectionTranslationResult& result);
    // The popup's width for a content within the largest allowed width.
    static double popupWidth(const SelectionTranslationPopupContent& content, double maximumWidth);

    // State for tests.
    SelectionTranslationPanel* panel() const { return panel_.get(); }
    std::optional<QDateTime> appearDate() const { return appearDate_; }
    bool hasScheduledDismiss() const { return scheduledDismissWorkItem_ != nullptr; }
    bool hasGlobalMouseMonitor() const { return globalMouseMonitor_ != nullptr; }
    const SelectionTranslationPopupFrameResolver& frameResolver() const { return frameResolver_; }

private:
    struct LaterDeleter {
        void operator()(QObject* object) const;
    };

    void showPanel(const SelectionTranslationPopupContent& content, const std::optional<QRectF>& fallbackWindowFrame,
                   const std::optional<QRectF>& screenHintFrame, bool interactive);
    void cancelScheduledDismiss();
    void removeGlobalMouseMonitor();
    void dismissWithFade();

    std::function<void()> onDismiss_;
    double minimumDisplayDuration_ = 1.5;
    std::optional<QDateTime> appearDate_;
    std::unique_ptr<ScheduledCall> scheduledDismissWorkItem_;
    std::shared_ptr<ActiveWindowDetecting> activeWindowDetector_;
    SelectionTranslationPopupFrameResolver frameResolver_;
    std::unique_ptr<SelectionTranslationPanel, LaterDeleter> panel_;
    std::unique_ptr<ScheduledCall> autoDismissTask_;
    std::unique_ptr<GlobalMouseMonitor> globalMouseMonitor_;
    std::optional<QUuid> scheduledDismissIdentifier_;
    std::unique_ptr<ScheduledCall> fadeCompletion_;

    Dependencies dependencies_;
    // Callbacks held by the panel, the monitor and the timers check this before touching us.
    LifetimeToken<DesktopSelectionTranslationPopupPresenter> lifetime_{this};
};

}  // namespace tavrolin
