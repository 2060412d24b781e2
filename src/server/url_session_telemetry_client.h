#pragma once

#include "core/telemetry_client.h"
#include "server/server_endpoint_configuration.h"
#include "server/server_request_transport.h"

#include <memory>

namespace tavrolin {

// Posts each usage event to the usage-event endpoint as one JSON request and forgets it: the
// answer, its status and any failure are ignored, nothing is retried, queued or logged. The
// transport is the client's own short-time-out session (ServerSessionConfiguration::telemetry()).
//
// An event in flight never holds anything up: send() returns at once, and destroying the
// client abandons the requests still travelling.
class URLSessionTelemetryClient final : public TelemetryClient {
public:
    URLSessionTelemetryClient(TelemetryConfiguration configuration, std::shared_ptr<ServerRequestTransport> session);

    const TelemetryConfiguration& configuration() const { return configuration_; }
    const ServerRequestTransport& session() const { return *session_; }

    void send(const TelemetryEvent& event) override;

private:
    TelemetryConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> session_;
};

}  // namespace tavrolin
