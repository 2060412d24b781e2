#pragma once

#include "platform/audio_input.h"
#include "platform/speech_decoder.h"

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace tavrolin {

class SerialQueue;
struct SpeechRecognitionRun;

// What a speech service records from and recognises with.
struct SpeechRecognitionBackends {
    // The models per locale identifier; shared by the services of one program.
    std::shared_ptr<SpeechModelProviding> models;
    // A fresh audio source for each run.
    std::function<std::unique_ptr<AudioInputSource>()> makeAudioSource;
};

// Turns live audio into text for one fixed locale. Start and stop are called on the main thread
// and return at once; their work runs in order on a worker thread of the service, capture and
// decoding on threads of their own. The callbacks are set and run on the main thread. A run
// reports the whole text recognised since it started, each time it changes.
//
// Every result and error belongs to the run it came from. A stopped run may still deliver its
// last words, until the next start: from then on only what the new run reports arrives.
//
// Always held by std::shared_ptr (create()). Work posted to the main thread holds the service
// weakly: once the last owner lets it go, pending callbacks are dropped. A stop keeps the service
// alive until its teardown has run, so an owner may stop a service and drop it at once.
class SpeechRecognitionService final : public std::enable_shared_from_this<SpeechRecognitionService> {
public:
    static constexpr int bufferFrames = 1024;
    // How long a stopped run may still deliver results before it is cancelled.
    static constexpr int cancelDelayMilliseconds = 500;

    static std::shared_ptr<SpeechRecognitionService> create(const QString& localeIdentifier,
                                                            SpeechRecognitionBackends backends);
    ~SpeechRecognitionService();
    SpeechRecognitionService(const SpeechRecognitionService&) = delete;
    SpeechRecognitionService& operator=(const SpeechRecognitionService&) = delete;

    // The whole transcription of the current run so far.
    std::function<void(const QString&)> onTranscriptionUpdate;
    // Start failures (SpeechRecognitionError) and recognition failures (SpeechRecognitionTaskError).
    std::function<void(const std::exception&)> onError;
    // Changes of the recognizer's availability.
    std::function<void(bool)> onAvailabilityChange;
    // The current run's first audio has come in: the microphone delivers.
    std::function<void()> onAudioStarted;

    void startTranscribing();
    void stopTranscribing();

    const QString& localeIdentifier() const { return localeIdentifier_; }
    // Whether a model exists for the locale.
    bool hasRecognizer() const { return hasRecognizer_; }
    // Whether the recognizer can be used: a model exists and has not failed to load.
    bool isRecognizerAvailable() const;

private:
    struct Private;
    SpeechRecognitionService(const QString& localeIdentifier, SpeechRecognitionBackends backends);

    void runStartSequence(std::uint64_t runNumber);
    void runStopSequence();
    void releaseRun(std::shared_ptr<SpeechRecognitionRun> run, bool cancelNow);
    void postError(std::uint64_t runNumber, std::exception_ptr error);

    QString localeIdentifier_;
    bool hasRecognizer_ = false;
    std::unique_ptr<Private> d_;
};

// Makes the speech service for a locale identifier; the scratchpad builds a new one whenever its
// dictation language changes.
using SpeechRecognitionServiceFactory =
    std::function<std::shared_ptr<SpeechRecognitionService>(const QString& localeIdentifier)>;

// A factory over the given back ends.
SpeechRecognitionServiceFactory speechRecognitionServiceFactory(SpeechRecognitionBackends backends);

}  // namespace tavrolin
