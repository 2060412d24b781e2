// The entries of the selection workflows. The workflows themselves
// come with their subsystems; until then a command is accepted and does nothing.
#include "shell/app_delegate.h"

namespace tavrolin {

void AppDelegate::startSmartTranslation(TelemetryTrigger) {}
void AppDelegate::startSelectionTranslation(TelemetryTrigger) {}

}  // namespace tavrolin
