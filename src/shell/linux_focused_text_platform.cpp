#include "shell/linux_focused_text_platform.h"

#include "core/app_log.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/keyboard_grabbing.h"
#include "platform/linux/accessibility_thread.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "platform/linux/qt_clipboard.h"
#include "platform/linux/xtest_synthetic_input.h"

#include <QGuiApplication>

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
      primarySelection_(makeX11PrimarySelectionReader(makeX11GlobalInputMonitoring())),
      windowPing_(makeX11WindowPing()) {}

LinuxFocusedTextPlatform::~LinuxFocusedTextPlatform() = default;

FocusedTextFieldAccessor::Platform LinuxFocusedTextPlatform::platform() {
    // Keys sent while one of our grabs holds the keyboard, or one of our windows is the active
    // one, would land in our own window.
    std::function<bool()> ownWindowHasKeyboard = [] {
        return anyOwnKeyboardGrabActive() || QGuiApplication::focusWindow() != nullptr;
    };
    return {*accessibility_,         *clipboard_,      *input_,
            *frontApplications_,     *scheduler_,      std::move(ownWindowHasKeyboard),
            primarySelection_.get(), windowPing_.get()};
}

AccessibilityBusStatus& LinuxFocusedTextPlatform::accessibilityBusStatus() {
    return *busStatus_;
}

SyntheticInput& LinuxFocusedTextPlatform::syntheticInput() {
    return *input_;
}

}  // namespace tavrolin
