#include "server/http_exchange.h"

#include "core/url_error.h"

#include <QCoroSignal>
#include <QObject>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace tavrolin {

std::optional<QByteArray> HttpExchangeAnswer::header(const QByteArray& name) const {
    const QByteArray lower = name.toLower();
    for (const auto& [key, value] : headers) {
        if (key == lower) {
            return value;
        }
    }
    return std::nullopt;
}

namespace {

// The most of an answer taken from the socket at once.
constexpr qint64 readChunkBytes = 256 * 1024;
// The longest line of a chunked body's framing (a size and its extensions).
constexpr qsizetype maximumChunkLineBytes = 4096;

[[noreturn]] void unreadable(const QString& why) {
    throw URLError(URLError::badServerResponse, why);
}

// The answer as it arrives: its head, then its body framed by length, by chunks or by the end of
// the connection. Every byte is counted as it comes: a head or body past its bound fails at once.
class ResponseReader {
public:
    ResponseReader(bool bodiless, qint64 maximumBodyBytes) : bodiless_(bodiless), maximumBodyBytes_(maximumBodyBytes) {}

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
            unreadable(QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes));
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
            unreadable(QStringLiteral("not an HTTP answer"));
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
                unreadable(QStringLiteral("a header line without a name"));
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
            unreadable(QStringLiteral("a Content-Length that is not a length"));
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
        if (end < 0) {
            if (pending_.size() > maximumChunkLineBytes) {
                unreadable(QStringLiteral("a chunk line longer than %1 bytes").arg(maximumChunkLineBytes));
            }
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
            unreadable(QStringLiteral("a chunk size that is not a number"));
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
                unreadable(QStringLiteral("a chunk longer than its size"));
            }
            stage_ = Stage::chunkSize;
            return true;
        }
        headBytes_ += line->size() + 1;
        if (headBytes_ > httpResponseHeadMaximumBytes) {
            unreadable(QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes));
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
    [[noreturn]] void tooLarge() const {
        unreadable(QStringLiteral("response body larger than %1 bytes").arg(maximumBodyBytes_));
    }

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

QByteArray requestHead(const HttpExchangeRequest& request) {
    const QUrl& url = request.url;
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/')) {
        target.prepend('/');
    }
    const bool secure = url.scheme() == QLatin1String("https");
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    if (url.port() >= 0 && url.port() != (secure ? 443 : 80)) {
        host += ':' + QByteArray::number(url.port());
    }
    QByteArray head = request.method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const auto& [name, value] : request.headers) {
        head += name + ": " + value + "\r\n";
    }
    if (!request.body.isEmpty() || (request.method != "GET" && request.method != "HEAD")) {
        head += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

// The connection of one exchange: its socket, its two timers and the reader of its answer. It
// ends (done) once with an answer or a failure; whatever the socket does after that is ignored.
class Connection final : public QObject {
    Q_OBJECT
public:
    Connection(const HttpExchangeRequest& request, const HttpExchangeLimits& limits)
        : reader_(request.method == "HEAD", limits.maximumBodyBytes) {
        idle_.setSingleShot(true);
        idle_.setInterval(limits.idle);
        whole_.setSingleShot(true);
        whole_.setInterval(std::max(limits.whole, std::chrono::milliseconds(1)));
        connect(&idle_, &QTimer::timeout, this, &Connection::expire);
        connect(&whole_, &QTimer::timeout, this, &Connection::expire);
        connect(&socket_, &QAbstractSocket::connected, this, [this] {
            connected_ = true;
            active();
        });
        connect(&socket_, &QSslSocket::encrypted, this, &Connection::active);
        connect(&socket_, &QIODevice::bytesWritten, this, &Connection::active);
        connect(&socket_, &QIODevice::readyRead, this, &Connection::read);
        connect(&socket_, &QAbstractSocket::disconnected, this, &Connection::closed);
        connect(&socket_, &QAbstractSocket::errorOccurred, this, &Connection::failed);
        connect(&socket_, &QSslSocket::sslErrors, this, [this] { certificateRejected_ = true; });
        socket_.setReadBufferSize(readChunkBytes);
    }

    void start(const HttpExchangeRequest& request) {
        idle_.start();
        whole_.start();
        const QString host = request.url.host();
        const bool secure = request.url.scheme() == QLatin1String("https");
        const auto port = static_cast<quint16>(request.url.port(secure ? 443 : 80));
        if (secure) {
            socket_.connectToHostEncrypted(host, port);
        } else {
            socket_.connectToHost(host, port);
        }
        // Written at once: the socket sends it as soon as the connection (and TLS) is up.
        if (!done_) {
            socket_.write(requestHead(request) + request.body);
        }
    }

    bool isDone() const { return done_; }
    HttpExchangeAnswer answer() {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        return reader_.take();
    }

Q_SIGNALS:
    void finished();

private:
    void active() { idle_.start(); }

    void read() {
        if (done_) {
            return;
        }
        active();
        try {
            while (socket_.bytesAvailable() > 0 && !reader_.isComplete()) {
                reader_.feed(socket_.read(readChunkBytes));
            }
            if (reader_.isComplete()) {
                finish(nullptr);
            }
        } catch (...) {
            finish(std::current_exception());
        }
    }

    void closed() {
        read();
        if (done_) {
            return;
        }
        try {
            reader_.end();
            finish(nullptr);
        } catch (...) {
            finish(std::current_exception());
        }
    }

    void failed(QAbstractSocket::SocketError error) {
        if (done_ || error == QAbstractSocket::RemoteHostClosedError) {
            closed();  // a connection ended by the server: the answer may be whole
            return;
        }
        finish(std::make_exception_ptr(failure(error)));
    }

    URLError failure(QAbstractSocket::SocketError error) const {
        const QString detail = socket_.errorString();
        switch (error) {
        case QAbstractSocket::HostNotFoundError:
            return URLError(URLError::cannotFindHost, detail);
        case QAbstractSocket::ConnectionRefusedError:
        case QAbstractSocket::ProxyConnectionRefusedError:
        case QAbstractSocket::ProxyNotFoundError:
            return URLError(URLError::cannotConnectToHost, detail);
        case QAbstractSocket::SslHandshakeFailedError:
        case QAbstractSocket::SslInternalError:
        case QAbstractSocket::SslInvalidUserDataError:
            return URLError(
                certificateRejected_ ? URLError::serverCertificateUntrusted : URLError::secureConnectionFailed, detail);
        default:
            break;
        }
        // Once the server took the connection, any other failure is a connection lost on the way;
        // before, the network itself may be missing.
        return URLError(connected_ ? URLError::networkConnectionLost : URLError::unknown, detail);
    }

    void expire() {
        if (!done_) {
            finish(
                std::make_exception_ptr(URLError(URLError::timedOut, QStringLiteral("no answer within the time-out"))));
        }
    }

    void finish(std::exception_ptr failure) {
        done_ = true;
        failure_ = std::move(failure);
        idle_.stop();
        whole_.stop();
        socket_.abort();
        Q_EMIT finished();
    }

    QSslSocket socket_;
    QTimer idle_;
    QTimer whole_;
    ResponseReader reader_;
    bool done_ = false;
    bool connected_ = false;
    bool certificateRejected_ = false;
    std::exception_ptr failure_;
};

}  // namespace

QCoro::Task<HttpExchangeAnswer> exchangeHttp(HttpExchangeRequest request, HttpExchangeLimits limits) {
    const auto connection = std::make_unique<Connection>(request, limits);
    connection->start(request);
    if (!connection->isDone()) {
        co_await qCoro(connection.get(), &Connection::finished);
    }
    co_return connection->answer();
}

}  // namespace tavrolin

#include "http_exchange.moc"
