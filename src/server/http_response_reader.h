#pragma once

#include "core/url_error.h"
#include "server/http_exchange.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <optional>
#include <utility>

namespace tavrolin {

// An HTTP/1.1 answer read as it arrives, in pieces of any size: its head (interim 1xx heads
// skipped), then its body framed by length, by chunks or by the end of the connection. Every byte
// is counted as it comes: a head past httpResponseHeadMaximumBytes or a body past its bound fails
// at once. Throws URLError: badServerResponse for what cannot be read, networkConnectionLost for
// an answer the connection cut short.
class HttpResponseReader {
public:
    // `bodiless`: the answer to a HEAD request, which has none whatever its head says.
    HttpResponseReader(bool bodiless, qint64 maximumBodyBytes)
        : bodiless_(bodiless), maximumBodyBytes_(maximumBodyBytes) {}

    void feed(const QByteArray& data) {
        received_ += data.size();
        pending_ += data;
        while (stage_ != Stage::done && step()) {
        }
    }
    // The connection ended: an answer framed by it is complete, any other one is cut short.
    void end() {
        if (stage_ == Stage::untilClose) {
            stage_ = Stage::done;
        }
        if (stage_ != Stage::done) {
            throw URLError(URLError::networkConnectionLost, received_ == 0
                                                                ? QStringLiteral("closed without an answer")
                                                                : QStringLiteral("closed in the middle of the answer"));
        }
    }
    bool isComplete() const { return stage_ == Stage::done; }
    HttpExchangeAnswer take() { return std::move(answer_); }

private:
    enum class Stage { head, lengthBody, untilClose, chunkSize, chunkData, chunkEnd, trailer, done };

    // One step on what is pending; false when it needs more bytes.
    bool step() {
        switch (stage_) {
        case Stage::head:
            return readHead();
        case Stage::lengthBody:
        case Stage::chunkData:
            return readCounted();
        case Stage::untilClose:
            appendBody(pending_);
            pending_.clear();
            return false;
        case Stage::chunkSize:
            return readChunkSize();
        case Stage::chunkEnd:
        case Stage::trailer:
            return readFramingLine();
        case Stage::done:
            return false;
        }
        return false;
    }

    bool readHead() {
        // Counted across interim (1xx) heads: a server cannot send heads without end.
        qsizetype end = pending_.indexOf("\n\r\n", std::max<qsizetype>(0, scanned_ - 2));
        qsizetype blank = pending_.indexOf("\n\n", std::max<qsizetype>(0, scanned_ - 1));
        end = end < 0 ? blank : (blank < 0 ? end : std::min(end, blank));
        const qsizetype length = end < 0 ? pending_.size() : end + (pending_.mid(end, 2) == "\n\n" ? 2 : 3);
        if (headBytes_ + length > httpResponseHeadMaximumBytes) {
            fail(QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes));
        }
        if (end < 0) {
            scanned_ = pending_.size();
            return false;
        }
        headBytes_ += length;
        const QByteArray head = pending_.left(length);
        pending_.remove(0, length);
        scanned_ = 0;
        parseHead(head);
        return true;
    }

    void parseHead(const QByteArray& head) {
        QList<QByteArray> lines = head.split('\n');
        const QByteArray status = lines.takeFirst().trimmed();
        const QList<QByteArray> parts = status.split(' ');
        bool numeric = false;
        const int code = parts.value(1).toInt(&numeric);
        if (!status.startsWith("HTTP/1.") || parts.size() < 2 || !numeric || code < 100 || code > 999) {
            fail(QStringLiteral("not an HTTP answer"));
        }
        if (code >= 100 && code < 200 && code != 101) {
            return;  // an interim answer; the real one follows
        }
        answer_.statusCode = code;
        for (const QByteArray& line : lines) {
            const qsizetype colon = line.indexOf(':');
            if (line.trimmed().isEmpty()) {
                continue;
            }
            if (colon <= 0) {
                fail(QStringLiteral("a header line without a name"));
            }
            answer_.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
        }
        frame(code);
    }

    void frame(int code) {
        if (bodiless_ || code == 204 || code == 304 || code < 200) {
            stage_ = Stage::done;
            return;
        }
        if (answer_.header("transfer-encoding").value_or(QByteArray()).toLower().contains("chunked")) {
            stage_ = Stage::chunkSize;
            return;
        }
        const auto length = answer_.header("content-length");
        if (!length) {
            stage_ = Stage::untilClose;
            return;
        }
        bool valid = false;
        remaining_ = length->toLongLong(&valid);
        if (!valid || remaining_ < 0) {
            fail(QStringLiteral("a Content-Length that is not a length"));
        }
        if (remaining_ > maximumBodyBytes_) {
            tooLarge();
        }
        stage_ = remaining_ == 0 ? Stage::done : Stage::lengthBody;
    }

    bool readCounted() {
        const qsizetype taken = static_cast<qsizetype>(std::min<qint64>(remaining_, pending_.size()));
        appendBody(pending_.left(taken));
        pending_.remove(0, taken);
        remaining_ -= taken;
        if (remaining_ > 0) {
            return false;
        }
        stage_ = stage_ == Stage::lengthBody ? Stage::done : Stage::chunkEnd;
        return true;
    }

    // A framing line of a chunked body, without its line end; none until it is all there.
    std::optional<QByteArray> framingLine() {
        const qsizetype end = pending_.indexOf('\n');
        // However the bytes were cut: a line found longer than the bound, or none found yet in
        // more than the bound.
        if ((end < 0 ? pending_.size() : end) > maximumChunkLineBytes) {
            fail(QStringLiteral("a chunk line longer than %1 bytes").arg(maximumChunkLineBytes));
        }
        if (end < 0) {
            return std::nullopt;
        }
        QByteArray line = pending_.left(end).trimmed();
        pending_.remove(0, end + 1);
        return line;
    }

    bool readChunkSize() {
        const auto line = framingLine();
        if (!line) {
            return false;
        }
        bool valid = false;
        const qsizetype extensions = line->indexOf(';');
        const QByteArray size = (extensions < 0 ? *line : line->left(extensions)).trimmed();
        remaining_ = size.toLongLong(&valid, 16);
        if (!valid || remaining_ < 0) {
            fail(QStringLiteral("a chunk size that is not a number"));
        }
        if (body_ + remaining_ > maximumBodyBytes_) {
            tooLarge();
        }
        stage_ = remaining_ == 0 ? Stage::trailer : Stage::chunkData;
        return true;
    }

    // The line end after a chunk's data, or a line of the trailer, whose blank line ends the body.
    bool readFramingLine() {
        const auto line = framingLine();
        if (!line) {
            return false;
        }
        if (stage_ == Stage::chunkEnd) {
            if (!line->isEmpty()) {
                fail(QStringLiteral("a chunk longer than its size"));
            }
            stage_ = Stage::chunkSize;
            return true;
        }
        headBytes_ += line->size() + 1;
        if (headBytes_ > httpResponseHeadMaximumBytes) {
            fail(QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes));
        }
        if (line->isEmpty()) {
            stage_ = Stage::done;
        }
        return true;
    }

    void appendBody(const QByteArray& data) {
        body_ += data.size();
        if (body_ > maximumBodyBytes_) {
            tooLarge();
        }
        answer_.body += data;
    }
    [[noreturn]] static void fail(const QString& why) { throw URLError(URLError::badServerResponse, why); }
    [[noreturn]] void tooLarge() const {
        fail(QStringLiteral("response body larger than %1 bytes").arg(maximumBodyBytes_));
    }

    // The longest line of a chunked body's framing (a size and its extensions).
    static constexpr qsizetype maximumChunkLineBytes = 4096;

    const bool bodiless_;
    const qint64 maximumBodyBytes_;
    Stage stage_ = Stage::head;
    QByteArray pending_;
    qsizetype scanned_ = 0;  // of pending_, searched for the head's end
    qint64 received_ = 0;
    qint64 headBytes_ = 0;
    qint64 body_ = 0;
    qint64 remaining_ = 0;  // of the body or the current chunk
    HttpExchangeAnswer answer_;
};

}  // namespace tavrolin
