#pragma once

// The fake server of the tests: a real HTTP server on 127.0.0.1 in the test process, on a
// port the system picks. Handlers run on the server's own threads.
#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <atomic>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace tavrolin::test {

class LocalHttpServer {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& server() { return server_; }
    // Starts listening, on `port` when given, else on one the system picks; call after the
    // handlers are registered.
    void start(int port = 0);
    int port() const { return port_; }
    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path = QStringLiteral("/")) const;
    // Requests seen so far (any path).
    int requestCount() const { return requests_.load(); }
    // Before start(): keeps a connection open for more requests (by default each answer closes
    // its connection), and counts the connections requests came on.
    void keepConnectionsAlive();
    int connectionCount() const;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::set<int> clientPorts_;
};

// A handler answering {"text":"aaa…"} of about `bytes` bytes, streamed in 64 KiB chunks without
// a length, as a server that runs away does. `streamed` counts what the connection took, so a
// test sees how much a client read before it stopped; it outlives the test's own frame, since
// the server's thread may still be writing when a run has ended.
httplib::Server::Handler streamedTextAnswer(std::size_t bytes, std::shared_ptr<std::atomic<qint64>> streamed);

}  // namespace tavrolin::test
