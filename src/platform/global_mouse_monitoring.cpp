#include "platform/global_mouse_monitoring.h"

#include <algorithm>

namespace tavrolin {

bool isReportedMousePress(int button, const std::vector<unsigned long long>& windowsUnderPointer,
                          const std::vector<unsigned long long>& ownWindows) {
    // X reports wheel steps as presses of buttons 4 to 7.
    if (button >= 4 && button <= 7) {
        return false;
    }
    return std::none_of(windowsUnderPointer.begin(), windowsUnderPointer.end(), [&](unsigned long long window) {
        return window != 0 && std::find(ownWindows.begin(), ownWindows.end(), window) != ownWindows.end();
    });
}

}  // namespace tavrolin
