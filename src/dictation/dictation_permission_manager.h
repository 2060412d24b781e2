#pragma once

#include "platform/dictation_authorization.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Reads the microphone and speech-recognition decisions as one readiness value and asks the
// user for either when it was never decided. Holds no state of its own: every answer is read
// when it is asked for. Main thread only.
class DictationPermissionManager final {
public:
    enum class Readiness {
        ready,
        microphoneNotDetermined,
        speechNotDetermined,
        microphoneDenied,
        speechDenied,
        unavailable,
    };

    // Over the given authorisation (the desktop's is always granted on Linux).
    explicit DictationPermissionManager(std::shared_ptr<DictationAuthorizing> authorization);

    Readiness readiness() const;
    // Asks only when undecided; otherwise answers whether access is authorised.
    QCoro::Task<bool> requestMicrophoneAccess();
    QCoro::Task<bool> requestSpeechAccess();

private:
    std::shared_ptr<DictationAuthorizing> authorization_;
};

// The steps run before dictation starts. Each status line goes to `setStatus` (none clears the
// line); the answer says whether dictation should start now. On `ready` nothing is written: the
// start sets or clears the line itself. The manager must outlive the flow.
QCoro::Task<bool> runDictationPermissionFlow(DictationPermissionManager& manager,
                                             std::function<void(std::optional<QString>)> setStatus);

}  // namespace tavrolin
