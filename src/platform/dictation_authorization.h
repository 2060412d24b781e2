#pragma once

#include <QCoroTask>

#include <memory>

namespace tavrolin {

// A user's decision about one kind of access dictation needs.
enum class DictationAuthorizationStatus {
    notDetermined,
    restricted,
    denied,
    authorized,
    unknown,  // a value the platform does not describe
};

// The platform's record of the microphone and speech-recognition decisions, and the prompts that
// ask the user for them. Used on the main thread.
class DictationAuthorizing {
public:
    virtual ~DictationAuthorizing() = default;

    virtual DictationAuthorizationStatus microphoneStatus() const = 0;
    virtual DictationAuthorizationStatus speechRecognitionStatus() const = 0;
    // Asks the user for microphone access and answers whether it was granted.
    virtual QCoro::Task<bool> requestMicrophoneAccess() = 0;
    // Asks the user for speech recognition and answers the resulting status.
    virtual QCoro::Task<DictationAuthorizationStatus> requestSpeechRecognitionAccess() = 0;
};

}  // namespace tavrolin
