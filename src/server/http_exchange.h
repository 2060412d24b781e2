#pragma once

// One HTTP/1.1 request and its answer, on a connection of its own, read here byte by byte as it
// arrives: the answer's head counts toward the idle time-out and has a bound of its own, as its
// body does. (Qt's HTTP layer reads a head to its end however long it is, before anyone can see a
// byte of it: an endless head grew to many megabytes until the idle time-out.)
//
// No cookies, cache, redirects, decompression or authentication: the transport above does what
// it needs of these itself. Throws URLError for anything below HTTP; any status is an answer.

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QUrl>

#include <chrono>
#include <optional>
#include <utility>

namespace tavrolin {

// The largest head (status line and header fields) of an answer. A real server's head is well
// under a few kilobytes; Location and the like fit in it many times over.
inline constexpr qint64 httpResponseHeadMaximumBytes = 64 * 1024;

struct HttpExchangeRequest {
    QByteArray method = "GET";
    QUrl url;  // http or https
    // Sent after "Host"; "Content-Length" and "Connection" are the exchange's own.
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

struct HttpExchangeLimits {
    // The longest wait for more data, connecting included.
    std::chrono::milliseconds idle{60000};
    // The longest the whole exchange may take.
    std::chrono::milliseconds whole{120000};
    qint64 maximumBodyBytes = 64LL * 1024 * 1024;
};

struct HttpExchangeAnswer {
    int statusCode = 0;
    // Names in lower case, values trimmed, in the order received.
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The first field of that name (any case); none when absent.
    std::optional<QByteArray> header(const QByteArray& name) const;
};

// Runs the exchange. Throws URLError: timedOut past a limit; badServerResponse for an answer that
// is not HTTP, a head or body past its bound; networkConnectionLost for a connection that ends
// before the answer does; the connection's own failures otherwise (no host, refused, TLS).
QCoro::Task<HttpExchangeAnswer> exchangeHttp(HttpExchangeRequest request, HttpExchangeLimits limits);

}  // namespace tavrolin
