#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace tavrolin {

// Why a dictation run could not start.
class SpeechRecognitionError final : public std::exception {
public:
    enum class Code { engineStartFailed, notAvailable, invalidInputFormat };

    // `reason` is the description of what made the audio capture fail.
    static SpeechRecognitionError engineStartFailed(const QString& reason);
    static SpeechRecognitionError notAvailable();
    static SpeechRecognitionError invalidInputFormat();

    Code code() const { return code_; }
    // The capture failure's own description (engineStartFailed only).
    const QString& underlyingDescription() const { return underlying_; }
    // The text shown to the user.
    QString errorDescription() const;
    const char* what() const noexcept override { return utf8_.constData(); }

    bool operator==(const SpeechRecognitionError& other) const {
        return code_ == other.code_ && underlying_ == other.underlying_;
    }

private:
    SpeechRecognitionError(Code code, QString underlying);

    Code code_;
    QString underlying_;
    QByteArray utf8_;
};

// A failure while a run is recognising: the decoder broke or the audio stopped coming. The run
// stays running until it is stopped.
class SpeechRecognitionTaskError final : public std::exception {
public:
    explicit SpeechRecognitionTaskError(const QString& message);

    QString errorDescription() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};

// The text to show for any error the speech service reports: the description of our own
// errors, else what().
QString speechErrorDescription(const std::exception& error);

}  // namespace tavrolin
