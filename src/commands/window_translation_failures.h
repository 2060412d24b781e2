#pragma once

#include "core/capture_workflow_error.h"

namespace tavrolin {

// What a failed window translation shows the user.
enum class CaptureFailureAlert {
    none,                    // a second request while one runs: nothing to tell
    screenRecordingSetup,    // the screen-capture permission alert
    languageNotSupported,    // "Language Not Supported Yet"
    translationSetup,        // install languages / server unavailable, with "Try Again"
    onlineFeaturesDisabled,  // "Online Features Disabled", with the retry
    captureFailed,           // "Capture failed" with the error's message
};

CaptureFailureAlert captureFailureAlert(CaptureWorkflowError::Case errorCase);

// Errors of the front window itself, after which the whole display is captured instead.
bool fallsBackToDisplayCapture(CaptureWorkflowError::Case errorCase);

}  // namespace tavrolin
