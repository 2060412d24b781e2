#include "server/url_session_telemetry_client.h"

#include <QCoroTask>

namespace tavrolin {

namespace {

// Runs detached: the task handle is dropped by the caller and the frame frees itself when the
// exchange ends. It keeps the session alive by its own reference while it travels.
QCoro::Task<> deliver(std::shared_ptr<ServerRequestTransport> session, ServerHTTPRequest request) {
    try {
        co_await session->send(std::move(request));
    } catch (...) {
        // Delivery failures drop the event without a trace.
    }
}

}  // namespace

URLSessionTelemetryClient::URLSessionTelemetryClient(TelemetryConfiguration configuration,
                                                     std::shared_ptr<ServerRequestTransport> session)
    : configuration_(std::move(configuration)), session_(std::move(session)) {}

void URLSessionTelemetryClient::send(const TelemetryEvent& event) {
    if (!configuration_.endpointURL) {
        return;
    }
    ServerHTTPRequest request = ServerHTTPRequest::postJSON(event.toJsonData());
    request.url = *configuration_.endpointURL;
    deliver(session_, std::move(request));
}

}  // namespace tavrolin
