#pragma once

#include "platform/front_application.h"
#include "platform/window_list.h"
#include "window_translation/active_window_snapshot.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// Finds the front application's main window in the desktop's window list, together with the
// windows of the same application stacked directly on it. Holds only its platform handles, so
// instances are interchangeable and may be shared.
class ActiveWindowDetector final : public ActiveWindowDetecting {
public:
    // Area growth below which the union of related windows is not worth using.
    static constexpr double minimumUnionGrowth = 1.03;
    // How far apart (vertically) a related window may sit from the union.
    static constexpr double maximumRelatedGap = 8;
    // The share of the narrower width two related windows must overlap horizontally.
    static constexpr double minimumHorizontalOverlapRatio = 0.6;

    ActiveWindowDetector(std::shared_ptr<FrontApplicationProviding> frontApplication,
                         std::shared_ptr<WindowListProviding> windowList, std::int32_t ownProcessID);

    ActiveWindowSnapshot detectActiveWindow() override;

    // Whether a listed window may stand for the application with this process id.
    static bool matchesFrontmostApplication(std::int32_t processID, const WindowListEntry& window);
    // None when the entry lacks an id, owner, name or usable bounds (wider and taller than 1).
    static std::optional<ActiveWindowSnapshot> makeSnapshot(const WindowListEntry& window);
    // The largest candidate; the first listed (front-most) wins ties. None for an empty list.
    static std::optional<ActiveWindowSnapshot> mainWindow(const std::vector<ActiveWindowSnapshot>& candidates);
    // Grows `bounds` by every candidate above or below it (touching, overlapping or within
    // maximumRelatedGap) that overlaps it horizontally enough, until nothing more joins.
    static QRectF unionOfRelatedWindowBounds(const QRectF& bounds, const std::vector<ActiveWindowSnapshot>& candidates);
    // The union when it is clearly larger than the main window and still holds it; otherwise
    // the main window's own bounds.
    static QRectF resultBounds(const QRectF& mainBounds, const QRectF& unionBounds);

private:
    std::shared_ptr<FrontApplicationProviding> frontApplication_;
    std::shared_ptr<WindowListProviding> windowList_;
    std::int32_t ownProcessID_;
};

}  // namespace tavrolin
