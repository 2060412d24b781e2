#pragma once

// HTTP exchanges over the network: one request and its whole answer. The system's client keeps
// one connection cache for the process (connections reused between exchanges and clients, HTTP/2
// where the server offers it, IPv4 tried when IPv6 stalls), takes the proxies the environment
// names (http_proxy, https_proxy, all_proxy, no_proxy) or the application's own, and verifies TLS
// with the system's trust, loaded once. Exchanges run on the event loop of the thread that made
// the client: nothing waits on that thread, not even an exchange given up during its name lookup.

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <utility>

namespace tavrolin {

// The largest head (status line and header fields, interim heads and trailer included) of an
// answer. A real server's head is well under a few kilobytes; a Location fits in it many times.
inline constexpr qint64 httpResponseHeadMaximumBytes = 64 * 1024;

struct HttpExchangeRequest {
    QByteArray method = "GET";
    QUrl url;  // http or https
    // Sent as they are, after the client's own ("Host", "Content-Length"). A name that is not a
    // token, or a value holding CR, LF or NUL, fails the exchange before anything is sent.
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Whether a redirect is followed: at most `maximumRedirects`, only to http(s), never from
    // https to anything else. Not followed, a redirect is the answer.
    bool followsRedirects = false;
    int maximumRedirects = 50;
    // The longest wait for more data (connecting included): each byte of a head or a body, sent
    // or received, starts it again.
    std::chrono::milliseconds idle{60000};
    // The longest the whole exchange may take, its redirects included.
    std::chrono::milliseconds whole{120000};
    qint64 maximumBodyBytes = 64LL * 1024 * 1024;
};

// Why an exchange failed below HTTP.
enum class HttpFailure {
    invalidRequest,  // refused before anything was sent (a bad header, not an http(s) URL)
    badURL,          // a redirect to something other than an http(s) URL
    tooManyRedirects,
    timedOut,        // the idle or the whole-exchange limit
    cannotFindHost,  // the name (of the server or the proxy) did not resolve
    cannotConnect,   // no connection to the server or the proxy, or a tunnel the proxy refused
    connectionLost,  // the connection ended before the answer did
    // Not HTTP, a head or body past its bound or cut short, conflicting lengths, a redirect from
    // https to http; and any failure once the request left that is none of the others.
    badServerResponse,
    certificateRejected,  // the server's certificate is not trusted for its name
    secureConnectionFailed,
    other,  // before the request left: no library, no handle
};

struct HttpExchangeAnswer {
    // Set when the exchange failed; the fields below are then empty.
    std::optional<HttpFailure> failure;
    QString failureDetail;

    int statusCode = 0;
    QByteArray body;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;

    // Runs the exchange; any HTTP status is an answer. Destroying the task before it ends ends
    // the exchange and closes its connection.
    virtual QCoro::Task<HttpExchangeAnswer> exchange(HttpExchangeRequest request) = 0;

    // Makes ready, off the calling thread, what a first exchange needs (the library, the trusted
    // certificates), so that it starts at once; returns at once. A client that is ready does
    // nothing.
    virtual void prepare() = 0;
};

// How a client is made. The defaults are the program's; tests name a certificate of their own to
// trust and where a host name of their own resolves.
struct HttpClientOptions {
    // PEM certificates trusted instead of the system's.
    QByteArray trustedCertificates;
    // "host:port:address[,address...]" entries resolved without asking the system.
    QList<QByteArray> resolve;
};

}  // namespace tavrolin
