#include "window_translation/active_window_detector.h"

#include "core/capture_workflow_error.h"
#include "window_translation/rect_geometry.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tavrolin {

ActiveWindowDetector::ActiveWindowDetector(std::shared_ptr<FrontApplicationProviding> frontApplication,
                                           std::shared_ptr<WindowListProviding> windowList, std::int32_t ownProcessID)
    : frontApplication_(std::move(frontApplication)), windowList_(std::move(windowList)), ownProcessID_(ownProcessID) {}

ActiveWindowSnapshot ActiveWindowDetector::detectActiveWindow() {
    const auto front = frontApplication_->frontApplication();
    // A front window that names no process cannot be matched to any window.
    if (!front || front->processId <= 0 || front->processId > INT32_MAX) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::noFrontmostApplication);
    }
    const auto frontPID = static_cast<std::int32_t>(front->processId);
    if (frontPID == ownProcessID_) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::appIsFrontmost);
    }

    std::vector<ActiveWindowSnapshot> candidates;
    for (const auto& window : windowList_->onScreenWindows()) {
        if (!matchesFrontmostApplication(frontPID, window)) {
            continue;
        }
        if (auto snapshot = makeSnapshot(window)) {
            candidates.push_back(std::move(*snapshot));
        }
    }

    auto main = mainWindow(candidates);
    if (!main) {
        const QString name = front->applicationIdentifier.value_or(QString());
        throw CaptureWorkflowError::noActiveWindowFound(name.isEmpty() ? QStringLiteral("the current app") : name);
    }
    main->bounds = resultBounds(main->bounds, unionOfRelatedWindowBounds(main->bounds, candidates));
    return *main;
}

bool ActiveWindowDetector::matchesFrontmostApplication(std::int32_t processID, const WindowListEntry& window) {
    if (!window.ownerPID || *window.ownerPID != processID) {
        return false;
    }
    if (window.isOnscreen && !*window.isOnscreen) {
        return false;
    }
    if (window.alpha && !(*window.alpha > 0)) {
        return false;
    }
    if (window.layer && *window.layer != 0) {
        return false;
    }
    return true;
}

std::optional<ActiveWindowSnapshot> ActiveWindowDetector::makeSnapshot(const WindowListEntry& window) {
    if (!window.windowNumber || !window.ownerPID || !window.ownerName || !window.bounds) {
        return std::nullopt;
    }
    const QRectF& bounds = *window.bounds;
    if (!(bounds.width() > 1) || !(bounds.height() > 1)) {
        return std::nullopt;
    }
    return ActiveWindowSnapshot{*window.windowNumber, *window.ownerPID, *window.ownerName, window.name, bounds};
}

std::optional<ActiveWindowSnapshot> ActiveWindowDetector::mainWindow(
    const std::vector<ActiveWindowSnapshot>& candidates) {
    const ActiveWindowSnapshot* best = nullptr;
    for (const auto& candidate : candidates) {
        if (!best || geometry::area(candidate.bounds) > geometry::area(best->bounds)) {
            best = &candidate;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

namespace {

bool isRelated(const QRectF& candidate, const QRectF& unionBounds) {
    const double overlap = std::max(
        0.0, std::min(candidate.right(), unionBounds.right()) - std::max(candidate.left(), unionBounds.left()));
    const double narrower = std::min(candidate.width(), unionBounds.width());
    if (overlap < ActiveWindowDetector::minimumHorizontalOverlapRatio * narrower) {
        return false;
    }
    if (geometry::intersects(candidate, unionBounds)) {
        return true;
    }
    const double gap = std::max(candidate.top() - unionBounds.bottom(), unionBounds.top() - candidate.bottom());
    return gap >= 0 && gap <= ActiveWindowDetector::maximumRelatedGap;
}

}  // namespace

QRectF ActiveWindowDetector::unionOfRelatedWindowBounds(const QRectF& bounds,
                                                        const std::vector<ActiveWindowSnapshot>& candidates) {
    QRectF unionBounds = bounds;
    bool grew = true;
    while (grew) {
        grew = false;
        for (const auto& candidate : candidates) {
            if (!isRelated(candidate.bounds, unionBounds)) {
                continue;
            }
            const QRectF next = geometry::united(unionBounds, candidate.bounds);
            if (next.left() != unionBounds.left() || next.top() != unionBounds.top() ||
                next.right() != unionBounds.right() || next.bottom() != unionBounds.bottom()) {
                unionBounds = next;
                grew = true;
            }
        }
    }
    return unionBounds;
}

QRectF ActiveWindowDetector::resultBounds(const QRectF& mainBounds, const QRectF& unionBounds) {
    const bool clearlyLarger = geometry::area(unionBounds) > minimumUnionGrowth * geometry::area(mainBounds);
    const bool holdsMain = geometry::contains(geometry::grown(unionBounds, 2), mainBounds);
    return clearlyLarger && holdsMain ? unionBounds : mainBounds;
}

}  // namespace tavrolin
