#pragma once

#include "platform/audio_input.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tavrolin::test {

// The shared state of the in-memory audio sources a test hands to a speech service: what they
// report and deliver, and what was done with them. A source first delivers the queued buffers,
// then silence at `silenceInterval` per buffer, like a microphone in a quiet room.
struct FakeAudioInput {
    std::mutex mutex;
    AudioInputFormat reportedFormat{16000, 1};
    std::optional<QString> startFailure;  // start() answers this reason
    std::deque<std::vector<std::int16_t>> queuedBuffers;
    std::optional<QString> failureWhenQueueEmpty;  // a read after the queue ran dry fails with it
    bool endOfStreamWhenQueueEmpty = false;
    std::chrono::milliseconds silenceInterval{5};
    // While set, a read waits (at most five seconds) before it delivers anything: a microphone
    // that has not started to deliver yet.
    std::atomic<bool> withholdAudio{false};

    std::atomic<int> sourcesMade{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};        // stop() on a started source
    std::atomic<int> openSources{0};  // started and not yet stopped
    std::atomic<int> reads{0};
    std::atomic<int> sourcesAlive{0};

    void queue(std::vector<std::int16_t> buffer) {
        const std::lock_guard lock(mutex);
        queuedBuffers.push_back(std::move(buffer));
    }
    // `count` buffers of 1024 frames whose first sample is `marker`, so a decoder can tell them apart.
    void queueMarked(int count, std::int16_t marker = 1) {
        for (int i = 0; i < count; ++i) {
            std::vector<std::int16_t> buffer(1024, 0);
            buffer[0] = marker;
            queue(std::move(buffer));
        }
    }
};

class FakeAudioInputSource final : public AudioInputSource {
public:
    explicit FakeAudioInputSource(std::shared_ptr<FakeAudioInput> state) : state_(std::move(state)) {
        ++state_->sourcesMade;
        ++state_->sourcesAlive;
    }
    ~FakeAudioInputSource() override {
        stop();
        --state_->sourcesAlive;
    }

    AudioInputFormat format() const override {
        const std::lock_guard lock(state_->mutex);
        return state_->reportedFormat;
    }
    std::optional<QString> start() override {
        ++state_->starts;
        {
            const std::lock_guard lock(state_->mutex);
            if (state_->startFailure) {
                return state_->startFailure;
            }
        }
        started_ = true;
        ++state_->openSources;
        return std::nullopt;
    }
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override {
        ++state_->reads;
        for (int waited = 0; state_->withholdAudio.load() && waited < 5000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::chrono::milliseconds wait{0};
        {
            const std::lock_guard lock(state_->mutex);
            if (!state_->queuedBuffers.empty()) {
                const auto& next = state_->queuedBuffers.front();
                std::fill(samples.begin(), samples.end(), std::int16_t{0});
                std::copy_n(next.begin(), std::min(next.size(), samples.size()), samples.begin());
                state_->queuedBuffers.pop_front();
                return AudioReadStatus::ok;
            }
            if (state_->failureWhenQueueEmpty) {
                error = *state_->failureWhenQueueEmpty;
                return AudioReadStatus::failed;
            }
            if (state_->endOfStreamWhenQueueEmpty) {
                return AudioReadStatus::endOfStream;
            }
            wait = state_->silenceInterval;
        }
        std::this_thread::sleep_for(wait);
        std::fill(samples.begin(), samples.end(), std::int16_t{0});
        return AudioReadStatus::ok;
    }
    void stop() override {
        if (started_) {
            started_ = false;
            ++state_->stops;
            --state_->openSources;
        }
    }

private:
    std::shared_ptr<FakeAudioInput> state_;
    bool started_ = false;
};

}  // namespace tavrolin::test
