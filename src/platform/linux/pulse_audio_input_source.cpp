#include "platform/linux/pulse_audio_input_source.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace tavrolin {

PulseAudioInputSource::PulseAudioInputSource(QString applicationName) : applicationName_(std::move(applicationName)) {}

PulseAudioInputSource::~PulseAudioInputSource() {
    stop();
}

AudioInputFormat PulseAudioInputSource::format() const {
    // The server converts from the device's own format to the one we ask for.
    return {static_cast<double>(sampleRate), 1};
}

std::optional<QString> PulseAudioInputSource::start() {
    if (stream_ != nullptr) {
        return std::nullopt;
    }
    pa_sample_spec sampleFormat{};
    sampleFormat.format = PA_SAMPLE_S16LE;
    sampleFormat.rate = sampleRate;
    sampleFormat.channels = 1;
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

std::unique_ptr<AudioInputSource> makeSystemAudioInputSource() {
    return std::make_unique<PulseAudioInputSource>();
}

}  // namespace tavrolin
