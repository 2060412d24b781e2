#pragma once

#include "platform/audio_input.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

namespace tavrolin::test {

// Audio from a file, read like a microphone: raw signed 16-bit little-endian mono at 16 kHz, or
// a WAV file whose header says what it holds. Paced, each read returns no earlier than the
// buffer would have been recorded in real time. At the end of the file it reports the end of
// the stream (the last buffer padded with silence).
class FileAudioInputSource final : public AudioInputSource {
public:
    explicit FileAudioInputSource(QString path, bool pacedToRealTime = false);

    AudioInputFormat format() const override { return format_; }
    std::optional<QString> start() override;
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override;
    void stop() override;

    // When the first buffer was handed out (steady clock), for latency figures.
    std::chrono::steady_clock::time_point startedAt() const { return startedAt_; }

private:
    QString path_;
    bool paced_;
    AudioInputFormat format_;
    int bitsPerSample_ = 16;
    int wavFormatTag_ = 1;
    bool isWav_ = false;
    std::optional<QString> headerProblem_;
    QByteArray data_;  // the samples, once started
    qsizetype position_ = 0;
    std::int64_t framesDelivered_ = 0;
    bool started_ = false;
    std::chrono::steady_clock::time_point startedAt_{};
};

}  // namespace tavrolin::test
