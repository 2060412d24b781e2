#include "server/server_request_transport.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/url_error.h"

#include <QMetaObject>

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace tavrolin {

using namespace std::chrono_literals;

// ---- session settings

namespace {
ServerSessionConfiguration session(std::chrono::seconds request, std::chrono::seconds resource, bool waits,
                                   int connections) {
    ServerSessionConfiguration configuration;
    configuration.requestTimeout = request;
    configuration.resourceTimeout = resource;
    configuration.waitsForConnectivity = waits;
    configuration.maximumConnectionsPerHost = connections;
    return configuration;
}

ServerSessionConfiguration textSession(std::chrono::seconds request, std::chrono::seconds resource) {
    ServerSessionConfiguration configuration = session(request, resource, true, 2);
    configuration.maximumResponseBytes = serverTextAnswerMaximumBytes;
    return configuration;
}
}  // namespace

ServerSessionConfiguration ServerSessionConfiguration::translation() {
    return textSession(20s, 45s);
}
ServerSessionConfiguration ServerSessionConfiguration::textEditing() {
    return textSession(15s, 30s);
}
ServerSessionConfiguration ServerSessionConfiguration::textWriting() {
    return textSession(15s, 30s);
}
ServerSessionConfiguration ServerSessionConfiguration::textImprove() {
    return textSession(60s, 120s);
}
ServerSessionConfiguration ServerSessionConfiguration::textPrompt() {
    return textSession(60s, 120s);
}
ServerSessionConfiguration ServerSessionConfiguration::telemetry() {
    // Nobody reads a usage event's answer, a few bytes of acknowledgement.
    ServerSessionConfiguration configuration = session(5s, 10s, false, 2);
    configuration.maximumResponseBytes = usageEventAnswerMaximumBytes;
    return configuration;
}
ServerSessionConfiguration ServerSessionConfiguration::updateManifest() {
    // The manifest is a few hundred bytes, and its version is shown in the update alert.
    ServerSessionConfiguration configuration = session(5s, 10s, false, 1);
    configuration.maximumResponseBytes = serverTextAnswerMaximumBytes;
    return configuration;
}

ServerHTTPRequest ServerHTTPRequest::postJSON(QByteArray body) {
    ServerHTTPRequest request;
    request.method = "POST";
    request.body = std::move(body);
    request.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/json"));
    return request;
}

ServerHTTPRequest ServerHTTPRequest::getJSON() {
    ServerHTTPRequest request;
    request.method = "GET";
    request.headers.append(std::pair<QByteArray, QByteArray>("Accept", "application/json"));
    request.followsRedirects = true;
    return request;
}

namespace {

// Failures that a missing network produces (the name lookup or the connection fails). A
// connection lost on the way is not one of them: it reached the server, so the network is there
// and the failure stands at once.
bool looksOffline(int code) {
    return code == URLError::notConnectedToInternet || code == URLError::cannotFindHost ||
           code == URLError::cannotConnectToHost || code == URLError::unknown;
}

int urlErrorCode(HttpFailure failure) {
    switch (failure) {
    case HttpFailure::invalidRequest:
    case HttpFailure::badURL:
        return URLError::badURL;
    case HttpFailure::timedOut:
        return URLError::timedOut;
    case HttpFailure::cannotFindHost:
        return URLError::cannotFindHost;
    case HttpFailure::cannotConnect:
        return URLError::cannotConnectToHost;
    case HttpFailure::connectionLost:
        return URLError::networkConnectionLost;
    case HttpFailure::badServerResponse:
    case HttpFailure::tooManyRedirects:
        return URLError::badServerResponse;
    case HttpFailure::certificateRejected:
        return URLError::serverCertificateUntrusted;
    case HttpFailure::secureConnectionFailed:
        return URLError::secureConnectionFailed;
    case HttpFailure::other:
        break;
    }
    return URLError::unknown;
}

struct ProcessHttpClient {
    std::mutex mutex;
    std::shared_ptr<HttpClient> client;
};

ProcessHttpClient& processHttpClient() {
    static ProcessHttpClient shared;
    return shared;
}

}  // namespace

// ---- the in-flight limit

bool ServerRequestTransport::SlotAwaiter::await_ready() noexcept {
    if (transport->inFlight_ < std::max(1, transport->configuration_.maximumConnectionsPerHost)) {
        ++transport->inFlight_;
        return true;
    }
    return false;
}

void ServerRequestTransport::SlotAwaiter::await_suspend(std::coroutine_handle<> handle) {
    transport->waiters_.push_back(handle);
}

class ServerRequestTransport::SlotRelease {
public:
    explicit SlotRelease(ServerRequestTransport* transport) : transport_(transport) {}
    ~SlotRelease() { transport_->releaseSlot(); }
    SlotRelease(const SlotRelease&) = delete;
    SlotRelease& operator=(const SlotRelease&) = delete;

private:
    ServerRequestTransport* transport_;
};

void ServerRequestTransport::releaseSlot() {
    if (waiters_.empty()) {
        --inFlight_;
        return;
    }
    // The slot passes to the next waiter, resumed from the event loop rather than from inside
    // the finishing request's frame.
    const std::coroutine_handle<> next = waiters_.front();
    waiters_.pop_front();
    QMetaObject::invokeMethod(
        context_.get(), [next] { next.resume(); }, Qt::QueuedConnection);
}

// ---- the session

void ServerRequestTransport::useHttpClient(std::shared_ptr<HttpClient> client) {
    ProcessHttpClient& shared = processHttpClient();
    const std::lock_guard lock(shared.mutex);
    shared.client = std::move(client);
}

void ServerRequestTransport::prepareNetwork() {
    std::shared_ptr<HttpClient> client;
    {
        ProcessHttpClient& shared = processHttpClient();
        const std::lock_guard lock(shared.mutex);
        client = shared.client;
    }
    if (client) {
        client->prepare();
    }
}

ServerRequestTransport::ServerRequestTransport(ServerSessionConfiguration configuration,
                                               std::shared_ptr<NetworkReachability> reachability,
                                               std::shared_ptr<HttpClient> client)
    : configuration_(configuration),
      reachability_(reachability ? std::move(reachability) : makeSystemNetworkReachability()),
      client_(std::move(client)),
      context_(std::make_unique<QObject>()) {
    if (!client_) {
        ProcessHttpClient& shared = processHttpClient();
        const std::lock_guard lock(shared.mutex);
        client_ = shared.client;
    }
    if (!client_) {
        throw std::logic_error("ServerRequestTransport made before the process's HTTP client was handed over");
    }
}

ServerRequestTransport::~ServerRequestTransport() = default;

QCoro::Task<ServerHTTPResponse> ServerRequestTransport::send(ServerHTTPRequest request) {
    const QUrl url = request.url;
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http"))) {
        throw URLError(URLError::badURL, QStringLiteral("not an http(s) URL"));
    }

    co_await SlotAwaiter{this};
    const SlotRelease release(this);

    // The request is always tried: the system's "disconnected" is wrong on networks that
    // NetworkManager does not manage. Only a failure that looks like a missing network, while
    // the system also reports none, waits for the network and tries once more, all within the
    // resource time-out.
    const auto started = std::chrono::steady_clock::now();
    const auto remaining = [this, started] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(configuration_.resourceTimeout -
                                                                     (std::chrono::steady_clock::now() - started));
    };
    const std::shared_ptr<NetworkReachability> reachability = reachability_;
    QString offlineDetail;
    try {
        co_return co_await exchange(request, configuration_.resourceTimeout);
    } catch (const URLError& error) {
        if (!configuration_.waitsForConnectivity || !looksOffline(error.code()) || !reachability->isDisconnected()) {
            throw;
        }
        offlineDetail = error.detail();
    }
    if (!co_await reachability->waitUntilConnected(remaining())) {
        throw URLError(URLError::notConnectedToInternet, offlineDetail);
    }
    co_return co_await exchange(std::move(request), remaining());
}

QCoro::Task<ServerHTTPResponse> ServerRequestTransport::exchange(ServerHTTPRequest request,
                                                                 std::chrono::milliseconds resourceLimit) {
    HttpExchangeRequest exchangeRequest;
    exchangeRequest.method = request.method;
    exchangeRequest.url = request.url;
    exchangeRequest.headers.append(std::pair<QByteArray, QByteArray>("User-Agent", AppMetadata::userAgent().toUtf8()));
    // Nothing is decompressed: ask for the body as it is.
    exchangeRequest.headers.append(std::pair<QByteArray, QByteArray>("Accept-Encoding", "identity"));
    exchangeRequest.headers.append(request.headers);
    exchangeRequest.body = std::move(request.body);
    // A GET's redirects are followed, to http(s) only and never from https to another scheme; a
    // request with a body follows none (its 3xx is the answer).
    exchangeRequest.followsRedirects = request.followsRedirects;
    exchangeRequest.maximumRedirects = maximumRedirects;
    exchangeRequest.idle =
        std::min<std::chrono::milliseconds>(configuration_.requestTimeout, serverRequestTimeoutInterval);
    exchangeRequest.whole = resourceLimit;
    exchangeRequest.maximumBodyBytes = configuration_.maximumResponseBytes;

    // The client outlives this exchange even if the transport does not.
    const std::shared_ptr<HttpClient> client = client_;
    HttpExchangeAnswer answer = co_await client->exchange(std::move(exchangeRequest));
    if (answer.failure) {
        throw URLError(urlErrorCode(*answer.failure), answer.failureDetail);
    }
    ServerHTTPResponse response;
    response.statusCode = answer.statusCode;
    response.body = std::move(answer.body);
    co_return response;
}

// ---- the request steps

ServerRequestFailures ServerRequestFailures::of(const ServerOperation& operation) {
    using SecureConnection = CaptureWorkflowError::SecureConnectionFailure;
    const std::exception_ptr requestFailed = std::make_exception_ptr(operation.requestFailed);
    ServerRequestFailures failures;
    failures.operation = operation.name;
    failures.missingEndpoint = requestFailed;
    failures.transportFailed = requestFailed;
    failures.unsuccessfulResponse = requestFailed;
    failures.brokenAnswer = std::make_exception_ptr(operation.invalidResponse);
    failures.secureConnectionFailed =
        std::make_exception_ptr(operation.requestFailed.withSecureConnectionFailure(SecureConnection::failed));
    failures.certificateUntrusted = std::make_exception_ptr(
        operation.requestFailed.withSecureConnectionFailure(SecureConnection::certificateUntrusted));
    return failures;
}

namespace {

// What the steps throw for a transport failure: by its cause where the failures name one, else
// the general one (null: the transport's own error).
std::exception_ptr failureOfTransport(const ServerRequestFailures& failures, const std::exception_ptr& error) {
    std::exception_ptr chosen;
    try {
        std::rethrow_exception(error);
    } catch (const URLError& urlError) {
        switch (urlError.code()) {
        case URLError::badServerResponse:
            chosen = failures.brokenAnswer;
            break;
        case URLError::secureConnectionFailed:
            chosen = failures.secureConnectionFailed;
            break;
        case URLError::serverCertificateUntrusted:
            chosen = failures.certificateUntrusted;
            break;
        default:
            break;
        }
    } catch (...) {
    }
    return chosen ? chosen : failures.transportFailed;
}

}  // namespace

QCoro::Task<ServerHTTPResponse> performServerRequest(ServerRequestTransport& transport,
                                                     const ServerOperation& operation,
                                                     const std::optional<QUrl>& endpoint, const QString& detail,
                                                     ServerHTTPRequest request) {
    co_return co_await performServerRequest(transport, ServerRequestFailures::of(operation), endpoint, detail,
                                            std::move(request));
}

QCoro::Task<ServerHTTPResponse> performServerRequest(ServerRequestTransport& transport, ServerRequestFailures failures,
                                                     std::optional<QUrl> endpoint, QString detail,
                                                     ServerHTTPRequest request) {
    const QString& name = failures.operation;
    if (!endpoint) {
        AppLog::network().error(QStringLiteral("request missing endpoint operation=%1").arg(name));
        std::rethrow_exception(failures.missingEndpoint);
    }
    NetworkLog::request(name, *endpoint, detail);
    request.url = *endpoint;

    ServerHTTPResponse response;
    try {
        response = co_await transport.send(std::move(request));
    } catch (const CaptureWorkflowError&) {
        throw;
    } catch (...) {
        NetworkLog::failed(name, std::current_exception());
        const std::exception_ptr failure = failureOfTransport(failures, std::current_exception());
        if (!failure) {
            throw;
        }
        std::rethrow_exception(failure);
    }

    checkServerResponseStatus(failures, response);
    co_return response;
}

void checkServerResponseStatus(const ServerRequestFailures& failures, const ServerHTTPResponse& response) {
    const QString& name = failures.operation;
    const qint64 bytes = response.body.size();
    NetworkLog::response(name, response.statusCode, bytes);
    if (!response.statusCode) {
        NetworkLog::invalidResponse(name, failures.missingHTTPResponseReason, bytes);
        std::rethrow_exception(failures.unsuccessfulResponse);
    }
    if (*response.statusCode < 200 || *response.statusCode > 299) {
        NetworkLog::invalidResponse(name, QStringLiteral("http_status_%1").arg(*response.statusCode), bytes);
        std::rethrow_exception(failures.unsuccessfulResponse);
    }
}

void rejectServerResponse(const ServerOperation& operation, const QString& reason, qint64 responseBytes) {
    NetworkLog::invalidResponse(operation.name, reason, responseBytes);
    throw operation.invalidResponse;
}

}  // namespace tavrolin
