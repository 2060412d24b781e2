#pragma once

#include "platform/dictation_authorization.h"

namespace tavrolin::test {

// Authorisation decisions a test sets; a request on an undecided status records the prompt and
// turns the status into the scripted answer.
class FakeDictationAuthorization final : public DictationAuthorizing {
public:
    DictationAuthorizationStatus microphoneStatus() const override { return microphone; }
    DictationAuthorizationStatus speechRecognitionStatus() const override { return speech; }

    QCoro::Task<bool> requestMicrophoneAccess() override {
        ++microphonePrompts;
        microphone = microphoneAnswer ? DictationAuthorizationStatus::authorized : DictationAuthorizationStatus::denied;
        co_return microphoneAnswer;
    }
    QCoro::Task<DictationAuthorizationStatus> requestSpeechRecognitionAccess() override {
        ++speechPrompts;
        speech = speechAnswer;
        co_return speechAnswer;
    }

    DictationAuthorizationStatus microphone = DictationAuthorizationStatus::authorized;
    DictationAuthorizationStatus speech = DictationAuthorizationStatus::authorized;
    bool microphoneAnswer = true;
    DictationAuthorizationStatus speechAnswer = DictationAuthorizationStatus::authorized;
    int microphonePrompts = 0;
    int speechPrompts = 0;
};

}  // namespace tavrolin::test
