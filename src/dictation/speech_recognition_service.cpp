#include "dictation/speech_recognition_service.h"

#include "core/app_log.h"
#include "dictation/serial_queue.h"
#include "dictation/speech_recognition_error.h"
#include "dictation/speech_run_transcript.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrolin {

namespace {

// The loaded model of a service. A run's decoding thread holds the mutex for as long as it
// decodes, so a new run waits for the previous one to finish its last utterance.
struct DecoderSlot {
    std::mutex mutex;
    std::unique_ptr<SpeechDecoder> decoder;
};

// Runs `work` on the main thread's event loop, later.
void postToMainThread(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return;
    }
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

// Which run a result or an error comes from. It reaches the main thread only while no later
// start has been asked for and its run has not been cancelled: a stop followed at once by a start
// must not hand the stopped run's last words to the new run.
struct RunStamp {
    std::uint64_t number = 0;
    std::shared_ptr<const std::atomic<std::uint64_t>> latestStart;
    std::shared_ptr<const std::atomic<bool>> cancelled;  // none for the errors of a start

    bool deliverable() const {
        return latestStart && latestStart->load() == number && !(cancelled && cancelled->load());
    }
};

}  // namespace

// One recognition run: the audio source with its capture thread, and the buffers it hands to
// the decoding thread.
struct SpeechRecognitionRun {
    std::unique_ptr<AudioInputSource> source;
    std::thread captureThread;
    std::thread decodeThread;
    std::atomic<bool> stopCapture{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<std::int16_t>> buffers;  // guarded by mutex
    bool audioEnded = false;                        // guarded by mutex
    bool decodingEnded = false;                     // guarded by mutex: later audio is dropped

    // Shared with the results posted to the main thread: once set, nothing more is delivered.
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    RunStamp stamp;  // set before the threads start

    void append(std::vector<std::int16_t> buffer) {
        {
            const std::lock_guard lock(mutex);
            if (audioEnded || decodingEnded) {
                return;
            }
            buffers.push_back(std::move(buffer));
        }
        changed.notify_all();
    }
    void endAudio() {
        {
            const std::lock_guard lock(mutex);
            audioEnded = true;
        }
        changed.notify_all();
    }
    void stopCapturing() {
        stopCapture = true;
        if (captureThread.joinable()) {
            captureThread.join();
        }
        if (source) {
            source->stop();
        }
    }
    void cancel() {
        cancelled->store(true);
        changed.notify_all();
        if (decodeThread.joinable()) {
            decodeThread.join();
        }
    }
    ~SpeechRecognitionRun() {
        stopCapturing();
        cancel();
    }
};

struct SpeechRecognitionService::Private {
    SpeechRecognitionBackends backends;
    std::shared_ptr<DecoderSlot> decoderSlot = std::make_shared<DecoderSlot>();
    int decoderSampleRate = 0;  // worker only, set once loaded
    std::atomic<bool> loadFailed{false};
    bool isRunning = false;  // worker only
    // The number of the run the latest start asked for: what carries another number is dropped.
    std::shared_ptr<std::atomic<std::uint64_t>> latestStart = std::make_shared<std::atomic<std::uint64_t>>(0);
    bool startAsked = false;                    // main thread: a start asked for, no stop since
    std::shared_ptr<SpeechRecognitionRun> run;  // worker only: the current run
    // Last member: destroyed first, so no work runs while the rest goes away.
    SerialQueue queue;
};

namespace {

using WeakService = std::weak_ptr<SpeechRecognitionService>;

void postTranscription(const WeakService& weak, const RunStamp& stamp, const QString& text) {
    postToMainThread([weak, stamp, text] {
        if (!stamp.deliverable()) {
            return;
        }
        const auto service = weak.lock();
        if (!service || !service->onTranscriptionUpdate) {
            return;
        }
        const auto callback = service->onTranscriptionUpdate;
        callback(text);
    });
}

void postErrorToMain(const WeakService& weak, const RunStamp& stamp, std::exception_ptr error) {
    postToMainThread([weak, stamp, error] {
        if (!stamp.deliverable()) {
            return;
        }
        const auto service = weak.lock();
        if (!service || !service->onError) {
            return;
        }
        const auto callback = service->onError;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& failure) {
            callback(failure);
        }
    });
}

void postTaskError(const WeakService& weak, const RunStamp& stamp, const QString& message) {
    AppLog::app().error(QStringLiteral("speech recognition failed: %1").arg(message));
    postErrorToMain(weak, stamp, std::make_exception_ptr(SpeechRecognitionTaskError(message)));
}

void postAudioStarted(const WeakService& weak, const RunStamp& stamp) {
    postToMainThread([weak, stamp] {
        if (!stamp.deliverable()) {
            return;
        }
        const auto service = weak.lock();
        if (!service || !service->onAudioStarted) {
            return;
        }
        const auto callback = service->onAudioStarted;
        callback();
    });
}

// The decoding thread of a run: feeds every buffer to the decoder and posts the run's whole
// text whenever it changes. When the decoder hears speech end, that utterance is closed and
// kept, and the next starts. The end of the audio closes the last utterance and posts the
// final text.
void decodeRun(SpeechRecognitionRun& run, const std::shared_ptr<DecoderSlot>& slot, const WeakService& weak) {
    const auto cancelled = run.cancelled;
    const RunStamp stamp = run.stamp;
    const std::lock_guard decoderLock(slot->mutex);
    SpeechDecoder& decoder = *slot->decoder;
    const auto endDecoding = [&run] {
        const std::lock_guard lock(run.mutex);
        run.decodingEnded = true;
        run.buffers.clear();
    };
    QString error;
    if (!decoder.startUtterance(error)) {
        endDecoding();
        postTaskError(weak, stamp, QStringLiteral("The speech decoder could not start: %1").arg(error));
        return;
    }
    SpeechRunTranscript transcript;
    QString posted;
    bool wasInSpeech = false;
    const auto postIfChanged = [&] {
        const QString text = transcript.text();
        if (text != posted) {
            posted = text;
            postTranscription(weak, stamp, text);
        }
    };
    const auto fail = [&](const QString& message) {
        QString ignored;
        decoder.endUtterance(ignored);
        endDecoding();
        postTaskError(weak, stamp, message);
    };
    while (true) {
        std::vector<std::int16_t> buffer;
        bool ended = false;
        {
            std::unique_lock lock(run.mutex);
            run.changed.wait(lock, [&] { return cancelled->load() || !run.buffers.empty() || run.audioEnded; });
            if (cancelled->load()) {
                lock.unlock();
                QString ignored;
                decoder.endUtterance(ignored);
                endDecoding();
                return;
            }
            if (!run.buffers.empty()) {
                buffer = std::move(run.buffers.front());
                run.buffers.pop_front();
            } else {
                ended = true;
            }
        }
        if (ended) {
            if (!decoder.endUtterance(error)) {
                endDecoding();
                postTaskError(weak, stamp, QStringLiteral("The speech decoder failed: %1").arg(error));
                return;
            }
            transcript.finishUtterance(decoder.hypothesis());
            postIfChanged();
            endDecoding();
            return;
        }
        if (!decoder.processSamples(buffer, error)) {
            fail(QStringLiteral("The speech decoder failed: %1").arg(error));
            return;
        }
        const bool inSpeech = decoder.inSpeech();
        transcript.setCurrentHypothesis(decoder.hypothesis());
        if (wasInSpeech && !inSpeech) {
            if (!decoder.endUtterance(error)) {
                fail(QStringLiteral("The speech decoder failed: %1").arg(error));
                return;
            }
            transcript.finishUtterance(decoder.hypothesis());
            if (!decoder.startUtterance(error)) {
                endDecoding();
                postTaskError(weak, stamp, QStringLiteral("The speech decoder could not start: %1").arg(error));
                return;
            }
        }
        wasInSpeech = inSpeech;
        postIfChanged();
    }
}

// The capture thread of a run: reads one buffer at a time until told to stop, then frees the
// stream here, on the thread that read from it.
void captureRun(SpeechRecognitionRun& run, const WeakService& weak) {
    std::vector<std::int16_t> buffer(SpeechRecognitionService::bufferFrames);
    QString error;
    bool heard = false;
    while (!run.stopCapture.load()) {
        const AudioReadStatus status = run.source->read(buffer, error);
        if (run.stopCapture.load()) {
            break;
        }
        if (status == AudioReadStatus::ok) {
            if (!heard) {
                heard = true;
                postAudioStarted(weak, run.stamp);
            }
            run.append(buffer);
            continue;
        }
        if (status == AudioReadStatus::failed) {
            postTaskError(weak, run.stamp, QStringLiteral("Audio capture stopped: %1").arg(error));
        }
        run.endAudio();
        break;
    }
    run.source->stop();
}

}  // namespace

std::shared_ptr<SpeechRecognitionService> SpeechRecognitionService::create(const QString& localeIdentifier,
                                                                           SpeechRecognitionBackends backends) {
    std::shared_ptr<SpeechRecognitionService> service(
        new SpeechRecognitionService(localeIdentifier, std::move(backends)));
    if (service->hasRecognizer_) {
        // Loading a model reads tens of megabytes: never on the caller's thread. A start queued
        // meanwhile runs after the load.
        service->d_->queue.async([weak = WeakService(service)] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            QString error;
            auto decoder = self->d_->backends.models->loadDecoder(self->localeIdentifier_, error);
            if (!decoder) {
                AppLog::app().error(
                    QStringLiteral("speech model for %1 not loaded: %2").arg(self->localeIdentifier_, error));
                self->d_->loadFailed = true;
                return;
            }
            const int sampleRate = decoder->sampleRate();
            {
                const std::lock_guard lock(self->d_->decoderSlot->mutex);
                self->d_->decoderSlot->decoder = std::move(decoder);
            }
            self->d_->decoderSampleRate = sampleRate;
        });
    }
    return service;
}

SpeechRecognitionService::SpeechRecognitionService(const QString& localeIdentifier, SpeechRecognitionBackends backends)
    : localeIdentifier_(localeIdentifier), d_(std::make_unique<Private>()) {
    d_->backends = std::move(backends);
    hasRecognizer_ = d_->backends.models && d_->backends.models->hasModel(localeIdentifier_);
}

SpeechRecognitionService::~SpeechRecognitionService() {
    // Every piece of queued work holds the service while it runs, so none runs now. The current
    // run (if the owner let a running service go without stopping it) ends here.
    if (d_->run) {
        d_->run->stopCapturing();
        d_->run->cancel();
        d_->run.reset();
    }
}

bool SpeechRecognitionService::isRecognizerAvailable() const {
    return hasRecognizer_ && !d_->loadFailed.load();
}

void SpeechRecognitionService::startTranscribing() {
    // A start while one is asked for already is ignored by the worker (or retries one that
    // failed): the run keeps its number.
    if (!d_->startAsked) {
        d_->startAsked = true;
        d_->latestStart->fetch_add(1);
    }
    d_->queue.async([weak = weak_from_this(), number = d_->latestStart->load()] {
        if (const auto self = weak.lock()) {
            self->runStartSequence(number);
        }
    });
}

void SpeechRecognitionService::stopTranscribing() {
    d_->startAsked = false;
    // Held strongly: an owner that stops the service and lets it go at once must still get the
    // microphone and the decoder released.
    d_->queue.async([self = shared_from_this()] { self->runStopSequence(); });
}

void SpeechRecognitionService::postError(std::uint64_t runNumber, std::exception_ptr error) {
    postErrorToMain(weak_from_this(), RunStamp{runNumber, d_->latestStart, nullptr}, std::move(error));
}

void SpeechRecognitionService::runStartSequence(std::uint64_t runNumber) {
    if (d_->isRunning) {
        return;
    }
    // A model is loaded once its sample rate is known.
    if (!isRecognizerAvailable() || d_->decoderSampleRate <= 0) {
        postError(runNumber, std::make_exception_ptr(SpeechRecognitionError::notAvailable()));
        return;
    }

    auto run = std::make_shared<SpeechRecognitionRun>();
    run->stamp = RunStamp{runNumber, d_->latestStart, run->cancelled};
    run->source = d_->backends.makeAudioSource ? d_->backends.makeAudioSource() : nullptr;
    if (!run->source) {
        postError(runNumber,
                  std::make_exception_ptr(SpeechRecognitionError::engineStartFailed(QStringLiteral("no audio input"))));
        return;
    }
    const WeakService weak = weak_from_this();
    run->decodeThread = std::thread([run = run.get(), slot = d_->decoderSlot, weak] { decodeRun(*run, slot, weak); });

    // The decoder takes mono audio at its own rate and nothing converts it here.
    const AudioInputFormat format = run->source->format();
    if (!(format.sampleRate > 0) || format.channelCount <= 0 || format.channelCount != 1 ||
        format.sampleRate != d_->decoderSampleRate) {
        releaseRun(std::move(run), true);
        postError(runNumber, std::make_exception_ptr(SpeechRecognitionError::invalidInputFormat()));
        return;
    }
    if (const auto failure = run->source->start()) {
        AppLog::app().error(QStringLiteral("audio capture not started: %1").arg(*failure));
        releaseRun(std::move(run), true);
        postError(runNumber, std::make_exception_ptr(SpeechRecognitionError::engineStartFailed(*failure)));
        return;
    }
    run->captureThread = std::thread([run = run.get(), weak] { captureRun(*run, weak); });
    d_->run = std::move(run);
    d_->isRunning = true;
}

void SpeechRecognitionService::runStopSequence() {
    if (!d_->isRunning) {
        return;
    }
    d_->isRunning = false;
    auto run = std::move(d_->run);
    run->stopCapturing();
    run->endAudio();
    releaseRun(std::move(run), false);
}

void SpeechRecognitionService::releaseRun(std::shared_ptr<SpeechRecognitionRun> run, bool cancelNow) {
    if (cancelNow) {
        run->stopCapturing();
        run->cancel();
        return;
    }
    // Results of the last audio may still come until the cancel.
    d_->queue.asyncAfter(std::chrono::milliseconds(cancelDelayMilliseconds),
                         [self = shared_from_this(), run = std::move(run)] { run->cancel(); });
}

SpeechRecognitionServiceFactory speechRecognitionServiceFactory(SpeechRecognitionBackends backends) {
    return [backends = std::move(backends)](const QString& localeIdentifier) {
        return SpeechRecognitionService::create(localeIdentifier, backends);
    };
}

}  // namespace tavrolin
