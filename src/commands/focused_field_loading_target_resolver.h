#pragma once

#include "window_translation/active_window_snapshot.h"

#include <QRectF>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Where the loading card of a focused-field command goes.
struct FocusedFieldLoadingTarget {
    QRectF bounds;
    std::optional<std::int32_t> ownerPID;

    bool operator==(const FocusedFieldLoadingTarget&) const = default;
};

// Picks the rectangle the loading card covers while a command works on the focused field: the
// front window, else the field itself once it is known, else the primary screen.
class FocusedFieldLoadingTargetResolver {
public:
    // The primary screen's rectangle; an empty one means there is no screen to cover.
    using MainDisplayBounds = std::function<QRectF()>;

    // Without `mainDisplayBounds`, the application's primary screen.
    explicit FocusedFieldLoadingTargetResolver(std::shared_ptr<ActiveWindowDetecting> activeWindowDetector,
                                               MainDisplayBounds mainDisplayBounds = {});

    // The front window's bounds with its process (used as they are, even empty); when no front
    // window is found, the field's frame, then the primary screen, both without a process.
    // None only when all of these are missing.
    std::optional<FocusedFieldLoadingTarget> resolve(const std::optional<QRectF>& fieldScreenFrame) const;

    const std::shared_ptr<ActiveWindowDetecting>& activeWindowDetector() const { return activeWindowDetector_; }

private:
    std::shared_ptr<ActiveWindowDetecting> activeWindowDetector_;
    MainDisplayBounds mainDisplayBounds_;
};

}  // namespace tavrolin
