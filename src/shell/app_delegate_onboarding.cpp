// The onboarding window and the share prompt.
#include "shell/app_delegate.h"

namespace tavrolin {

// The onboarding window and the share question come with their subsystems.
void AppDelegate::presentOnboarding(OnboardingPages, bool, TelemetryTrigger) {}
void AppDelegate::presentSharePrompt(TelemetryTrigger) {}

}  // namespace tavrolin
