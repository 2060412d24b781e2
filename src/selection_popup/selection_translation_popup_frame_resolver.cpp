#include "selection_popup/selection_translation_popup_frame_resolver.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

constexpr double margin = 8;

bool isFiniteRect(const QRectF& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

// The centre lies inside when it is on the left or top edge, not on the right or bottom one,
// so a point on the border of two screens belongs to exactly one.
bool containsPoint(const QRectF& r, const QPointF& p) {
    return p.x() >= r.left() && p.x() < r.right() && p.y() >= r.top() && p.y() < r.bottom();
}

double overlapArea(const QRectF& a, const QRectF& b) {
    const double w = std::min(a.right(), b.right()) - std::max(a.left(), b.left());
    const double h = std::min(a.bottom(), b.bottom()) - std::max(a.top(), b.top());
    return w > 0 && h > 0 ? w * h : 0;
}

// Mirrors a rectangle across the x axis. The placement rules are stated with y growing
// upwards (bottom edge at minY); applying them to a mirrored rectangle and mirroring the result
// back keeps their meaning on a screen whose y grows downwards.
QRectF mirroredVertically(const QRectF& r) {
    return QRectF(r.x(), -r.y() - r.height(), r.width(), r.height());
}

// One axis of the centring: lo and hi are the smallest and largest allowed start.
double centredStart(double anchorMid, double length, double areaMin, double areaMax) {
    const double lo = areaMin + margin;
    const double hi = areaMax - length - margin;
    if (lo > hi) {
        return lo;
    }
    return std::clamp(std::round(anchorMid - length / 2), lo, hi);
}

}  // namespace

SelectionTranslationPopupFrameResolver::ScreenLayout SelectionTranslationPopupFrameResolver::currentScreenLayout()
    const {
    ScreenLayout layout;
    if (fixedFallbackVisibleFrame) {
        layout.fallbackVisibleFrame = *fixedFallbackVisibleFrame;
    } else if (QScreen* primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr) {
        layout.fallbackVisibleFrame = QRectF(primary->availableGeometry());
    } else {
        layout.fallbackVisibleFrame = QRectF(0, 0, 1024, 768);
    }
    if (fixedVisibleFrames) {
        layout.visibleFrames = *fixedVisibleFrames;
    } else if (qGuiApp) {
        for (QScreen* screen : QGuiApplication::screens()) {
            layout.visibleFrames.push_back(QRectF(screen->availableGeometry()));
        }
    }
    if (layout.visibleFrames.empty()) {
        layout.visibleFrames.push_back(layout.fallbackVisibleFrame);
    }
    layout.displays = fixedDisplays ? *fixedDisplays : WindowFrameConverter::currentDisplays();
    return layout;
}

std::optional<QRectF> SelectionTranslationPopupFrameResolver::appKitFrame(
    const std::optional<QRectF>& frame, const std::vector<WindowFrameConverter::DisplayLayout>& displays) {
    if (!frame || !isFiniteRect(*frame) || frame->width() <= 0 || frame->height() <= 0) {
        return std::nullopt;
    }
    return WindowFrameConverter::appKitFrame(*frame, displays);
}

QRectF SelectionTranslationPopupFrameResolver::visibleFrame(const QRectF& frame, const ScreenLayout& layout) {
    const QPointF centre = frame.center();
    for (const QRectF& candidate : layout.visibleFrames) {
        if (containsPoint(candidate, centre)) {
            return candidate;
        }
    }
    const QRectF* best = nullptr;
    double bestArea = 0;
    for (const QRectF& candidate : layout.visibleFrames) {
        const double area = overlapArea(candidate, frame);
        if (!best || area > bestArea) {
            best = &candidate;
            bestArea = area;
        }
    }
    return best ? *best : layout.fallbackVisibleFrame;
}

SelectionTranslationPopupFrameResolver::Anchor SelectionTranslationPopupFrameResolver::anchor(
    const std::optional<QRectF>& fallbackWindowFrame, const std::optional<QRectF>& detectedActiveWindowFrame,
    const std::optional<QRectF>& screenHintFrame, const ScreenLayout& layout) {
    for (const auto* window : {&fallbackWindowFrame, &detectedActiveWindowFrame}) {
        if (const std::optional<QRectF> frame = appKitFrame(*window, layout.displays)) {
            return Anchor{*frame, visibleFrame(*frame, layout)};
        }
    }
    if (const std::optional<QRectF> hint = appKitFrame(screenHintFrame, layout.displays)) {
        const QRectF area = visibleFrame(*hint, layout);
        return Anchor{area, area};
    }
    return Anchor{layout.fallbackVisibleFrame, layout.fallbackVisibleFrame};
}

QSizeF SelectionTranslationPopupFrameResolver::maximumPopupSize(const std::optional<QRectF>& fallbackWindowFrame,
                                                                const std::optional<QRectF>& detectedActiveWindowFrame,
                                                                const std::optional<QRectF>& screenHintFrame) const {
    const QRectF area =
        anchor(fallbackWindowFrame, detectedActiveWindowFrame, screenHintFrame, currentScreenLayout()).visibleFrame;
    return QSizeF(std::max(area.width() - 2 * margin, 0.0), std::max(area.height() - 2 * margin, 0.0));
}

QRectF SelectionTranslationPopupFrameResolver::centeredIn(const QRectF& anchorFrame, const QRectF& visibleFrame,
                                                          const QSizeF& size) {
    const QRectF a = mirroredVertically(anchorFrame);
    const QRectF v = mirroredVertically(visibleFrame);
    const double x = centredStart(a.center().x(), size.width(), v.left(), v.right());
    const double y = centredStart(a.center().y(), size.height(), v.top(), v.bottom());
    return mirroredVertically(QRectF(x, y, size.width(), size.height()));
}

}  // namespace tavrolin
