// The entries of the focused-text and selection workflows. The workflows themselves
// come with their subsystems; until then a command is accepted and does nothing.
#include "shell/app_delegate.h"

#include "platform/clock.h"
#include "platform/linux/x11_overlay_window.h"

#include <QPointer>

namespace tavrolin {

// Translate goes to the front window until the selection probe comes with the selection
// workflow.
void AppDelegate::startSmartTranslation(TelemetryTrigger trigger) {
    const QString shortcut = settingsStore_->settings().captureAndTranslateShortcut.displayName();
    if (trigger != TelemetryTrigger::menu) {
        startCapture(shortcut, trigger);
        return;
    }
    // The tray menu's command runs while the menu is still on screen. The capture reads the
    // screen, so it starts once the menu's unmapping has reached the X server and the window it
    // uncovered has had a moment to repaint.
    const QPointer<AppDelegate> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, shortcut] {
            if (!self) {
                return;
            }
            x11::syncQtConnection();
            if (!self->factories_.scheduler) {
                self->factories_.scheduler = std::make_shared<QtScheduler>();
            }
            self->menuCaptureStart_ = self->factories_.scheduler->scheduleAfter(menuCaptureSettleDelay, [self, shortcut] {
                if (self) {
                    self->startCapture(shortcut, TelemetryTrigger::menu);
                }
            });
        },
        Qt::QueuedConnection);
}

void AppDelegate::startSelectionTranslation(TelemetryTrigger) {}
void AppDelegate::startMessageTranslation(TelemetryTrigger) {}
void AppDelegate::startTextEditing(TelemetryTrigger) {}
void AppDelegate::startTextWriting(TelemetryTrigger) {}
void AppDelegate::startFlipLanguage(TelemetryTrigger) {}
void AppDelegate::startCreatePrompt(TelemetryTrigger) {}

}  // namespace tavrolin
