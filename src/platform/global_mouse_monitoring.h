#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace tavrolin {

// One installed monitor; destroying it removes it.
class GlobalMouseMonitor {
public:
    virtual ~GlobalMouseMonitor() = default;
};

// Mouse-button presses anywhere on the desktop outside this process's windows (left, right,
// middle and other buttons; wheel steps are not presses).
class GlobalMouseMonitoring {
public:
    virtual ~GlobalMouseMonitoring() = default;
    // The handler runs on the main thread for each press. nullptr when the system offers no
    // such monitor.
    virtual std::unique_ptr<GlobalMouseMonitor> addMouseDownMonitor(std::function<void()> handler) = 0;
};

// Which presses a monitor reports: not the wheel (buttons 4 to 7), and not those over one of
// our own windows. windowsUnderPointer: the window stack under the pointer, top-level first.
bool isReportedMousePress(int button, const std::vector<unsigned long long>& windowsUnderPointer,
                          const std::vector<unsigned long long>& ownWindows);

// The X11 implementation: XInput 2 raw button presses, read on a connection and thread of its
// own and forwarded to the main thread.
std::shared_ptr<GlobalMouseMonitoring> makeX11GlobalMouseMonitoring();

}  // namespace tavrolin
