#pragma once

#include <optional>

namespace tavrolin {

// The desktop's switch that tells applications to publish their accessibility trees.
// Toolkits that build their tree only on demand (Qt, Chromium) watch it.
class AccessibilityBusStatus {
public:
    virtual ~AccessibilityBusStatus() = default;
    // Absent when the accessibility bus cannot be reached.
    virtual std::optional<bool> isEnabled() = 0;
    // Answers whether the switch now stands as asked.
    virtual bool setEnabled(bool enabled) = 0;
};

}  // namespace tavrolin
