#include "platform/linux/linux_dictation_authorization.h"

#include "platform/desktop_backend.h"
namespace tavrolin {

DictationAuthorizationStatus LinuxDictationAuthorization::microphoneStatus() const {
    return DictationAuthorizationStatus::authorized;
}

DictationAuthorizationStatus LinuxDictationAuthorization::speechRecognitionStatus() const {
    return DictationAuthorizationStatus::authorized;
}

QCoro::Task<bool> LinuxDictationAuthorization::requestMicrophoneAccess() {
    co_return true;
}

QCoro::Task<DictationAuthorizationStatus> LinuxDictationAuthorization::requestSpeechRecognitionAccess() {
    co_return DictationAuthorizationStatus::authorized;
}

std::shared_ptr<DictationAuthorizing> makeSystemDictationAuthorization() {
    return std::make_shared<LinuxDictationAuthorization>();
}

}  // namespace tavrolin
