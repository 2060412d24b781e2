#pragma once

// A TCP server on 127.0.0.1 that does with each connection whatever the test scripts, down to
// the socket: answers cut short, connections reset (RST) or closed at any point. For what a
// well-behaved HTTP server cannot do; LocalHttpServer serves everything else.
#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace tavrolin::test {

// One accepted connection, as the script sees it. Every read is bounded: a client that sends
// nothing cannot hold the server thread.
class RawConnection {
public:
    explicit RawConnection(int descriptor) : descriptor_(descriptor) {}

    // Reads an HTTP request: the head up to its blank line and a body of its Content-Length.
    // Answers what arrived, the whole request or less.
    QByteArray readRequest(std::chrono::milliseconds limit = std::chrono::seconds(2));
    // Reads what arrives within `limit`, at most `bytes`.
    QByteArray readSome(qsizetype bytes, std::chrono::milliseconds limit = std::chrono::seconds(2));
    // Writes all of `data`; false once the peer is gone.
    bool write(const QByteArray& data);
    // Ends the connection with a reset (RST) instead of an orderly close.
    void reset();
    // An orderly close (FIN).
    void close();

private:
    friend class RawTcpServer;
    int descriptor_;
};

class RawTcpServer {
public:
    // `script` runs on the server's thread, once per connection, one connection at a time; the
    // connection is closed after it unless the script reset or closed it.
    explicit RawTcpServer(std::function<void(RawConnection&)> script);
    ~RawTcpServer();
    RawTcpServer(const RawTcpServer&) = delete;
    RawTcpServer& operator=(const RawTcpServer&) = delete;

    int port() const { return port_; }
    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path = QStringLiteral("/")) const;
    int connectionCount() const { return connections_.load(); }

private:
    void run();

    std::function<void(RawConnection&)> script_;
    int listener_ = -1;
    int port_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

}  // namespace tavrolin::test
