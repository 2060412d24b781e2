#include "support/fakes/file_audio_input_source.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <thread>

namespace tavrolin::test {

namespace {

struct WavHeader {
    int formatTag = 0;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    qsizetype dataOffset = -1;
    qsizetype dataSize = 0;
};

std::optional<WavHeader> parseWav(const QByteArray& bytes, QString& problem) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") {
        problem = QStringLiteral("not a WAV file");
        return std::nullopt;
    }
    WavHeader header;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt ") {
            if (size < 16 || body + 16 > bytes.size()) {
                problem = QStringLiteral("the WAV format chunk is cut short");
                return std::nullopt;
            }
            header.formatTag = qFromLittleEndian<quint16>(bytes.constData() + body);
            header.channels = qFromLittleEndian<quint16>(bytes.constData() + body + 2);
            header.sampleRate = static_cast<int>(qFromLittleEndian<quint32>(bytes.constData() + body + 4));
            header.bitsPerSample = qFromLittleEndian<quint16>(bytes.constData() + body + 14);
            haveFormat = true;
        } else if (id == "data") {
            header.dataOffset = body;
            header.dataSize = std::min<qsizetype>(size, bytes.size() - body);
            break;
        }
        at = body + static_cast<qsizetype>(size) + (size % 2);
    }
    if (!haveFormat || header.dataOffset < 0) {
        problem = QStringLiteral("the WAV file has no format or no data");
        return std::nullopt;
    }
    return header;
}

}  // namespace

FileAudioInputSource::FileAudioInputSource(QString path, bool pacedToRealTime)
    : path_(std::move(path)), paced_(pacedToRealTime), format_{16000, 1} {
    isWav_ = path_.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive);
    if (!isWav_) {
        return;
    }
    // The header decides the reported format; a header that cannot be read reports nothing usable.
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        format_ = {0, 0};
        headerProblem_ = file.errorString();
        return;
    }
    QString problem;
    const auto header = parseWav(file.read(4096), problem);
    if (!header) {
        format_ = {0, 0};
        headerProblem_ = problem;
        return;
    }
    format_ = {static_cast<double>(header->sampleRate), header->channels};
    bitsPerSample_ = header->bitsPerSample;
    wavFormatTag_ = header->formatTag;
}

std::optional<QString> FileAudioInputSource::start() {
    if (headerProblem_) {
        return headerProblem_;
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.errorString();
    }
    const QByteArray bytes = file.readAll();
    if (isWav_) {
        QString problem;
        const auto header = parseWav(bytes, problem);
        if (!header) {
            return problem;
        }
        if (header->formatTag != 1 || header->bitsPerSample != 16) {
            return QStringLiteral("only 16-bit PCM WAV files can be read");
        }
        data_ = bytes.mid(header->dataOffset, header->dataSize);
    } else {
        if (bytes.size() % 2 != 0) {
            return QStringLiteral("raw audio with an odd number of bytes");
        }
        data_ = bytes;
    }
    // Whole frames only.
    const qsizetype frameBytes = 2 * std::max(1, format_.channelCount);
    data_.truncate(data_.size() - data_.size() % frameBytes);
    position_ = 0;
    framesDelivered_ = 0;
    started_ = true;
    startedAt_ = std::chrono::steady_clock::now();
    return std::nullopt;
}

AudioReadStatus FileAudioInputSource::read(std::span<std::int16_t> samples, QString& error) {
    if (!started_) {
        error = QStringLiteral("the file is not open");
        return AudioReadStatus::failed;
    }
    if (position_ >= data_.size()) {
        return AudioReadStatus::endOfStream;
    }
    const qsizetype wanted = static_cast<qsizetype>(samples.size_bytes());
    const qsizetype available = std::min(wanted, data_.size() - position_);
    std::fill(samples.begin(), samples.end(), std::int16_t{0});
    for (qsizetype i = 0; i < available / 2; ++i) {
        samples[static_cast<std::size_t>(i)] = qFromLittleEndian<qint16>(data_.constData() + position_ + 2 * i);
    }
    position_ += available;
    const int channels = std::max(1, format_.channelCount);
    framesDelivered_ += static_cast<std::int64_t>(samples.size()) / channels;
    if (paced_ && format_.sampleRate > 0) {
        const auto due = startedAt_ + std::chrono::microseconds(
                                          static_cast<std::int64_t>(framesDelivered_ * 1'000'000 / format_.sampleRate));
        std::this_thread::sleep_until(due);
    }
    return AudioReadStatus::ok;
}

void FileAudioInputSource::stop() {
    started_ = false;
    data_.clear();
}

}  // namespace tavrolin::test
