#pragma once

#include "platform/overlay_window_hints.h"

#include <QRectF>
#include <QWidget>

#include <memory>

namespace tavrolin {

class ScreenshotOverlayView;

// The window the overlay lies in: frameless, above other windows, never activated, exactly over
// a window of another application.
class OverlayPanelling {
public:
    virtual ~OverlayPanelling() = default;
    // Panel coordinates (Qt screen geometry).
    virtual void setFrame(const QRectF& frame) = 0;
    // A passive panel lets every click through to the window below; an interactive one takes
    // the mouse itself.
    virtual void setPassive(bool passive) = 0;
    virtual bool isPassive() const = 0;
    virtual ScreenshotOverlayView* overlayView() const = 0;
    // The panel's content, filling it; the panel owns it.
    virtual void setOverlayView(std::unique_ptr<ScreenshotOverlayView> view) = 0;
    // Shows the panel above the other windows without activating it.
    virtual void orderFront() = 0;
    virtual void orderOut() = 0;
    // The native window, for the keyboard grab.
    virtual quint64 nativeWindow() = 0;
};

// The Qt panel on an X11 desktop.
class ScreenshotOverlayPanel final : public QWidget, public OverlayPanelling {
    Q_OBJECT

public:
    explicit ScreenshotOverlayPanel(const OverlayWindowMarking& markAsOverlayWindow);
    ~ScreenshotOverlayPanel() override;

    void setFrame(const QRectF& frame) override;
    void setPassive(bool passive) override;
    bool isPassive() const override { return passive_; }
    ScreenshotOverlayView* overlayView() const override { return view_; }
    void setOverlayView(std::unique_ptr<ScreenshotOverlayView> view) override;
    void orderFront() override;
    void orderOut() override;
    quint64 nativeWindow() override;

private:
    void applyPassive();

    bool passive_ = true;
    ScreenshotOverlayView* view_ = nullptr;
};

}  // namespace tavrolin
