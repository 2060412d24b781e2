#pragma once

#include "core/lifetime_token.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/overlay_window_hints.h"
#include "selection_popup/selection_popup_geometry.h"
#include "selection_popup/selection_popup_mode.h"

#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

class ScheduledCall;
class Scheduler;

// What the floating windows need from the desktop: timers, the raw input and active-window
// monitors (absent: the windows lack those ways of closing), the pointer, the screens and the
// window-manager hints of the windows.
struct FloatingWindowEnvironment {
    std::shared_ptr<Scheduler> scheduler;
    std::shared_ptr<GlobalInputMonitoring> monitoring;
    std::function<QPointF()> pointerPosition;
    std::function<std::vector<selection_popup_geometry::ScreenArea>()> screens;
    OverlayWindowMarking markAsOverlayWindow;

    // Qt timers, QCursor and QGuiApplication's screens, with the desktop's monitors and hints.
    static FloatingWindowEnvironment system(std::shared_ptr<GlobalInputMonitoring> monitoring,
                                            OverlayWindowMarking markAsOverlayWindow);
};

// The dismiss monitors every floating window shares: a raw button press outside our windows,
// Escape, or the active window passing to another process closes it. Handlers run later on the
// main thread, never inside the monitor's own call.
class FloatingDismissMonitors {
public:
    FloatingDismissMonitors() = default;
    ~FloatingDismissMonitors();
    void install(GlobalInputMonitoring* monitoring, std::function<void()> dismiss);
    void remove();
    bool installed() const { return raw_ || active_; }

private:
    std::unique_ptr<GlobalMouseMonitor> raw_;
    std::unique_ptr<GlobalMouseMonitor> active_;
    LifetimeToken<FloatingDismissMonitors> lifetime_{this};
};

// A frameless window that never takes the focus, stays above others, and is kept out of the
// taskbar and pager on every desktop (through `markAsOverlayWindow`).
QWidget* makeFloatingWindow(bool transparentForInput, const OverlayWindowMarking& markAsOverlayWindow);

// A row of square buttons (flip, edit, translate, as the mode offers them) beside a fresh
// selection in another application. It never activates this application, so the selection stays
// where the workflows read it.
class SelectionFloatingButtonPanel {
public:
    static constexpr double defaultAutoDismissDelay = 5.0;

    SelectionFloatingButtonPanel(FloatingWindowEnvironment environment, std::function<void()> onTranslate,
                                 std::function<void()> onFlip, std::function<void()> onEdit);
    ~SelectionFloatingButtonPanel();
    SelectionFloatingButtonPanel(const SelectionFloatingButtonPanel&) = delete;
    SelectionFloatingButtonPanel& operator=(const SelectionFloatingButtonPanel&) = delete;

    // Shows the row for a fresh selection whose bounds are `anchor` (none: by the pointer).
    // Begins with dismiss().
    void show(const std::optional<QRectF>& anchor, const SelectionPopupMode& mode);
    // Closes the row and its tooltip, removes the monitors, stops the timer, then calls onDismiss
    // (also when nothing was shown).
    void dismiss();

    void setOnDismiss(std::function<void()> onDismiss) { onDismiss_ = std::move(onDismiss); }
    // Seconds until a shown row closes by itself; read when a row is shown.
    double autoDismissDelay() const { return autoDismissDelay_; }
    void setAutoDismissDelay(double seconds) { autoDismissDelay_ = seconds; }

    // The row's window while shown, else null.
    QWidget* panel() const { return panel_; }
    QWidget* tooltipPanel() const { return tooltipPanel_; }
    // The tooltip above the row; nothing while no row is shown. Empty text hides it.
    void showTooltip(const QString& text);
    void hideTooltip();

private:
    void installDismissMonitors();
    void scheduleAutoDismiss();
    void runAction(const std::function<void()>& action);

    FloatingWindowEnvironment environment_;
    std::function<void()> onTranslate_;
    std::function<void()> onFlip_;
    std::function<void()> onEdit_;
    std::function<void()> onDismiss_;
    double autoDismissDelay_ = defaultAutoDismissDelay;
    QPointer<QWidget> panel_;
    QPointer<QWidget> tooltipPanel_;
    FloatingDismissMonitors monitors_;
    std::unique_ptr<ScheduledCall> autoDismissTask_;
    LifetimeToken<SelectionFloatingButtonPanel> lifetime_{this};
};

}  // namespace tavrolin
