#include "dictation/speech_recognition_error.h"

namespace tavrolin {

SpeechRecognitionError::SpeechRecognitionError(Code code, QString underlying)
    : code_(code), underlying_(std::move(underlying)), utf8_(errorDescription().toUtf8()) {}

SpeechRecognitionError SpeechRecognitionError::engineStartFailed(const QString& reason) {
    return SpeechRecognitionError(Code::engineStartFailed, reason);
}

SpeechRecognitionError SpeechRecognitionError::notAvailable() {
    return SpeechRecognitionError(Code::notAvailable, {});
}

SpeechRecognitionError SpeechRecognitionError::invalidInputFormat() {
    return SpeechRecognitionError(Code::invalidInputFormat, {});
}

QString SpeechRecognitionError::errorDescription() const {
    switch (code_) {
    case Code::engineStartFailed:
        return QStringLiteral("Failed to start audio engine: ") + underlying_;
    case Code::notAvailable:
        return QStringLiteral("Speech recognition is not available on this device.");
    case Code::invalidInputFormat:
        return QStringLiteral("Invalid microphone audio format. Please check your input device.");
    }
    return {};
}

SpeechRecognitionTaskError::SpeechRecognitionTaskError(const QString& message)
    : message_(message), utf8_(message.toUtf8()) {}

QString speechErrorDescription(const std::exception& error) {
    if (const auto* ours = dynamic_cast<const SpeechRecognitionError*>(&error)) {
        return ours->errorDescription();
    }
    if (const auto* task = dynamic_cast<const SpeechRecognitionTaskError*>(&error)) {
        return task->errorDescription();
    }
    return QString::fromUtf8(error.what());
}

}  // namespace tavrolin
