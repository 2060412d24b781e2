#pragma once

// Shared pieces of the fuzz targets: taking typed fields from the input bytes, the checks that
// fail an input, and a log sink that composes every line and keeps none.

#include "core/app_log.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tavrolin::fuzz {

// An invariant of the decoder under test. A broken one aborts, which both the fuzzer and the
// standalone driver report as a failing input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Reads fields from the front of the input; past the end every field is empty or zero.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    std::size_t remaining() const { return size_ - position_; }

    std::uint8_t byte() { return remaining() > 0 ? data_[position_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>((byte() << 8) | byte()); }
    std::uint32_t doubleWord() { return (std::uint32_t(word()) << 16) | word(); }

    // Up to `count` bytes.
    QByteArray bytes(std::size_t count) {
        count = std::min(count, remaining());
        QByteArray taken(reinterpret_cast<const char*>(data_ + position_), static_cast<qsizetype>(count));
        position_ += count;
        return taken;
    }
    // A field of its own length (one length byte first).
    QByteArray field() { return bytes(byte()); }
    QByteArray rest() { return bytes(remaining()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// The bytes as UTF-16 code units, as text from another program can arrive: lone surrogates
// and NULs included.
inline QString rawUtf16(const QByteArray& bytes) {
    return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
}

// No lone surrogate: every high surrogate is followed by a low one and every low one follows
// a high one.
inline bool isValidUtf16(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate()) {
                return false;
            }
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// Every line enabled and composed (so the formatting runs), none kept.
class DiscardingLogSink final : public LogSink {
public:
    bool isEnabled(LogCategory, LogLevel) const override { return true; }
    void write(LogCategory, LogLevel, const QString&) override {}
};

inline void discardLogLines() {
    static const bool installed = [] {
        AppLog::setSink(std::make_shared<DiscardingLogSink>());
        return true;
    }();
    (void)installed;
}

}  // namespace tavrolin::fuzz
