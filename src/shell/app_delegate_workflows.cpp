// The entries of the selection and dictation workflows. The workflows themselves
// come with their subsystems; until then a command is accepted and does nothing.
#include "shell/app_delegate.h"

namespace tavrolin {

void AppDelegate::startSmartTranslation(TelemetryTrigger) {}
void AppDelegate::startSelectionTranslation(TelemetryTrigger) {}
void AppDelegate::presentDictationScratchpad() {}
void AppDelegate::presentDictationScratchpadCopyOnly(const QString&) {}

}  // namespace tavrolin
