#include "commands/focused_field_loading_target_resolver.h"

#include <QGuiApplication>
#include <QScreen>

namespace tavrolin {

FocusedFieldLoadingTargetResolver::FocusedFieldLoadingTargetResolver(
    std::shared_ptr<ActiveWindowDetecting> activeWindowDetector, MainDisplayBounds mainDisplayBounds)
    : activeWindowDetector_(std::move(activeWindowDetector)), mainDisplayBounds_(std::move(mainDisplayBounds)) {
    if (!mainDisplayBounds_) {
        mainDisplayBounds_ = [] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return screen ? QRectF(screen->geometry()) : QRectF();
        };
    }
}

std::optional<FocusedFieldLoadingTarget> FocusedFieldLoadingTargetResolver::resolve(
    const std::optional<QRectF>& fieldScreenFrame) const {
    if (activeWindowDetector_) {
        try {
            const ActiveWindowSnapshot window = activeWindowDetector_->detectActiveWindow();
            return FocusedFieldLoadingTarget{window.bounds, window.ownerPID};
        } catch (...) {
            // No front window is no failure: the card falls back to the field or the screen.
        }
    }
    if (fieldScreenFrame) {
        return FocusedFieldLoadingTarget{*fieldScreenFrame, std::nullopt};
    }
    const QRectF display = mainDisplayBounds_();
    if (display.isEmpty()) {
        return std::nullopt;
    }
    return FocusedFieldLoadingTarget{display, std::nullopt};
}

}  // namespace tavrolin
