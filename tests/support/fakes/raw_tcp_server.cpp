#include "support/fakes/raw_tcp_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrolin::test {

using namespace std::chrono_literals;

namespace {

// Waits until the descriptor can be read, at most `limit`.
bool readable(int descriptor, std::chrono::milliseconds limit) {
    pollfd entry{descriptor, POLLIN, 0};
    int result = 0;
    do {
        result = ::poll(&entry, 1, static_cast<int>(limit.count()));
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

}  // namespace

QByteArray RawConnection::readSome(qsizetype bytes, std::chrono::milliseconds limit) {
    QByteArray data;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (data.size() < bytes && descriptor_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms || !readable(descriptor_, left)) {
            break;
        }
        char buffer[16384];
        const ssize_t n = ::recv(descriptor_, buffer, std::min<qsizetype>(sizeof buffer, bytes - data.size()), 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, n);
    }
    return data;
}

QByteArray RawConnection::readRequest(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto left = [deadline] {
        return std::max(
            0ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
    };
    QByteArray data;
    qsizetype headEnd = -1;
    while ((headEnd = data.indexOf("\r\n\r\n")) < 0) {
        const QByteArray more = readSome(1, left());
        if (more.isEmpty()) {
            return data;
        }
        data += more;
    }
    qsizetype length = 0;
    for (const QByteArray& line : data.left(headEnd).split('\n')) {
        if (line.trimmed().toLower().startsWith("content-length:")) {
            length = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    const qsizetype bodyStart = headEnd + 4;
    const qsizetype missing = bodyStart + length - data.size();
    if (missing > 0) {
        data += readSome(missing, left());
    }
    return data;
}

bool RawConnection::write(const QByteArray& data) {
    qsizetype written = 0;
    while (written < data.size() && descriptor_ >= 0) {
        const ssize_t n = ::send(descriptor_, data.constData() + written, data.size() - written, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        written += n;
    }
    return written == data.size();
}

void RawConnection::reset() {
    if (descriptor_ < 0) {
        return;
    }
    const linger immediately{1, 0};
    ::setsockopt(descriptor_, SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    ::close(descriptor_);
    descriptor_ = -1;
}

void RawConnection::close() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

RawTcpServer::RawTcpServer(std::function<void(RawConnection&)> script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listener_ >= 0) {
            ::close(listener_);
        }
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

RawTcpServer::~RawTcpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

QUrl RawTcpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

void RawTcpServer::run() {
    while (!stopping_) {
        // Polls in short steps so that the destructor is never kept waiting for a client.
        if (!readable(listener_, 20ms)) {
            continue;
        }
        const int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor < 0) {
            continue;
        }
        ++connections_;
        RawConnection connection(descriptor);
        script_(connection);
        connection.close();
    }
}

}  // namespace tavrolin::test
