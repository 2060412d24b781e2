#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <span>

namespace tavrolin {

// A loaded speech model that turns 16 kHz mono signed 16-bit audio into words, one utterance at
// a time. Used from one thread at a time. Every call that can fail answers false and puts a
// readable reason into `error`.
class SpeechDecoder {
public:
    virtual ~SpeechDecoder() = default;

    // The sample rate the model expects.
    virtual int sampleRate() const = 0;

    virtual bool startUtterance(QString& error) = 0;
    virtual bool processSamples(std::span<const std::int16_t> samples, QString& error) = 0;
    // Whether the audio processed so far in this utterance holds speech that has not ended.
    virtual bool inSpeech() const = 0;
    // The best words of the current (or just ended) utterance so far; may be empty and may hold
    // filler tokens such as "<sil>" or "[NOISE]".
    virtual QString hypothesis() = 0;
    virtual bool endUtterance(QString& error) = 0;
};

// Where the speech models come from: one model per recognition locale identifier ("en-US").
class SpeechModelProviding {
public:
    virtual ~SpeechModelProviding() = default;

    // Cheap: whether a model is installed for the locale at all.
    virtual bool hasModel(const QString& localeIdentifier) const = 0;
    // Slow (reads the model files): a decoder for the locale, or null with the reason in
    // `error` when there is no model or it does not load.
    virtual std::unique_ptr<SpeechDecoder> loadDecoder(const QString& localeIdentifier, QString& error) = 0;
};

}  // namespace tavrolin
