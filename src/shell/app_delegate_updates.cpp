// Update checks.
#include "shell/app_delegate.h"

namespace tavrolin {

// The automatic schedule and the update alerts come with the update hooks.
void AppDelegate::startUpdateCheck(UpdateCheckMode) {}

}  // namespace tavrolin
