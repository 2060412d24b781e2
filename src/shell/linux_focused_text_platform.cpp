#include "shell/linux_focused_text_platform.h"

#include "core/app_log.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/linux/accessibility_thread.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "platform/linux/qt_clipboard.h"
#include "platform/linux/xtest_synthetic_input.h"

namespace tavrolin {

LinuxFocusedTextPlatform::LinuxFocusedTextPlatform()
    : busStatus_(std::make_unique<DBusAccessibilityBusStatus>()),
      accessibility_(AccessibilityThread::shared()),
      clipboard_(std::make_unique<QtClipboard>([](const QString& format, qsizetype size) {
          AppLog::app().notice(QStringLiteral("clipboard format skipped format=%1 size=%2").arg(format).arg(size));
      })),
      input_(std::make_unique<XTestSyntheticInput>()),
      frontApplications_(defaultFrontApplicationProvider()),
      scheduler_(std::make_unique<QtScheduler>()),
      primarySelection_(makeX11PrimarySelectionReader(makeX11GlobalInputMonitoring())) {}

LinuxFocusedTextPlatform::~LinuxFocusedTextPlatform() = default;

FocusedTextFieldAccessor::Platform LinuxFocusedTextPlatform::platform() {
    return {*accessibility_, *clipboard_, *input_, *frontApplications_, *scheduler_, primarySelection_.get()};
}

AccessibilityBusStatus& LinuxFocusedTextPlatform::accessibilityBusStatus() { return *busStatus_; }

SyntheticInput& LinuxFocusedTextPlatform::syntheticInput() { return *input_; }

}  // namespace tavrolin
