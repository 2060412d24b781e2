#include "updates/url_session_app_update_manifest_client.h"

#include "core/url_error.h"

namespace tavrolin {

URLSessionAppUpdateManifestClient::URLSessionAppUpdateManifestClient(AppUpdateConfiguration configuration)
    : URLSessionAppUpdateManifestClient(std::move(configuration), std::make_shared<ServerRequestTransport>(
                                                                      ServerSessionConfiguration::updateManifest())) {}

URLSessionAppUpdateManifestClient::URLSessionAppUpdateManifestClient(AppUpdateConfiguration configuration,
                                                                     std::shared_ptr<ServerRequestTransport> transport)
    : configuration_(std::move(configuration)), transport_(std::move(transport)) {}

QCoro::Task<AppUpdateManifest> URLSessionAppUpdateManifestClient::latestManifest() {
    // Copies: the task may outlive a caller's reference to this client's fields.
    const auto endpoint = configuration_.endpointURL;
    const auto transport = transport_;

    // The shared request steps, failing with URL errors: a bad URL without an endpoint, the
    // transport's own error, a bad server response for anything but a 2xx HTTP answer.
    ServerRequestFailures failures;
    failures.operation = operationName;
    failures.missingEndpoint = std::make_exception_ptr(URLError(URLError::badURL));
    failures.unsuccessfulResponse = std::make_exception_ptr(URLError(URLError::badServerResponse));
    failures.missingHTTPResponseReason = QStringLiteral("http_status_none");
    const ServerHTTPResponse response = co_await performServerRequest(
        *transport, std::move(failures), endpoint, QStringLiteral("method=GET"), ServerHTTPRequest::getJSON());
    co_return decodeServerResponseLoggingFailure<AppUpdateManifest>(operationName, response,
                                                                    &AppUpdateManifest::fromJson);
}

}  // namespace tavrolin
