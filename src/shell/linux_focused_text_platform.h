#pragma once

#include "focused_text/focused_text_field_accessor.h"
#include "platform/accessibility_bus_status.h"

#include <memory>

namespace tavrolin {

class AccessibilityThread;
class DBusAccessibilityBusStatus;
class QtClipboard;
class XTestSyntheticInput;

// The desktop facilities the focused-text accessor works with on Linux: AT-SPI (through the
// process's accessibility thread), the accessibility bus switch, the CLIPBOARD selection (formats
// too large to keep are logged), XTest input, the X11 front-application lookup, the PRIMARY
// selection, the windows' ping and Qt timers. Create it on the main thread and keep it alive as
// long as the accessor built on it.
class LinuxFocusedTextPlatform {
public:
    LinuxFocusedTextPlatform();
    ~LinuxFocusedTextPlatform();
    LinuxFocusedTextPlatform(const LinuxFocusedTextPlatform&) = delete;
    LinuxFocusedTextPlatform& operator=(const LinuxFocusedTextPlatform&) = delete;

    FocusedTextFieldAccessor::Platform platform();
    AccessibilityBusStatus& accessibilityBusStatus();
    SyntheticInput& syntheticInput();

private:
    std::unique_ptr<DBusAccessibilityBusStatus> busStatus_;
    std::shared_ptr<AccessibilityThread> accessibility_;
    std::unique_ptr<QtClipboard> clipboard_;
    std::unique_ptr<XTestSyntheticInput> input_;
    std::shared_ptr<FrontApplicationProviding> frontApplications_;
    std::unique_ptr<QtScheduler> scheduler_;
    std::shared_ptr<PrimarySelectionReading> primarySelection_;
    std::shared_ptr<WindowPinging> windowPing_;
};

}  // namespace tavrolin
