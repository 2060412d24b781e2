#pragma once

#include "platform/speech_decoder.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace tavrolin::test {

// What a scripted decoder answers after processing one buffer.
struct FakeDecoderStep {
    bool inSpeech = false;
    QString hypothesis;
    std::optional<QString> failure;  // processSamples fails with this reason
};

// The shared state of the scripted decoders a test hands to a speech service. Each processed
// buffer takes the next step of the script; once it is used up the decoder hears silence and
// keeps its hypothesis. Ending an utterance keeps the hypothesis; starting one clears it.
struct FakeSpeechScript {
    std::mutex mutex;
    std::deque<FakeDecoderStep> steps;
    // Only buffers whose first sample is not zero take a step (see FakeAudioInput::queueMarked);
    // off, every buffer does.
    bool stepOnMarkedBuffersOnly = true;
    std::optional<QString> endUtteranceFailure;
    // How long each processed buffer takes, to make a decoder that lags behind the audio; may be
    // changed while a decoder runs.
    std::atomic<std::chrono::milliseconds> processingTime{std::chrono::milliseconds(0)};

    std::atomic<int> processedBuffers{0};
    std::atomic<int> utterancesStarted{0};
    std::atomic<int> utterancesEnded{0};
    std::atomic<int> decodersAlive{0};

    void add(bool inSpeech, const QString& hypothesis) {
        const std::lock_guard lock(mutex);
        steps.push_back({inSpeech, hypothesis, std::nullopt});
    }
    void addFailure(const QString& reason) {
        const std::lock_guard lock(mutex);
        steps.push_back({true, {}, reason});
    }
};

class FakeSpeechDecoder final : public SpeechDecoder {
public:
    explicit FakeSpeechDecoder(std::shared_ptr<FakeSpeechScript> script) : script_(std::move(script)) {
        ++script_->decodersAlive;
    }
    ~FakeSpeechDecoder() override { --script_->decodersAlive; }

    int sampleRate() const override { return 16000; }
    bool startUtterance(QString&) override {
        ++script_->utterancesStarted;
        hypothesis_.clear();
        inSpeech_ = false;
        return true;
    }
    bool processSamples(std::span<const std::int16_t> samples, QString& error) override {
        ++script_->processedBuffers;
        std::this_thread::sleep_for(script_->processingTime.load());
        const std::lock_guard lock(script_->mutex);
        const bool marked = !samples.empty() && samples[0] != 0;
        if (script_->steps.empty() || (script_->stepOnMarkedBuffersOnly && !marked)) {
            inSpeech_ = false;
            return true;
        }
        const FakeDecoderStep step = script_->steps.front();
        script_->steps.pop_front();
        if (step.failure) {
            error = *step.failure;
            return false;
        }
        inSpeech_ = step.inSpeech;
        hypothesis_ = step.hypothesis;
        return true;
    }
    bool inSpeech() const override { return inSpeech_; }
    QString hypothesis() override { return hypothesis_; }
    bool endUtterance(QString& error) override {
        ++script_->utterancesEnded;
        const std::lock_guard lock(script_->mutex);
        if (script_->endUtteranceFailure) {
            error = *script_->endUtteranceFailure;
            return false;
        }
        return true;
    }

private:
    std::shared_ptr<FakeSpeechScript> script_;
    QString hypothesis_;
    bool inSpeech_ = false;
};

// Models in memory: the listed locales have a model; loading it gives a scripted decoder unless
// `loadFailure` is set.
class FakeSpeechModels final : public SpeechModelProviding {
public:
    explicit FakeSpeechModels(QSet<QString> locales = {QStringLiteral("en-US")},
                              std::shared_ptr<FakeSpeechScript> script = std::make_shared<FakeSpeechScript>())
        : locales(std::move(locales)), script(std::move(script)) {}

    bool hasModel(const QString& localeIdentifier) const override { return locales.contains(localeIdentifier); }
    std::unique_ptr<SpeechDecoder> loadDecoder(const QString& localeIdentifier, QString& error) override {
        ++loads;
        if (!locales.contains(localeIdentifier)) {
            error = QStringLiteral("no speech model for %1").arg(localeIdentifier);
            return nullptr;
        }
        if (loadFailure) {
            error = *loadFailure;
            return nullptr;
        }
        return std::make_unique<FakeSpeechDecoder>(script);
    }

    QSet<QString> locales;
    std::shared_ptr<FakeSpeechScript> script;
    std::optional<QString> loadFailure;
    std::atomic<int> loads{0};
};

}  // namespace tavrolin::test
