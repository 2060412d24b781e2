// The Translate command, which translates the selection when there is one and the front window
// otherwise.
#include "commands/smart_translation_command.h"
#include "shell/app_delegate.h"

#include <QPointer>

namespace tavrolin {

void AppDelegate::startSmartTranslation(TelemetryTrigger trigger) {
    if (trigger != TelemetryTrigger::menu) {
        commands_.smartTranslation->start(trigger);
        return;
    }
    // The tray menu's command runs while the menu is still on screen and holds the focus. The
    // selection is read, or the screen captured, once the menu's unmapping has reached the X
    // server and the window it uncovered has its focus back and has had a moment to repaint.
    const QPointer<AppDelegate> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self) {
                return;
            }
            if (const auto& sync = self->factories().syncWithDisplayServer) {
                sync();
            }
            self->menuCaptureStart_ = self->scheduler().scheduleAfter(menuCaptureSettleDelay, [self] {
                if (self) {
                    self->commands_.smartTranslation->start(TelemetryTrigger::menu);
                }
            });
        },
        Qt::QueuedConnection);
}

}  // namespace tavrolin
