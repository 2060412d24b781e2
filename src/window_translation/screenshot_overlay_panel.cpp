#include "window_translation/screenshot_overlay_panel.h"

#include "window_translation/screenshot_overlay_view.h"

#include <QWindow>

namespace tavrolin {

ScreenshotOverlayPanel::ScreenshotOverlayPanel(const OverlayWindowMarking& markAsOverlayWindow)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    // The native window exists from here on, so that its hints are in place before it is mapped
    // and click-through can be switched on the window itself (changing the widget's flags would
    // re-create it).
    create();
    if (markAsOverlayWindow) {
        markAsOverlayWindow(winId());
    }
    applyPassive();
}

ScreenshotOverlayPanel::~ScreenshotOverlayPanel() = default;

void ScreenshotOverlayPanel::setFrame(const QRectF& frame) {
    setGeometry(frame.toAlignedRect());
    if (view_) {
        view_->setGeometry(rect());
    }
}

void ScreenshotOverlayPanel::setPassive(bool passive) {
    passive_ = passive;
    applyPassive();
}

void ScreenshotOverlayPanel::applyPassive() {
    if (QWindow* window = windowHandle()) {
        window->setFlag(Qt::WindowTransparentForInput, passive_);
    }
}

void ScreenshotOverlayPanel::setOverlayView(std::unique_ptr<ScreenshotOverlayView> view) {
    delete view_;
    view_ = view.release();
    if (view_) {
        view_->setParent(this);
        view_->setGeometry(rect());
        view_->show();
    }
}

void ScreenshotOverlayPanel::orderFront() {
    show();
    raise();
    applyPassive();
}

void ScreenshotOverlayPanel::orderOut() {
    hide();
}

quint64 ScreenshotOverlayPanel::nativeWindow() {
    return winId();
}

}  // namespace tavrolin
