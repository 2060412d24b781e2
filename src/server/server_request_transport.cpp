#include "server/server_request_transport.h"

#include "core/app_log.h"
#include "core/app_metadata.h"
#include "core/url_error.h"

#include <QCoroNetworkReply>
#include <QCoroSignal>
#include <QHostAddress>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkInformation>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

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
}  // namespace

ServerSessionConfiguration ServerSessionConfiguration::translation() { return session(20s, 45s, true, 2); }
ServerSessionConfiguration ServerSessionConfiguration::textEditing() { return session(15s, 30s, true, 2); }
ServerSessionConfiguration ServerSessionConfiguration::textWriting() { return session(15s, 30s, true, 2); }
ServerSessionConfiguration ServerSessionConfiguration::textImprove() { return session(60s, 120s, true, 2); }
ServerSessionConfiguration ServerSessionConfiguration::textPrompt() { return session(60s, 120s, true, 2); }
ServerSessionConfiguration ServerSessionConfiguration::telemetry() { return session(5s, 10s, false, 2); }
ServerSessionConfiguration ServerSessionConfiguration::updateManifest() { return session(5s, 10s, false, 1); }

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
    return request;
}

namespace {

// Nothing is kept between requests: no cookie is stored or sent.
class NoCookieJar final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Network-layer, proxy and protocol failures are transport failures even when a status line
// arrived (the connection broke mid-body); content and server errors are HTTP statuses.
bool isTransportError(QNetworkReply::NetworkError error) {
    const int value = static_cast<int>(error);
    return (value >= 1 && value < 200) || (value >= 300 && value < 400) || value == QNetworkReply::UnknownNetworkError ||
           value == QNetworkReply::UnknownProxyError;
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
    QMetaObject::invokeMethod(context_.get(), [next] { next.resume(); }, Qt::QueuedConnection);
}

// ---- the session

ServerRequestTransport::ServerRequestTransport(ServerSessionConfiguration configuration)
    : configuration_(configuration),
      context_(std::make_unique<QObject>()),
      manager_(std::make_unique<QNetworkAccessManager>()) {
    manager_->setCookieJar(new NoCookieJar(manager_.get()));
    manager_->setAutoDeleteReplies(false);
}

ServerRequestTransport::~ServerRequestTransport() = default;

QCoro::Task<void> ServerRequestTransport::waitForConnectivity(std::chrono::milliseconds limit) {
    static const bool loaded = QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    QNetworkInformation* information = loaded ? QNetworkInformation::instance() : nullptr;
    if (information == nullptr) {
        co_return;
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (information->reachability() == QNetworkInformation::Reachability::Disconnected) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (remaining <= 0ms) {
            throw URLError(URLError::notConnectedToInternet);
        }
        co_await qCoro(information, &QNetworkInformation::reachabilityChanged, remaining);
    }
}

QCoro::Task<ServerHTTPResponse> ServerRequestTransport::send(ServerHTTPRequest request) {
    const QUrl url = request.url;
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (url.scheme() != QStringLiteral("https") && url.scheme() != QStringLiteral("http"))) {
        throw URLError(URLError::badURL, QStringLiteral("not an http(s) URL"));
    }

    co_await SlotAwaiter{this};
    const SlotRelease release(this);

    if (configuration_.waitsForConnectivity && !isLoopback(url)) {
        co_await waitForConnectivity(configuration_.resourceTimeout);
    }

    QNetworkRequest networkRequest(url);
    networkRequest.setRawHeader("User-Agent", AppMetadata::userAgent().toUtf8());
    // Qt's own decompression cuts large bodies short (a 5 MB gzip answer arrives as 4 MiB with
    // no error): ask for the body as it is.
    networkRequest.setRawHeader("Accept-Encoding", "identity");
    for (const auto& [name, value] : request.headers) {
        networkRequest.setRawHeader(name, value);
    }
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    networkRequest.setTransferTimeout(0);  // the timers below own the time-outs

    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        manager_->sendCustomRequest(networkRequest, request.method, request.body),
        [](QNetworkReply* r) {
            // Also reached when the awaiting coroutine is destroyed mid-request: cut every
            // connection first so nothing calls back into a frame that is gone.
            QObject::disconnect(r, nullptr, nullptr, nullptr);
            r->abort();
            r->deleteLater();
        });

    bool timedOut = false;
    bool tooLarge = false;
    bool certificateRejected = false;
    QNetworkReply* raw = reply.get();

    const auto idleLimit = std::min<std::chrono::milliseconds>(configuration_.requestTimeout,
                                                               serverRequestTimeoutInterval);
    auto* idleTimer = new QTimer(raw);
    idleTimer->setSingleShot(true);
    idleTimer->setInterval(idleLimit);
    auto* resourceTimer = new QTimer(raw);
    resourceTimer->setSingleShot(true);
    resourceTimer->setInterval(configuration_.resourceTimeout);
    const auto expire = [raw, &timedOut] {
        if (raw->isRunning()) {
            timedOut = true;
            raw->abort();
        }
    };
    QObject::connect(idleTimer, &QTimer::timeout, raw, expire);
    QObject::connect(resourceTimer, &QTimer::timeout, raw, expire);
    const auto activity = [idleTimer] { idleTimer->start(); };
    QObject::connect(raw, &QNetworkReply::uploadProgress, idleTimer, activity);
    QObject::connect(raw, &QNetworkReply::downloadProgress, idleTimer, activity);
    const qint64 maximumResponseBytes = configuration_.maximumResponseBytes;
    QObject::connect(raw, &QNetworkReply::metaDataChanged, raw, [raw, &tooLarge, maximumResponseBytes] {
        const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maximumResponseBytes) {
            tooLarge = true;
            raw->abort();
        }
    });
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, &tooLarge, maximumResponseBytes] {
        if (raw->bytesAvailable() > maximumResponseBytes) {
            tooLarge = true;
            raw->abort();
        }
    });
    QObject::connect(raw, &QNetworkReply::sslErrors, raw, [&certificateRejected] { certificateRejected = true; });
    idleTimer->start();
    resourceTimer->start();

    if (!raw->isFinished()) {
        co_await qCoro(raw).waitForFinished();
    }
    idleTimer->stop();
    resourceTimer->stop();
    QObject::disconnect(raw, nullptr, nullptr, nullptr);

    if (timedOut) {
        throw URLError(URLError::timedOut, QStringLiteral("no answer within the time-out"));
    }
    if (tooLarge) {
        throw URLError(URLError::badServerResponse,
                       QStringLiteral("response body larger than %1 bytes").arg(maximumResponseBytes));
    }
    const QNetworkReply::NetworkError error = raw->error();
    if (isTransportError(error)) {
        throw URLError::fromReply(error, raw->errorString(), certificateRejected);
    }
    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    ServerHTTPResponse response;
    response.body = raw->readAll();
    if (status.isValid()) {
        response.statusCode = status.toInt();
    } else if (error != QNetworkReply::NoError) {
        throw URLError::fromReply(error, raw->errorString(), certificateRejected);
    }
    co_return response;
}

// ---- the request steps

QCoro::Task<ServerHTTPResponse> performServerRequest(ServerRequestTransport& transport,
                                                     const ServerOperation& operation,
                                                     const std::optional<QUrl>& endpoint, const QString& detail,
                                                     ServerHTTPRequest request) {
    if (!endpoint) {
        AppLog::network().error(QStringLiteral("request missing endpoint operation=%1").arg(operation.name));
        throw operation.requestFailed;
    }
    NetworkLog::request(operation.name, *endpoint, detail);
    request.url = *endpoint;

    ServerHTTPResponse response;
    try {
        response = co_await transport.send(std::move(request));
    } catch (const CaptureWorkflowError&) {
        throw;
    } catch (...) {
        NetworkLog::failed(operation.name, std::current_exception());
        throw operation.requestFailed;
    }

    const qint64 bytes = response.body.size();
    NetworkLog::response(operation.name, response.statusCode, bytes);
    if (!response.statusCode) {
        NetworkLog::invalidResponse(operation.name, QStringLiteral("missing_http_response"), bytes);
        throw operation.requestFailed;
    }
    if (*response.statusCode < 200 || *response.statusCode > 299) {
        NetworkLog::invalidResponse(operation.name, QStringLiteral("http_status_%1").arg(*response.statusCode), bytes);
        throw operation.requestFailed;
    }
    co_return response;
}

void rejectServerResponse(const ServerOperation& operation, const QString& reason, qint64 responseBytes) {
    NetworkLog::invalidResponse(operation.name, reason, responseBytes);
    throw operation.invalidResponse;
}

}  // namespace tavrolin
