#pragma once

#include "focused_text/focused_text_field_accessor.h"
#include "platform/accessibility_bus_status.h"

#include <memory>

namespace tavrolin {

// The desktop facilities the focused-text accessor works with, from the desktop's back end:
// accessibility (through the process's accessibility client), the accessibility bus switch, the
// clipboard (formats too large to keep are logged), synthetic keys, the front-application
// lookup, the PRIMARY selection, the windows' ping, the process table, the user's key presses and Qt
// timers. Create it
// on the main thread and keep it alive as long as the accessor built on it.
class DesktopFocusedTextPlatform {
public:
    DesktopFocusedTextPlatform();
    ~DesktopFocusedTextPlatform();
    DesktopFocusedTextPlatform(const DesktopFocusedTextPlatform&) = delete;
    DesktopFocusedTextPlatform& operator=(const DesktopFocusedTextPlatform&) = delete;

    // Every facility but the synthetic keys.
    FocusedTextFieldAccessor::Platform platform();
    // The accessor over these facilities; the synthetic keys go to its input gate and nowhere
    // else.
    FocusedTextFieldAccessor makeAccessor(double clipboardRestoreDelay);
    AccessibilityBusStatus& accessibilityBusStatus();

private:
    std::unique_ptr<AccessibilityBusStatus> busStatus_;
    std::shared_ptr<AccessibilityCalls> accessibility_;
    std::unique_ptr<Clipboard> clipboard_;
    std::unique_ptr<SyntheticInput> input_;
    std::shared_ptr<FrontApplicationProviding> frontApplications_;
    std::unique_ptr<QtScheduler> scheduler_;
    std::shared_ptr<PrimarySelectionReading> primarySelection_;
    std::shared_ptr<WindowPinging> windowPing_;
    std::shared_ptr<ProcessTable> processes_;
    std::shared_ptr<UserKeyActivity> keyActivity_;
};

}  // namespace tavrolin
