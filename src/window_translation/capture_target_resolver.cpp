#include "window_translation/capture_target_resolver.h"

#include "core/capture_workflow_error.h"

#include <utility>

namespace tavrolin {

CaptureTargetResolver::CaptureTargetResolver(std::shared_ptr<ActiveWindowDetecting> activeWindowDetector)
    : activeWindowDetector_(std::move(activeWindowDetector)) {}

CaptureTarget CaptureTargetResolver::resolve() const {
    try {
        return CaptureTarget::window(activeWindowDetector_->detectActiveWindow());
    } catch (const CaptureWorkflowError& error) {
        switch (error.errorCase()) {
        case CaptureWorkflowError::Case::noActiveWindowFound:
        case CaptureWorkflowError::Case::noFrontmostApplication:
        case CaptureWorkflowError::Case::appIsFrontmost:
            return CaptureTarget::display();
        default:
            throw;
        }
    }
}

}  // namespace tavrolin
