#include "support/fakes/local_http_server.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace tavrolin::test {

LocalHttpServer::LocalHttpServer() {
    // One request per connection unless a test asks for more: the server's threads wait out an
    // idle connection's keep-alive time before they stop, and clients keep connections open.
    server_.set_keep_alive_max_count(1);
    // Counted before the request is routed: a logger runs only after the response has been
    // sent, so a client could see its answer before the count moved.
    server_.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
        ++requests_;
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

void LocalHttpServer::keepConnectionsAlive() {
    server_.set_keep_alive_max_count(100);
    server_.set_keep_alive_timeout(1);
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        ++requests_;
        const std::lock_guard lock(mutex_);
        clientPorts_.insert(request.remote_port);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

int LocalHttpServer::connectionCount() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(clientPorts_.size());
}

LocalHttpServer::~LocalHttpServer() {
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LocalHttpServer::start(int port) {
    port_ = port > 0 ? (server_.bind_to_port("127.0.0.1", port) ? port : -1) : server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("cannot bind a port on 127.0.0.1");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // cpp-httplib has no readiness wait: poll.
    for (int i = 0; i < 500 && !server_.is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!server_.is_running()) {
        throw std::runtime_error("the local HTTP server did not start");
    }
}

QUrl LocalHttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

httplib::Server::Handler streamedTextAnswer(std::size_t bytes, std::shared_ptr<std::atomic<qint64>> streamed) {
    return [bytes, streamed](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/json", [bytes, streamed](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= bytes) {
                    sink.write("\"}", 2);
                    sink.done();
                    return true;
                }
                const std::string chunk = offset == 0 ? std::string(R"({"text":")") : std::string(64 * 1024, 'a');
                if (!sink.write(chunk.data(), chunk.size())) {
                    return false;
                }
                *streamed += static_cast<qint64>(chunk.size());
                return true;
            });
    };
}

}  // namespace tavrolin::test
