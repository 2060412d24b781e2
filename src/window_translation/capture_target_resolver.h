#pragma once

#include "window_translation/active_window_snapshot.h"

#include <memory>
#include <variant>

namespace tavrolin {

// What a capture aims at: the front window, or a whole display (the capture service picks it).
struct CaptureTarget {
    struct Display {
        bool operator==(const Display&) const = default;
    };

    static CaptureTarget window(ActiveWindowSnapshot snapshot) { return CaptureTarget{std::move(snapshot)}; }
    static CaptureTarget display() { return CaptureTarget{Display{}}; }

    bool isDisplay() const { return std::holds_alternative<Display>(value); }
    // The window of a window target; null for a display target.
    const ActiveWindowSnapshot* windowSnapshot() const { return std::get_if<ActiveWindowSnapshot>(&value); }

    std::variant<ActiveWindowSnapshot, Display> value;

    bool operator==(const CaptureTarget&) const = default;
};

// Decides whether a capture aims at the front window or at the display: the display whenever
// there is no usable front window of another application.
class CaptureTargetResolver {
public:
    explicit CaptureTargetResolver(std::shared_ptr<ActiveWindowDetecting> activeWindowDetector);

    // Throws CaptureWorkflowError other than the "no front window" cases.
    CaptureTarget resolve() const;

    const std::shared_ptr<ActiveWindowDetecting>& activeWindowDetector() const { return activeWindowDetector_; }

private:
    std::shared_ptr<ActiveWindowDetecting> activeWindowDetector_;
};

}  // namespace tavrolin
