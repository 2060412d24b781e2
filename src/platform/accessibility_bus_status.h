#pragma once

#include <QCoroTask>

namespace tavrolin {

// What the accessibility bus said of its switch. `unreachable`: there is no bus to ask (no
// session bus, nobody owns or can start the launcher, or it answered with an error);
// `noAnswer`: the bus exists but did not answer in time, as a loaded machine's may not.
enum class AccessibilitySwitch { on, off, unreachable, noAnswer };

// The desktop's switch that tells applications to publish their accessibility trees.
// Toolkits that build their tree only on demand (Qt, Chromium) watch it. Another process
// answers, so both calls are awaited and bounded by the implementation.
class AccessibilityBusStatus {
public:
    virtual ~AccessibilityBusStatus() = default;
    virtual QCoro::Task<AccessibilitySwitch> readSwitch() = 0;
    // Answers whether the switch now stands as asked.
    virtual QCoro::Task<bool> setEnabled(bool enabled) = 0;
};

}  // namespace tavrolin
