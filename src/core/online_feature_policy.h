#pragma once

#include "core/capture_workflow_error.h"

#include <mutex>

namespace tavrolin {

// The one online-features switch of the application, shared by reference by every client that
// may talk to the server. Reads come from any thread at call time; writes come from the main
// thread when settings are applied or saved. The lock is held only for the load or the store.
class OnlineFeaturePolicy final {
public:
    explicit OnlineFeaturePolicy(bool onlineFeaturesEnabled) : onlineFeaturesEnabled_(onlineFeaturesEnabled) {}
    OnlineFeaturePolicy(const OnlineFeaturePolicy&) = delete;
    OnlineFeaturePolicy& operator=(const OnlineFeaturePolicy&) = delete;

    bool isOnlineFeaturesEnabled() const {
        std::lock_guard guard(lock_);
        return onlineFeaturesEnabled_;
    }

    void setOnlineFeaturesEnabled(bool enabled) {
        std::lock_guard guard(lock_);
        onlineFeaturesEnabled_ = enabled;
    }

private:
    mutable std::mutex lock_;
    bool onlineFeaturesEnabled_;
};

// The check of every online-features gate: reads the switch once and, when it is off, refuses
// the call with onlineFeaturesDisabled before anything else happens.
inline void requireOnlineFeatures(const OnlineFeaturePolicy& policy) {
    if (!policy.isOnlineFeaturesEnabled()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::onlineFeaturesDisabled);
    }
}

}  // namespace tavrolin
