#pragma once

// The conventions every server client follows, in one place.
//
// ServerRequestTransport is a client's own HTTP session: its request (idle) and resource
// (whole exchange) time-outs, at most `maximumConnectionsPerHost` requests in flight (more wait
// their turn), no cookies, no cache, and "User-Agent: Tavrolin/<appVersion>" on every request.
// It answers every HTTP response, whatever its status, and throws URLError for anything below
// HTTP (time-out -1001, no connection, cancellation, a connection lost on the way -1005, ...).
// Its exchanges go through the process's HttpClient (platform/http_client.h), whose one
// connection cache every session shares.
//
// performServerRequest() runs the fixed steps of one request on top of it: the missing-endpoint
// line, "request start", the send, "request failed" on a transport failure, "request response"
// for every response before any check, then the "missing_http_response" and "http_status_<n>"
// checks. decodeServerResponse() and rejectServerResponse() are the decode and own-check steps.
//
//   ServerRequestTransport session(ServerSessionConfiguration::textEditing());
//   const ServerOperation op{"text_edit", CaptureWorkflowError(Case::textEditingRequestFailed),
//                            CaptureWorkflowError(Case::textEditingInvalidResponse)};
//   ServerHTTPResponse response = co_await performServerRequest(
//       session, op, configuration.endpointURL, detail, ServerHTTPRequest::postJSON(body));
//   Record record = decodeServerResponse<Record>(op, response, &Record::fromJson);
//   if (record.text.isEmpty()) rejectServerResponse(op, "empty_text", response.body.size());
//
// A transport belongs to the thread that created it; call it from coroutines on that thread.

#include "core/capture_workflow_error.h"
#include "core/network_log.h"
#include "platform/http_client.h"
#include "server/network_reachability.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace tavrolin {

// Time-outs and limits of one client's session.
struct ServerSessionConfiguration {
    // The longest wait for more data (connecting included).
    std::chrono::milliseconds requestTimeout{std::chrono::seconds(60)};
    // The longest a whole exchange may take, from the moment it leaves the queue.
    std::chrono::milliseconds resourceTimeout{std::chrono::seconds(120)};
    // When a request fails for want of a network and the system reports none, wait for one
    // (within the resource time-out) and try again instead of failing at once.
    bool waitsForConnectivity = true;
    int maximumConnectionsPerHost = 2;
    // A response body larger than this is not read to the end: the exchange fails with
    // URLError::badServerResponse rather than exhausting memory. The sessions whose answers are
    // texts shown to the user or written into a field take serverTextAnswerMaximumBytes. The
    // answer's head has a bound of its own, httpResponseHeadMaximumBytes (platform/http_client.h).
    qint64 maximumResponseBytes = 64LL * 1024 * 1024;

    bool operator==(const ServerSessionConfiguration&) const = default;

    // The five text sessions take at most serverTextAnswerMaximumBytes.
    static ServerSessionConfiguration translation();     // 20 s / 45 s, waits
    static ServerSessionConfiguration textEditing();     // 15 s / 30 s, waits
    static ServerSessionConfiguration textWriting();     // 15 s / 30 s, waits
    static ServerSessionConfiguration textImprove();     // 60 s / 120 s, waits
    static ServerSessionConfiguration textPrompt();      // 60 s / 120 s, waits
    static ServerSessionConfiguration telemetry();       // 5 s / 10 s, does not wait, 8 KiB
    static ServerSessionConfiguration updateManifest();  // 5 s / 10 s, does not wait, 1 at a time, 1 MiB
};

// The largest answer of a text session: 1 MiB. The texts sent are at most a few thousand
// characters (a field, a selection, the text of a window), so no real answer comes near it; a
// larger one is the server misbehaving and is not written into anyone's field.
inline constexpr qint64 serverTextAnswerMaximumBytes = 1024 * 1024;

// The largest answer to a usage event, which nobody reads: an acknowledgement of a few bytes.
inline constexpr qint64 usageEventAnswerMaximumBytes = 8 * 1024;

// Every request's own time-out interval. The HTTP layer has one idle time-out, so the shorter
// of this and the session's request time-out applies.
inline constexpr std::chrono::seconds serverRequestTimeoutInterval{60};

struct ServerHTTPRequest {
    QByteArray method = "POST";
    QUrl url;
    QByteArray body;
    // Added after "User-Agent", which the transport sets itself.
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Whether a redirect is followed (to the same or a safer scheme). Not followed, a redirect
    // is the answer, and its 3xx status fails the request steps.
    bool followsRedirects = false;

    // POST with "Content-Type: application/json". Redirects are not followed: a 307 or 308
    // would send the body, the user's text, again to wherever the answer points.
    static ServerHTTPRequest postJSON(QByteArray body);
    // GET with "Accept: application/json", following redirects.
    static ServerHTTPRequest getJSON();
};

struct ServerHTTPResponse {
    // Absent when the answer was not an HTTP response.
    std::optional<int> statusCode;
    QByteArray body;
};

class ServerRequestTransport final {
public:
    // `reachability` null: the system's (makeSystemNetworkReachability()); `client` null: the
    // process's (useHttpClient()).
    explicit ServerRequestTransport(ServerSessionConfiguration configuration,
                                    std::shared_ptr<NetworkReachability> reachability = nullptr,
                                    std::shared_ptr<HttpClient> client = nullptr);
    ~ServerRequestTransport();
    ServerRequestTransport(const ServerRequestTransport&) = delete;
    ServerRequestTransport& operator=(const ServerRequestTransport&) = delete;

    const ServerSessionConfiguration& configuration() const { return configuration_; }

    // Sends the request and waits for the whole body. Throws URLError on a transport failure;
    // any HTTP status is a response. A header value holding CR, LF or NUL fails it with
    // URLError::badURL before anything is sent.
    QCoro::Task<ServerHTTPResponse> send(ServerHTTPRequest request);

    // The HTTP client of every transport made without one, handed over once by the composition
    // root at the process's start (the back end's systemHttpClient()).
    static void useHttpClient(std::shared_ptr<HttpClient> client);
    // Makes the process's HTTP client ready for a first request, off the calling thread; returns
    // at once. Called as a command that may go to the server starts, so that its request does
    // not wait for the library; a program that makes no request never opens it.
    static void prepareNetwork();

    int requestsInFlight() const { return inFlight_; }
    int requestsWaiting() const { return static_cast<int>(waiters_.size()); }

private:
    struct SlotAwaiter {
        ServerRequestTransport* transport;
        bool await_ready() noexcept;
        void await_suspend(std::coroutine_handle<> handle);
        void await_resume() noexcept {}
    };
    friend struct SlotAwaiter;
    class SlotRelease;

    // The redirects a GET follows, at most this many.
    static constexpr int maximumRedirects = 50;

    void releaseSlot();
    // One exchange on the network with the redirects it follows, bounded by `resourceLimit` as a
    // whole.
    QCoro::Task<ServerHTTPResponse> exchange(ServerHTTPRequest request, std::chrono::milliseconds resourceLimit);

    ServerSessionConfiguration configuration_;
    std::shared_ptr<NetworkReachability> reachability_;
    std::shared_ptr<HttpClient> client_;
    std::unique_ptr<QObject> context_;
    int inFlight_ = 0;
    std::deque<std::coroutine_handle<>> waiters_;
};

// One kind of server request: the name in its log lines and its two errors.
struct ServerOperation {
    QString name;
    CaptureWorkflowError requestFailed;
    CaptureWorkflowError invalidResponse;
};

// How the request steps fail, for a client whose errors are not an operation's two
// workflow errors (the update manifest fails with URL errors).
struct ServerRequestFailures {
    QString operation;
    // Thrown when no endpoint is configured.
    std::exception_ptr missingEndpoint;
    // Thrown after a transport failure has been logged; null: the transport's error passes on.
    std::exception_ptr transportFailed;
    // Thrown for an answer that is not an HTTP response or whose status lies outside 200-299.
    std::exception_ptr unsuccessfulResponse;
    // The invalid-response reason of an answer that is not an HTTP response.
    QString missingHTTPResponseReason = QStringLiteral("missing_http_response");
    // Thrown instead for a transport failure that was the server's broken answer
    // (URLError::badServerResponse: a head or body cut short, a bad chunk size, conflicting
    // lengths, an answer beyond its size bound, endless redirects); null: as any other.
    std::exception_ptr brokenAnswer;
    // Thrown instead when the secure connection could not be made (URLError::
    // secureConnectionFailed) or the server's certificate is not trusted (URLError::
    // serverCertificateUntrusted); null: as any other.
    std::exception_ptr secureConnectionFailed;
    std::exception_ptr certificateUntrusted;

    // The steps of an operation: every failure up to the response is its request-failed error,
    // but for a broken answer, its invalid-response error, and for a secure connection that could
    // not be made, its request-failed error saying so.
    static ServerRequestFailures of(const ServerOperation& operation);
};

// The steps of a server request up to a 2xx response (see the top of this file). Throws the
// operation's request-failed error for a missing endpoint, a transport failure, a non-HTTP
// answer and a status outside 200-299, and its invalid-response error for a broken answer; a
// CaptureWorkflowError from below passes unchanged.
QCoro::Task<ServerHTTPResponse> performServerRequest(ServerRequestTransport& transport,
                                                     const ServerOperation& operation,
                                                     const std::optional<QUrl>& endpoint, const QString& detail,
                                                     ServerHTTPRequest request);
// The same steps with the failures given.
QCoro::Task<ServerHTTPResponse> performServerRequest(ServerRequestTransport& transport, ServerRequestFailures failures,
                                                     std::optional<QUrl> endpoint, QString detail,
                                                     ServerHTTPRequest request);

// The response step: logs "request response", then fails an answer that is not an HTTP
// response or whose status lies outside 200-299 ("request invalid response", then the
// unsuccessful-response error).
void checkServerResponseStatus(const ServerRequestFailures& failures, const ServerHTTPResponse& response);

// Logs "request invalid response" with the reason and throws the invalid-response error.
[[noreturn]] void rejectServerResponse(const ServerOperation& operation, const QString& reason, qint64 responseBytes);

// Decodes the body with `decode`; any exception it throws is logged as "request failed" under
// "<operation>_decode" and passed on.
template <typename Record, typename Decode>
Record decodeServerResponseLoggingFailure(const QString& operation, const ServerHTTPResponse& response,
                                          Decode&& decode) {
    try {
        return std::invoke(std::forward<Decode>(decode), response.body);
    } catch (...) {
        NetworkLog::failed(operation + QStringLiteral("_decode"), std::current_exception());
        throw;
    }
}

// As above, the failure becoming the invalid-response error.
template <typename Record, typename Decode>
Record decodeServerResponse(const ServerOperation& operation, const ServerHTTPResponse& response, Decode&& decode) {
    try {
        return decodeServerResponseLoggingFailure<Record>(operation.name, response, std::forward<Decode>(decode));
    } catch (...) {
        throw operation.invalidResponse;
    }
}

}  // namespace tavrolin
