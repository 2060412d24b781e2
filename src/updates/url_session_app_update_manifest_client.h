#pragma once

#include "server/server_request_transport.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_manifest_client.h"

#include <QCoroTask>

#include <memory>

namespace tavrolin {

// Fetches the release manifest: GET <endpoint> with "Accept: application/json" on a session of
// its own (5 s idle / 10 s whole exchange, no waiting for a connection, one request at a time).
// Failures, all logged on the "network" category under the operation "update_manifest":
//  - no endpoint: URLError badURL, nothing sent;
//  - transport failure: the transport's URLError, unchanged;
//  - not an HTTP answer or a status outside 200-299: URLError badServerResponse, the body
//    left undecoded ("http_status_<code>" or "http_status_none" in the log);
//  - a body that is not a manifest: the JsonDecodingError, logged as "update_manifest_decode".
class URLSessionAppUpdateManifestClient final : public AppUpdateManifestClient {
public:
    static inline const QString operationName = QStringLiteral("update_manifest");

    explicit URLSessionAppUpdateManifestClient(AppUpdateConfiguration configuration);
    // With a transport of the caller's (tests use shorter time-outs).
    URLSessionAppUpdateManifestClient(AppUpdateConfiguration configuration,
                                      std::shared_ptr<ServerRequestTransport> transport);

    QCoro::Task<AppUpdateManifest> latestManifest() override;

    const AppUpdateConfiguration& configuration() const { return configuration_; }
    const ServerRequestTransport& transport() const { return *transport_; }

private:
    AppUpdateConfiguration configuration_;
    std::shared_ptr<ServerRequestTransport> transport_;
};

}  // namespace tavrolin
