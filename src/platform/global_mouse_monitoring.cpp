#include "platform/global_mouse_monitoring.h"

#include <algorithm>
#include <cstdlib>

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

bool isModifierKeysym(unsigned int keysym) {
    // Shift_L .. Hyper_R, and the ISO lock and level/group shifts.
    return (keysym >= 0xffe1 && keysym <= 0xffee) || (keysym >= 0xfe01 && keysym <= 0xfe13) || keysym == 0xff7e;
}

int ClickCounter::press(unsigned int button, QPoint position, std::chrono::milliseconds time,
                        std::chrono::milliseconds interval) {
    const QPoint moved = position - position_;
    // Server time wraps after about 49 days: a time before the previous press starts anew.
    const bool continues = button_ && *button_ == button && time >= time_ && time - time_ <= interval &&
                           std::abs(moved.x()) <= slopPixels && std::abs(moved.y()) <= slopPixels;
    count_ = continues ? count_ + 1 : 1;
    button_ = button;
    position_ = position;
    time_ = time;
    return count_;
}

int ClickCounter::countFor(unsigned int button) const {
    return button_ && *button_ == button ? count_ : 1;
}

}  // namespace tavrolin
