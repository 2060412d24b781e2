#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace tavrolin {

// The format of the audio a source delivers: interleaved signed 16-bit little-endian samples.
struct AudioInputFormat {
    double sampleRate = 0;
    int channelCount = 0;

    bool operator==(const AudioInputFormat&) const = default;
};

// What one read of an audio source gave.
enum class AudioReadStatus {
    ok,           // the buffer was filled
    endOfStream,  // the source has nothing more (files); the buffer holds nothing useful
    failed,       // the source broke; the reason is in the read's error text
};

// A microphone-like source of audio, read in buffers of whole frames on one thread.
// The owner builds it, checks format(), calls start(), then reads from one capture thread
// until it decides to stop, and calls stop() on that same thread. A read blocks for about one
// buffer's worth of time, so stopping happens between reads.
class AudioInputSource {
public:
    virtual ~AudioInputSource() = default;

    // The format the source will deliver once started; a sample rate of 0 or no channels means
    // the device reports nothing usable.
    virtual AudioInputFormat format() const = 0;
    // Opens the device or stream. None on success, else a readable reason.
    virtual std::optional<QString> start() = 0;
    // Fills `samples` (frames times channels) completely, blocking as a live device does.
    virtual AudioReadStatus read(std::span<std::int16_t> samples, QString& error) = 0;
    // Frees the stream. Safe to call when never started or already stopped.
    virtual void stop() = 0;
};

}  // namespace tavrolin
