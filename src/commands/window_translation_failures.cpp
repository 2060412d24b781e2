#include "commands/window_translation_failures.h"

namespace tavrolin {

CaptureFailureAlert captureFailureAlert(CaptureWorkflowError::Case errorCase) {
    using Case = CaptureWorkflowError::Case;
    switch (errorCase) {
    case Case::captureAlreadyInProgress:
        return CaptureFailureAlert::none;
    case Case::screenshotPermissionDenied:
    case Case::screenshotPermissionRequiresRestart:
        return CaptureFailureAlert::screenRecordingSetup;
    case Case::translationSourceLanguageUnsupported:
        return CaptureFailureAlert::languageNotSupported;
    case Case::translationLanguagePairNotInstalled:
    case Case::serverTranslationUnavailable:
        return CaptureFailureAlert::translationSetup;
    case Case::onlineFeaturesDisabled:
        return CaptureFailureAlert::onlineFeaturesDisabled;
    default:
        return CaptureFailureAlert::captureFailed;
    }
}

bool fallsBackToDisplayCapture(CaptureWorkflowError::Case errorCase) {
    using Case = CaptureWorkflowError::Case;
    return errorCase == Case::noActiveWindowFound || errorCase == Case::windowNotShareable ||
           errorCase == Case::noFrontmostApplication || errorCase == Case::appIsFrontmost;
}

}  // namespace tavrolin
