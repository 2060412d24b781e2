#pragma once

#include "platform/audio_input.h"

#include <QString>

struct pa_simple;

namespace tavrolin {

// Records from the sound server's default source through the PulseAudio simple API, as
// 16 kHz mono signed 16-bit: the server converts whatever the device delivers. A read of a
// 1024-frame buffer blocks for about 64 ms.
class PulseAudioInputSource final : public AudioInputSource {
public:
    static constexpr int sampleRate = 16000;

    // `applicationName` names the stream in the server's listings.
    explicit PulseAudioInputSource(QString applicationName = QStringLiteral("Tavrolin"));
    ~PulseAudioInputSource() override;
    PulseAudioInputSource(const PulseAudioInputSource&) = delete;
    PulseAudioInputSource& operator=(const PulseAudioInputSource&) = delete;

    AudioInputFormat format() const override;
    std::optional<QString> start() override;
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override;
    void stop() override;

private:
    QString applicationName_;
    pa_simple* stream_ = nullptr;
};

}  // namespace tavrolin
