#pragma once

#include <QCoroTask>

#include <optional>

namespace tavrolin {

// The desktop's switch that tells applications to publish their accessibility trees.
// Toolkits that build their tree only on demand (Qt, Chromium) watch it. Another process
// answers, so both calls are awaited and bounded by the implementation.
class AccessibilityBusStatus {
public:
    virtual ~AccessibilityBusStatus() = default;
    // Absent when the accessibility bus cannot be reached (or did not answer in time).
    virtual QCoro::Task<std::optional<bool>> isEnabled() = 0;
    // Answers whether the switch now stands as asked.
    virtual QCoro::Task<bool> setEnabled(bool enabled) = 0;
};

}  // namespace tavrolin
