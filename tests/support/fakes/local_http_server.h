#pragma once

// The fake server of the tests: a real HTTP server on 127.0.0.1 in the test process, on a
// port the system picks. Handlers run on the server's own threads.
#include <QString>
#include <QUrl>

#include <atomic>
#include <httplib.h>
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

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::atomic<int> requests_{0};
};

}  // namespace tavrolin::test
