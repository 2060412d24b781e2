// The audio module: the sound server's default input through the PulseAudio simple API.
#include "platform/audio_input.h"
#include "platform/linux/engine_module_entries.h"

#include <QString>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace tavrolin {

namespace {

// Records from the sound server's default source through the PulseAudio simple API, as
// 16 kHz mono signed 16-bit. A read of a 1024-frame buffer blocks for about 64 ms.
class PulseAudioInputSource final : public AudioInputSource {
public:
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

PulseAudioInputSource::PulseAudioInputSource(QString applicationName) : applicationName_(std::move(applicationName)) {}

PulseAudioInputSource::~PulseAudioInputSource() {
    stop();
}

AudioInputFormat PulseAudioInputSource::format() const {
    return soundServerRecordingFormat;
}

std::optional<QString> PulseAudioInputSource::start() {
    if (stream_ != nullptr) {
        return std::nullopt;
    }
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = static_cast<std::uint32_t>(soundServerRecordingFormat.sampleRate);
    sampleFormat.channels = static_cast<std::uint8_t>(soundServerRecordingFormat.channelCount);
    // About 64 ms per fragment: one read of a 1024-frame buffer, so partial results stay prompt.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = 1024 * sizeof(std::int16_t);
    int error = 0;
    const QByteArray name = applicationName_.toUtf8();
    stream_ = pa_simple_new(nullptr, name.constData(), PA_STREAM_RECORD, nullptr, "Dictation", &sampleFormat, nullptr,
                            &attributes, &error);
    if (stream_ == nullptr) {
        return QString::fromUtf8(pa_strerror(error));
    }
    return std::nullopt;
}

AudioReadStatus PulseAudioInputSource::read(std::span<std::int16_t> samples, QString& error) {
    if (stream_ == nullptr) {
        error = QStringLiteral("the recording stream is not open");
        return AudioReadStatus::failed;
    }
    int code = 0;
    if (pa_simple_read(stream_, samples.data(), samples.size_bytes(), &code) < 0) {
        error = QString::fromUtf8(pa_strerror(code));
        return AudioReadStatus::failed;
    }
    return AudioReadStatus::ok;
}

void PulseAudioInputSource::stop() {
    if (stream_ != nullptr) {
        pa_simple_free(stream_);
        stream_ = nullptr;
    }
}

}  // namespace

}  // namespace tavrolin

tavrolin::AudioInputSource* tavrolin_audio_make_input_source() {
    return new tavrolin::PulseAudioInputSource();
}
