#include "dictation/dictation_permission_manager.h"

#include "core/linux_wording.h"

namespace tavrolin {

using Status = DictationAuthorizationStatus;

DictationPermissionManager::DictationPermissionManager(std::shared_ptr<DictationAuthorizing> authorization)
    : authorization_(std::move(authorization)) {}

DictationPermissionManager::Readiness DictationPermissionManager::readiness() const {
    const Status microphone = authorization_->microphoneStatus();
    const Status speech = authorization_->speechRecognitionStatus();
    // Undecided comes before denied, and the microphone before speech: the flow asks for both
    // in that order, so a denied microphone with undecided speech still goes through the asking.
    if (microphone == Status::notDetermined) {
        return Readiness::microphoneNotDetermined;
    }
    if (speech == Status::notDetermined) {
        return Readiness::speechNotDetermined;
    }
    if (microphone == Status::restricted || microphone == Status::denied) {
        return Readiness::microphoneDenied;
    }
    if (microphone == Status::authorized && speech == Status::authorized) {
        return Readiness::ready;
    }
    if (speech == Status::denied || speech == Status::restricted) {
        return Readiness::speechDenied;
    }
    return Readiness::unavailable;
}

QCoro::Task<bool> DictationPermissionManager::requestMicrophoneAccess() {
    const auto authorization = authorization_;
    const Status status = authorization->microphoneStatus();
    if (status == Status::notDetermined) {
        co_return co_await authorization->requestMicrophoneAccess();
    }
    co_return status == Status::authorized;
}

QCoro::Task<bool> DictationPermissionManager::requestSpeechAccess() {
    const auto authorization = authorization_;
    const Status status = authorization->speechRecognitionStatus();
    if (status == Status::notDetermined) {
        co_return co_await authorization->requestSpeechRecognitionAccess() == Status::authorized;
    }
    co_return status == Status::authorized;
}

QCoro::Task<bool> runDictationPermissionFlow(DictationPermissionManager& manager,
                                             std::function<void(std::optional<QString>)> setStatus) {
    using Readiness = DictationPermissionManager::Readiness;
    switch (manager.readiness()) {
    case Readiness::ready:
        co_return true;
    case Readiness::microphoneNotDetermined:
    case Readiness::speechNotDetermined:
        setStatus(QStringLiteral("🎤 Dictation needs permissions."));
        // Both in order, even when only speech was undecided: a decided microphone answers at once.
        if (!co_await manager.requestMicrophoneAccess()) {
            setStatus(
                linuxWording(u"🚫 Microphone permission denied. Enable it in System Settings → Privacy & Security."));
            co_return false;
        }
        if (!co_await manager.requestSpeechAccess()) {
            setStatus(linuxWording(
                u"🚫 Speech Recognition permission denied. Enable it in System Settings → Privacy & Security."));
            co_return false;
        }
        setStatus(std::nullopt);
        co_return true;
    case Readiness::microphoneDenied:
        setStatus(linuxWording(u"🚫 Microphone access denied. Enable it in System Settings → Privacy & Security."));
        co_return false;
    case Readiness::speechDenied:
        setStatus(
            linuxWording(u"🚫 Speech Recognition access denied. Enable it in System Settings → Privacy & Security."));
        co_return false;
    case Readiness::unavailable:
        setStatus(QStringLiteral("⚠️ Dictation unavailable on this device."));
        co_return false;
    }
    co_return false;
}

}  // namespace tavrolin
