#pragma once

#include "commands/command_host.h"
#include "core/lifetime_token.h"
#include "window_translation/translation_preview_state.h"

#include <QCoroTask>
#include <QImage>
#include <QRectF>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

namespace tavrolin {

struct CaptureResult;
class ScreenshotController;

// The window-translation overlay on screen.
struct OverlayTranslationContext {
    QUuid sessionID;
    QImage originalImage;
    QImage currentImage;
    QRectF windowBounds;
    std::optional<qint32> ownerPID;
    TranslationPreviewState translationState;
    std::optional<QUuid> retranslationRequestID;

    // Whether a re-translation result still belongs to what is on screen.
    bool matchesRetranslationRequest(const QUuid& sessionID, const QUuid& requestID) const {
        return this->sessionID == sessionID && retranslationRequestID && *retranslationRequestID == requestID;
    }
};

// The overlay on screen (or about to be) and the re-translation it waits for.
class OverlayTranslationState {
public:
    const std::optional<OverlayTranslationContext>& context() const { return overlay_; }
    void setContext(std::optional<OverlayTranslationContext> context) { overlay_ = std::move(context); }
    // Marks the overlay on screen as waiting for a new request; none when no overlay is on screen.
    std::optional<QUuid> beginRetranslation();
    // The overlay on screen while it still waits for that request, else null.
    OverlayTranslationContext* retranslationTarget(const QUuid& sessionID, const QUuid& requestID);

    // How many translated images have been put on screen: tells whether a newer one came while an
    // alert of an older overlay was open.
    std::uint64_t presented() const { return presented_; }
    void countPresented() { ++presented_; }

private:
    std::optional<OverlayTranslationContext> overlay_;
    std::uint64_t presented_ = 0;
};

// Translate over a window: guards, capture with its display fallback, the overlay and its
// re-translation with another pair, usage events and the alerts of the failures.
class WindowTranslationCommand final {
public:
    WindowTranslationCommand(CommandHost& host, std::function<ScreenshotController*()> controller)
        : host_(host), controller_(std::move(controller)) {}
    WindowTranslationCommand(const WindowTranslationCommand&) = delete;
    WindowTranslationCommand& operator=(const WindowTranslationCommand&) = delete;

    // Captures the front window, translates it and shows the overlay over it; a failure ends in
    // a usage event and, by the error, an alert. The shortcut's name goes into the screen-capture
    // alert. Returns at once.
    void start(const QString& shortcutDisplayName, TelemetryTrigger trigger);
    // Translates the overlay's captured window again with another pair (the picker's Apply),
    // showing the loading card in the overlay meanwhile. Only the newest request for the overlay
    // still on screen is applied; a failure puts the previous image back.
    void retranslate(TranslationLanguagePair pair);

    OverlayTranslationState& overlay() { return overlay_; }
    const OverlayTranslationState& overlay() const { return overlay_; }

private:
    QCoro::Task<void> runCapture(QString shortcutDisplayName, TelemetryTrigger trigger,
                                 TelemetryEventReporter::Context context, TranslationLanguagePair pair);
    void showCaptureResult(const CaptureResult& result, TelemetryTrigger trigger,
                           const TelemetryEventReporter::Context& context);
    // Shows the context's image over its window. False when its bounds lie on no display and
    // nothing was shown.
    bool presentOverlay(const OverlayTranslationContext& context);
    QCoro::Task<void> runRetranslation(TranslationLanguagePair pair, QUuid sessionID, QUuid requestID,
                                       OverlayTranslationContext fallback, TelemetryEventReporter::Context context);
    // The alert of a failed re-translation; retry runs it again.
    void handleOverlayTranslationError(const CaptureWorkflowError& error, std::function<void()> retry);
    void handleCaptureFailure(std::exception_ptr error, const QString& shortcutDisplayName, TelemetryTrigger trigger,
                              const TelemetryEventReporter::Context& context);

    CommandHost& host_;
    std::function<ScreenshotController*()> controller_;
    OverlayTranslationState overlay_;
    LifetimeToken<WindowTranslationCommand> lifetime_{this};
};

}  // namespace tavrolin
