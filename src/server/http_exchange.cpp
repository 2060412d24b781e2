#include "server/http_exchange.h"

#include "core/url_error.h"
#include "server/http_response_reader.h"

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
    // Also reached when the awaiting coroutine is destroyed mid-exchange: the socket's last
    // signals must not reach the members already gone.
    ~Connection() override {
        socket_.disconnect(this);
        socket_.abort();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

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
    HttpResponseReader reader_;
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
