#pragma once

#include "window_translation/screenshot_overlay_panel.h"
#include "window_translation/screenshot_overlay_view.h"

#include <vector>

namespace tavrolin::test {

// A panel that records what the presenter asks of it; its content is the real view.
class FakeOverlayPanel final : public OverlayPanelling {
public:
    explicit FakeOverlayPanel(quint64 nativeId) : nativeId(nativeId) {}
    void setFrame(const QRectF& value) override { frame = value; }
    void setPassive(bool value) override { passive = value; }
    bool isPassive() const override { return passive; }
    ScreenshotOverlayView* overlayView() const override { return view.get(); }
    void setOverlayView(std::unique_ptr<ScreenshotOverlayView> value) override { view = std::move(value); }
    void orderFront() override {
        front = true;
        ++orderedFront;
    }
    void orderOut() override { front = false; }
    quint64 nativeWindow() override { return nativeId; }

    quint64 nativeId;
    QRectF frame;
    bool passive = false;
    bool front = false;
    int orderedFront = 0;
    std::unique_ptr<ScreenshotOverlayView> view;
};

}  // namespace tavrolin::test
