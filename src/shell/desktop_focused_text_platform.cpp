#include "shell/desktop_focused_text_platform.h"

#include "core/app_log.h"
#include "platform/desktop_backend.h"

#include <QGuiApplication>

namespace tavrolin {

DesktopFocusedTextPlatform::DesktopFocusedTextPlatform()
    : busStatus_(makeSystemAccessibilityBusStatus()),
      accessibility_(systemAccessibilityCalls()),
      clipboard_(makeSystemClipboard([](const QString& format, qsizetype size) {
          AppLog::app().notice(QStringLiteral("clipboard format skipped format=%1 size=%2").arg(format).arg(size));
      })),
      input_(makeSystemSyntheticInput()),
      frontApplications_(defaultFrontApplicationProvider()),
      scheduler_(std::make_unique<QtScheduler>()),
      primarySelection_(makeSystemPrimarySelectionReader(makeSystemGlobalInputMonitoring())),
      windowPing_(makeSystemWindowPing()),
      processes_(makeSystemProcessTable()),
      keyActivity_(makeSystemUserKeyActivity()) {}

DesktopFocusedTextPlatform::~DesktopFocusedTextPlatform() = default;

FocusedTextFieldAccessor::Platform DesktopFocusedTextPlatform::platform() {
    FocusedTextFieldAccessor::Platform platform{*accessibility_, *clipboard_, *frontApplications_, *scheduler_};
    // Keys sent while one of our grabs holds the keyboard, or one of our windows is the active
    // one, would land in our own window.
    platform.ownWindowHasKeyboard = [] {
        return anyOwnKeyboardGrabActive() || QGuiApplication::focusWindow() != nullptr;
    };
    platform.primarySelection = primarySelection_.get();
    platform.windowPing = windowPing_.get();
    platform.processes = processes_.get();
    platform.keyActivity = keyActivity_.get();
    return platform;
}

FocusedTextFieldAccessor DesktopFocusedTextPlatform::makeAccessor(double clipboardRestoreDelay) {
    return FocusedTextFieldAccessor(platform(), *input_, clipboardRestoreDelay);
}

AccessibilityBusStatus& DesktopFocusedTextPlatform::accessibilityBusStatus() {
    return *busStatus_;
}

}  // namespace tavrolin
