#pragma once

#include "core/lifetime_token.h"
#include "platform/clock.h"
#include "platform/compositing_manager.h"
#include "platform/overlay_window_hints.h"
#include "window_translation/screenshot_overlay_presenter.h"
#include "window_translation/window_frame_converter.h"

#include <QDateTime>
#include <QPointer>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

class Clock;
class FrontApplicationProviding;
class FrontWindowActivating;
class GlobalMouseMonitor;
class GlobalMouseMonitoring;
class KeyboardGrabbing;
class OverlayPanelling;
class ScheduledCall;
class Scheduler;
class ScreenshotOverlayView;
class TranslationPickerPanel;
class WindowListProviding;
struct TranslationSetupSupport;

// The overlay on screen: one panel over a window of another application holding either the
// loading card or the translated picture, and the rules that dismiss it (a minimum display
// time, a key or a click on the overlay, a click anywhere else). The panel carries over from a
// loading card to the image that follows it; every new loading card starts with a new panel.
class DesktopScreenshotOverlayPresenter final : public ScreenshotOverlayPresenter {
public:
    struct Dependencies {
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Scheduler> scheduler;
        std::function<std::unique_ptr<OverlayPanelling>()> makePanel;
        std::function<std::vector<WindowFrameConverter::DisplayLayout>()> displays;
        std::shared_ptr<GlobalMouseMonitoring> mouseMonitoring;
        std::shared_ptr<KeyboardGrabbing> keyboardGrab;
        std::shared_ptr<FrontApplicationProviding> frontApplication;
        std::shared_ptr<WindowListProviding> windowList;
        // Built when first needed.
        std::function<std::shared_ptr<FrontWindowActivating>()> frontWindowActivation;
        qint64 ownProcessId = 0;
        // Whether a compositing manager draws the desktop, asked with each card; none: the card's
        // panel covers the window as with one.
        std::shared_ptr<CompositingManagerDetecting> compositing;
    };

    // What the overlay takes from the desktop's back end; the window activation is made when
    // first needed.
    struct Desktop {
        OverlayWindowMarking markAsOverlayWindow;
        std::shared_ptr<GlobalMouseMonitoring> mouseMonitoring;
        std::shared_ptr<KeyboardGrabbing> keyboardGrab;
        std::shared_ptr<FrontApplicationProviding> frontApplication;
        std::shared_ptr<WindowListProviding> windowList;
        std::function<std::shared_ptr<FrontWindowActivating>()> frontWindowActivation;
        std::shared_ptr<CompositingManagerDetecting> compositing;
    };
    // The system clock, Qt timers, the Qt panel (with the desktop's window hints) and the screens'
    // layout, with the rest from the desktop. Opens no window or connection.
    static Dependencies systemDependencies(Desktop desktop);

    // openTranslationSetup: what the setup notice's button does (the picker shows the notice
    // when a pair needs installing).
    DesktopScreenshotOverlayPresenter(std::shared_ptr<TranslationSetupSupport> translationSetupSupport,
                                      std::function<void()> openTranslationSetup, Dependencies dependencies);
    ~DesktopScreenshotOverlayPresenter() override;

    double minimumDisplayDuration() const override { return minimumDisplayDuration_; }
    void setMinimumDisplayDuration(double seconds) override;
    void setOnDismiss(std::function<void()> onDismiss) override { onDismiss_ = std::move(onDismiss); }
    void presentLoading(const QRectF& windowBounds, std::optional<qint32> ownerPID, const QString& message,
                        bool usesServer) override;
    void showLoading(const QString& message, bool usesServer) override;
    bool presentImage(const QImage& image, const QRectF& windowBounds, std::optional<qint32> ownerPID,
                      const QString& translationDisplayName, const TranslationLanguagePair& selectedLanguagePair,
                      bool onlineFeaturesEnabled,
                      std::function<void(TranslationLanguagePair)> onTranslationRequested) override;
    void clear(bool notify) override;
    void attemptClear(bool notify) override;
    bool hasOverlayPanel() const override { return overlayPanel_ != nullptr; }

    // State for the picker and for tests.
    OverlayPanelling* overlayPanel() const { return overlayPanel_.get(); }
    ScreenshotOverlayView* overlayView() const;
    std::optional<QDateTime> appearDate() const { return appearDate_; }
    std::optional<TranslationLanguagePair> selectedLanguagePair() const { return selectedLanguagePair_; }
    bool onlineFeaturesEnabled() const { return onlineFeaturesEnabled_; }
    bool hasGlobalMouseMonitor() const { return globalMouseMonitor_ != nullptr; }
    bool hasScheduledDismiss() const { return scheduledDismissWorkItem_ != nullptr; }
    std::optional<qint32> ownerPID() const { return ownerPID_; }
    const std::shared_ptr<TranslationSetupSupport>& translationSetupSupport() const { return translationSetupSupport_; }
    TranslationPickerPanel* translationPickerPanel() const;

    // Opens the language picker under the badge (the anchor), closing one already open. Nothing
    // without an image's pair and callback, or when the anchor is in no window.
    void showTranslationPicker(QWidget* anchor);
    // Closes the picker, if one is open; an interactive overlay hears the keyboard again.
    void closeTranslationPicker();

private:
    std::optional<QRectF> panelFrame(const QRectF& windowBounds) const;
    std::unique_ptr<OverlayPanelling> makePanel(const QRectF& frame);
    ScreenshotOverlayView* makeOverlayView(OverlayPanelling& panel, QSize size);
    // Lays the loading card out over the window's frame; without a compositing manager the
    // panel then shrinks to the card itself.
    void showCard(OverlayPanelling& panel, const QRectF& frame, const QString& message, bool usesServer);
    void makePassive(OverlayPanelling& panel);
    void cancelScheduledDismiss();
    void removeGlobalMouseMonitor();
    void installGlobalMouseMonitor();
    void activateCoveredApplication(qint32 pid);
    // Hides the panel now and deletes it once control is back in the event loop that delivered
    // the event being handled (a click or key on the overlay clears it from inside the panel's
    // own event delivery, which must not find its window gone on return).
    void retirePanel(std::unique_ptr<OverlayPanelling> panel);

    std::function<void()> onDismiss_;
    double minimumDisplayDuration_ = 1.5;
    std::optional<QDateTime> appearDate_;
    std::unique_ptr<ScheduledCall> scheduledDismissWorkItem_;
    std::shared_ptr<TranslationSetupSupport> translationSetupSupport_;
    std::function<void()> openTranslationSetup_;
    // Deleted later: the picker closes from inside its own button handlers.
    QPointer<TranslationPickerPanel> translationPickerPanel_;
    std::unique_ptr<OverlayPanelling> overlayPanel_;
    std::optional<TranslationLanguagePair> selectedLanguagePair_;
    std::function<void(TranslationLanguagePair)> onTranslationRequested_;
    // Set with the first image of an overlay, kept through its re-translations.
    bool imageOverlayUp_ = false;
    bool onlineFeaturesEnabled_ = true;
    std::unique_ptr<GlobalMouseMonitor> globalMouseMonitor_;
    std::optional<qint32> ownerPID_;
    // The frame of the window the panel lies over (panel coordinates), while one is on screen.
    std::optional<QRectF> overlayFrame_;
    std::optional<QUuid> scheduledDismissIdentifier_;

    Dependencies dependencies_;
    std::shared_ptr<FrontWindowActivating> frontWindowActivation_;
    // Callbacks held by the view, the monitor and the scheduler check this before touching us.
    LifetimeToken<DesktopScreenshotOverlayPresenter> lifetime_{this};
};

}  // namespace tavrolin
