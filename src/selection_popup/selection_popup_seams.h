#pragma once

// The selection popup as the application shell drives it. The popup subsystem implements
// these; the shell creates them lazily through its factories and never looks inside.

#include "selection_popup/selection_translation_result.h"

#include <QRectF>

#include <functional>
#include <optional>

namespace tavrolin {

// The result popup that shows the translation of a selection.
class SelectionTranslationPopupPresenter {
public:
    virtual ~SelectionTranslationPopupPresenter() = default;
    // Seconds the popup stays on screen at least (never negative).
    virtual double minimumDisplayDuration() const = 0;
    virtual void setMinimumDisplayDuration(double seconds) = 0;
    // Called once the result popup has closed.
    virtual void setOnDismiss(std::function<void()> onDismiss) = 0;
    // Shows the translation centred on `fallbackWindowFrame` (window-list coordinates), else on
    // the window in front, else on the selected field's screen. Replaces any popup on screen.
    virtual void present(const SelectionTranslationResult& result,
                         const std::optional<QRectF>& fallbackWindowFrame) = 0;
    // A short "Nothing selected" notice that lets clicks through and fades out by itself.
    virtual void presentNothingSelected(const std::optional<QRectF>& fallbackWindowFrame) = 0;
};

// Watches for fresh selections in other applications and offers the floating buttons.
class SelectionPopupTriggerController {
public:
    virtual ~SelectionPopupTriggerController() = default;
    // Installs the global monitors; nothing when they are installed already.
    virtual void start() = 0;
    // Removes the monitors and drops pending probes.
    virtual void stop() = 0;
    // Seconds until the floating buttons go away by themselves.
    virtual void setAutoDismissDelay(double seconds) = 0;
};

}  // namespace tavrolin
