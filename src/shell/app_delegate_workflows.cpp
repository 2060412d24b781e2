// The entries of the focused-text and selection workflows. The workflows themselves
// come with their subsystems; until then a command is accepted and does nothing.
#include "shell/app_delegate.h"

namespace tavrolin {

void AppDelegate::startSmartTranslation(TelemetryTrigger) {}
void AppDelegate::startSelectionTranslation(TelemetryTrigger) {}
void AppDelegate::startMessageTranslation(TelemetryTrigger) {}
void AppDelegate::startTextEditing(TelemetryTrigger) {}
void AppDelegate::startTextWriting(TelemetryTrigger) {}
void AppDelegate::startFlipLanguage(TelemetryTrigger) {}
void AppDelegate::startCreatePrompt(TelemetryTrigger) {}

}  // namespace tavrolin
