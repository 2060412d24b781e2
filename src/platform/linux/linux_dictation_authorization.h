#pragma once

#include "platform/dictation_authorization.h"

namespace tavrolin {

// Linux has no per-application decision for the microphone or for speech recognition: the sound
// server serves every program of the session's user, and recognition runs on this computer.
// Both are always authorised and a request answers at once without asking anyone. A capture
// that the server refuses shows up when recording starts.
class LinuxDictationAuthorization final : public DictationAuthorizing {
public:
    DictationAuthorizationStatus microphoneStatus() const override;
    DictationAuthorizationStatus speechRecognitionStatus() const override;
    QCoro::Task<bool> requestMicrophoneAccess() override;
    QCoro::Task<DictationAuthorizationStatus> requestSpeechRecognitionAccess() override;
};

}  // namespace tavrolin
